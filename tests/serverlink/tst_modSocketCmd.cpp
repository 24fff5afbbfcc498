// The side-link frames and the version numbers they carry.
#include "platform/ErrorNumbers.h"
#include "serverlink/SideLinkCommand.h"
#include "serverlink/VersionNumbers.h"
#include "serverlink/modSocketCmd.h"

#include "TestSupport.h"

using namespace modSocketCmd;
using TestSupport::errorOf;

class tst_modSocketCmd : public QObject
{
    Q_OBJECT

private slots:
    void build_data()
    {
        QTest::addColumn<qint32>("cmd");
        QTest::addColumn<QString>("name"); // null: BuildCommandFrame; else BuildClientNameFrame
        QTest::addColumn<QByteArray>("expected"); // empty: the frame keeps what it held
        for (int cmd : {2, 3, 4, 7, 9, 10, 11, 12, 13})
            QTest::addRow("built %d", cmd) << cmd << QString()
                                           << "@#cmd:" + QByteArray::number(cmd) + "##Argument:-2147483648###@";
        for (int cmd : {5, 6, 8, 1, 14})
            QTest::addRow("not built %d", cmd) << cmd << QString() << QByteArray();
        QTest::newRow("client name, any command")
            << 0 << QStringLiteral("K\u00dcCHE") << QByteArray("@#cmd:0##Argument:-2147483648##ClientName:K\xdc" "CHE###@");
    }
    void build()
    {
        QFETCH(qint32, cmd);
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);
        QString frame = QStringLiteral("previous text");
        const SocketCmd command{cmd, -2147483647 - 1};
        if (name.isNull())
            BuildCommandFrame(command, frame);
        else
            BuildClientNameFrame(command, frame, name);
        QCOMPARE(frame.toLatin1(), expected.isEmpty() ? QByteArray("previous text") : expected);
    }

    void parseCommandFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cmd"); // -1: raises a type mismatch, -2 an overflow
        QTest::addColumn<int>("argument");
        QTest::newRow("lowest") << "@#cmd:2##Argument:-5###@" << 2 << -5;
        QTest::newRow("highest") << "@#cmd:13##Argument:1###@" << 13 << 1;
        QTest::newRow("above range") << "@#cmd:14##Argument:0###@" << 0 << 0;
        QTest::newRow("below range") << "@#cmd:1##Argument:0###@" << 0 << 0;
        QTest::newRow("two frames in one block") << "@#cmd:2##Argument:0###@@#cmd:2##Argument:0###@" << 0 << 0;
        QTest::newRow("blank before start") << " @#cmd:2##Argument:0###@" << 0 << 0;
        QTest::newRow("last two missing") << "@#cmd:2##Argument:0###" << 0 << 0;
        QTest::newRow("field order free, extra fields") << "@#Argument:3##cmd:8##Connnect:True###@" << 8 << 3;
        QTest::newRow("blanks around numbers") << "@#cmd: 5 ##Argument: -1###@" << 5 << -1;
        QTest::newRow("halves to even") << "@#cmd:3.5##Argument:2.5###@" << 4 << 2;
        QTest::newRow("first field wins") << "@#cmd:3##Argument:1##cmd:4##Argument:2###@" << 3 << 1;
        QTest::newRow("cmd not numeric") << "@#cmd:x##Argument:0###@" << -1 << 0;
        QTest::newRow("argument with letters") << "@#cmd:2##Argument:1a###@" << -1 << 0;
        QTest::newRow("argument empty") << "@#cmd:2##Argument:###@" << -1 << 0;
        QTest::newRow("argument missing") << "@#cmd:2###@" << -1 << 0;
        QTest::newRow("cmd beyond 32 bits") << "@#cmd:2147483648##Argument:0###@" << -2 << 0;
    }
    void parseCommandFrame()
    {
        QFETCH(QString, text);
        QFETCH(int, cmd);
        QFETCH(int, argument);
        SocketCmd parsed;
        const int error = errorOf([&] { parsed = ParseCommandFrame(text); });
        QCOMPARE(error, cmd == -1 ? ErrorNumbers::TypeMismatch.number : cmd == -2 ? ErrorNumbers::Overflow.number : 0);
        if (cmd >= 0)
            QCOMPARE((QList<int>{parsed.Cmd, parsed.Argument}), (QList<int>{cmd, argument}));
    }

    void getFieldValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // null: not found
        const QString user = QStringLiteral("@#cmd:6##Username:##Password:p w###@");
        QTest::newRow("empty value") << user << "Username:" << "";
        QTest::newRow("value with blank") << user << "Password:" << "p w";
        QTest::newRow("case-sensitive key") << user << "username:" << QString();
        QTest::newRow("no separator after key") << "@#cmd:2#@" << "cmd:" << QString();
        QTest::newRow("first occurrence, inside another") << "@#XUsername:a##Username:b###@" << "Username:" << "a";
        QTest::newRow("a single # is content") << "@#Password:a#b###@" << "Password:" << "a#b";
    }
    void getFieldValue()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QString out = QStringLiteral("stale");
        QCOMPARE(GetFieldValue(text, key, out), !value.isNull());
        QCOMPARE(out, value.isNull() ? QString() : value);
    }

    // The fields are read in order; a missing one stops there, a bad number raises, and text
    // that is not one whole frame leaves the record as it was.
    void parseUserFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("result"); // 1 true, 0 false, -1 raises
        QTest::addColumn<QString>("record"); // NrOfUsers|Username|Password|Resolution afterwards
        QTest::newRow("order free, numbers converted")
            << "@#Resolution:2.5##Password:##Username:u##NrOfUsers: 2 ##Argument:0##cmd:6###@" << 1 << "2|u||2";
        QTest::newRow("password missing") << "@#cmd:6##Argument:1##NrOfUsers:2##Username:u##Resolution:x###@" << 0 << "2|u|me|4";
        QTest::newRow("not one frame") << "@#cmd:6##NrOfUsers:1##Username:a##Password:b##Resolution:1###@@#x###@" << 0
                                       << "9|keep|me|4";
        QTest::newRow("argument missing") << "@#cmd:6##NrOfUsers:1##Username:u##Password:p##Resolution:1###@" << -1
                                          << "9|keep|me|4";
        QTest::newRow("resolution not numeric")
            << "@#cmd:6##Argument:1##NrOfUsers:1##Username:u##Password:p##Resolution:hi###@" << -1 << "1|u|p|4";
    }
    void parseUserFrame()
    {
        QFETCH(QString, text);
        QFETCH(int, result);
        RemoteUserData data{9, QStringLiteral("keep"), QStringLiteral("me"), 4};
        bool parsed = false;
        QCOMPARE(errorOf([&] { parsed = ParseUserFrame(text, data); }) != 0, result < 0);
        QCOMPARE(int(parsed), qMax(result, 0));
        QTEST(QStringLiteral("%1|%2|%3|%4").arg(data.NrOfUsers).arg(data.Username, data.Password).arg(data.Resolution),
              "record");
    }

    void parseConnectFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("result"); // 1 true, 0 false, -1 raises
        QTest::addColumn<bool>("connect");
        QTest::addColumn<QString>("clientName");
        const QString head = QStringLiteral("@#cmd:8##Argument:1##");
        QTest::newRow("connected") << head + "ClientName:PANEL02##Connnect:True###@" << 1 << true << "PANEL02";
        QTest::newRow("lower-case true") << head + "ClientName:A##Connnect:true###@" << 1 << false << "A";
        QTest::newRow("true with blank") << head + "ClientName:A##Connnect:True ###@" << 1 << false << "A";
        QTest::newRow("two n is a missing field") << head + "ClientName:A##Connect:True###@" << 0 << true << "A";
        QTest::newRow("client name missing") << head + "Connnect:True###@" << 0 << true << "keep";
        QTest::newRow("not one frame") << " " + head + "ClientName:A##Connnect:False###@" << 0 << true << "keep";
        QTest::newRow("bad argument raises first") << "@#cmd:8##Argument:?##ClientName:A##Connnect:False###@" << -1
                                                    << true << "keep";
    }
    void parseConnectFrame()
    {
        QFETCH(QString, text);
        QFETCH(int, result);
        RemoteConnectData data{true, QStringLiteral("keep")};
        bool parsed = false;
        QCOMPARE(errorOf([&] { parsed = ParseConnectFrame(text, data); }) != 0, result < 0);
        QCOMPARE(int(parsed), qMax(result, 0));
        QTEST(data.Connect, "connect");
        QTEST(data.ClientName, "clientName");
    }

    void versionNumbers_data()
    {
        QTest::addColumn<qint32>("v");
        QTest::addColumn<QString>("shown");
        QTest::newRow("1020018") << 1020018 << "01.20 Build: 18";
        QTest::newRow("2003045") << 2003045 << "02.03 Build: 45";
        QTest::newRow("1020600") << 1020600 << "01.20 Build: 600";
        QTest::newRow("major beyond 999 wraps") << 1234005006 << "234.05 Build: 6";
        QTest::newRow("negative") << -1020018 << "-01.-20 Build: -18";
        QTest::newRow("least number") << qint32(-2147483647 - 1) << "-147.-483 Build: -648";
    }
    void versionNumbers()
    {
        QFETCH(qint32, v);
        QTEST(VersionNumbers::ServerVersionText(v), "shown");
    }

    void panelVersionNumber()
    {
        QCOMPARE(VersionNumbers::PanelVersionNumber(1, 20, 18), -2146463630);
        const VersionNumbers::Parts back = VersionNumbers::DecodePanelVersion(-2146463630);
        QCOMPARE((QList<qint32>{back.major, back.minor, back.build}), (QList<qint32>{1, 20, 18}));
        // The minor version is multiplied in 16 bits.
        QCOMPARE(qint64(VersionNumbers::PanelVersionNumber(1, 32, 767)), -2147483648LL + 1032767);
        QCOMPARE(errorOf([] { VersionNumbers::PanelVersionNumber(1, 33, 0); }), ErrorNumbers::Overflow.number);
        QCOMPARE(errorOf([] { VersionNumbers::PanelVersionNumber(2148, 0, 0); }), ErrorNumbers::Overflow.number);
    }
};

QTEST_GUILESS_MAIN(tst_modSocketCmd)
#include "tst_modSocketCmd.moc"
