#include "platform/Conversions.h"
#include "platform/ErrorNumbers.h"

#include <QTest>

using namespace Conversions;

class tst_Conversions : public QObject
{
    Q_OBJECT

private slots:
    // Val reads the leading number, blanks skipped anywhere; IsNumeric wants the whole text a number.
    void valAndIsNumeric_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("val");
        QTest::addColumn<bool>("numeric");
        const QList<std::tuple<const char *, double, bool>> rows{
            {"12559abc", 12559, false}, {"abc", 0, false}, {"", 0, false}, {"  ", 0, false}, {" 42 ", 42, true},
            {"1 2 3", 123, false}, {"1\t2", 12, false}, {"\t\n7", 7, true}, {"-5x", -5, false}, {"-0.5", -0.5, true},
            {"2.5kg", 2.5, false}, {"1e3", 1000, true}, {"7e", 7, false}, {"-", 0, false}, {".", 0, false},
            {"True", 0, true}, {"false", 0, true}};
        for (const auto &[text, val, numeric] : rows)
            QTest::addRow("'%s'", QByteArray(text).replace('\t', "\\t").replace('\n', "\\n").constData()) << QString::fromLatin1(text) << val << numeric;
    }
    void valAndIsNumeric()
    {
        QFETCH(QString, text);
        QTEST(Val(text), "val");
        QTEST(IsNumeric(text), "numeric");
    }

    // A conversion's result, or the error it raises.
    void toInt_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("int16");
        QTest::addColumn<QString>("int32");
        const QList<std::tuple<const char *, QVariant, const char *, const char *>> rows{
            {"text", "12", "12", "12"}, {"blanks", " 5 ", "5", "5"}, {"tie to even down", "2.5", "2", "2"},
            {"tie to even up", "3.5", "4", "4"}, {"negative tie", -2.5, "-2", "-2"}, {"16-bit edge", 32767, "32767", "32767"},
            {"16-bit low edge", "-32768", "-32768", "-32768"}, {"16-bit overflow", 32768, "error 6", "32768"},
            {"rounds into overflow", 32767.5, "error 6", "32768"}, {"32-bit edge", 2147483647.0, "error 6", "2147483647"},
            {"32-bit overflow", 2147483648.0, "error 6", "error 6"}, {"word", "abc", "error 13", "error 13"},
            {"empty", "", "error 13", "error 13"}, {"Boolean", true, "-1", "-1"}, {"Boolean word", "True", "-1", "-1"},
            {"Boolean word false", " false ", "0", "0"}};
        for (const auto &[name, value, int16, int32] : rows)
            QTest::newRow(name) << value << QString::fromLatin1(int16) << QString::fromLatin1(int32);
    }
    void toInt()
    {
        QFETCH(QVariant, value);
        const auto outcome = [](auto convert) {
            try {
                return QString::number(convert());
            } catch (const VbError &e) {
                return QStringLiteral("error %1").arg(e.number());
            }
        };
        QTEST(outcome([&] { return ToInt16(value); }), "int16");
        QTEST(outcome([&] { return ToInt32(value); }), "int32");
    }

    // The text a value is stored as: whole numbers without a fraction, others to 15 digits.
    void toText_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("text");
        const QList<std::pair<QVariant, const char *>> rows{{2.0, "2"}, {-2.5, "-2.5"}, {1e15, "1e+15"}, {0.1f, "0.100000001490116"},
                                                            {true, "True"}, {12, "12"}, {" a ", " a "}};
        for (const auto &[value, text] : rows)
            QTest::addRow("%s", text) << value << QString::fromLatin1(text);
    }
    void toText()
    {
        QFETCH(QVariant, value);
        QTEST(ToText(value), "text");
    }
};

QTEST_APPLESS_MAIN(tst_Conversions)
#include "tst_Conversions.moc"
