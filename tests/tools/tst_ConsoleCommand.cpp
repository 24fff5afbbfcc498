#include "ConsoleCommand.h"
#include "FrameDescription.h"

#include <QTest>

// What a typed line sends, byte for byte, and that a mistake sends nothing.
class tst_ConsoleCommand : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("frames");
        QTest::newRow("life, any case") << "  LIFE 7 " << QStringList{"@#cmd:2##Argument:7###@"};
        QTest::newRow("identify dotted") << "identify 1.20.18" << QStringList{"@#cmd:4##Argument:1020018###@"};
        QTest::newRow("identify build 600") << "identify 1.20.600" << QStringList{"@#cmd:4##Argument:1020600###@"};
        QTest::newRow("identify number") << "identify 2003045" << QStringList{"@#cmd:4##Argument:2003045###@"};
        QTest::newRow("identify none") << "identify" << QStringList{"@#cmd:4##Argument:0###@"};
        QTest::newRow("three profiles, colon and empty password")
            << "users a:x:y:1 b::6 c:p#q:2"
            << QStringList{"@#cmd:6##Argument:1##NrOfUsers:3##Username:a##Password:x:y##Resolution:1###@",
                           "@#cmd:6##Argument:2##NrOfUsers:3##Username:b##Password:##Resolution:6###@",
                           "@#cmd:6##Argument:3##NrOfUsers:3##Username:c##Password:p#q##Resolution:2###@"};
        QTest::newRow("locked, client connected")
            << "lock locked connected OP2" << QStringList{"@#cmd:8##Argument:1##ClientName:OP2##Connnect:True###@"};
        QTest::newRow("free, nobody") << "lock free none" << QStringList{"@#cmd:8##Argument:0##ClientName:##Connnect:False###@"};
        QTest::newRow("connect") << "connect 3" << QStringList{"@#cmd:11##Argument:3###@"};
        QTest::newRow("logoff") << "logoff" << QStringList{"@#cmd:13##Argument:0###@"};
        QTest::newRow("restart") << "restart" << QStringList{"@#cmd:13##Argument:1###@"};
        QTest::newRow("shutdown") << "shutdown" << QStringList{"@#cmd:13##Argument:2###@"};
        QTest::newRow("shutdown force") << "shutdown force" << QStringList{"@#cmd:13##Argument:3###@"};
        QTest::newRow("raw keeps inner blanks") << "raw @#cmd:x##Argument: 0###@" << QStringList{"@#cmd:x##Argument: 0###@"};
    }
    void frames()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, frames);
        const ConsoleCommand command = ConsoleCommands::Parse(line);
        QVERIFY2(command.ok(), qPrintable(command.error));
        QCOMPARE(command.kind, ConsoleCommand::Kind::Send);
        QCOMPARE(command.frames, frames);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("inError");
        QTest::newRow("unknown word") << "hello" << "unknown command \"hello\"";
        QTest::newRow("life not a number") << "life x" << "not a whole 32-bit number";
        QTest::newRow("identify minor too long") << "identify 1.1000.0" << "MAJOR.MINOR.BUILD";
        QTest::newRow("users no resolution") << "users op1:pw" << "NAME:PASSWORD:RESOLUTION";
        QTest::newRow("users resolution 7") << "users op1:pw:7" << "0 (Full-Screen) to 6";
        QTest::newRow("users empty name") << "users :pw:1" << "no user name";
        QTest::newRow("users separator in password") << "users op:a##b:0" << "\"##\"";
        QTest::newRow("users beyond Latin-1") << QString::fromUtf8("users \xe2\x82\xac:pw:0") << "Latin-1";
        QTest::newRow("lock without flag") << "lock locked" << "connected flag";
        QTest::newRow("connect zero") << "connect 0" << "start at 1";
        QTest::newRow("exitorder 4") << "exitorder 4" << "mode 0 to 3";
        QTest::newRow("auto 0") << "auto 0" << "between 1 and 3600";
        QTest::newRow("grant what") << "grant money on" << "not connect or exit";
    }
    void refused()
    {
        QFETCH(QString, line);
        QFETCH(QString, inError);
        const ConsoleCommand command = ConsoleCommands::Parse(line);
        QVERIFY(!command.ok());
        QVERIFY2(command.error.contains(inError), qPrintable(command.error));
        QVERIFY(command.frames.isEmpty());
    }

    void otherKinds()
    {
        QCOMPARE(ConsoleCommands::Parse("").kind, ConsoleCommand::Kind::Nothing);
        QVERIFY(ConsoleCommands::Parse("   # a comment").ok());
        QCOMPARE(ConsoleCommands::Parse("   # a comment").kind, ConsoleCommand::Kind::Nothing);
        QCOMPARE(ConsoleCommands::Parse("close").kind, ConsoleCommand::Kind::Close);
        QCOMPARE(ConsoleCommands::Parse("quit").kind, ConsoleCommand::Kind::Quit);
        QCOMPARE(ConsoleCommands::Parse("auto 10").seconds, 10);
        QCOMPARE(ConsoleCommands::Parse("auto off").seconds, 0);
        const ConsoleCommand grant = ConsoleCommands::Parse("grant Connect ON");
        QCOMPARE(grant.kind, ConsoleCommand::Kind::Grant);
        QCOMPARE(grant.request, QStringLiteral("connect"));
        QVERIFY(grant.on);
    }

    void describe_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<bool>("mask");
        QTest::addColumn<QString>("text");
        QTest::newRow("identity") << "@#cmd:5##Argument:-2146463630##ClientName:PANEL01###@" << false
                                  << "cmd 5 panel identity | Argument -2146463630 = panel version 1.20.18 | ClientName: PANEL01";
        QTest::newRow("profile masked") << "@#cmd:6##Argument:1##NrOfUsers:1##Username:a##Password:pw##Resolution:0###@" << true
                                        << "cmd 6 user profile | Argument 1 = profile 1 | NrOfUsers: 1 | Username: a | Password: *** | Resolution: 0";
        QTest::newRow("no profile chosen") << "@#cmd:10##Argument:0###@" << false
                                           << "cmd 10 connection request | Argument 0 = no profile chosen";
        QTest::newRow("bad cmd") << "@#cmd:x##Argument:0###@" << false << "cmd \"x\" not a number | Argument 0";
        QTest::newRow("missing argument") << "@#cmd:2###@" << false << "cmd 2 sign-of-life request | Argument missing";
        QTest::newRow("field order free") << "@#Argument:2##cmd:13###@" << false << "cmd 13 exit order | Argument 2 = shut down";
        QTest::newRow("not a frame") << "@#cmd:2" << false << "not a frame: @#cmd:2";
    }
    void describe()
    {
        QFETCH(QString, frame);
        QFETCH(bool, mask);
        QFETCH(QString, text);
        QCOMPARE(FrameDescription::Describe(frame, mask), text);
    }
};

QTEST_GUILESS_MAIN(tst_ConsoleCommand)
#include "tst_ConsoleCommand.moc"
