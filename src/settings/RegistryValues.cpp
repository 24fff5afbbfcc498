#include "settings/RegistryValues.h"

#include "platform/Conversions.h"
#include "platform/Registry.h"
#include "platform/VbError.h"

#include <QtEndian>

namespace RegistryValues {

void SetRegistryValue(quint32 root, const QString &subkey, const QString &valueName, quint32 type,
                      const QVariant &value)
{
    Registry::HKEY hKey = 0;
    Registry::RegCreateKey(root, subkey, &hKey);

    if (type == Registry::REG_DWORD) {
        try {
            quint8 field[4];
            qToLittleEndian<qint32>(Conversions::ToInt32(value), field);
            Registry::RegSetValueEx(hKey, valueName, 0, type, field, sizeof field);
        } catch (const VbError &) {
            // Not a 32-bit number: nothing is stored, the key is still flushed and closed.
        }
    } else {
        QByteArray data = Conversions::ToText(value).toUtf8();
        if (type == Registry::REG_SZ)
            data += '\0';
        Registry::RegSetValueEx(hKey, valueName, 0, type, reinterpret_cast<const quint8 *>(data.constData()),
                                Registry::DWORD(data.size()));
    }

    Registry::RegFlushKey(hKey);
    Registry::RegCloseKey(hKey);
}

void DeleteRegistryValue(quint32 root, const QString &subkey, const QString &valueName)
{
    Registry::HKEY hKey = 0;
    Registry::RegOpenKey(root, subkey, &hKey);
    Registry::RegDeleteValue(hKey, valueName);
    Registry::RegCloseKey(hKey);
}

} // namespace RegistryValues
