#include "settings/modSettings.h"

#include "platform/Conversions.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"
#include "platform/VbError.h"

#include <QFileInfo>
#include <QtEndian>

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

// VB's Boolean conversion: numbers and numeric text are True when not 0, "True"/"False"
// are themselves; anything else is a type mismatch (VbError).
bool toBoolean(const QVariant &value)
{
    return Conversions::ToDouble(value) != 0.0;
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
    qint32 status = StatusNothingDone;
    value = defaultValue;

    const quint32 handle = GetRootHandle(root, true);
    if (handle == MissingFile)
        return status;
    const QString letter = letterOf(type);

    if (handle == IniFileHandle) {
        if (letter == u"S") {
            QString buffer;
            const quint32 n = IniFile::GetPrivateProfileStringA(section, key, Conversions::ToText(defaultValue),
                                                                buffer, ProfileBufferSize, root);
            value = buffer.left(qsizetype(n));
        } else {
            value = IniFile::GetPrivateProfileIntA(section, key, 0, root);
        }
        return 0;
    }

    Registry::HKEY hKey = 0;
    const qint32 opened = Registry::RegOpenKeyEx(handle, section, 0, Registry::KEY_QUERY_VALUE, &hKey);
    if (opened != Registry::ERROR_SUCCESS)
        return opened;

    qint32 failed = Registry::ERROR_SUCCESS;
    if (letter == u"S") {
        Registry::DWORD valueType = 0;
        quint8 probe = 0;
        Registry::DWORD size = 0;
        qint32 r = Registry::RegQueryValueEx(hKey, key, nullptr, &valueType, &probe, &size);
        QByteArray buffer;
        if (r == Registry::ERROR_MORE_DATA) {
            buffer.resize(qsizetype(size));
            r = Registry::RegQueryValueEx(hKey, key, nullptr, &valueType, reinterpret_cast<quint8 *>(buffer.data()),
                                          &size);
        }
        if (r == Registry::ERROR_SUCCESS) {
            if (size > 0)
                value = QString::fromUtf8(buffer.constData(), qsizetype(size) - 1);
        } else {
            failed = r;
        }
    } else if (letter == u"B") {
        quint8 field[2] = {0, 0};
        Registry::DWORD size = sizeof field;
        const qint32 r = Registry::RegQueryValueEx(hKey, key, nullptr, nullptr, field, &size);
        if (r == Registry::ERROR_SUCCESS)
            value = qFromLittleEndian<qint16>(field) != 0;
        else
            failed = r;
    } else if (letter == u"D") {
        quint8 field[4] = {0, 0, 0, 0};
        Registry::DWORD size = sizeof field;
        const qint32 r = Registry::RegQueryValueEx(hKey, key, nullptr, nullptr, field, &size);
        if (r == Registry::ERROR_SUCCESS)
            value = qFromLittleEndian<qint32>(field);
        else
            failed = r;
    }

    const qint32 closed = Registry::RegCloseKey(hKey);
    return failed != Registry::ERROR_SUCCESS ? failed : closed;
}

qint32 WriteSetting(const QString &root, const QString &section, const QString &key, const QString &type,
                    const QVariant &value)
{
    const quint32 handle = GetRootHandle(root, false);
    const QString letter = letterOf(type);

    if (handle == IniFileHandle)
        return WriteSettings(root, section, type, {{key, value}});

    Registry::HKEY hKey = 0;
    Registry::DWORD disposition = 0;
    const qint32 created =
        Registry::RegCreateKeyEx(handle, section, 0, QString(), Registry::REG_OPTION_NON_VOLATILE,
                                 Registry::KEY_SET_VALUE | Registry::KEY_CREATE_SUB_KEY, nullptr, &hKey, &disposition);
    if (created != Registry::ERROR_SUCCESS)
        return created;

    qint32 failed = Registry::ERROR_SUCCESS;
    try {
        if (letter == u"S") {
            const QByteArray data = Conversions::ToText(value).toUtf8() + '\0';
            failed = Registry::RegSetValueEx(hKey, key, 0, Registry::REG_SZ,
                                             reinterpret_cast<const quint8 *>(data.constData()),
                                             Registry::DWORD(data.size()));
        } else if (letter == u"B") {
            quint8 field[2];
            qToLittleEndian<qint16>(toBoolean(value) ? qint16(-1) : qint16(0), field);
            failed = Registry::RegSetValueEx(hKey, key, 0, Registry::REG_BINARY, field, sizeof field);
        } else if (letter == u"D") {
            quint8 field[4];
            qToLittleEndian<qint32>(qint32(Conversions::ToInt16(value)), field);
            failed = Registry::RegSetValueEx(hKey, key, 0, Registry::REG_DWORD, field, sizeof field);
        }
    } catch (const VbError &) {
        // The value does not convert to the letter's type: nothing is stored.
        failed = Registry::ERROR_INVALID_DATA;
    }

    const qint32 closed = Registry::RegCloseKey(hKey);
    return failed != Registry::ERROR_SUCCESS ? failed : closed;
}

qint32 WriteSettings(const QString &root, const QString &section, const QString &type, const QList<Setting> &settings)
{
    if (GetRootHandle(root, false) != IniFileHandle) {
        qint32 status = 0;
        for (const auto &[key, value] : settings)
            if (const qint32 s = WriteSetting(root, section, key, type, value); s != 0)
                status = s;
        return status;
    }
    if (letterOf(type) != u"S")
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
