#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

// The text-to-number rules of the program, in one place.
namespace Conversions {

// The leading number of a text: blanks, tabs and line feeds are skipped, then an optional
// sign, digits, an optional fraction and exponent; reading stops at the first other
// character. 0 when the text starts with no number ("12559abc" -> 12559, "abc" -> 0).
double Val(const QString &text);

// True when the whole text, blanks around it allowed, is a number (sign, digits, fraction,
// exponent) or a Boolean word ("True", "False").
bool IsNumeric(const QString &text);
bool IsNumeric(const QVariant &value);

// General conversion of a value to a number: numbers pass, Booleans give -1 / 0, numeric
// text is read; anything else (empty text included) raises a type mismatch.
double ToDouble(const QVariant &value);

// Conversion to a 16- or 32-bit signed integer: a fraction is rounded to the nearest integer,
// ties to even; a value out of range raises an overflow.
qint16 ToInt16(const QVariant &value);
qint32 ToInt32(const QVariant &value);

// Round to the nearest integer, ties to even.
double RoundHalfEven(double value);

// The value as text: numbers in plain decimal, Booleans as "True" / "False".
QString ToText(const QVariant &value);

} // namespace Conversions
