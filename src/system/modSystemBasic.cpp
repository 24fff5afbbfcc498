#include "system/modSystemBasic.h"

// Not built yet.
namespace modSystemBasic {
void SetVersionReader(VersionReader) {}
void SetMachineControl(MachineControl) {}
QString GetLocalComputerName() { return {}; }
std::optional<qint32> IsWinNT() { return std::nullopt; }
qint32 GetWindowsVersion() { return 0; }
void EnableShutdownPrivilege() {}
void ShutdownSystem(qint32) {}
void FilterDigitKey(qint16 &) {}
} // namespace modSystemBasic
