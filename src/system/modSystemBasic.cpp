#include "system/modSystemBasic.h"

#include <QDBusConnection>
#include <QSysInfo>

namespace modSystemBasic {

namespace {

// Linux has no Windows version record: the platform id names no Windows family.
VersionRecord realVersionRecord()
{
    return VersionRecord{};
}

VersionReader &versionReader()
{
    static VersionReader reader;
    return reader;
}

MachineControl &machineControl()
{
    static MachineControl control;
    return control;
}

VersionRecord readVersion()
{
    return versionReader() ? versionReader()() : realVersionRecord();
}

bool isNt()
{
    const std::optional<qint32> nt = IsWinNT();
    return nt.has_value() && *nt != 0;
}

} // namespace

void SetVersionReader(VersionReader reader)
{
    versionReader() = std::move(reader);
}

void SetMachineControl(MachineControl control)
{
    machineControl() = std::move(control);
}

QString GetLocalComputerName()
{
    // A computer name is the host's own name, without its domain; a 16-character buffer
    // holds at most 15 characters and the terminator.
    return QSysInfo::machineHostName().section(u'.', 0, 0).left(15);
}

std::optional<qint32> IsWinNT()
{
    const VersionRecord record = readVersion();
    if (record.error != 0)
        return record.error;
    switch (record.platformId) {
    case 1:
        return 0;
    case 2:
        return 1;
    default:
        return std::nullopt;
    }
}

qint32 GetWindowsVersion()
{
    const VersionRecord record = readVersion();
    if (record.error != 0)
        return 0;
    if (record.platformId == 1) {
        if (record.minorVersion == 0)
            return 1;
        if (record.minorVersion == 10)
            return 2;
    } else if (record.platformId == 2) {
        switch (record.majorVersion) {
        case 3:
            return 3;
        case 4:
            return 4;
        case 5:
            return 5;
        default:
            break;
        }
    }
    return 0;
}

// Linux has no shutdown privilege for a process to enable first: logind decides whether this
// user may restart or power off when it is asked.
void ShutdownSystem(qint32 exitMode)
{
    quint32 flags = 0;
    switch (exitMode) {
    case 0:
        flags = EWX_LOGOFF;
        break;
    case 1:
        flags = isNt() ? (EWX_SHUTDOWN | EWX_REBOOT | EWX_FORCE) : (EWX_SHUTDOWN | EWX_REBOOT);
        break;
    case 2:
        flags = EWX_SHUTDOWN;
        break;
    case 3:
        flags = isNt() ? (EWX_SHUTDOWN | EWX_FORCE) : EWX_SHUTDOWN;
        break;
    default:
        return;
    }

    constexpr quint32 reserved = 0xFFFFFFFFu;
    if (machineControl())
        machineControl()(flags, reserved);
    else
        RequestLogind(QDBusConnection::systemBus(), flags);
}

void FilterDigitKey(qint16 &KeyAscii)
{
    const bool digit = KeyAscii >= '0' && KeyAscii <= '9';
    if (!digit && KeyAscii != 8)
        KeyAscii = 0;
}

} // namespace modSystemBasic
