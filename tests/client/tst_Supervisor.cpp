#include "client/Forms.h"
#include "client/VbControls.h"
#include "client/frmClient.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace modGlobClientVar;
using TestSupport::stampedBetween;

namespace {

constexpr int kWait = 15000;
constexpr int kStartConnectLifeCnt = 3;

// A loopback port on which nobody listens: connections to it are refused at once.
quint16 refusingPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Sockets of this process in SYN-SENT towards 127.0.0.1:port, from the kernel's own table.
int synSentTo(quint16 port)
{
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QString remote = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    int count = 0;
    f.readLine(); // header
    while (!f.atEnd()) {
        const QStringList cols = QString::fromLatin1(f.readLine()).simplified().split(u' ');
        count += cols.size() > 3 && cols.at(2) == remote && cols.at(3) == QLatin1String("02");
    }
    return count;
}

// A listening socket whose accept queue is full: a further handshake is never answered.
class StalledListener
{
public:
    bool open()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return false;
        port = ntohs(addr.sin_port);
        // One completed connection fills a queue of backlog 0; nobody ever accepts it.
        m_filler.connectToHost(QHostAddress::LocalHost, port);
        return m_filler.waitForConnected(5000);
    }
    ~StalledListener()
    {
        m_filler.abort();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    quint16 port = 0;

private:
    int m_fd = -1;
    QTcpSocket m_filler;
};

struct ErrorSeen { qint32 tryCount; bool timerActive; int markerRuns; QString panel1; bool buttonsEnabled; };

struct ConnectSeen { qint32 tryCount; QString panel1; qint32 lifeCnt; int tick; };

struct CloseSeen { QString panel1; bool timerActive; qint32 state; };

} // namespace

class tst_Supervisor : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<QObject> m_watch;
    frmClient *m_form = nullptr;
    QString m_marker;
    QString m_userProcess;
    QList<qint32> m_after; // mLifeCnt after each tick
    std::function<void()> m_onTick;
    QList<ErrorSeen> m_errors;
    QList<ConnectSeen> m_connects;
    QList<CloseSeen> m_closes;

    int markerRuns() const
    {
        QFile f(m_marker);
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : 0;
    }

    QList<int> attemptTicks() const
    {
        QList<int> ticks;
        for (qsizetype i = 1; i < m_after.size(); ++i)
            if (m_after.at(i - 1) == 0 && m_after.at(i) == gStartConnectLifeCnt)
                ticks << int(i + 1);
        return ticks;
    }

    void loadPanel(const QString &port, bool autoConnect, int startLifeCnt = 45,
                   const QString &server = QStringLiteral("127.0.0.1"))
    {
        m_dir->write(QStringLiteral("User.cfg"), {"[UserConfig]", "UserProcessName=" + gUserProcessName,
                                                  "TryConnectActionCnt=3", "MaxTryConnectActionCnt=50"});
        m_form = &TestSupport::LoadPanel(
            *m_dir, {"txtServer=" + server, "txtPort=" + port, "txtUserName=op", "chkUserPass=1",
                     QStringLiteral("AutoConnect=%1").arg(autoConnect ? 1 : 0),
                     QStringLiteral("StartConnectLifeCnt=%1").arg(kStartConnectLifeCnt),
                     QStringLiteral("StartLifeCnt=%1").arg(startLifeCnt)});
        // The window takes up its mode from the event loop, so nothing has happened yet. These
        // handlers come after the window's own, so each sees the state the window left.
        m_watch = std::make_unique<QObject>();
        QObject *ctx = m_watch.get();
        connect(m_form->timControl, &QTimer::timeout, ctx, [this] {
            m_after << m_form->mLifeCnt;
            if (m_onTick)
                m_onTick();
        });
        connect(m_form->Winsock, &SocketControl::Error, ctx, [this] {
            m_errors << ErrorSeen{gTryConnectCount, m_form->timControl->isActive(), markerRuns(), m_form->PanelText(1),
                                  m_form->cmdRemoteDesktop->isEnabled() || m_form->cmdShutDown->isEnabled()
                                      || m_form->cmdRestart->isEnabled()};
        });
        connect(m_form->Winsock, &SocketControl::Connected, ctx, [this] {
            m_connects << ConnectSeen{gTryConnectCount, m_form->PanelText(1), m_form->mLifeCnt, int(m_after.size())};
        });
        connect(m_form->Winsock, &SocketControl::Closed, ctx, [this] {
            m_closes << CloseSeen{m_form->PanelText(1), m_form->timControl->isActive(), m_form->Winsock->State()};
        });
    }

private slots:
    void init()
    {
        RecordingSessionControl::install();
        frmClient::TimerIntervalMs = 100;
        gStartLifeCnt = 45;
        gStartConnectLifeCnt = kStartConnectLifeCnt;
        gTryConnectActionCnt = 3;
        gMaxTryConnectActionCnt = 50;
        gTryConnectCount = 0;
        gUserProcessName.clear();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_marker = m_dir->file(QStringLiteral("marker"));
        m_userProcess = m_dir->file(QStringLiteral("user process.sh"));
        QFile script(m_userProcess);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho run >> '%1'\n").arg(m_marker).toUtf8());
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_after.clear();
        m_errors.clear();
        m_connects.clear();
        m_closes.clear();
        m_onTick = nullptr;
    }

    void cleanup()
    {
        m_watch.reset();
        TestSupport::UnloadForms();
        m_form = nullptr;
        m_dir.reset();
        frmClient::TimerIntervalMs = 1000;
    }

    void refusedServer_data()
    {
        QTest::addColumn<int>("process"); // 0 the marker script, 1 a missing file, 2 none
        QTest::newRow("user process") << 0;
        QTest::newRow("missing file") << 1;
        QTest::newRow("no user process") << 2;
    }

    void refusedServer()
    {
        QFETCH(int, process);
        gUserProcessName = process == 0 ? m_userProcess : process == 1 ? m_dir->file(QStringLiteral("absent.sh")) : QString();
        const quint16 port = refusingPort();
        QVERIFY(port);

        const QTime from = QTime::currentTime();
        loadPanel(QString::number(port), true);
        QTRY_VERIFY_WITH_TIMEOUT(m_errors.size() >= 7, kWait);
        m_form->timControl->stop();
        const QTime to = QTime::currentTime();

        for (int failure = 1; failure <= 7; ++failure) {
            const ErrorSeen &e = m_errors.at(failure - 1);
            QCOMPARE(e.tryCount, failure % 3);
            // The timer is off from the third failure until the user process has ended.
            QCOMPARE(e.timerActive, failure % 3 != 0);
            // The process of the third failure runs after it, once, and before the fourth.
            QCOMPARE(e.markerRuns, process == 0 ? (failure - 1) / 3 : 0);
            QVERIFY2(stampedBetween(e.panel1, "Try to reconnect ", from, to), qPrintable(e.panel1));
            QVERIFY(!e.buttonsEnabled);
        }
        QVERIFY(!m_form->lblServerVersion->isVisibleTo(m_form));
        QVERIFY(!m_form->shpLockStatus->isVisibleTo(m_form));

        // The first attempt came from the activation; every further one 4 ticks after the last,
        // the failure action's pause included.
        QVERIFY(m_after.size() >= 6 * 4);
        static constexpr qint32 kCycle[] = {2, 1, 0, kStartConnectLifeCnt};
        for (qsizetype i = 0; i < m_after.size(); ++i)
            QCOMPARE(m_after.at(i), kCycle[i % 4]);
        QVERIFY(m_connects.isEmpty());
    }

    void connectionClearsFailureCount()
    {
        gUserProcessName = m_userProcess;
        const quint16 port = refusingPort();
        QVERIFY(port);
        QTcpServer server;

        loadPanel(QString::number(port), true);
        // From the second refusal on, the server is there.
        connect(m_form->Winsock, &SocketControl::Error, m_watch.get(), [&] {
            if (m_errors.size() == 2 && !server.isListening())
                QVERIFY(server.listen(QHostAddress::LocalHost, port));
        });
        const QTime from = QTime::currentTime();
        QTRY_COMPARE_WITH_TIMEOUT(m_connects.size(), 1, kWait);
        QCOMPARE(m_errors.size(), 2);
        QCOMPARE(m_errors.at(1).tryCount, 2);
        QCOMPARE(m_connects.at(0).tryCount, 0);
        QCOMPARE(m_connects.at(0).lifeCnt, 45);
        QVERIFY(m_form->timControl->isActive());
        QVERIFY2(stampedBetween(m_connects.at(0).panel1, "Connected ", from, QTime::currentTime()),
                 qPrintable(m_connects.at(0).panel1));
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), kWait);
        QCOMPARE(markerRuns(), 0);
    }

    void peerClosesLink_data()
    {
        QTest::addColumn<bool>("autoConnect");
        QTest::newRow("connect to server checked") << true;
        QTest::newRow("connect to server cleared") << false;
    }

    void peerClosesLink()
    {
        QFETCH(bool, autoConnect);
        // No tick during the test: only the close itself may start a new attempt.
        frmClient::TimerIntervalMs = 3600 * 1000;
        TestSupport::LoopbackServer server;
        QVERIFY(server.listening);
        loadPanel(QString::number(server.port()), true);
        QTRY_COMPARE_WITH_TIMEOUT(m_connects.size(), 1, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(server.peers.size(), 1, kWait);
        server.send("@#cmd:2##Argument:0###@");
        QTRY_VERIFY_WITH_TIMEOUT(!server.received.isEmpty(), kWait);
        if (!autoConnect)
            m_form->chkAutoConnect->setValue(0);

        const QTime from = QTime::currentTime();
        server.peer()->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(m_closes.size(), 1, kWait);
        const CloseSeen &c = m_closes.at(0);
        if (autoConnect) {
            // Right away, inside the close handling: a new attempt is under way.
            QVERIFY2(stampedBetween(c.panel1, "Try to reconnect ", from, QTime::currentTime()), qPrintable(c.panel1));
            QVERIFY(c.timerActive);
            QVERIFY(c.state != SocketControl::sckClosing && c.state != SocketControl::sckClosed);
            QTRY_COMPARE_WITH_TIMEOUT(server.peers.size(), 2, kWait);
            QTRY_COMPARE_WITH_TIMEOUT(m_connects.size(), 2, kWait);
            QVERIFY(m_after.isEmpty());
        } else {
            QCOMPARE(c.panel1, QStringLiteral("Not Connected"));
            QVERIFY(!c.timerActive);
            QCOMPARE(c.state, qint32(SocketControl::sckClosing)); // no new attempt was made
            QCOMPARE(m_form->PanelText(1), QStringLiteral("Not Connected"));
        }
    }

    // A peer that takes every link and closes it: with a request first, each close brings a
    // new attempt at once, yet never sooner than 10 ms after the last; without, from the
    // second close on, the next tick does.
    void peerClosingEveryLinkIsPaced_data()
    {
        QTest::addColumn<bool>("requestFirst");
        QTest::newRow("closes at once") << false;
        QTest::newRow("asks for a sign of life, then closes") << true;
    }
    void peerClosingEveryLinkIsPaced()
    {
        QFETCH(bool, requestFirst);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QElapsedTimer clock;
        clock.start();
        QList<qint64> acceptedAt;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *peer = server.nextPendingConnection()) {
                acceptedAt << clock.elapsed();
                if (requestFirst)
                    peer->write("@#cmd:2##Argument:0###@");
                peer->disconnectFromHost();
            }
        });
        loadPanel(QString::number(server.serverPort()), true);
        QTRY_VERIFY_WITH_TIMEOUT(acceptedAt.size() >= 8, kWait);
        const qsizetype ticks = m_after.size();
        m_form->timControl->stop();
        // Seven new attempts 10 ms apart, less some room for the accepts' own delays.
        const qint64 took = acceptedAt.at(7) - acceptedAt.at(0);
        if (requestFirst)
            QVERIFY2(took >= 60, qPrintable(QStringLiteral("7 new links in %1 ms").arg(took)));
        else
            QVERIFY2(acceptedAt.size() <= ticks + 2,
                     qPrintable(QStringLiteral("%1 links in %2 ticks").arg(acceptedAt.size()).arg(ticks)));
    }

    void silentServerReopened()
    {
        TestSupport::LoopbackServer server;
        QVERIFY(server.listening);
        // The link may stay silent for 5 ticks.
        loadPanel(QString::number(server.port()), true, 5);
        QTRY_COMPARE_WITH_TIMEOUT(m_connects.size(), 1, kWait);
        QCOMPARE(m_connects.at(0).lifeCnt, 5);
        const int connectedAt = m_connects.at(0).tick;
        QTRY_COMPARE_WITH_TIMEOUT(server.peers.size(), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!server.peers.at(0) || server.peers.at(0)->state() == QAbstractSocket::UnconnectedState,
                                 kWait);

        // Counted down on 5 ticks, reopened on the 6th.
        QVERIFY(m_after.size() >= connectedAt + 6);
        QCOMPARE(m_after.mid(connectedAt, 6), (QList<qint32>{4, 3, 2, 1, 0, kStartConnectLifeCnt}));
        QCOMPARE(attemptTicks().value(0), connectedAt + 6);
        QTRY_COMPARE_WITH_TIMEOUT(m_connects.size(), 2, kWait);
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(gTryConnectCount, 0);
    }

    void handshakeNeverCompletes()
    {
        StalledListener listener;
        QVERIFY(listener.open());

        QList<int> synSentAtAttempt;
        int mostSockets = 0;
        loadPanel(QString::number(listener.port), true);
        m_onTick = [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            mostSockets = std::max(mostSockets, int(m_form->Winsock->findChildren<QTcpSocket *>().size()));
            if (m_after.size() >= 2 && m_after.at(m_after.size() - 2) == 0 && m_after.last() == gStartConnectLifeCnt)
                synSentAtAttempt << synSentTo(listener.port);
        };
        QTRY_VERIFY_WITH_TIMEOUT(attemptTicks().size() >= 5, kWait);
        m_form->timControl->stop();

        // Replaced every 4 ticks, each replacement leaving exactly one attempt in the kernel and
        // one socket in the control; the replaced ones raise nothing.
        QCOMPARE(attemptTicks().mid(0, 5), (QList<int>{4, 8, 12, 16, 20}));
        QCOMPARE(synSentAtAttempt.mid(0, 5), (QList<int>{1, 1, 1, 1, 1}));
        QVERIFY(mostSockets <= 1);
        QVERIFY(m_errors.isEmpty());
        QVERIFY(m_connects.isEmpty());
        QCOMPARE(gTryConnectCount, 0);
        QVERIFY(m_form->PanelText(1).startsWith("Try to reconnect "));
        QCOMPARE(m_form->Winsock->State(), qint32(SocketControl::sckConnecting));
    }

    // The port field's leading number is the port; a port in the server field is the
    // session's, and the side link takes only the host from it.
    void serverAndPortFields_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("portSuffix");
        QTest::newRow("port with trailing text") << "127.0.0.1" << "abc";
        QTest::newRow("host and the session's port") << "127.0.0.1:3389" << "";
        QTest::newRow("v6 address and the session's port") << "[::1]:3389" << "";
        QTest::newRow("bare v6 address") << "::1" << "";
    }
    void serverAndPortFields()
    {
        QFETCH(QString, server);
        QFETCH(QString, portSuffix);
        QTcpServer listener;
        const bool v6 = server.contains(QLatin1String("::"));
        if (!listener.listen(v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost, 0) && v6)
            QSKIP("this machine has no IPv6 loopback");
        QVERIFY(listener.isListening());
        loadPanel(QString::number(listener.serverPort()) + portSuffix, true, 45, server);
        QTRY_COMPARE_WITH_TIMEOUT(m_connects.size(), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), kWait);
        QVERIFY(m_errors.isEmpty());
    }

    void autoConnectCleared()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        loadPanel(QString::number(server.serverPort()), false);
        // The activation in configuration mode has passed.
        QTRY_VERIFY_WITH_TIMEOUT(m_form->fraConfig->isVisibleTo(m_form), kWait);

        m_form->setPanelText(1, QStringLiteral("before"));
        m_form->cmdRemoteDesktop->setEnabled(true);
        m_form->mLifeCnt = 0;
        gTryConnectCount = 2;

        m_form->ConnectSideLink();
        QVERIFY(!m_form->timControl->isActive());

        // Ticks with the countdown at 0 change nothing either.
        m_form->timControl->start();
        QTRY_VERIFY_WITH_TIMEOUT(m_after.size() >= 5, kWait);
        m_form->timControl->stop();
        QCOMPARE(m_after.count(0), m_after.size());
        QCOMPARE(m_form->Winsock->State(), qint32(SocketControl::sckClosed));
        QCOMPARE(m_form->PanelText(1), QStringLiteral("before"));
        QVERIFY(m_form->cmdRemoteDesktop->isEnabled());
        QCOMPARE(gTryConnectCount, 2);
        QVERIFY(m_errors.isEmpty());
        QVERIFY(m_connects.isEmpty());
        QVERIFY(!server.hasPendingConnections());
    }
};

QTEST_MAIN(tst_Supervisor)
#include "tst_Supervisor.moc"
