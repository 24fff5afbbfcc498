#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

// The two small registry procedures of the autostart entry. Every step runs even when an
// earlier one failed; nothing is reported.
namespace RegistryValues {
void SetRegistryValue(quint32 root, const QString &subkey, const QString &valueName, quint32 type,
                      const QVariant &value);
void DeleteRegistryValue(quint32 root, const QString &subkey, const QString &valueName);
} // namespace RegistryValues
