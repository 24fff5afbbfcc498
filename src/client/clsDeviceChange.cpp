#include "client/clsDeviceChange.h"

// Not built yet.
clsDeviceChange::clsDeviceChange() = default;
clsDeviceChange::~clsDeviceChange() = default;
void clsDeviceChange::SubClass(QWidget *) {}
qint32 clsDeviceChange::WindowProc(QWidget *, quint32, quint32, qint32) { return 0; }
void clsDeviceChange::UnSubClass() {}
namespace modDeviceChange {
qint32 DeviceChangeProc(QWidget *, quint32, quint32, qint32) { return 0; }
clsDeviceChange *MonitorFromWindow(QWidget *) { return nullptr; }
} // namespace modDeviceChange
