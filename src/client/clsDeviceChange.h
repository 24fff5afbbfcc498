#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

namespace RemovableMedia {
class Watcher;
}

// Watches the system for removable storage that arrives or goes away, on behalf of one
// window, and raises DeviceChanged with the device-change codes 0x8000 (arrival) and
// 0x8004 (removal complete). While it watches, the window carries the marker property
// "nvDeviceChangeMonitor"; a window is watched by at most one instance.
class clsDeviceChange : public QObject
{
    Q_OBJECT

public:
    static constexpr quint32 WM_DEVICECHANGE = 0x0219;
    static constexpr quint32 DBT_DEVICEARRIVAL = 0x8000;
    static constexpr quint32 DBT_DEVICEREMOVECOMPLETE = 0x8004;
    static constexpr const char *MarkerProperty = "nvDeviceChangeMonitor";

    clsDeviceChange();
    ~clsDeviceChange() override; // detaches (UnSubClass)

    // Attaches to the window: marks it and starts listening to the system. A null window or
    // one that is already watched is left untouched.
    void SubClass(QWidget *hWnd);
    // One message for the watched window; raises DeviceChanged for arrivals and removals.
    qint32 WindowProc(QWidget *hWnd, quint32 uMsg, quint32 wParam, qint32 lParam);

    QWidget *hWndMonitored() const { return m_hWndMonitored.data(); }

signals:
    void DeviceChanged(quint32 wParam, qint32 lParam);

private:
    void UnSubClass();

    QPointer<QWidget> m_hWndMonitored;
    std::unique_ptr<RemovableMedia::Watcher> m_source; // the system's message source while attached
};

// The window procedure side: messages for a watched window go through here.
namespace modDeviceChange {
qint32 DeviceChangeProc(QWidget *hWnd, quint32 uMsg, quint32 wParam, qint32 lParam);
// The instance watching the window, or nullptr. Non-owning.
clsDeviceChange *MonitorFromWindow(QWidget *hWnd);
} // namespace modDeviceChange
