// veskora-server as a process: a file it cannot use ends it with the place and the reason; SIGHUP
// takes a new file without dropping a link, or keeps the running one; SIGTERM ends it; no password
// in what it writes, however much it is asked to tell.
#include "SimulatedPanel.h"
#include "TestSupport.h"
#include "serverlink/SideLinkCommand.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace TestSupport;

class tst_ServerDaemon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_errors;
    quint16 m_port = 0;

    QString write(const QStringList &lines)
    {
        QFile file(m_dir.filePath("server.conf"));
        file.open(QIODevice::WriteOnly);
        file.write(lines.join(u'\n').toUtf8());
        return file.fileName();
    }
    QStringList server(const QString &password) const
    {
        return {"[server]", "listen = 127.0.0.1", QStringLiteral("port = %1").arg(m_port), "interval = 1", "dashboard =",
                "[profile a]", "user = op1", "password = " + password, "[panel default]", "profiles = a"};
    }
    void start(const QStringList &arguments)
    {
        m_errors.clear();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_LOGGING_RULES", "veskora.*=true");
        m_server.setProcessEnvironment(environment);
        m_server.start(VESKORA_SERVER, arguments);
    }
    bool told(const char *text)
    {
        return QTest::qWaitFor([&] { return (m_errors += m_server.readAllStandardError()).contains(text); }, kWait);
    }

private slots:
    void init() { m_port = refusingPort(); }
    void cleanup()
    {
        m_server.kill();
        m_server.waitForFinished();
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("told");
        QTest::newRow("no file") << QStringList{"--config", "/nonexistent/server.conf"} << QStringList{} << 2
                                 << "/nonexistent/server.conf: cannot read";
        QTest::newRow("a bad line") << QStringList{} << QStringList{"[server]", "", "mode = everyone"} << 2 << "server.conf:3: mode \"everyone\"";
        QTest::newRow("a word too many") << QStringList{"extra"} << QStringList{"[server]"} << 2 << "unexpected argument extra";
        QTest::newRow("port taken") << QStringList{} << QStringList{"[server]", "listen = 127.0.0.1", "port = TAKEN", "dashboard ="} << 1
                                    << "cannot listen for panels on 127.0.0.1 port TAKEN";
    }
    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, file);
        QFETCH(int, status);
        QFETCH(QString, told);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        const QString port = QString::number(taken.serverPort());
        if (!file.isEmpty())
            arguments = QStringList{"--config", write(file.replaceInStrings("TAKEN", port))} + arguments;
        start(arguments);
        QVERIFY(m_server.waitForFinished(kWait));
        QCOMPARE(m_server.exitCode(), status);
        const QString errors = QString::fromUtf8(m_server.readAllStandardError());
        QVERIFY2(errors.contains(told.replace("TAKEN", port)), qPrintable(errors));
    }

    void reload()
    {
        start({"--config", write(server("first-secret"))});
        QVERIFY(told("running with"));
        SimulatedPanel panel("OP1");
        panel.connectTo(m_port);
        QTRY_VERIFY_WITH_TIMEOUT(panel.count(Number(SideLinkCommand::RemoteStatus)) == 1, kWait);
        // A bad file is refused with its place, and the running configuration stays.
        write(QStringList{"[server]", "interval = 0"});
        ::kill(pid_t(m_server.processId()), SIGHUP);
        QVERIFY(told("reload refused, the running configuration stays:"));
        QVERIFY2(m_errors.contains(m_dir.filePath("server.conf").toUtf8() + ":2: interval"), m_errors.constData());
        write(server("second-secret"));
        ::kill(pid_t(m_server.processId()), SIGHUP);
        QTRY_VERIFY_WITH_TIMEOUT(panel.last(Number(SideLinkCommand::UserProfile)).contains("Password:second-secret##"), kWait);
        QCOMPARE(panel.count(Number(SideLinkCommand::UserProfile)), 2);
        QCOMPARE(panel.socket.state(), QAbstractSocket::ConnectedState);
        QVERIFY(told("configuration reloaded"));
        ::kill(pid_t(m_server.processId()), SIGTERM);
        QVERIFY(m_server.waitForFinished(kWait));
        QVERIFY(m_server.exitStatus() == QProcess::NormalExit && m_server.exitCode() == 0);
        m_errors += m_server.readAllStandardError();
        QVERIFY(m_errors.contains("-> OP1 cmd:6 Argument:1") && m_errors.contains("<- OP1 cmd 7 argument 1"));
        QVERIFY(!m_errors.contains("secret"));
    }
};

QTEST_GUILESS_MAIN(tst_ServerDaemon)
#include "tst_ServerDaemon.moc"
