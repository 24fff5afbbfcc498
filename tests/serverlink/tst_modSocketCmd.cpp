#include "platform/ErrorNumbers.h"
#include "serverlink/modSocketCmd.h"

#include <QtTest>

using namespace modSocketCmd;

Q_DECLARE_METATYPE(SocketCmd)

class tst_modSocketCmd : public QObject
{
    Q_OBJECT

private slots:
    void commandFrameBytes()
    {
        QString frame;
        BuildCommandFrame({3, 1}, frame);
        QCOMPARE(frame.toLatin1(), QByteArray::fromHex("40 23 63 6D 64 3A 33 23 23 41 72 67 75 6D 65 6E 74 3A 31 23 23 23 40"));
    }

    void buildCommandFrame_data()
    {
        QTest::addColumn<SocketCmd>("command");
        QTest::addColumn<QString>("expected"); // empty: the frame keeps what it held
        for (int cmd : {2, 4, 7, 9, 10, 11, 12, 13})
            QTest::addRow("built %d", cmd) << SocketCmd{cmd, -2147483647 - 1} << QStringLiteral("@#cmd:%1##Argument:-2147483648###@").arg(cmd);
        for (int cmd : {5, 6, 8, 1, 14, -3})
            QTest::addRow("not built %d", cmd) << SocketCmd{cmd, 7} << QString();
    }
    void buildCommandFrame()
    {
        QFETCH(SocketCmd, command);
        QFETCH(QString, expected);
        QString frame = QStringLiteral("previous text");
        BuildCommandFrame(command, frame);
        QCOMPARE(frame, expected.isEmpty() ? QStringLiteral("previous text") : expected);
        if (!expected.isEmpty()) {
            const SocketCmd parsed = ParseCommandFrame(QString::fromLatin1(frame.toLatin1()));
            QCOMPARE(parsed.Cmd, command.Cmd);
            QCOMPARE(parsed.Argument, command.Argument);
        }
    }

    void clientNameFrame()
    {
        QString frame = QStringLiteral("old");
        BuildClientNameFrame({5, -2146463630}, frame, QStringLiteral("PANEL01"));
        QCOMPARE(frame, QStringLiteral("@#cmd:5##Argument:-2146463630##ClientName:PANEL01###@"));
        QCOMPARE(frame.toLatin1().size(), 53);
        BuildClientNameFrame({0, 0}, frame, QString()); // no command filter; empty name still a field
        QCOMPARE(frame, QStringLiteral("@#cmd:0##Argument:0##ClientName:###@"));
        BuildClientNameFrame({5, 1}, frame, QStringLiteral("K\u00dcCHE")); // Latin-1: one byte each
        QCOMPARE(frame.toLatin1(), QByteArray("@#cmd:5##Argument:1##ClientName:K\xdc" "CHE###@"));
    }

    void fieldHelpers()
    {
        QString frame = QStringLiteral("junk");
        BeginFrame(frame, {4, -1});
        AppendField(frame, QStringLiteral("Username:"), QString());
        EndFrame(frame);
        QCOMPARE(frame, QStringLiteral("@#cmd:4##Argument:-1##Username:###@"));
    }

    void markers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("end");
        QTest::newRow("whole") << "@#cmd:2##Argument:0###@" << true << true;
        QTest::newRow("blank before") << " @#cmd:2##Argument:0###@" << false << true;
        QTest::newRow("last two missing") << "@#cmd:2##Argument:0###" << true << false;
        QTest::newRow("two frames") << "@#cmd:2##Argument:0###@@#cmd:2##Argument:0###@" << true << false;
        QTest::newRow("end marker inside") << "@#a#@b###@" << true << false;
    }
    void markers()
    {
        QFETCH(QString, text);
        QFETCH(bool, start);
        QFETCH(bool, end);
        QCOMPARE(HasFrameStart(text), start);
        QCOMPARE(HasFrameEnd(text), end);
    }

    void parseCommandFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cmd");
        QTest::addColumn<int>("argument");
        QTest::newRow("lowest") << "@#cmd:2##Argument:-5###@" << 2 << -5;
        QTest::newRow("highest") << "@#cmd:13##Argument:1###@" << 13 << 1;
        QTest::newRow("above range") << "@#cmd:14##Argument:0###@" << 0 << 0;
        QTest::newRow("below range") << "@#cmd:1##Argument:0###@" << 0 << 0;
        QTest::newRow("two frames in one block") << "@#cmd:2##Argument:0###@@#cmd:2##Argument:0###@" << 0 << 0;
        QTest::newRow("blank before start") << " @#cmd:2##Argument:0###@" << 0 << 0;
        QTest::newRow("field order free") << "@#Argument:0##cmd:2###@" << 2 << 0;
        QTest::newRow("extra fields") << "@#cmd:8##Argument:3##ClientName:X##Connnect:True###@" << 8 << 3;
        QTest::newRow("blanks around number") << "@#cmd: 5 ##Argument: -1###@" << 5 << -1;
        QTest::newRow("half to even down") << "@#cmd:2.5##Argument:0.5###@" << 2 << 0;
        QTest::newRow("half to even up") << "@#cmd:3.5##Argument:-1.5###@" << 4 << -2;
        QTest::newRow("first field wins") << "@#cmd:3##Argument:1##cmd:4##Argument:2###@" << 3 << 1;
    }
    void parseCommandFrame()
    {
        QFETCH(QString, text);
        QFETCH(int, cmd);
        QFETCH(int, argument);
        const SocketCmd parsed = ParseCommandFrame(text);
        QCOMPARE(parsed.Cmd, cmd);
        QCOMPARE(parsed.Argument, argument);
    }

    void conversionErrors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        const int mismatch = ErrorNumbers::TypeMismatch.number;
        QTest::newRow("cmd not numeric") << "@#cmd:x##Argument:0###@" << mismatch;
        QTest::newRow("argument not numeric") << "@#cmd:2##Argument:1a###@" << mismatch;
        QTest::newRow("argument empty") << "@#cmd:2##Argument:###@" << mismatch;
        QTest::newRow("argument missing") << "@#cmd:2###@" << mismatch;
        QTest::newRow("argument without separator") << "@#cmd:2##Argument:0#@" << mismatch;
        QTest::newRow("cmd out of 32-bit range") << "@#cmd:2147483648##Argument:0###@" << ErrorNumbers::Overflow.number;
    }
    void conversionErrors()
    {
        QFETCH(QString, text);
        QFETCH(int, error);
        try {
            ParseCommandFrame(text);
            QFAIL("no error raised");
        } catch (const VbError &e) {
            QCOMPARE(e.number(), error);
        }
        QVERIFY_THROWS_EXCEPTION(VbError, GetCommand(text));
    }

    void getFieldValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("value");
        const QString user = QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:2##Username:##Password:p w##Resolution:3###@");
        QTest::newRow("empty value") << user << "Username:" << true << "";
        QTest::newRow("value with blank") << user << "Password:" << true << "p w";
        QTest::newRow("case-sensitive key") << user << "username:" << false << "";
        QTest::newRow("no separator after key") << "@#cmd:2#@" << "cmd:" << false << "";
        QTest::newRow("key found inside another") << "@#XUsername:a##Username:b###@" << "Username:" << true << "a";
        QTest::newRow("value may hold a single #") << "@#Password:a#b###@" << "Password:" << true << "a#b";
    }
    void getFieldValue()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(bool, found);
        QFETCH(QString, value);
        QString out = QStringLiteral("stale");
        QCOMPARE(GetFieldValue(text, key, out), found);
        QCOMPARE(out, value); // cleared when not found
    }

    // The fields are read in order; a missing one stops there, a bad number raises, and text
    // that is not one whole frame leaves the record as it was.
    void parseUserFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("result"); // 1 true, 0 false, -1 raises type mismatch
        QTest::addColumn<int>("nr");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("resolution");
        QTest::newRow("order free, numbers converted")
            << "@#Resolution:2.5##Password:##Username:u##NrOfUsers: 2 ##Argument:0##cmd:6###@" << 1 << 2 << "u" << "" << 2;
        QTest::newRow("password missing") << "@#cmd:6##Argument:1##NrOfUsers:2##Username:u##Resolution:x###@" << 0 << 2 << "u" << "me" << 4;
        QTest::newRow("not one whole frame") << "@#cmd:x##NrOfUsers:1##Username:a##Password:b##Resolution:1###@@#x###@" << 0 << 9 << "keep" << "me" << 4;
        QTest::newRow("argument missing") << "@#cmd:6##NrOfUsers:1##Username:u##Password:p##Resolution:1###@" << -1 << 9 << "keep" << "me" << 4;
        QTest::newRow("count empty") << "@#cmd:6##Argument:1##NrOfUsers:##Username:u##Password:p##Resolution:1###@" << -1 << 9 << "keep" << "me" << 4;
        QTest::newRow("resolution not numeric")
            << "@#cmd:6##Argument:1##NrOfUsers:1##Username:u##Password:p##Resolution:hi###@" << -1 << 1 << "u" << "p" << 4;
    }
    void parseUserFrame()
    {
        QFETCH(QString, text);
        QFETCH(int, result);
        QFETCH(int, nr);
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(int, resolution);
        RemoteUserData data{9, QStringLiteral("keep"), QStringLiteral("me"), 4};
        try {
            QCOMPARE(int(ParseUserFrame(text, data)), result);
        } catch (const VbError &e) {
            QCOMPARE(result, -1);
            QCOMPARE(e.number(), ErrorNumbers::TypeMismatch.number);
        }
        QCOMPARE(data.NrOfUsers, nr);
        QCOMPARE(data.Username, username);
        QCOMPARE(data.Password, password);
        QCOMPARE(data.Resolution, resolution);
    }

    void parseConnectFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("result"); // 1 true, 0 false, -1 raises
        QTest::addColumn<bool>("connect");
        QTest::addColumn<QString>("clientName");
        QTest::newRow("connected") << "@#cmd:8##Argument:1##ClientName:PANEL02##Connnect:True###@" << 1 << true << "PANEL02";
        QTest::newRow("not connected") << "@#cmd:8##Argument:0##ClientName:##Connnect:False###@" << 1 << false << "";
        QTest::newRow("lower case true") << "@#cmd:8##Argument:1##ClientName:A##Connnect:true###@" << 1 << false << "A";
        QTest::newRow("true with blank") << "@#cmd:8##Argument:1##ClientName:A##Connnect:True ###@" << 1 << false << "A";
        QTest::newRow("two n is a missing field") << "@#cmd:8##Argument:1##ClientName:A##Connect:True###@" << 0 << true << "A";
        QTest::newRow("client name missing") << "@#cmd:8##Argument:1##Connnect:True###@" << 0 << true << "keep";
        QTest::newRow("order free") << "@#Connnect:True##ClientName:B##Argument:1##cmd:8###@" << 1 << true << "B";
        QTest::newRow("not one whole frame") << " @#cmd:8##Argument:1##ClientName:A##Connnect:False###@" << 0 << true << "keep";
        QTest::newRow("bad argument raises first") << "@#cmd:8##Argument:?##ClientName:A##Connnect:False###@" << -1 << true << "keep";
    }
    void parseConnectFrame()
    {
        QFETCH(QString, text);
        QFETCH(int, result);
        QFETCH(bool, connect);
        QFETCH(QString, clientName);
        RemoteConnectData data{true, QStringLiteral("keep")};
        try {
            QCOMPARE(int(ParseConnectFrame(text, data)), result);
        } catch (const VbError &e) {
            QCOMPARE(result, -1);
            QCOMPARE(e.number(), ErrorNumbers::TypeMismatch.number);
        }
        QCOMPARE(data.Connect, connect);
        QCOMPARE(data.ClientName, clientName);
    }
};

QTEST_APPLESS_MAIN(tst_modSocketCmd)
#include "tst_modSocketCmd.moc"
