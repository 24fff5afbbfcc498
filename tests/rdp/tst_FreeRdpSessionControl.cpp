// The session control on its own, against real sockets on 127.0.0.1.
#include "rdp/FreeRdpSessionControl.h"
#include "TestSupport.h"
#include "platform/ErrorNumbers.h"
#include "rdp/RdpLibraryOverrides.h"
#include "rdp/RdpSettings.h"
#include <QDeadlineTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <freerdp/listener.h>
#include <freerdp/peer.h>
#include <freerdp/settings.h>
#include <functional>
#include <memory>

using Setter = std::function<void(FreeRdpSessionControl &)>;
Q_DECLARE_METATYPE(Setter)

namespace {

// The library's server side over TLS, served from the test's thread while it waits: it keeps the
// performance flags of the client's Client Info PDU.
class InfoRecordingServer
{
public:
    InfoRecordingServer(const QByteArray &certificate, const QByteArray &key) : m_certificate(certificate), m_key(key)
    {
        m_listener->info = this;
        m_listener->PeerAccepted = &InfoRecordingServer::accepted;
        if (!m_listener->Open(m_listener, "127.0.0.1", port))
            port = 0;
    }
    ~InfoRecordingServer()
    {
        drop();
        m_listener->Close(m_listener);
        freerdp_listener_free(m_listener);
    }
    // Serves whatever is waiting; true once a client's flags are in.
    bool serve()
    {
        m_listener->CheckFileDescriptor(m_listener);
        if (m_peer && !m_peer->CheckFileDescriptor(m_peer))
            drop();
        return received;
    }
    quint16 port = TestSupport::refusingPort();
    quint32 performanceFlags = 0;
    bool received = false;

private:
    void drop()
    {
        if (m_peer) {
            m_peer->Disconnect(m_peer);
            freerdp_peer_context_free(m_peer);
            freerdp_peer_free(m_peer);
        }
        m_peer = nullptr;
    }
    static BOOL accepted(freerdp_listener *listener, freerdp_peer *client)
    {
        auto *self = static_cast<InfoRecordingServer *>(listener->info);
        self->drop();
        client->ContextSize = sizeof(rdpContext);
        if (!freerdp_peer_context_new(client)) {
            freerdp_peer_free(client);
            return FALSE;
        }
        client->ContextExtra = self;
        freerdp_settings_set_string(client->settings, FreeRDP_CertificateFile, self->m_certificate.constData());
        freerdp_settings_set_string(client->settings, FreeRDP_PrivateKeyFile, self->m_key.constData());
        freerdp_settings_set_bool(client->settings, FreeRDP_RdpSecurity, FALSE);
        freerdp_settings_set_bool(client->settings, FreeRDP_NlaSecurity, FALSE);
        client->PostConnect = [](freerdp_peer *peer) -> BOOL {
            auto *server = static_cast<InfoRecordingServer *>(peer->ContextExtra);
            server->performanceFlags = freerdp_settings_get_uint32(peer->settings, FreeRDP_PerformanceFlags);
            return server->received = true;
        };
        // The capabilities go out once the client waits for them, so that they end that wait.
        client->Capabilities = [](freerdp_peer *) -> BOOL {
            const quint64 waits = RdpLibraryOverrides::serverWaits();
            for (QDeadlineTimer deadline(5000); RdpLibraryOverrides::serverWaits() == waits && !deadline.hasExpired();)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return TRUE;
        };
        client->Initialize(client);
        self->m_peer = client;
        return TRUE;
    }
    const QByteArray m_certificate, m_key;
    freerdp_listener *m_listener = freerdp_listener_new();
    freerdp_peer *m_peer = nullptr;
};

} // namespace

class tst_FreeRdpSessionControl : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QCOMPARE(QProcess::execute(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                   "/CN=localhost", "-keyout", m_config.filePath("server.key"), "-out", m_config.filePath("server.crt")}), 0);
    }
    // A value out of range, or a call without a session, is refused and changes nothing.
    void valueRefused_data()
    {
        QTest::addColumn<Setter>("set");
        QTest::addColumn<int>("error");
        const int bad = ErrorNumbers::InvalidPropertyValue.number, call = ErrorNumbers::InvalidCall.number;
        const auto row = [](const char *name, Setter set, int error) { QTest::newRow(name) << set << error; };
        row("port zero", [](auto &c) { c.setServer(QStringLiteral("ts01:0")); }, bad);
        row("blank in name", [](auto &c) { c.setServer(QStringLiteral("ts 01")); }, bad);
        row("socket stand-in", [](auto &c) { c.setServer(QStringLiteral("|5")); }, bad);
        row("width too small", [](auto &c) { c.setDesktopWidth(199); }, bad);
        row("all performance boxes", [](auto &c) { c.AdvancedSettings3()->setPerformanceFlags(0x7F); }, 0);
        row("unknown flag", [](auto &c) { c.AdvancedSettings3()->setPerformanceFlags(0x200); }, bad);
        row("user name of 256", [](auto &c) { c.setUserName(QString(256, u'u')); }, bad);
        row("Connect without a server", [](auto &c) { c.Connect(); }, call);
        row("device change without a session", [](auto &c) { c.setRedirectDrives(true); c.NonScriptable()->NotifyRedirectDeviceChange(0x8000, 0); }, call);
    }
    void valueRefused()
    {
        QFETCH(Setter, set);
        QFETCH(int, error);
        FreeRdpSessionControl control;
        QCOMPARE(TestSupport::errorOf([&] { set(control); }), error);
        QVERIFY(!error || (control.Server().isEmpty() && control.DesktopWidth() == 800 && control.State() == SessionControl::SessionState::NotStarted));
    }
    // While an attempt runs the control takes no settings, device change or Connect; it ends with one
    // OnDisconnected and its reason, then the control can try again. Destroyed, it tells nothing.
    void attemptEnds_data()
    {
        QTest::addColumn<QString>("server"); // "silent": a peer that accepts and never answers
        QTest::addColumn<QString>("end"); // once the client waits inside the protocol
        QTest::addColumn<int>("reason");
        QTest::newRow("nothing listens") << "refused" << "" << int(FreeRdpSessionControl::ReasonConnectionRefused);
        QTest::newRow("unknown name") << "no-such-panel-server.invalid" << "" << int(FreeRdpSessionControl::ReasonNameNotFound);
        QTest::newRow("silent, time limit") << "silent" << "" << int(FreeRdpSessionControl::ReasonTimedOut);
        QTest::newRow("silent, Disconnect") << "silent" << "Disconnect" << int(FreeRdpSessionControl::ReasonLocal);
        QTest::newRow("silent, destroyed") << "silent" << "destroy" << -1;
    }
    void attemptEnds()
    {
        QFETCH(QString, server);
        QFETCH(QString, end);
        QFETCH(int, reason);
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        const quint16 port = listener.serverPort();
        if (server == QLatin1String("refused"))
            listener.close();
        auto control = std::make_unique<FreeRdpSessionControl>();
        QSignalSpy connected(control.get(), &SessionControl::OnConnected);
        QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
        control->setServer(server.contains(u'.') ? server : QStringLiteral("127.0.0.1:%1").arg(port));
        control->setUserName(QStringLiteral("panel"));
        control->NonScriptable()->setClearTextPassword(QStringLiteral("secret"));
        control->setConnectTimeLimit(reason == FreeRdpSessionControl::ReasonTimedOut ? 1500 : 30000);
        control->Connect();
        QCOMPARE(control->State(), SessionControl::SessionState::Connecting);
        const auto refused = [](auto call) { return TestSupport::errorOf(call) == ErrorNumbers::InvalidCall.number; };
        QVERIFY(refused([&] { control->setDesktopWidth(1024); }) && refused([&] { control->setRedirectDrives(false); })
                && refused([&] { control->NonScriptable()->setClearTextPassword(QStringLiteral("x")); })
                && refused([&] { control->NonScriptable()->NotifyRedirectDeviceChange(0x8000, 0); }) && refused([&] { control->Connect(); }));
        if (!end.isEmpty()) {
            QTcpSocket *peer = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT((peer = peer ? peer : listener.nextPendingConnection()) && peer->bytesAvailable() > 0, 20000);
            if (end == QLatin1String("destroy")) {
                control.reset(); // stops and joins the worker, which closes its side
                QTRY_VERIFY_WITH_TIMEOUT(peer->state() == QAbstractSocket::UnconnectedState || peer->waitForDisconnected(100), 20000);
                QCoreApplication::processEvents();
                QCOMPARE(connected.count() + disconnected.count(), 0);
                return;
            }
            control->Disconnect();
        }
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 60000);
        QVERIFY(disconnected.at(0).at(0).toInt() == reason && control->State() == SessionControl::SessionState::NotStarted && connected.isEmpty());
        control->Connect();
        control->Disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 2, 60000);
    }
    // Every bit reaches the server (the library keeps only those it has booleans for), and the
    // library's waits end when the server's message arrives (it would sleep 100 ms each).
    void serverReceivesFlags_data()
    {
        QTest::addColumn<qint32>("flags");
        QTest::newRow("none") << 0;
        QTest::newRow("all seven boxes") << 0x7F;
        QTest::newRow("cursor shadow and settings only") << 0x60;
    }
    void serverReceivesFlags()
    {
        QFETCH(qint32, flags);
        InfoRecordingServer server(QFile::encodeName(m_config.filePath("server.crt")), QFile::encodeName(m_config.filePath("server.key")));
        FreeRdpSessionControl control;
        control.setServer(QStringLiteral("127.0.0.1:%1").arg(server.port));
        control.setUserName(QStringLiteral("panel"));
        control.AdvancedSettings3()->setPerformanceFlags(flags);
        const quint64 wakeUps = RdpLibraryOverrides::serverWakeUps();
        control.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(server.serve(), 30000);
        QVERIFY(server.performanceFlags == quint32(flags) && RdpLibraryOverrides::serverWakeUps() > wakeUps);
    }
    // The first four on-board serial ports, then USB adapters, in the kernel's order; every printer port.
    void portsOffered()
    {
        QTemporaryDir dev;
        for (const QString name : {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS4", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyACM0", "lp0", "lp1", "tty0", "null", "ttyUSB10"})
            QVERIFY(QFile(dev.filePath(name)).open(QIODevice::WriteOnly));
        QStringList seen;
        for (const auto &[name, path] : RdpSettings::portDevices(dev.path()))
            seen << name + u'=' + QFileInfo(path).fileName();
        QCOMPARE(seen.join(u' '), QStringLiteral("COM1=ttyS0 COM2=ttyS1 COM3=ttyS2 COM4=ttyS3 COM5=ttyUSB0 COM6=ttyUSB1 COM7=ttyUSB10 COM8=ttyACM0 LPT1=lp0 LPT2=lp1"));
    }
};

QTEST_MAIN(tst_FreeRdpSessionControl)
#include "tst_FreeRdpSessionControl.moc"
