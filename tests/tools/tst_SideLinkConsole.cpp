// The side-link console: what a typed line sends, byte for byte, and that a mistake sends
// nothing; how it shows what a panel sends; the console as a real process with a panel-side
// socket on loopback.
#include "ConsoleCommand.h"
#include "FrameDescription.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kWait = 10000;

struct Console
{
    QProcess process;
    QByteArray out, err;
    // Listens on a free port unless the arguments say otherwise.
    explicit Console(QStringList arguments = {}, bool freePort = true)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { err += process.readAllStandardError(); });
        process.start(QStringLiteral(VESKORA_SIDELINK_CONSOLE), freePort ? QStringList{"--port", "0"} + arguments : arguments);
    }
    ~Console() { process.kill(), process.waitForFinished(kWait); }
    QRegularExpressionMatch listening() const
    {
        return QRegularExpression(QStringLiteral("listening on ([0-9.]+):(\\d+)")).match(QString::fromUtf8(out));
    }
    bool endsWith(int code) { return process.waitForFinished(kWait) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == code; }
};

// The panel's end of the link, connected once the console listens.
struct Panel
{
    QTcpSocket socket;
    QByteArray received;
    explicit Panel(Console &console)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        if (!QTest::qWaitFor([&] { return console.listening().hasMatch(); }, kWait))
            return;
        socket.connectToHost(QHostAddress(console.listening().captured(1)), console.listening().captured(2).toUShort());
        (void)QTest::qWaitFor([&] { return console.out.contains(" connected\n"); }, kWait);
    }
};

} // namespace

class tst_SideLinkConsole : public QObject
{
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("frames"); // one refused line: the start of its error
        QTest::newRow("life, any case") << "  LIFE 7 " << QStringList{"@#cmd:2##Argument:7###@"};
        QTest::newRow("identify dotted") << "identify 1.20.600" << QStringList{"@#cmd:4##Argument:1020600###@"};
        QTest::newRow("identify number") << "identify 2003045" << QStringList{"@#cmd:4##Argument:2003045###@"};
        QTest::newRow("identify none") << "identify" << QStringList{"@#cmd:4##Argument:0###@"};
        QTest::newRow("three profiles, colon and empty password")
            << "users a:x:y:1 b::6 c:p#q:2"
            << QStringList{"@#cmd:6##Argument:1##NrOfUsers:3##Username:a##Password:x:y##Resolution:1###@",
                           "@#cmd:6##Argument:2##NrOfUsers:3##Username:b##Password:##Resolution:6###@",
                           "@#cmd:6##Argument:3##NrOfUsers:3##Username:c##Password:p#q##Resolution:2###@"};
        QTest::newRow("locked, client") << "lock locked connected OP2" << QStringList{"@#cmd:8##Argument:1##ClientName:OP2##Connnect:True###@"};
        QTest::newRow("free, nobody") << "lock free none" << QStringList{"@#cmd:8##Argument:0##ClientName:##Connnect:False###@"};
        QTest::newRow("connect") << "connect 3" << QStringList{"@#cmd:11##Argument:3###@"};
        for (const auto &[line, mode] : {std::pair{"logoff", 0}, {"restart", 1}, {"shutdown", 2}, {"shutdown force", 3}})
            QTest::newRow(line) << line << QStringList{QStringLiteral("@#cmd:13##Argument:%1###@").arg(mode)};
        QTest::newRow("raw keeps inner blanks") << "raw @#cmd:x##Argument: 0###@" << QStringList{"@#cmd:x##Argument: 0###@"};
        const auto refused = [](const char *line, const char *error) { QTest::newRow(line) << line << QStringList{"error", error}; };
        refused("hello", "unknown command \"hello\"");
        refused("life x", "not a whole 32-bit number");
        refused("identify 1.1000.0", "MAJOR.MINOR.BUILD");
        refused("users op1:pw", "NAME:PASSWORD:RESOLUTION");
        refused("users op1:pw:7", "0 (Full-Screen) to 6");
        refused("users :pw:1", "no user name");
        refused("users op:a##b:0", "\"##\"");
        refused("users a:b:1 A:c:2", "appears twice");
        refused("lock locked", "connected flag");
        refused("connect 0", "start at 1");
        refused("exitorder 4", "mode 0 to 3");
        refused("auto 0", "between 1 and 3600");
        refused("grant money on", "not connect or exit");
        QTest::newRow("beyond Latin-1") << QString::fromUtf8("users \xe2\x82\xac:pw:0") << QStringList{"error", "Latin-1"};
    }
    void frames()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, frames);
        const ConsoleCommand command = ConsoleCommands::Parse(line);
        if (frames.first() == u"error") {
            QVERIFY2(!command.ok() && command.error.contains(frames.at(1)), qPrintable(command.error));
            QVERIFY(command.frames.isEmpty());
        } else {
            QVERIFY2(command.ok() && command.kind == ConsoleCommand::Kind::Send, qPrintable(command.error));
            QCOMPARE(command.frames, frames);
        }
    }

    void describe_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("text");
        QTest::newRow("identity") << "@#cmd:5##Argument:-2146463630##ClientName:PANEL01###@"
                                  << "cmd 5 panel identity | Argument -2146463630 = panel version 1.20.18 | ClientName: PANEL01";
        QTest::newRow("server version") << "@#cmd:4##Argument:2003045###@" << "cmd 4 identify request | Argument 2003045 = server version 2.3 build 45";
        QTest::newRow("profile, password hidden") << "@#cmd:6##Argument:1##Username:a##Password:pw###@"
                                                  << "cmd 6 user profile | Argument 1 = profile 1 | Username: a | Password: ***";
        QTest::newRow("no profile chosen") << "@#cmd:10##Argument:0###@" << "cmd 10 connection request | Argument 0 = no profile chosen";
        QTest::newRow("bad cmd") << "@#cmd:x##Argument:0###@" << "cmd \"x\" not a number | Argument 0";
        QTest::newRow("missing argument") << "@#cmd:2###@" << "cmd 2 sign-of-life request | Argument missing";
        QTest::newRow("field order free") << "@#Argument:2##cmd:13###@" << "cmd 13 exit order | Argument 2 = shut down";
        QTest::newRow("not a frame") << "@#cmd:2" << "not a frame: @#cmd:2";
    }
    void describe()
    {
        QFETCH(QString, frame);
        QTEST(FrameDescription::Describe(frame, true), "text");
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // in standard output for 0, in standard error else
        QTest::newRow("help") << QStringList{"--help"} << 0 << "users NAME:PASSWORD:RES";
        QTest::newRow("port too large") << QStringList{"--port", "70000"} << 2 << "port \"70000\"";
        QTest::newRow("address") << QStringList{"--listen", "nowhere"} << 2 << "\"nowhere\" is not an IP address";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << "frobnicate";
        QTest::newRow("missing file") << QStringList{"--on-connect", "/nonexistent/lines"} << 2 << "cannot read";
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        Console console(arguments, false);
        QVERIFY(console.endsWith(exitCode));
        QVERIFY2((exitCode ? console.err : console.out).contains(message.toUtf8()), console.err.constData());
        QVERIFY(!console.out.contains("listening"));
    }

    void portTaken()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        Console busy({QStringLiteral("--port"), QString::number(taken.serverPort())}, false);
        QVERIFY(busy.endsWith(1) && busy.err.contains("cannot listen on 127.0.0.1"));
    }

    // Only loopback by default; another address only when it is named.
    void listenAddress()
    {
        Console local;
        QTRY_VERIFY_WITH_TIMEOUT(local.listening().hasMatch(), kWait);
        QTcpSocket elsewhere;
        elsewhere.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), local.listening().captured(2).toUShort());
        QVERIFY(!elsewhere.waitForConnected(kWait) && elsewhere.error() == QAbstractSocket::ConnectionRefusedError);
        Console named({QStringLiteral("--listen"), QStringLiteral("127.0.0.2")});
        Panel panel(named);
        QCOMPARE(named.listening().captured(1), QStringLiteral("127.0.0.2"));
        QVERIFY(named.out.contains(" connected\n"));
    }

    // Bad lines are told and send nothing; the good ones go out in order; what the panel
    // sends is shown once per frame, whole, with the bytes outside any frame counted.
    void typedCommandsAndPanelFrames()
    {
        Console console;
        Panel panel(console);
        console.process.write("connect x\nlife\nidentify 1.20.18\nusers op1:pw1:0\nconnect 2\n");
        QTRY_COMPARE_WITH_TIMEOUT(panel.received, QByteArray("@#cmd:2##Argument:0###@@#cmd:4##Argument:1020018###@"
                                                             "@#cmd:6##Argument:1##NrOfUsers:1##Username:op1##Password:pw1##Resolution:0###@"
                                                             "@#cmd:11##Argument:2###@"), kWait);
        QVERIFY(console.err.contains("connect needs one profile number"));
        QTRY_VERIFY(console.out.contains("Password: ***") && !console.out.contains("pw1"));
        panel.socket.write("junk@#cmd:7##Argu");
        panel.socket.flush();
        QTRY_VERIFY(console.out.contains("(4 bytes outside any frame dropped)"));
        panel.socket.write("ment:3###@@#cmd:3##Argument:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("cmd 3 sign of life"), kWait);
        QCOMPARE(console.out.count("cmd 7 profile received | Argument 3 = profile 3"), 1);
        QVERIFY(console.out.contains("@#cmd:7##Argument:3###@"));
        QSignalSpy closed(&panel.socket, &QTcpSocket::disconnected);
        console.process.write("close\n");
        QVERIFY(closed.wait(kWait));
        console.process.write("life\nquit\n");
        QVERIFY(console.endsWith(0));
        QVERIFY(console.err.contains("no panel is connected; nothing sent"));
    }

    // A sign of life at connection and after, connection requests granted, exit requests only
    // once a person grants them; lines carried out for each panel as it connects.
    void automaticAnswers()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("panel.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# what every panel gets\nlock free none\n");
        file.close();
        Console console({"--auto", "1", "--grant-connect", "--on-connect", file.fileName()});
        Panel panel(console);
        QTRY_VERIFY_WITH_TIMEOUT(panel.received.count("@#cmd:2##Argument:0###@") >= 2, kWait);
        QVERIFY(panel.received.startsWith("@#cmd:8##Argument:0##ClientName:##Connnect:False###@@#cmd:2"));
        panel.socket.write("@#cmd:10##Argument:2###@@#cmd:10##Argument:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("not granted: the panel chose no profile"), kWait);
        QVERIFY(panel.received.contains("@#cmd:11##Argument:2###@") && !panel.received.contains("@#cmd:11##Argument:0###@"));
        panel.socket.write("@#cmd:12##Argument:3###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("(not answered: type restart"), kWait);
        console.process.write("grant exit on\n");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("exit requests: granted"), kWait);
        panel.socket.write("@#cmd:12##Argument:3###@");
        QTRY_VERIFY_WITH_TIMEOUT(panel.received.count("cmd:13") == 1 && panel.received.contains("@#cmd:13##Argument:3###@"), kWait);
        // The end of input ends the console, unless it is to keep running.
        console.process.closeWriteChannel();
        QVERIFY(console.endsWith(0));
        Console kept({QStringLiteral("--keep")});
        Panel other(kept);
        kept.process.closeWriteChannel();
        other.socket.write("@#cmd:9##Argument:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(kept.out.contains("cmd 9 remote status received"), kWait);
        QCOMPARE(kept.process.state(), QProcess::Running);
        // An on-connect file with a mistake is refused before anything listens.
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("identify 2.3.45\nconnect\n") > 0);
        file.close();
        Console refused({QStringLiteral("--on-connect"), file.fileName()});
        QVERIFY(refused.endsWith(2) && refused.err.contains("line 2: connect needs one profile number"));
    }
};

QTEST_GUILESS_MAIN(tst_SideLinkConsole)
#include "tst_SideLinkConsole.moc"
