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
        QTest::newRow("port with letters") << "12559abc" << 12559.0;
        QTest::newRow("no number") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("leading blanks") << "  42" << 42.0;
        QTest::newRow("embedded blanks") << "1 2 3" << 123.0;
        QTest::newRow("negative") << "-5x" << -5.0;
        QTest::newRow("fraction") << "2.5kg" << 2.5;
        QTest::newRow("exponent") << "1e3" << 1000.0;
        QTest::newRow("lone e") << "7e" << 7.0;
        QTest::newRow("sign only") << "-" << 0.0;
    }
    void val()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(Val(text), expected);
    }

    void isNumeric_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("digits") << "12" << true;
        QTest::newRow("blanks around") << " 12 " << true;
        QTest::newRow("negative fraction") << "-0.5" << true;
        QTest::newRow("trailing letters") << "12abc" << false;
        QTest::newRow("word") << "abc" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank") << "  " << false;
        QTest::newRow("boolean word") << "True" << true;
        QTest::newRow("inner blank") << "1 2" << false;
        QTest::newRow("dot only") << "." << false;
    }
    void isNumeric()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(IsNumeric(text), expected);
    }

    void toInt_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("int16");  // INT_MIN: overflow, INT_MAX: type mismatch
        QTest::addColumn<qint64>("int32");
        const int ovf = INT_MIN, mismatch = INT_MAX;
        QTest::newRow("text") << QVariant("12") << 12 << qint64(12);
        QTest::newRow("tie to even down") << QVariant("2.5") << 2 << qint64(2);
        QTest::newRow("tie to even up") << QVariant("3.5") << 4 << qint64(4);
        QTest::newRow("negative tie") << QVariant(-2.5) << -2 << qint64(-2);
        QTest::newRow("16-bit edge") << QVariant(32767) << 32767 << qint64(32767);
        QTest::newRow("16-bit overflow") << QVariant(32768) << ovf << qint64(32768);
        QTest::newRow("16-bit low edge") << QVariant("-32768") << -32768 << qint64(-32768);
        QTest::newRow("32-bit overflow") << QVariant(2147483648.0) << ovf << qint64(INT64_MIN);
        QTest::newRow("rounds into overflow") << QVariant(32767.5) << ovf << qint64(32768);
        QTest::newRow("word") << QVariant("abc") << mismatch << qint64(INT64_MAX);
        QTest::newRow("empty") << QVariant("") << mismatch << qint64(INT64_MAX);
        QTest::newRow("boolean") << QVariant(true) << -1 << qint64(-1);
        QTest::newRow("blanks") << QVariant(" 5 ") << 5 << qint64(5);
    }
    void toInt()
    {
        QFETCH(QVariant, value);
        QFETCH(int, int16);
        QFETCH(qint64, int32);
        auto errorOf = [](auto f) -> int {
            try {
                f();
                return 0;
            } catch (const VbError &e) {
                return e.number();
            }
        };
        if (int16 == INT_MIN)
            QCOMPARE(errorOf([&] { ToInt16(value); }), ErrorNumbers::Overflow.number);
        else if (int16 == INT_MAX)
            QCOMPARE(errorOf([&] { ToInt16(value); }), ErrorNumbers::TypeMismatch.number);
        else
            QCOMPARE(int(ToInt16(value)), int16);
        if (int32 == INT64_MIN)
            QCOMPARE(errorOf([&] { ToInt32(value); }), ErrorNumbers::Overflow.number);
        else if (int32 == INT64_MAX)
            QCOMPARE(errorOf([&] { ToInt32(value); }), ErrorNumbers::TypeMismatch.number);
        else
            QCOMPARE(qint64(ToInt32(value)), int32);
    }

    void toText()
    {
        QCOMPARE(ToText(QVariant(qint16(-1))), QStringLiteral("-1"));
        QCOMPARE(ToText(QVariant(0)), QStringLiteral("0"));
        QCOMPARE(ToText(QVariant(true)), QStringLiteral("True"));
        QCOMPARE(ToText(QVariant(3.0)), QStringLiteral("3"));
        QCOMPARE(ToText(QVariant(QStringLiteral("abc"))), QStringLiteral("abc"));
    }
};

QTEST_APPLESS_MAIN(tst_Conversions)
#include "tst_Conversions.moc"
