#include "settings/modSettings.h"

// Not built yet.
namespace modSettings {
qint32 ReadSetting(const QString &, const QString &, const QString &, const QString &, const QVariant &d, QVariant &v)
{
    v = d;
    return StatusNothingDone;
}
qint32 WriteSetting(const QString &, const QString &, const QString &, const QString &, const QVariant &)
{
    return StatusNothingDone;
}
quint32 GetRootHandle(const QString &, bool) { return 0; }
} // namespace modSettings
