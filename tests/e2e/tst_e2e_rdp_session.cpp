// The session control against a real RDP server: the FreeRDP shadow server showing an Xvfb
// display of the test's own. What the widget is given arrives at the server's display, what the
// server shows appears in the widget, every end of a session is told once with its reason, and
// a renewed certificate is taken as the system's trust store or the operator decides.
#include "RdpTestEnvironment.h"
#include "rdp/FreeRdpSessionControl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTest>

#include <memory>

using namespace RdpTestEnvironment;

namespace {

constexpr int kWait = 30000;
constexpr unsigned kKeyA = 38; // X11 key code of "a" on an evdev keyboard
constexpr QRgb kBlue = 0xFF3060A0, kRed = 0xFFA03060, kGreen = 0xFF20A040;

QRgb pixel(const QImage &image, int x, int y)
{
    return image.valid(x, y) ? image.pixel(x, y) : 0;
}

// The control's question about a changed certificate, while it is shown.
QMessageBox *prompt()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("certificatePrompt") && w->isVisible())
            return qobject_cast<QMessageBox *>(w);
    return nullptr;
}

// The session's diagnostics, as an administrator turning them on would read them.
QStringList g_sessionLog;
void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "veskora.session") == 0)
        g_sessionLog << message;
    else if (type != QtDebugMsg)
        fprintf(stderr, "%s\n", qPrintable(message));
}

QString fingerprint(const QString &pemFile)
{
    const auto certificates = QSslCertificate::fromPath(pemFile);
    return certificates.isEmpty() ? QString() : QString::fromLatin1(certificates.first().digest(QCryptographicHash::Sha256).toHex(':'));
}

} // namespace

class tst_e2e_rdp_session : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_server.reset(); }
    void inputAndPicture();
    void serverGoesAway_data();
    void serverGoesAway();
    void wrongPasswordRefused();
    void renewedCertificate_data();
    void renewedCertificate();

private:
    std::unique_ptr<FreeRdpSessionControl> makeControl(const QString &password = Password) const;

    QTemporaryDir m_config;
    std::unique_ptr<RdpTestEnvironment::Display> m_display;
    std::unique_ptr<Probe> m_probe;
    std::unique_ptr<Server> m_server;
};

void tst_e2e_rdp_session::initTestCase()
{
    // The panel's certificate store lives under here.
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    // A panel without any sound device: no sound server, and ALSA knows no device either. The
    // session plays the server's sound into nothing, and connects as it would without sound.
    qputenv("PULSE_SERVER", m_config.filePath(QStringLiteral("no-sound-server")).toUtf8());
    QFile alsa(m_config.filePath(QStringLiteral("asound.conf")));
    QVERIFY(alsa.open(QIODevice::WriteOnly));
    qputenv("ALSA_CONFIG_PATH", alsa.fileName().toUtf8());
    QLoggingCategory::setFilterRules(QStringLiteral("veskora.session.info=true"));
    qInstallMessageHandler(collect);
    m_display = std::make_unique<RdpTestEnvironment::Display>();
    m_probe = std::make_unique<Probe>(m_display->name());
    QVERIFY2(m_probe->isOpen(), "Xvfb did not start");
}

void tst_e2e_rdp_session::init()
{
    m_probe->fill(kBlue);
    m_server = std::make_unique<Server>(*m_display);
    QVERIFY2(m_server->start(), "the shadow server did not start");
}

std::unique_ptr<FreeRdpSessionControl> tst_e2e_rdp_session::makeControl(const QString &password) const
{
    auto control = std::make_unique<FreeRdpSessionControl>();
    control->resize(1024, 768);
    control->setServer(m_server->address());
    control->setUserName(UserName);
    control->setDesktopWidth(1024);
    control->setDesktopHeight(768);
    control->NonScriptable()->setClearTextPassword(password);
    return control;
}

void tst_e2e_rdp_session::inputAndPicture()
{
    auto control = makeControl();
    // Smaller than the remote desktop: it shows the top left corner, one pixel for one.
    control->resize(512, 384);
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    control->Connect();
    QVERIFY(connected.wait(kWait));
    QTRY_COMPARE_WITH_TIMEOUT(pixel(control->screenImage(), 1018, 762), kBlue, kWait);
    // The sound channel was announced, and the server uses it.
    QTRY_VERIFY_WITH_TIMEOUT(g_sessionLog.contains(QStringLiteral("channel rdpsnd opened by the server")), kWait);
    // A change on the server reaches the widget, which paints it.
    m_probe->fill(kRed);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(control->screenImage(), 1018, 762), kRed, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(control->grab().toImage(), 508, 380), kRed, kWait);

    unsigned mask = 0;
    QTest::mousePress(control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    QTRY_VERIFY_WITH_TIMEOUT((m_probe->pointer(&mask), mask & Probe::LeftButtonMask), kWait);
    QCOMPARE(m_probe->pointer(&mask), QPoint(100, 50));
    QTest::mouseRelease(control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    QTRY_VERIFY_WITH_TIMEOUT((m_probe->pointer(&mask), !(mask & Probe::LeftButtonMask)), kWait);

    // A key held while the focus goes is let go on the server.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, kKeyA, 0, 0, QStringLiteral("a"));
    control->show();
    control->activateWindow();
    control->setFocus();
    QTRY_VERIFY(control->hasFocus());
    QCoreApplication::sendEvent(control.get(), &press);
    QTRY_VERIFY_WITH_TIMEOUT(m_probe->keyDown(kKeyA), kWait);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(control.get(), &focusOut);
    QTRY_VERIFY_WITH_TIMEOUT(!m_probe->keyDown(kKeyA), kWait);
}

// The server goes away during a session: it ends once, or it is made again as long as the
// server comes back within the tries, in the same session.
void tst_e2e_rdp_session::serverGoesAway_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("back");
    QTest::newRow("the session ends") << false << false;
    QTest::newRow("made again, the server back") << true << true;
    QTest::newRow("made again until the tries run out") << true << false;
}

void tst_e2e_rdp_session::serverGoesAway()
{
    QFETCH(bool, reconnect);
    QFETCH(bool, back);
    auto control = makeControl();
    control->AdvancedSettings3()->setEnableAutoReconnect(reconnect);
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    control->Connect();
    QVERIFY(connected.wait(kWait));
    m_server->kill();
    if (back) {
        // On the same address, with the same certificate, showing something else.
        QVERIFY(m_server->start(m_server->port()));
        m_probe->fill(kGreen);
        QTRY_COMPARE_WITH_TIMEOUT(pixel(control->screenImage(), 5, 5), kGreen, kWait);
        QVERIFY(control->isConnected());
        QCOMPARE(disconnected.count(), 0);
        control->Disconnect();
    }
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 120000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(back ? FreeRdpSessionControl::ReasonLocal : FreeRdpSessionControl::ReasonServerEnded));
    QVERIFY(!control->isSessionRunning()); // nothing left that could report again
    QCoreApplication::processEvents();
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(connected.count(), 1);
}

void tst_e2e_rdp_session::wrongPasswordRefused()
{
    auto control = makeControl(QStringLiteral("not-the-password"));
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    control->Connect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, kWait);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonAuthenticationFailed));
    QCOMPARE(connected.count(), 0);
}

// The server's certificate changes: one the system's trust store vouches for is taken as it
// comes; a self-signed one trusted on first use makes the control ask the operator, who may
// connect (the new one is remembered), cancel, or not answer in time.
void tst_e2e_rdp_session::renewedCertificate_data()
{
    QTest::addColumn<QString>("answer"); // "trusted" (no question), "Connect", "Cancel", "" (none)
    QTest::newRow("trusted by the system") << "trusted";
    QTest::newRow("operator connects") << "Connect";
    QTest::newRow("operator cancels") << "Cancel";
    QTest::newRow("no answer in time") << "";
}

void tst_e2e_rdp_session::renewedCertificate()
{
    QFETCH(QString, answer);
    const bool trusted = answer == QLatin1String("trusted");
    // A certificate authority of the test's own stands in for the system's trust store; it
    // signs two certificates for the server's name.
    QTemporaryDir ca;
    for (const QString name : {"ca", "a", "b"}) {
        QStringList arguments = {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", name + ".key",
                                 "-out", name + ".crt", "-subj", name == "ca" ? "/CN=Veskora Test CA" : "/CN=localhost"};
        if (name != "ca")
            arguments << "-addext" << "subjectAltName=DNS:localhost" << "-CA" << "ca.crt" << "-CAkey" << "ca.key";
        QProcess openssl;
        openssl.setWorkingDirectory(ca.path());
        if (trusted)
            openssl.start(QStringLiteral("openssl"), arguments);
        QVERIFY(!trusted || (openssl.waitForFinished(kWait) && openssl.exitCode() == 0));
    }
    const auto certificate = [&](const char *name) { return trusted ? ca.filePath(name + QStringLiteral(".crt")) : QString(); };
    const auto key = [&](const char *name) { return trusted ? ca.filePath(name + QStringLiteral(".key")) : QString(); };
    if (trusted)
        qputenv("SSL_CERT_FILE", QFile::encodeName(ca.filePath(QStringLiteral("ca.crt"))));
    auto restore = qScopeGuard([] {
        qunsetenv("SSL_CERT_FILE");
        FreeRdpSessionControl::setCertificatePromptTimeout(FreeRdpSessionControl::DefaultCertificatePromptMs);
    });
    QVERIFY(m_server->renewCertificate(certificate("a"), key("a")) && m_server->start(m_server->port()));
    const QString server = QStringLiteral("localhost:%1").arg(m_server->port());
    {
        // First contact: trusted (and a self-signed one remembered).
        auto control = makeControl();
        control->setServer(server);
        QSignalSpy connected(control.get(), &SessionControl::OnConnected);
        control->Connect();
        QVERIFY(connected.wait(kWait));
    }
    const QString before = fingerprint(m_server->certificate());

    // The server renews its certificate.
    m_server->kill();
    QVERIFY(m_server->renewCertificate(certificate("b"), key("b")) && m_server->start(m_server->port()));
    FreeRdpSessionControl::setCertificatePromptTimeout(answer.isEmpty() ? 1000 : 60000);
    auto control = makeControl();
    control->setServer(server);
    // The question must not run into the connect time limit.
    control->setConnectTimeLimit(2000);
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    control->Connect();
    if (!trusted) {
        QTRY_VERIFY_WITH_TIMEOUT(prompt(), kWait);
        const QString text = prompt()->text(), after = fingerprint(m_server->certificate());
        QVERIFY2(text.contains(server) && text.contains(before) && text.contains(after) && before != after, qPrintable(text));
        // An operator who takes longer than the connect time limit to decide.
        if (answer == QLatin1String("Connect"))
            QTest::qWait(2500);
        for (QAbstractButton *button : prompt()->buttons())
            if (button->text() == answer)
                button->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(connected.count() + disconnected.count() > 0, kWait);
    QVERIFY(!prompt());
    if (answer == QLatin1String("Cancel") || answer.isEmpty()) {
        QCOMPARE(connected.count(), 0);
        QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonCertificateRefused));
        return;
    }
    QCOMPARE(connected.count(), 1);
    control.reset();
    // The new certificate is the one remembered now: no question the next time.
    auto again = makeControl();
    again->setServer(server);
    QSignalSpy connectedAgain(again.get(), &SessionControl::OnConnected);
    again->Connect();
    QTRY_VERIFY_WITH_TIMEOUT(connectedAgain.count() == 1 || prompt(), kWait);
    QVERIFY(!prompt());
}

QTEST_MAIN(tst_e2e_rdp_session)
#include "tst_e2e_rdp_session.moc"
