// The performance flags the server receives in the Client Info PDU are the ones set on the
// control, every bit of them (the library itself would keep only those it has booleans for).
// The server is a small RDP listener of the test's own, on the library's server side with TLS
// and a throw-away certificate, that records what the client announced.
#include "rdp/FreeRdpSessionControl.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <freerdp/listener.h>
#include <freerdp/peer.h>
#include <freerdp/settings.h>
#include <winpr/synch.h>

#include <atomic>
#include <thread>

namespace {

// Accepts RDP clients on 127.0.0.1, one at a time, and records the performance flags of the
// last one's Client Info PDU.
class InfoRecordingServer
{
public:
    InfoRecordingServer(const QByteArray &certificate, const QByteArray &key) : m_certificate(certificate), m_key(key)
    {
        QTcpServer probe;
        m_port = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
        probe.close();
        m_listener->info = this;
        m_listener->PeerAccepted = &InfoRecordingServer::accepted;
        if (!m_listener->Open(m_listener, "127.0.0.1", m_port))
            m_port = 0;
        m_thread = std::thread([this] { serve(); });
    }

    ~InfoRecordingServer()
    {
        SetEvent(m_stop);
        m_thread.join();
        m_listener->Close(m_listener);
        freerdp_listener_free(m_listener);
        CloseHandle(m_stop);
    }

    quint16 port() const { return m_port; }
    std::atomic<bool> received{false};
    std::atomic<quint32> performanceFlags{0};

private:
    void serve()
    {
        while (WaitForSingleObject(m_stop, 0) != WAIT_OBJECT_0) {
            HANDLE handles[64];
            DWORD count = m_listener->GetEventHandles(m_listener, handles, 32);
            if (m_peer)
                count += m_peer->GetEventHandles(m_peer, handles + count, 31);
            handles[count++] = m_stop;
            WaitForMultipleObjects(count, handles, FALSE, INFINITE);
            m_listener->CheckFileDescriptor(m_listener);
            if (m_peer && !m_peer->CheckFileDescriptor(m_peer))
                drop();
        }
        drop();
    }

    void drop()
    {
        if (!m_peer)
            return;
        m_peer->Disconnect(m_peer);
        freerdp_peer_context_free(m_peer);
        freerdp_peer_free(m_peer);
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
        rdpSettings *s = client->settings;
        freerdp_settings_set_string(s, FreeRDP_CertificateFile, self->m_certificate.constData());
        freerdp_settings_set_string(s, FreeRDP_PrivateKeyFile, self->m_key.constData());
        freerdp_settings_set_bool(s, FreeRDP_RdpSecurity, FALSE);
        freerdp_settings_set_bool(s, FreeRDP_TlsSecurity, TRUE);
        freerdp_settings_set_bool(s, FreeRDP_NlaSecurity, FALSE);
        client->PostConnect = [](freerdp_peer *peer) -> BOOL {
            auto *server = static_cast<InfoRecordingServer *>(peer->ContextExtra);
            server->performanceFlags = freerdp_settings_get_uint32(peer->settings, FreeRDP_PerformanceFlags);
            server->received = true;
            return TRUE;
        };
        client->Initialize(client);
        self->m_peer = client;
        return TRUE;
    }

    const QByteArray m_certificate, m_key;
    quint16 m_port = 0;
    HANDLE m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    freerdp_listener *m_listener = freerdp_listener_new();
    freerdp_peer *m_peer = nullptr; // the listener's thread's only
    std::thread m_thread;
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
};

void tst_FreeRdpPerformanceFlags::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
    QProcess openssl;
    openssl.setWorkingDirectory(m_dir.path());
    openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                              "/CN=localhost", "-keyout", "server.key", "-out", "server.crt"});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
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
    InfoRecordingServer server(QFile::encodeName(m_dir.filePath(QStringLiteral("server.crt"))),
                               QFile::encodeName(m_dir.filePath(QStringLiteral("server.key"))));
    QVERIFY(server.port() != 0);
    FreeRdpSessionControl control;
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setServer(QStringLiteral("127.0.0.1:%1").arg(server.port()));
    control.setUserName(QStringLiteral("panel"));
    control.AdvancedSettings3()->setPerformanceFlags(flags);
    control.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(server.received, 30000);
    QCOMPARE(server.performanceFlags.load(), quint32(flags));
    control.Disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 30000);
}

QTEST_MAIN(tst_FreeRdpPerformanceFlags)
#include "tst_FreeRdpPerformanceFlags.moc"
