// The text-to-number rules, on any text and any number:
// - a number written out reads back as the same number, by the general conversion and as a
//   leading number, and an integer also through the program's own way of writing numbers;
// - the leading number of a text is that of the text cut where no number can go on;
// - whatever the general conversion accepts is numeric, and what it refuses is not;
// - rounding goes to the nearest integer, ties to even.
#include "FuzzCheck.h"

#include "platform/Conversions.h"
#include "platform/VbError.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>

using namespace Conversions;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const double number = in.ConsumeFloatingPoint<double>();
    const qint32 integer = in.ConsumeIntegral<qint32>();
    const QString text = QString::fromUtf8(bytesOf(in.ConsumeRandomLengthString(64)));
    const QString rest = QString::fromUtf8(bytesOf(in.ConsumeRemainingBytesAsString()));

    if (std::isfinite(number)) {
        const QString written = QString::number(number, 'g', 17);
        FUZZ_CHECK(ToDouble(QVariant(written)) == number);
        FUZZ_CHECK(Val(written) == number);
        const double rounded = RoundHalfEven(number);
        FUZZ_CHECK(rounded == std::trunc(rounded) && std::fabs(rounded - number) <= 0.5);
        FUZZ_CHECK(std::fabs(rounded - number) < 0.5 || std::fmod(rounded, 2.0) == 0.0);
    }
    FUZZ_CHECK(ToInt32(QVariant(ToText(QVariant(double(integer))))) == integer);
    FUZZ_CHECK(ToInt32(QVariant(QString::number(integer))) == integer);

    FUZZ_CHECK(Val(text + u'x' + rest) == Val(text));

    bool converted = true;
    try {
        const double value = ToDouble(QVariant(text));
        FUZZ_CHECK(std::isfinite(value));
    } catch (const VbError &) {
        converted = false;
    }
    FUZZ_CHECK(converted == IsNumeric(text));
    try {
        const qint32 value = ToInt32(QVariant(text));
        FUZZ_CHECK(converted && double(value) == RoundHalfEven(ToDouble(QVariant(text))));
    } catch (const VbError &) {
    }
    return 0;
}
