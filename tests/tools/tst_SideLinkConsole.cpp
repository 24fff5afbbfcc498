#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The console as a real child process, with a panel-side socket on loopback.
namespace {

constexpr int kWait = 10000;

class Console
{
public:
    // Listens on a free port unless the arguments say otherwise.
    explicit Console(QStringList arguments = {}, bool freePort = true)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { err += process.readAllStandardError(); });
        process.start(QStringLiteral(VESKORA_SIDELINK_CONSOLE), freePort ? QStringList{"--port", "0"} + arguments : arguments);
    }
    ~Console()
    {
        process.kill();
        process.waitForFinished(kWait);
    }
    quint16 port() const // the port printed by "--port 0", 0 until known
    {
        const auto match = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)")).match(QString::fromUtf8(out));
        return match.hasMatch() ? match.captured(1).toUShort() : 0;
    }
    void type(const QByteArray &lines) { process.write(lines); }
    bool endsWith(int code) { return process.waitForFinished(kWait) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == code; }

    QProcess process;
    QByteArray out, err;
};

// The panel's end of the link.
class Panel
{
public:
    Panel() { QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); }); }
    QTcpSocket socket;
    QByteArray received;
};

} // namespace

class tst_SideLinkConsole : public QObject
{
    Q_OBJECT

    void start(Console &console, Panel &panel)
    {
        QTRY_VERIFY_WITH_TIMEOUT(console.port() != 0, kWait);
        panel.socket.connectToHost(QHostAddress::LocalHost, console.port());
        QVERIFY(panel.socket.waitForConnected(kWait));
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains(" connected\n"), kWait);
    }

private slots:
    void help()
    {
        Console console({QStringLiteral("--help")}, false);
        QVERIFY(console.endsWith(0));
        for (const char *text : {"--port", "--listen", "--auto", "users NAME:PASSWORD:RES", "shutdown force", "12559"})
            QVERIFY2(console.out.contains(text), text);
    }

    void badOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("port too large") << QStringList{"--port", "70000"} << "port \"70000\"";
        QTest::newRow("address") << QStringList{"--listen", "nowhere"} << "\"nowhere\" is not an IP address";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "frobnicate";
        QTest::newRow("missing file") << QStringList{"--on-connect", "/nonexistent/lines"} << "cannot read";
    }
    void badOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        Console console(arguments, false);
        QVERIFY(console.endsWith(2));
        QVERIFY2(console.err.contains(message.toUtf8()), console.err.constData());
        QVERIFY(!console.out.contains("listening"));
    }

    void portInUse()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        Console console({QStringLiteral("--port"), QString::number(taken.serverPort())}, false);
        QVERIFY(console.endsWith(1));
        QVERIFY2(console.err.contains("cannot listen on 127.0.0.1"), console.err.constData());
    }

    // Only loopback by default; another address only when it is named.
    void listenAddress()
    {
        Console local;
        QTRY_VERIFY_WITH_TIMEOUT(local.port() != 0, kWait);
        QTcpSocket elsewhere;
        elsewhere.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), local.port());
        QVERIFY(!elsewhere.waitForConnected(kWait));
        QCOMPARE(elsewhere.error(), QAbstractSocket::ConnectionRefusedError);

        const QRegularExpression listening(QStringLiteral("listening on ([0-9.]+):(\\d+)"));
        Console named({QStringLiteral("--listen"), QStringLiteral("127.0.0.2")});
        QTRY_VERIFY_WITH_TIMEOUT(listening.match(QString::fromUtf8(named.out)).hasMatch(), kWait);
        const auto match = listening.match(QString::fromUtf8(named.out));
        QCOMPARE(match.captured(1), QStringLiteral("127.0.0.2"));
        Panel panel;
        panel.socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), match.captured(2).toUShort());
        QVERIFY(panel.socket.waitForConnected(kWait));
        QTRY_VERIFY_WITH_TIMEOUT(named.out.contains(" connected\n"), kWait);
    }

    // Bad lines are told and send nothing; the good ones around them go out in order.
    void typedCommandsReachThePanel()
    {
        Console console;
        Panel panel;
        start(console, panel);
        console.type("connect x\nusers a:b:9\nlock free\n");
        QTRY_VERIFY_WITH_TIMEOUT(console.err.contains("lock needs the lock state"), kWait);
        QVERIFY(console.err.contains("connect needs one profile number"));
        QVERIFY(console.err.contains("is not 0 (Full-Screen) to 6"));
        console.type("life\nidentify 1.20.18\nusers op1:pw1:0 op2:pw2:3\nlock locked connected OP2\nconnect 2\nrestart\n");
        QTRY_COMPARE_WITH_TIMEOUT(panel.received, QByteArray("@#cmd:2##Argument:0###@"
                                                             "@#cmd:4##Argument:1020018###@"
                                                             "@#cmd:6##Argument:1##NrOfUsers:2##Username:op1##Password:pw1##Resolution:0###@"
                                                             "@#cmd:6##Argument:2##NrOfUsers:2##Username:op2##Password:pw2##Resolution:3###@"
                                                             "@#cmd:8##Argument:1##ClientName:OP2##Connnect:True###@"
                                                             "@#cmd:11##Argument:2###@"
                                                             "@#cmd:13##Argument:1###@"),
                                  kWait);
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("cmd 13 exit order | Argument 1 = restart"), kWait);
        QVERIFY(console.out.contains("Password: ***"));
        QVERIFY(!console.out.contains("pw1"));
    }

    void panelFramesShownOncePerFrame()
    {
        Console console;
        Panel panel;
        start(console, panel);
        panel.socket.write("@#cmd:5##Argument:-2146463630##ClientName:PANEL01###@@#cmd:3##Argument:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("cmd 3 sign of life"), kWait);
        panel.socket.write("junk@#cmd:7##Argu");
        panel.socket.flush();
        panel.socket.write("ment:3###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("cmd 7 profile received | Argument 3 = profile 3"), kWait);
        const QString out = QString::fromUtf8(console.out);
        QVERIFY(out.contains("cmd 5 panel identity | Argument -2146463630 = panel version 1.20.18 | ClientName: PANEL01"));
        QCOMPARE(out.count("cmd 7 profile received"), 1);
        QVERIFY(out.contains("(4 bytes outside any frame dropped)"));
        QVERIFY(out.contains("@#cmd:7##Argument:3###@"));
    }

    void autoSignOfLifeAndGrants()
    {
        Console console({QStringLiteral("--auto"), QStringLiteral("1"), QStringLiteral("--grant-connect")});
        Panel panel;
        start(console, panel);
        QTRY_VERIFY_WITH_TIMEOUT(panel.received.count("@#cmd:2##Argument:0###@") >= 2, kWait); // at connection and after
        panel.socket.write("@#cmd:10##Argument:2###@");
        QTRY_VERIFY_WITH_TIMEOUT(panel.received.contains("@#cmd:11##Argument:2###@"), kWait);
        panel.socket.write("@#cmd:10##Argument:0###@"); // no profile chosen: not granted
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("not granted: the panel chose no profile"), kWait);
        QVERIFY(!panel.received.contains("@#cmd:11##Argument:0###@"));
        // Exit requests are only shown until a person grants them.
        panel.socket.write("@#cmd:12##Argument:3###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("(not answered: type restart"), kWait);
        QVERIFY(!panel.received.contains("cmd:13"));
        console.type("grant exit on\n");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("exit requests: granted"), kWait);
        panel.socket.write("@#cmd:12##Argument:3###@");
        QTRY_VERIFY_WITH_TIMEOUT(panel.received.contains("@#cmd:13##Argument:3###@"), kWait);
    }

    void onConnectFile()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("panel.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# what every panel gets\nidentify 2.3.45\n\nlock free none\n");
        file.close();
        Console console({QStringLiteral("--on-connect"), file.fileName()});
        Panel panel;
        start(console, panel);
        QTRY_COMPARE_WITH_TIMEOUT(panel.received, QByteArray("@#cmd:4##Argument:2003045###@@#cmd:8##Argument:0##ClientName:##Connnect:False###@"), kWait);
        // A file with a mistake is refused before anything listens.
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("identify 2.3.45\nconnect\n");
        file.close();
        Console refused({QStringLiteral("--on-connect"), file.fileName()});
        QVERIFY(refused.endsWith(2));
        QVERIFY2(refused.err.contains("line 2: connect needs one profile number"), refused.err.constData());
    }

    void closeAndQuit()
    {
        Console console;
        Panel panel;
        start(console, panel);
        QSignalSpy closed(&panel.socket, &QTcpSocket::disconnected);
        console.type("close\n");
        QVERIFY(closed.wait(kWait));
        console.type("life\n");
        QTRY_VERIFY_WITH_TIMEOUT(console.err.contains("no panel is connected; nothing sent"), kWait);
        console.type("quit\n");
        QVERIFY(console.endsWith(0));
    }

    void endOfInput()
    {
        Console console;
        QTRY_VERIFY_WITH_TIMEOUT(console.port() != 0, kWait);
        console.process.closeWriteChannel();
        QVERIFY(console.endsWith(0));
        Console kept({QStringLiteral("--keep")}); // still serving after the end of input
        Panel panel;
        start(kept, panel);
        kept.process.closeWriteChannel();
        panel.socket.write("@#cmd:9##Argument:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(kept.out.contains("cmd 9 remote status received"), kWait);
        QCOMPARE(kept.process.state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(tst_SideLinkConsole)
#include "tst_SideLinkConsole.moc"
