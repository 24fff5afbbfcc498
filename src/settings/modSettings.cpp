#include "settings/modSettings.h"

#include "platform/Conversions.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"

#include <QFileInfo>

namespace modSettings {

namespace {

constexpr quint32 IniFileHandle = 1;
constexpr quint32 MissingFile = 0;

// The string size the profile functions are given.
constexpr quint32 ProfileBufferSize = 255;

struct RootName
{
    const char *name;
    quint32 handle;
};

// Tested in this order.
constexpr RootName RootNames[] = {
    {"HKCU", Registry::HKEY_CURRENT_USER},   {"HKLM", Registry::HKEY_LOCAL_MACHINE},
    {"HKU", Registry::HKEY_USERS},           {"HKDD", Registry::HKEY_DYN_DATA},
    {"HKCC", Registry::HKEY_CURRENT_CONFIG}, {"HKCR", Registry::HKEY_CLASSES_ROOT},
};

// A settings file counts only as a regular file that is not hidden (its name does not
// begin with "."). Read-only files count.
bool settingsFileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.fileName().isEmpty() && !info.fileName().startsWith(u'.');
}

QString letterOf(const QString &type)
{
    return type.toUpper();
}

} // namespace

quint32 GetRootHandle(const QString &root, bool mustExist)
{
    const QString upper = root.toUpper();
    for (const RootName &r : RootNames) {
        if (upper == QLatin1String(r.name))
            return r.handle;
    }
    if (!mustExist)
        return IniFileHandle;
    return settingsFileExists(root) ? IniFileHandle : MissingFile;
}

qint32 ReadSetting(const QString &root, const QString &section, const QString &key, const QString &type,
                   const QVariant &defaultValue, QVariant &value)
{
    QList<Setting> settings{{key, defaultValue}};
    const qint32 status = ReadSettings(root, section, type, settings);
    value = settings.first().second;
    return status;
}

qint32 ReadSettings(const QString &root, const QString &section, const QString &type, QList<Setting> &settings)
{
    // Every caller names a settings file: a registry root is nothing the accessor does (the
    // autostart entry reaches the registry through its own procedures).
    if (GetRootHandle(root, true) != IniFileHandle)
        return StatusNothingDone;
    const IniFile::Snapshot file(root);
    const bool text = letterOf(type) == u"S";
    for (auto &[key, value] : settings) {
        if (text) {
            QString buffer;
            const quint32 n =
                file.GetPrivateProfileStringA(section, key, Conversions::ToText(value), buffer, ProfileBufferSize);
            value = buffer.left(qsizetype(n));
        } else {
            value = file.GetPrivateProfileIntA(section, key, 0);
        }
    }
    return 0;
}

qint32 WriteSetting(const QString &root, const QString &section, const QString &key, const QString &type,
                    const QVariant &value)
{
    return WriteSettings(root, section, type, {{key, value}});
}

qint32 WriteSettings(const QString &root, const QString &section, const QString &type, const QList<Setting> &settings)
{
    if (GetRootHandle(root, false) != IniFileHandle || letterOf(type) != u"S")
        return StatusNothingDone;
    // Empty text writes the key with an empty value; the key is never deleted. What the file
    // system answered is not the caller's concern.
    QList<IniFile::Entry> entries;
    for (const auto &[key, value] : settings)
        entries.append({section, key, Conversions::ToText(value)});
    IniFile::WritePrivateProfileStrings(entries, root);
    return 0;
}

} // namespace modSettings
