// The session control against the FreeRDP shadow server showing an Xvfb display of the test's own.
#include "RdpTestEnvironment.h"
#include "rdp/FreeRdpSessionControl.h"
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTest>
#include <memory>

using namespace RdpTestEnvironment;

namespace {

QImage rgb(const QImage &image) { return image.convertToFormat(QImage::Format_RGB888); }
QMessageBox *prompt() { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); } // a certificate question
QString fingerprint(const QString &pem) { return QSslCertificate::fromPath(pem).value(0).digest(QCryptographicHash::Sha256).toHex(':'); }

struct Attempt
{
    explicit Attempt(const QString &server, const QString &password = Password)
    {
        control.setServer(server);
        control.setUserName(UserName);
        control.setDesktopWidth(1024);
        control.setDesktopHeight(768);
        control.NonScriptable()->setClearTextPassword(password);
    }
    int reason() const { return disconnected.isEmpty() ? -1 : disconnected.at(0).at(0).toInt(); }
    FreeRdpSessionControl control;
    QSignalSpy connected{&control, &SessionControl::OnConnected};
    QSignalSpy disconnected{&control, &SessionControl::OnDisconnected};
};

} // namespace

class tst_e2e_rdp_session : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;
    std::unique_ptr<RdpTestEnvironment::Display> m_display;
    std::unique_ptr<Probe> m_probe;
    std::unique_ptr<Server> m_server;

private slots:
    void initTestCase()
    {
        // The certificate store lives here. No sound server nor ALSA device: sound goes nowhere.
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        qputenv("PULSE_SERVER", m_config.filePath(QStringLiteral("no-sound-server")).toUtf8());
        QVERIFY(QFile(m_config.filePath(QStringLiteral("asound.conf"))).open(QIODevice::WriteOnly));
        qputenv("ALSA_CONFIG_PATH", m_config.filePath(QStringLiteral("asound.conf")).toUtf8());
        m_display = std::make_unique<RdpTestEnvironment::Display>();
        m_probe = std::make_unique<Probe>(m_display->name());
        QVERIFY2(m_probe->isOpen(), "Xvfb did not start");
    }
    void init()
    {
        m_probe->paint(0);
        m_server = std::make_unique<Server>(*m_display);
        QVERIFY2(m_server->start(), "the shadow server did not start");
    }
    void cleanup() { m_server.reset(); }
    void inputAndPicture()
    {
        Attempt a(m_server->address());
        a.control.resize(512, 384); // shows the top left corner, one pixel for one
        a.control.show();
        a.control.Connect();
        QVERIFY(a.connected.wait(kWait));
        m_probe->paint(1);
        QTRY_VERIFY_WITH_TIMEOUT(rgb(a.control.screenImage()) == m_probe->grab()
                                     && rgb(a.control.grab().toImage()) == m_probe->grab(QRect(0, 0, 512, 384)), kWait);
        // A key held while the focus goes is let go on the server.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, kKeyA, 0, 0, QStringLiteral("a"));
        QCoreApplication::sendEvent(&a.control, &press);
        QTRY_VERIFY_WITH_TIMEOUT(m_probe->keyDown(kKeyA), kWait);
        QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QCoreApplication::sendEvent(&a.control, &focusOut);
        QTRY_VERIFY_WITH_TIMEOUT(!m_probe->keyDown(kKeyA), kWait);
    }
    // A server that goes away ends the session once, or it is made again if the server comes back.
    void sessionEnds_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<bool>("back");
        QTest::addColumn<int>("reason");
        QTest::newRow("wrong password") << "not-the-password" << false << false << int(FreeRdpSessionControl::ReasonAuthenticationFailed);
        QTest::newRow("the session ends") << Password << false << false << int(FreeRdpSessionControl::ReasonServerEnded);
        QTest::newRow("made again, the server back") << Password << true << true << int(FreeRdpSessionControl::ReasonLocal);
        QTest::newRow("made again until the tries run out") << Password << true << false << int(FreeRdpSessionControl::ReasonServerEnded);
    }
    void sessionEnds()
    {
        QFETCH(QString, password);
        QFETCH(bool, reconnect);
        QFETCH(bool, back);
        Attempt a(m_server->address(), password);
        a.control.AdvancedSettings3()->setEnableAutoReconnect(reconnect);
        using State = SessionControl::SessionState;
        QSignalSpy states(&a.control, &SessionControl::StateChanged);
        a.control.Connect();
        const bool refused = password != Password;
        if (!refused) {
            QVERIFY(a.connected.wait(kWait));
            QCOMPARE(a.control.State(), State::Connected);
            m_server->kill();
            // Broken, it says so while it is made again.
            if (reconnect)
                QTRY_COMPARE_WITH_TIMEOUT(a.control.State(), State::Reconnecting, kWait);
        }
        if (back) {
            // On the same address, with the same certificate, showing something else.
            QVERIFY(m_server->start(m_server->port()));
            m_probe->paint(2);
            // The picture is shared with the session thread and may be new before the queued
            // news that the session is connected again has arrived.
            QTRY_VERIFY_WITH_TIMEOUT(a.control.State() == State::Connected
                                         && rgb(a.control.screenImage()) == m_probe->grab(), kWait);
            QVERIFY(a.disconnected.isEmpty());
            a.control.Disconnect();
            QCOMPARE(a.control.State(), State::Ending);
        }
        QTRY_COMPARE_WITH_TIMEOUT(a.disconnected.count(), 1, 120000);
        QTEST(a.reason(), "reason");
        QCOMPARE(a.control.State(), State::NotStarted); // nothing left that could report again
        QList<State> expected{State::Connecting};
        if (!refused)
            expected << State::Connected << (reconnect ? QList{State::Reconnecting} : QList<State>{});
        if (back)
            expected << State::Connected << State::Ending;
        expected << State::NotStarted;
        QList<State> seen;
        for (const QList<QVariant> &change : std::as_const(states))
            seen << change.at(0).value<State>();
        QCOMPARE(seen, expected);
        QCoreApplication::processEvents();
        QVERIFY(a.disconnected.count() == 1 && a.connected.count() == int(!refused));
    }
    // A renewed certificate the trust store vouches for is taken; one trusted on first use makes the
    // control ask the operator, who may connect (it is then remembered), cancel, or not answer.
    void renewedCertificate_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("trusted by the system") << "trusted";
        QTest::newRow("operator connects") << "Connect";
        QTest::newRow("operator cancels") << "Cancel";
        QTest::newRow("no answer in time") << "";
    }
    void renewedCertificate()
    {
        QFETCH(QString, answer);
        const bool trusted = answer == QLatin1String("trusted");
        const QString server = QStringLiteral("localhost:%1").arg(m_server->port());
        auto restore = qScopeGuard([] {
            qunsetenv("SSL_CERT_FILE");
            FreeRdpSessionControl::setCertificatePromptTimeout(FreeRdpSessionControl::DefaultCertificatePromptMs);
        });
        {
            Attempt first(server); // trusted on first use, and remembered
            first.control.Connect();
            QVERIFY(first.connected.wait(kWait));
        }
        const QString before = fingerprint(m_server->certificate());
        m_server->kill();
        // The system's trust store holds the renewed one: a self-signed certificate for the name.
        QTemporaryDir dir;
        const QString certificate = trusted ? dir.filePath(QStringLiteral("b.crt")) : QString(), key = certificate + ".key";
        if (trusted) {
            QVERIFY(run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", key, "-out", certificate,
                         "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"}));
            qputenv("SSL_CERT_FILE", QFile::encodeName(certificate));
        }
        QVERIFY(m_server->renewCertificate(certificate, key) && m_server->start(m_server->port()));
        FreeRdpSessionControl::setCertificatePromptTimeout(answer.isEmpty() ? 1000 : 60000);
        Attempt a(server);
        const int limit = 2000 * kSlowdown; // which the question must not run into
        a.control.setConnectTimeLimit(limit);
        a.control.Connect();
        if (!trusted) {
            QTRY_VERIFY_WITH_TIMEOUT(prompt(), kWait);
            const QString text = prompt()->text(), after = fingerprint(m_server->certificate());
            QVERIFY2(text.contains(server) && text.contains(before) && text.contains(after) && before != after, qPrintable(text));
            if (answer == QLatin1String("Connect"))
                QTest::qWait(limit + 500); // an operator who takes longer than the connect time limit
            for (QAbstractButton *button : prompt()->buttons())
                if (button->text() == answer)
                    button->click();
        }
        QTRY_VERIFY_WITH_TIMEOUT(a.connected.count() + a.disconnected.count() > 0, kWait);
        QVERIFY(!prompt());
        if (!trusted && answer != QLatin1String("Connect")) {
            QCOMPARE(a.reason(), int(FreeRdpSessionControl::ReasonCertificateRefused));
            return;
        }
        QCOMPARE(a.connected.count(), 1);
        // The new certificate is the one remembered now: no question the next time.
        Attempt again(server);
        again.control.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(again.connected.count() == 1 || prompt(), kWait);
        QVERIFY(!prompt());
    }
};

QTEST_MAIN(tst_e2e_rdp_session)
#include "tst_e2e_rdp_session.moc"
