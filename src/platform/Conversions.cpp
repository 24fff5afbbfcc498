#include "platform/Conversions.h"

#include "platform/ErrorNumbers.h"

#include <cmath>
#include <limits>

namespace Conversions {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// Reads sign, digits, fraction and exponent from text starting at pos, skipping the
// characters skip() accepts between them. Returns the number of digits of the mantissa.
template<typename Skip>
int scanNumber(const QString &text, qsizetype &pos, QString &out, Skip skip)
{
    int digits = 0;
    auto at = [&](qsizetype i) { return i < text.size() ? text.at(i) : QChar(); };
    // A run of ASCII digits from p onwards, the skipped characters between them left out.
    auto takeDigits = [&](qsizetype &p, QString &into) {
        int n = 0;
        for (; at(p).isDigit() && at(p).unicode() < 128; ++n) {
            into += at(p++);
            skip(p);
        }
        return n;
    };
    skip(pos);
    if (at(pos) == u'+' || at(pos) == u'-') {
        out += at(pos);
        ++pos;
        skip(pos);
    }
    digits += takeDigits(pos, out);
    if (at(pos) == u'.') {
        out += u'.';
        ++pos;
        skip(pos);
        digits += takeDigits(pos, out);
    }
    if (digits > 0 && (at(pos) == u'e' || at(pos) == u'E' || at(pos) == u'd' || at(pos) == u'D')) {
        qsizetype p = pos + 1;
        QString exp = QStringLiteral("e");
        skip(p);
        if (at(p) == u'+' || at(p) == u'-') {
            exp += at(p++);
            skip(p);
        }
        if (takeDigits(p, exp) > 0) {
            out += exp;
            pos = p;
        }
    }
    return digits;
}

} // namespace

double Val(const QString &text)
{
    qsizetype pos = 0;
    QString number;
    const int digits = scanNumber(text, pos, number, [&](qsizetype &p) {
        while (p < text.size() && isBlank(text.at(p)))
            ++p;
    });
    if (digits == 0)
        return 0.0;
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? value : 0.0;
}

namespace {

bool parseWhole(const QString &text, double &value)
{
    const QString t = text.trimmed();
    if (t.compare(u"True", Qt::CaseInsensitive) == 0) {
        value = -1;
        return true;
    }
    if (t.compare(u"False", Qt::CaseInsensitive) == 0) {
        value = 0;
        return true;
    }
    qsizetype pos = 0;
    QString number;
    const int digits = scanNumber(t, pos, number, [](qsizetype &) {});
    if (digits == 0 || pos != t.size())
        return false;
    bool ok = false;
    value = number.toDouble(&ok);
    return ok && std::isfinite(value);
}

} // namespace

bool IsNumeric(const QString &text)
{
    double ignored = 0;
    return parseWhole(text, ignored);
}

bool IsNumeric(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    case QMetaType::QString:
        return IsNumeric(value.toString());
    default:
        return false;
    }
}

double ToDouble(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? -1.0 : 0.0;
    case QMetaType::QString: {
        double d = 0;
        if (!parseWhole(value.toString(), d))
            ErrorNumbers::raise(ErrorNumbers::TypeMismatch);
        return d;
    }
    default:
        if (!IsNumeric(value))
            ErrorNumbers::raise(ErrorNumbers::TypeMismatch);
        return value.toDouble();
    }
}

double RoundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode rounds ties to even
}

namespace {

template<typename Int>
Int toInt(const QVariant &value)
{
    const double d = RoundHalfEven(ToDouble(value));
    if (!(d >= double(std::numeric_limits<Int>::min()) && d <= double(std::numeric_limits<Int>::max())))
        ErrorNumbers::raise(ErrorNumbers::Overflow);
    return Int(d);
}

} // namespace

qint16 ToInt16(const QVariant &value)
{
    return toInt<qint16>(value);
}

qint32 ToInt32(const QVariant &value)
{
    return toInt<qint32>(value);
}

QString ToText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (d == std::trunc(d) && std::fabs(d) < 1e15)
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    default:
        return value.toString();
    }
}

} // namespace Conversions
