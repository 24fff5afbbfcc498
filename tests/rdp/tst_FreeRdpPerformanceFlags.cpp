// The performance flags the server receives in the Client Info PDU are the ones set on the
// control. The server here is a small RDP listener of the test's own (FreeRDP's server side,
// TLS with a throw-away certificate) that records what the client announced.
#include "rdp/FreeRdpSessionControl.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <freerdp/listener.h>
#include <freerdp/peer.h>
#include <freerdp/settings.h>
#include <winpr/synch.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Accepts RDP clients on 127.0.0.1 and records the performance flags of the last client's
// Client Info PDU.
class InfoRecordingServer
{
public:
    InfoRecordingServer(const QString &certificate, const QString &key)
        : m_certificate(certificate.toUtf8()), m_key(key.toUtf8())
    {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || ::listen(fd, 4) != 0
            || getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
            close(fd);
            return;
        }
        m_port = ntohs(addr.sin_port);
        m_stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_listener = freerdp_listener_new();
        m_listener->info = this;
        m_listener->PeerAccepted = &InfoRecordingServer::peerAccepted;
        if (!m_listener->OpenFromSocket(m_listener, fd)) {
            close(fd);
            m_port = 0;
            return;
        }
        m_thread = std::thread([this] { serve(); });
    }

    ~InfoRecordingServer()
    {
        if (m_stopEvent)
            SetEvent(m_stopEvent);
        if (m_thread.joinable())
            m_thread.join();
        for (std::thread &t : m_peers)
            t.join();
        if (m_listener) {
            m_listener->Close(m_listener);
            freerdp_listener_free(m_listener);
        }
        if (m_stopEvent)
            CloseHandle(m_stopEvent);
    }

    quint16 port() const { return m_port; }
    bool received() const { return m_received; }
    quint32 performanceFlags() const { return m_flags; }

private:
    void serve()
    {
        while (true) {
            HANDLE handles[32];
            DWORD count = m_listener->GetEventHandles(m_listener, handles, 31);
            handles[count++] = m_stopEvent;
            WaitForMultipleObjects(count, handles, FALSE, INFINITE);
            if (WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0)
                return;
            m_listener->CheckFileDescriptor(m_listener);
        }
    }

    static BOOL peerAccepted(freerdp_listener *listener, freerdp_peer *client)
    {
        auto *self = static_cast<InfoRecordingServer *>(listener->info);
        self->m_peers.emplace_back([self, client] { self->servePeer(client); });
        return TRUE;
    }

    static BOOL postConnect(freerdp_peer *client)
    {
        auto *self = static_cast<InfoRecordingServer *>(client->ContextExtra);
        self->m_flags = freerdp_settings_get_uint32(client->settings, FreeRDP_PerformanceFlags);
        self->m_received = true;
        return TRUE;
    }

    void servePeer(freerdp_peer *client)
    {
        client->ContextSize = sizeof(rdpContext);
        if (!freerdp_peer_context_new(client)) {
            freerdp_peer_free(client);
            return;
        }
        client->ContextExtra = this;
        rdpSettings *s = client->settings;
        freerdp_settings_set_string(s, FreeRDP_CertificateFile, m_certificate.constData());
        freerdp_settings_set_string(s, FreeRDP_PrivateKeyFile, m_key.constData());
        freerdp_settings_set_bool(s, FreeRDP_RdpSecurity, FALSE);
        freerdp_settings_set_bool(s, FreeRDP_TlsSecurity, TRUE);
        freerdp_settings_set_bool(s, FreeRDP_NlaSecurity, FALSE);
        client->PostConnect = &InfoRecordingServer::postConnect;
        client->Initialize(client);
        while (!m_received && WaitForSingleObject(m_stopEvent, 0) != WAIT_OBJECT_0) {
            HANDLE handles[32];
            DWORD count = client->GetEventHandles(client, handles, 31);
            handles[count++] = m_stopEvent;
            WaitForMultipleObjects(count, handles, FALSE, 1000);
            if (!client->CheckFileDescriptor(client))
                break;
        }
        client->Disconnect(client);
        freerdp_peer_context_free(client);
        freerdp_peer_free(client);
    }

    QByteArray m_certificate, m_key;
    quint16 m_port = 0;
    HANDLE m_stopEvent = nullptr;
    freerdp_listener *m_listener = nullptr;
    std::thread m_thread;
    std::vector<std::thread> m_peers; // touched by the listener thread only, joined after it
    std::atomic<bool> m_received{false};
    std::atomic<quint32> m_flags{0};
};

} // namespace

class tst_FreeRdpPerformanceFlags : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void serverReceivesFlags_data();
    void serverReceivesFlags();

private:
    QTemporaryDir m_dir;
    QString m_certificate, m_key;
};

void tst_FreeRdpPerformanceFlags::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
    m_certificate = m_dir.filePath(QStringLiteral("server.crt"));
    m_key = m_dir.filePath(QStringLiteral("server.key"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=localhost"), QStringLiteral("-keyout"), m_key, QStringLiteral("-out"),
                   m_certificate});
    if (!openssl.waitForStarted())
        QSKIP("openssl is not installed: no certificate for the test server");
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
}

void tst_FreeRdpPerformanceFlags::serverReceivesFlags_data()
{
    QTest::addColumn<qint32>("flags");
    QTest::newRow("none") << 0;
    QTest::newRow("all seven boxes") << 0x7F;
    QTest::newRow("wallpaper and theming") << 0x09;
    QTest::newRow("cursor shadow and settings only") << 0x60;
    QTest::newRow("enhanced graphics only") << 0x10;
}

void tst_FreeRdpPerformanceFlags::serverReceivesFlags()
{
    QFETCH(qint32, flags);
    InfoRecordingServer server(m_certificate, m_key);
    QVERIFY(server.port() != 0);

    FreeRdpSessionControl control;
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setServer(QStringLiteral("127.0.0.1:%1").arg(server.port()));
    control.setUserName(QStringLiteral("panel"));
    control.setDesktopWidth(640);
    control.setDesktopHeight(480);
    control.AdvancedSettings3()->setPerformanceFlags(flags);
    control.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(server.received(), 30000);
    QCOMPARE(server.performanceFlags(), quint32(flags));
    control.Disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 30000);
}

QTEST_MAIN(tst_FreeRdpPerformanceFlags)
#include "tst_FreeRdpPerformanceFlags.moc"
