#include "serverlink/VersionNumbers.h"

#include "platform/ErrorNumbers.h"

#include <limits>

namespace VersionNumbers {

namespace {

template<typename T>
T checked(qint64 value)
{
    if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        ErrorNumbers::raise(ErrorNumbers::Overflow);
    return static_cast<T>(value);
}

// "#00": at least two digits, the sign in front.
QString twoDigits(qint32 value)
{
    const qint64 magnitude = value < 0 ? -qint64(value) : qint64(value);
    return (value < 0 ? QStringLiteral("-") : QString()) + QStringLiteral("%1").arg(magnitude, 2, 10, QLatin1Char('0'));
}

} // namespace

Parts DecodeServerVersion(qint32 v)
{
    // C++ division truncates towards zero and its remainder takes the dividend's sign.
    return {(v / 1000000) % 1000, (v / 1000) % 1000, v % 1000};
}

QString ServerVersionText(qint32 v)
{
    const Parts parts = DecodeServerVersion(v);
    return twoDigits(parts.major) + u'.' + twoDigits(parts.minor) + QStringLiteral(" Build: ")
           + QString::number(parts.build);
}

qint32 PanelVersionNumber(qint32 major, qint32 minor, qint32 revision)
{
    // Evaluated left to right as written; each step is checked on its own.
    qint32 number = checked<qint32>(qint64(major) * 1000000);
    number = checked<qint32>(qint64(number) + std::numeric_limits<qint32>::min());
    const qint16 minorPart = checked<qint16>(qint64(checked<qint16>(minor)) * 1000);
    number = checked<qint32>(qint64(number) + minorPart);
    return checked<qint32>(qint64(number) + revision);
}

Parts DecodePanelVersion(qint32 number)
{
    const qint64 value = qint64(number) - std::numeric_limits<qint32>::min();
    return {qint32(value / 1000000), qint32(value / 1000 % 1000), qint32(value % 1000)};
}

} // namespace VersionNumbers
