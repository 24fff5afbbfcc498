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
        QTest::newRow("text") << QVariant("12") << "12" << "12";
        QTest::newRow("blanks") << QVariant(" 5 ") << "5" << "5";
        QTest::newRow("tie to even down") << QVariant("2.5") << "2" << "2";
        QTest::newRow("tie to even up") << QVariant("3.5") << "4" << "4";
        QTest::newRow("negative tie") << QVariant(-2.5) << "-2" << "-2";
        QTest::newRow("16-bit edge") << QVariant(32767) << "32767" << "32767";
        QTest::newRow("16-bit low edge") << QVariant("-32768") << "-32768" << "-32768";
        QTest::newRow("16-bit overflow") << QVariant(32768) << "error 6" << "32768";
        QTest::newRow("rounds into overflow") << QVariant(32767.5) << "error 6" << "32768";
        QTest::newRow("32-bit edge") << QVariant(2147483647.0) << "error 6" << "2147483647";
        QTest::newRow("32-bit overflow") << QVariant(2147483648.0) << "error 6" << "error 6";
        QTest::newRow("word") << QVariant("abc") << "error 13" << "error 13";
        QTest::newRow("empty") << QVariant("") << "error 13" << "error 13";
        QTest::newRow("Boolean") << QVariant(true) << "-1" << "-1";
        QTest::newRow("Boolean word") << QVariant("True") << "-1" << "-1";
        QTest::newRow("Boolean word false") << QVariant(" false ") << "0" << "0";
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

    void toText()
    {
        QCOMPARE(ToText(QVariant(qint16(-1))), QStringLiteral("-1"));
        QCOMPARE(ToText(QVariant(true)), QStringLiteral("True"));
        QCOMPARE(ToText(QVariant(3.0)), QStringLiteral("3"));
        QCOMPARE(ToText(QVariant(QStringLiteral("abc"))), QStringLiteral("abc"));
    }
};

QTEST_APPLESS_MAIN(tst_Conversions)
#include "tst_Conversions.moc"
