#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

class QWidget;
class QDBusConnection;

// The program's direct dealings with the operating system.
namespace modSystemBasic {

// The platform's version record. On Linux it names no Windows platform (id 0).
struct VersionRecord
{
    qint32 platformId = 0; // 1 Windows 9x family, 2 NT family, anything else none
    qint32 majorVersion = 0;
    qint32 minorVersion = 0;
    qint32 error = 0;      // non-zero: the query itself failed with this error number
};
using VersionReader = std::function<VersionRecord()>;
void SetVersionReader(VersionReader reader); // empty: the real reader

// The machine-control call in place of ExitWindowsEx: the flags and the reserved argument.
using MachineControl = std::function<void(quint32 flags, quint32 reserved)>;
void SetMachineControl(MachineControl control); // empty: systemd-logind

// The real machine control: asks systemd-logind on the given bus, without waiting for the
// answer and without asking the operator. Restart calls Reboot, shut down PowerOff, log off
// terminates the session this process belongs to. A missing bus, service or permission is
// ignored. The program's control uses the system bus.
void RequestLogind(const QDBusConnection &bus, quint32 flags);

inline constexpr quint32 EWX_LOGOFF = 0;
inline constexpr quint32 EWX_SHUTDOWN = 1;
inline constexpr quint32 EWX_REBOOT = 2;
inline constexpr quint32 EWX_FORCE = 4;

QString GetLocalComputerName();
// 1 on the NT family, 0 on the 9x family, no value on any other platform; the query's error
// number when it fails.
std::optional<qint32> IsWinNT();
qint32 GetWindowsVersion();
void SetFormOnTop(QWidget *window);
// The operator can no longer close the window: no close button, close requests refused.
void RemoveCloseMenu(QWidget *window);
// True once RemoveCloseMenu has acted on the window.
bool IsCloseRemoved(const QWidget *window);
void ShutdownSystem(qint32 exitMode);
qint32 GetTitleBarHeight();
void FilterDigitKey(qint16 &KeyAscii);
qint32 GetScreenWidth();  // twips
qint32 GetScreenHeight(); // twips
int TwipsPerPixelX();
int TwipsPerPixelY();
// A length in twips in whole pixels of the screen, rounded to the nearest (halves away from 0).
int TwipsToPixelsX(int twips);
int TwipsToPixelsY(int twips);

} // namespace modSystemBasic
