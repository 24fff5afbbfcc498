// The side-link console: what a typed line sends; the console as a process, a panel socket on loopback.
#include "ConsoleCommand.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

constexpr int kWait = 10000;

// The console as a process, and the panel's end of its link once it listens.
struct Console
{
    QProcess process;
    QByteArray out, err, received; // received: by the panel
    QTcpSocket panel;
    explicit Console(const QStringList &arguments)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { err += process.readAllStandardError(); });
        QObject::connect(&panel, &QTcpSocket::readyRead, [this] { received += panel.readAll(); });
        process.start(QStringLiteral(VESKORA_SIDELINK_CONSOLE), QStringList{"--port", "0"} + arguments);
        const QRegularExpression listening(QStringLiteral("listening on [0-9.]+:(\\d+)"));
        if (QTest::qWaitFor([&] { return listening.match(QString::fromUtf8(out)).hasMatch(); }, kWait))
            panel.connectToHost(QHostAddress::LocalHost, listening.match(QString::fromUtf8(out)).captured(1).toUShort());
    }
    ~Console() { process.kill(), process.waitForFinished(kWait); }
    bool endsWith(int code) { return process.waitForFinished(kWait) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == code; }
};

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
        QTest::newRow("two profiles, colon and empty password")
            << "users a:x:y:1 b::6" << QStringList{"@#cmd:6##Argument:1##NrOfUsers:2##Username:a##Password:x:y##Resolution:1###@",
                                                  "@#cmd:6##Argument:2##NrOfUsers:2##Username:b##Password:##Resolution:6###@"};
        QTest::newRow("locked, client") << "lock locked connected OP2" << QStringList{"@#cmd:8##Argument:1##ClientName:OP2##Connnect:True###@"};
        for (const auto &[line, mode] : {std::pair{"logoff", 0}, {"restart", 1}, {"shutdown", 2}, {"shutdown force", 3}})
            QTest::newRow(line) << line << QStringList{QStringLiteral("@#cmd:13##Argument:%1###@").arg(mode)};
        QTest::newRow("raw keeps inner blanks") << "raw @#cmd:x##Argument: 0###@" << QStringList{"@#cmd:x##Argument: 0###@"};
        for (const auto &[line, error] : {std::pair{"users op1:pw:7", "0 (Full-Screen) to 6"}, {"users op:pw#:0", "\"##\""},
                                          {"users a:b:1 A:c:2", "appears twice"}, {"users \xe2\x82\xac:pw:0", "Latin-1"}})
            QTest::newRow(line) << QString::fromUtf8(line) << QStringList{"error", error};
    }
    void frames()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, frames);
        const ConsoleCommand command = ConsoleCommands::Parse(line);
        if (frames.first() == u"error")
            QVERIFY2(!command.ok() && command.error.contains(frames.at(1)) && command.frames.isEmpty(), qPrintable(command.error));
        else
            QCOMPARE(command.frames, frames);
    }

    // A file's lines for each panel as it connects; bad lines send nothing. Frames shown once, whole, bytes outside
    // counted; connection requests granted, exit requests once a person grants them. End of input ends the console.
    void consoleAndPanel()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("panel.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("# what every panel gets\nlock free none\n") > 0 && file.flush());
        Console console({"--auto", "1", "--grant-connect", "--on-connect", file.fileName()});
        QTRY_VERIFY_WITH_TIMEOUT(console.received.startsWith("@#cmd:8##Argument:0##ClientName:##Connnect:False###@@#cmd:2##Argument:0###@"), kWait);
        console.process.write("connect x\nusers op1:pw1:0 op2:pw2:1\n");
        QTRY_VERIFY_WITH_TIMEOUT(console.received.contains("@#cmd:6##Argument:1##NrOfUsers:2##Username:op1##Password:pw1##Resolution:0###@"
                                                         "@#cmd:6##Argument:2##NrOfUsers:2##Username:op2##Password:pw2##Resolution:1###@"), kWait);
        // Standard error is a pipe of its own: it may come after the frames.
        QTRY_VERIFY_WITH_TIMEOUT(
            console.err.contains("connect needs one profile number") && !console.received.contains("cmd:11"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("Password: ***") && !console.out.contains("pw1"), kWait);
        console.panel.write("@#cmd:5##Argument:-2146463630##ClientName:PANEL01###@junk@#cmd:7##Argu");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("(4 bytes outside any frame dropped)"), kWait);
        console.panel.write("ment:3###@zz");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("(2 bytes outside any frame dropped)"), kWait);
        QCOMPARE(console.out.count("cmd 7 profile received | Argument 3 = profile 3"), 1);
        QVERIFY(console.out.contains("cmd 5 panel identity | Argument -2146463630 = panel version 1.20.18 | ClientName: PANEL01"));
        console.panel.write("@#cmd:10##Argument:2###@@#cmd:10##Argument:0###@@#cmd:12##Argument:3###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("(not answered: type restart"), kWait);
        QVERIFY(console.out.contains("not granted: the panel chose no profile"));
        console.process.write("grant exit on\n");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("exit requests: granted"), kWait);
        console.panel.write("@#cmd:12##Argument:2###@@#cmd:12##Argument:3###@");
        QTRY_VERIFY_WITH_TIMEOUT(console.out.contains("not granted: unknown request") && console.received.contains("@#cmd:13##Argument:3###@"), kWait);
        QVERIFY(console.received.count("cmd:13") == 1 && console.received.count("cmd:11") == 1 && console.received.contains("@#cmd:11##Argument:2###@"));
        console.process.write("close\nlife\n"), console.process.closeWriteChannel();
        QVERIFY(console.endsWith(0));
        QVERIFY(console.out.contains("closing the link") && console.err.contains("no panel is connected; nothing sent"));
    }
};

QTEST_GUILESS_MAIN(tst_SideLinkConsole)
#include "tst_SideLinkConsole.moc"
