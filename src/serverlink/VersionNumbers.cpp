#include "serverlink/VersionNumbers.h"

#include "platform/ErrorNumbers.h"

#include <QRegularExpression>

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

bool ParseServerVersion(const QString &text, qint32 &number, QString &error)
{
    static const QRegularExpression whole(QStringLiteral("^-?[0-9]+$"));
    static const QRegularExpression dotted(QStringLiteral("^([0-9]{1,4})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    qint64 value = 0;
    bool ok = false;
    if (whole.match(text).hasMatch()) {
        value = text.toLongLong(&ok);
        ok = ok && value >= std::numeric_limits<qint32>::min();
    } else if (const auto match = dotted.match(text); match.hasMatch()) {
        value = match.captured(1).toLongLong() * 1000000 + match.captured(2).toLongLong() * 1000 + match.captured(3).toLongLong();
        ok = true;
    } else {
        error = QStringLiteral("\"%1\" is neither MAJOR.MINOR.BUILD (minor and build 0 to 999) nor a whole 32-bit number").arg(text);
        return false;
    }
    if (!ok || value > std::numeric_limits<qint32>::max()) {
        error = QStringLiteral("version \"%1\" does not fit a 32-bit number (major at most 2147)").arg(text);
        return false;
    }
    number = static_cast<qint32>(value);
    return true;
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

QString PanelVersionText(qint32 number)
{
    const Parts version = DecodePanelVersion(number);
    return QStringLiteral("%1.%2.%3").arg(version.major).arg(version.minor).arg(version.build);
}

} // namespace VersionNumbers
