#include "platform/Conversions.h"
#include "platform/ErrorNumbers.h"

#include <QTest>

using namespace Conversions;

class tst_Conversions : public QObject
{
    Q_OBJECT

private slots:
    void val_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        const QList<QPair<const char *, double>> rows{
            {"12559abc", 12559}, {"abc", 0}, {"", 0}, {"  42", 42}, {"1 2 3", 123}, {"1\t2", 12}, {"\t\n7", 7},
            {"-5x", -5}, {"2.5kg", 2.5}, {"1e3", 1000}, {"7e", 7}, {"-", 0}};
        for (const auto &[text, expected] : rows)
            QTest::addRow("'%s'", QByteArray(text).replace('\t', "\\t").replace('\n', "\\n").constData()) << QString::fromLatin1(text) << expected;
    }
    void val()
    {
        QFETCH(QString, text);
        QTEST(Val(text), "expected");
    }

    void isNumeric_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        for (const char *yes : {"12", " 12 ", "-0.5", "True", "false"})
            QTest::addRow("'%s'", yes) << QString::fromLatin1(yes) << true;
        for (const char *no : {"12abc", "abc", "", "  ", "1 2", "."})
            QTest::addRow("'%s'", no) << QString::fromLatin1(no) << false;
    }
    void isNumeric()
    {
        QFETCH(QString, text);
        QTEST(IsNumeric(text), "expected");
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
};

QTEST_APPLESS_MAIN(tst_Conversions)
#include "tst_Conversions.moc"
