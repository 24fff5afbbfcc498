// veskora-server as a process: a file it cannot use, or a port it cannot have, ends it with the place
// and the reason.
#include "TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

class tst_ServerDaemon : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_server;

    QString write(const QStringList &lines)
    {
        QFile file(m_dir.filePath("server.conf"));
        file.open(QIODevice::WriteOnly);
        file.write(lines.join(u'\n').toUtf8());
        return file.fileName();
    }
private slots:
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
        m_server.start(VESKORA_SERVER, arguments);
        QVERIFY(m_server.waitForFinished(kWait));
        QCOMPARE(m_server.exitCode(), status);
        const QString errors = QString::fromUtf8(m_server.readAllStandardError());
        QVERIFY2(errors.contains(told.replace("TAKEN", port)), qPrintable(errors));
    }
};

QTEST_GUILESS_MAIN(tst_ServerDaemon)
#include "tst_ServerDaemon.moc"
