#include "settings/RegistryValues.h"

// Not built yet.
namespace RegistryValues {
void SetRegistryValue(quint32, const QString &, const QString &, quint32, const QVariant &) {}
void DeleteRegistryValue(quint32, const QString &, const QString &) {}
} // namespace RegistryValues
