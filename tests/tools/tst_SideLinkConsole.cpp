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
    explicit Console(const QStringList &arguments)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { err += process.readAllStandardError(); });
        process.start(QStringLiteral(VESKORA_SIDELINK_CONSOLE), arguments);
    }
    ~Console()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kWait);
        }
    }
    // The port printed by "--port 0", 0 until it is known.
    quint16 port() const
    {
        const auto match = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)")).match(QString::fromUtf8(out));
        return match.hasMatch() ? match.captured(1).toUShort() : 0;
    }
    void type(const QByteArray &lines) { process.write(lines); }
    bool finished() const { return process.state() == QProcess::NotRunning; }

    QProcess process;
    QByteArray out;
    QByteArray err;
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

private slots:
    void help();
    void badOptions_data();
    void badOptions();
    void portInUse();
    void listenAddress();
    void typedCommandsReachThePanel();
    void badLineSendsNothing();
    void panelFramesShownOncePerFrame();
    void autoSignOfLifeAndGrants();
    void onConnectFile();
    void closeAndQuit();
    void endOfInputEnds();

private:
    // Starts the console on a free port and connects a panel to it.
    void start(Console &console, Panel &panel);
};

void tst_SideLinkConsole::start(Console &console, Panel &panel)
{
    QTRY_VERIFY_WITH_TIMEOUT(console.port() != 0, kWait);
    panel.socket.connectToHost(QHostAddress::LocalHost, console.port());
    QVERIFY(panel.socket.waitForConnected(kWait));
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains(" connected\n"), kWait);
}

void tst_SideLinkConsole::help()
{
    Console console({QStringLiteral("--help")});
    QVERIFY(console.process.waitForFinished(kWait));
    QCOMPARE(console.process.exitCode(), 0);
    for (const char *text : {"--port", "--listen", "--auto", "--grant-connect", "--grant-exit", "users NAME:PASSWORD:RES",
                             "lock locked|free|N connected|none [CLIENT]", "shutdown force", "12559"})
        QVERIFY2(console.out.contains(text), text);
}

void tst_SideLinkConsole::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("port text") << QStringList{"--port", "x"} << "port \"x\"";
    QTest::newRow("port too large") << QStringList{"--port", "70000"} << "port \"70000\"";
    QTest::newRow("address") << QStringList{"--listen", "nowhere"} << "\"nowhere\" is not an IP address";
    QTest::newRow("auto zero") << QStringList{"--auto", "0"} << "--auto needs seconds";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << "frobnicate";
    QTest::newRow("stray argument") << QStringList{"extra"} << "unexpected argument \"extra\"";
    QTest::newRow("missing file") << QStringList{"--on-connect", "/nonexistent/lines"} << "cannot read";
}

void tst_SideLinkConsole::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    Console console(arguments);
    QVERIFY(console.process.waitForFinished(kWait));
    QCOMPARE(console.process.exitCode(), 2);
    QVERIFY2(console.err.contains(message.toUtf8()), console.err.constData());
    QVERIFY(!console.out.contains("listening"));
}

void tst_SideLinkConsole::portInUse()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost));
    Console console({QStringLiteral("--port"), QString::number(taken.serverPort())});
    QVERIFY(console.process.waitForFinished(kWait));
    QCOMPARE(console.process.exitCode(), 1);
    QVERIFY2(console.err.contains("cannot listen on 127.0.0.1"), console.err.constData());
}

void tst_SideLinkConsole::listenAddress()
{
    const QRegularExpression listening(QStringLiteral("listening on ([0-9.]+):(\\d+)"));
    // By default only this machine's loopback address is served...
    Console local({QStringLiteral("--port"), QStringLiteral("0")});
    QTRY_VERIFY_WITH_TIMEOUT(local.port() != 0, kWait);
    QTcpSocket elsewhere;
    elsewhere.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), local.port());
    QVERIFY(!elsewhere.waitForConnected(kWait));
    QCOMPARE(elsewhere.error(), QAbstractSocket::ConnectionRefusedError);

    // ... another address only when it is named.
    Console named({QStringLiteral("--listen"), QStringLiteral("127.0.0.2"), QStringLiteral("--port"), QStringLiteral("0")});
    QTRY_VERIFY_WITH_TIMEOUT(listening.match(QString::fromUtf8(named.out)).hasMatch(), kWait);
    const auto match = listening.match(QString::fromUtf8(named.out));
    QCOMPARE(match.captured(1), QStringLiteral("127.0.0.2"));
    Panel panel;
    panel.socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), match.captured(2).toUShort());
    QVERIFY(panel.socket.waitForConnected(kWait));
    QTRY_VERIFY_WITH_TIMEOUT(named.out.contains(" connected\n"), kWait);
}

void tst_SideLinkConsole::typedCommandsReachThePanel()
{
    Console console({QStringLiteral("--port"), QStringLiteral("0")});
    Panel panel;
    start(console, panel);
    console.type("life\nidentify 1.20.18\nusers op1:pw1:0 op2:pw2:3\nlock locked connected OP2\nconnect 2\nrestart\n");
    const QByteArray expected = "@#cmd:2##Argument:0###@"
                                "@#cmd:4##Argument:1020018###@"
                                "@#cmd:6##Argument:1##NrOfUsers:2##Username:op1##Password:pw1##Resolution:0###@"
                                "@#cmd:6##Argument:2##NrOfUsers:2##Username:op2##Password:pw2##Resolution:3###@"
                                "@#cmd:8##Argument:1##ClientName:OP2##Connnect:True###@"
                                "@#cmd:11##Argument:2###@"
                                "@#cmd:13##Argument:1###@";
    QTRY_COMPARE_WITH_TIMEOUT(panel.received, expected, kWait);
    // What went out is told, passwords masked.
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("cmd 13 exit order | Argument 1 = restart"), kWait);
    QVERIFY(console.out.contains("Password: ***"));
    QVERIFY(!console.out.contains("pw1"));
}

void tst_SideLinkConsole::badLineSendsNothing()
{
    Console console({QStringLiteral("--port"), QStringLiteral("0")});
    Panel panel;
    start(console, panel);
    console.type("connect x\nusers a:b:9\nlock free\n");
    QTRY_VERIFY_WITH_TIMEOUT(console.err.contains("lock needs the lock state"), kWait);
    QVERIFY(console.err.contains("connect needs one profile number"));
    QVERIFY(console.err.contains("is not 0 (Full-Screen) to 6"));
    // The link goes on: the next good line is the first thing the panel receives.
    console.type("life\n");
    QTRY_COMPARE_WITH_TIMEOUT(panel.received, QByteArray("@#cmd:2##Argument:0###@"), kWait);
    QVERIFY(!console.finished());
}

void tst_SideLinkConsole::panelFramesShownOncePerFrame()
{
    Console console({QStringLiteral("--port"), QStringLiteral("0")});
    Panel panel;
    start(console, panel);
    // Two frames in one write, then one frame split over two writes.
    panel.socket.write("@#cmd:5##Argument:-2146463630##ClientName:PANEL01###@@#cmd:3##Argument:0###@");
    panel.socket.flush();
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("cmd 3 sign of life"), kWait);
    panel.socket.write("junk@#cmd:7##Argu");
    panel.socket.flush();
    panel.socket.write("ment:3###@");
    panel.socket.flush();
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("cmd 7 profile received | Argument 3 = profile 3"), kWait);
    const QString out = QString::fromUtf8(console.out);
    QVERIFY(out.contains("cmd 5 panel identity | Argument -2146463630 = panel version 1.20.18 | ClientName: PANEL01"));
    QCOMPARE(out.count("cmd 7 profile received"), 1);
    QVERIFY(out.contains("(4 bytes outside any frame dropped)"));
    QVERIFY(out.contains("@#cmd:7##Argument:3###@")); // and the frame as it came
}

void tst_SideLinkConsole::autoSignOfLifeAndGrants()
{
    Console console({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--auto"), QStringLiteral("1"),
                     QStringLiteral("--grant-connect")});
    Panel panel;
    start(console, panel);
    const QByteArray life = "@#cmd:2##Argument:0###@";
    // One at the connection, more after.
    QTRY_VERIFY_WITH_TIMEOUT(panel.received.count(life) >= 2, kWait);

    panel.received.clear();
    panel.socket.write("@#cmd:10##Argument:2###@");
    QTRY_VERIFY_WITH_TIMEOUT(panel.received.contains("@#cmd:11##Argument:2###@"), kWait);

    // Exit requests are only shown until a person grants them.
    panel.socket.write("@#cmd:12##Argument:3###@");
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("(not answered: type restart"), kWait);
    QVERIFY(!panel.received.contains("cmd:13"));
    console.type("grant exit on\n");
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("exit requests: granted"), kWait);
    panel.socket.write("@#cmd:12##Argument:3###@");
    QTRY_VERIFY_WITH_TIMEOUT(panel.received.contains("@#cmd:13##Argument:3###@"), kWait);

    // A request without a chosen profile is not granted.
    panel.socket.write("@#cmd:10##Argument:0###@");
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("not granted: the panel chose no profile"), kWait);
    QVERIFY(!panel.received.contains("@#cmd:11##Argument:0###@"));
}

void tst_SideLinkConsole::onConnectFile()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("panel.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# what every panel gets\nidentify 2.3.45\n\nlock free none\n");
    file.close();
    Console console({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--on-connect"), file.fileName()});
    Panel panel;
    start(console, panel);
    QTRY_COMPARE_WITH_TIMEOUT(panel.received,
                              QByteArray("@#cmd:4##Argument:2003045###@@#cmd:8##Argument:0##ClientName:##Connnect:False###@"),
                              kWait);

    // A file with a mistake is refused before anything listens.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("identify 2.3.45\nconnect\n");
    file.close();
    Console refused({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--on-connect"), file.fileName()});
    QVERIFY(refused.process.waitForFinished(kWait));
    QCOMPARE(refused.process.exitCode(), 2);
    QVERIFY2(refused.err.contains("line 2: connect needs one profile number"), refused.err.constData());
}

void tst_SideLinkConsole::closeAndQuit()
{
    Console console({QStringLiteral("--port"), QStringLiteral("0")});
    Panel panel;
    start(console, panel);
    QSignalSpy closed(&panel.socket, &QTcpSocket::disconnected);
    console.type("close\n");
    QVERIFY(closed.wait(kWait));
    QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("closing the link"), kWait);
    console.type("life\n");
    QTRY_VERIFY_WITH_TIMEOUT(console.err.contains("no panel is connected; nothing sent"), kWait);
    console.type("quit\n");
    QVERIFY(console.process.waitForFinished(kWait));
    QCOMPARE(console.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(console.process.exitCode(), 0);
}

void tst_SideLinkConsole::endOfInputEnds()
{
    Console console({QStringLiteral("--port"), QStringLiteral("0")});
    QTRY_VERIFY_WITH_TIMEOUT(console.port() != 0, kWait);
    console.process.closeWriteChannel();
    QVERIFY(console.process.waitForFinished(kWait));
    QCOMPARE(console.process.exitCode(), 0);

    Console kept({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--keep")});
    Panel panel;
    start(kept, panel);
    kept.process.closeWriteChannel();
    // Still serving: a panel's frame is shown after the end of input.
    panel.socket.write("@#cmd:9##Argument:0###@");
    QTRY_VERIFY_WITH_TIMEOUT(kept.out.contains("cmd 9 remote status received"), kWait);
    QVERIFY(!kept.finished());
}

QTEST_GUILESS_MAIN(tst_SideLinkConsole)
#include "tst_SideLinkConsole.moc"
