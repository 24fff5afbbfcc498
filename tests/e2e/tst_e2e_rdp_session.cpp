// The session control against a real RDP server: the FreeRDP shadow server showing an Xvfb
// display of the test's own. What the server's screen shows must appear in the widget, what
// the widget is given must arrive at the server's display, and every end of a session must be
// reported once, with its reason.
#include "RdpTestEnvironment.h"
#include "rdp/FreeRdpSessionControl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace RdpTestEnvironment;

namespace {

// The control's question about a changed certificate, while it is shown.
QMessageBox *prompt()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("certificatePrompt") && w->isVisible())
            return qobject_cast<QMessageBox *>(w);
    return nullptr;
}

QAbstractButton *button(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

// SHA-256 of a PEM certificate's DER form, as "xx:xx:...".
QString fingerprint(const QString &pemFile)
{
    QFile f(pemFile);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray base64;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (!line.startsWith("-----"))
            base64 += line.trimmed();
    return QString::fromLatin1(QCryptographicHash::hash(QByteArray::fromBase64(base64), QCryptographicHash::Sha256).toHex(':'));
}

// A certificate authority (ca.pem) and two server certificates it signed for "localhost"
// (a.crt/a.key, b.crt/b.key).
bool makeCertificates(const QString &dir)
{
    auto openssl = [&](const QStringList &arguments) {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start(QStringLiteral("openssl"), arguments);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    QFile extensions(QDir(dir).filePath(QStringLiteral("san.cnf")));
    if (!extensions.open(QIODevice::WriteOnly) || extensions.write("subjectAltName=DNS:localhost\n") < 0)
        return false;
    extensions.close();
    if (!openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                  "-subj", "/CN=Veskora Test CA"}))
        return false;
    for (const QString &name : {QStringLiteral("a"), QStringLiteral("b")})
        if (!openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr", "-subj",
                      "/CN=localhost"})
            || !openssl({"x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                         "-out", name + ".crt", "-days", "2", "-extfile", "san.cnf"}))
            return false;
    return true;
}

QColor pixel(const QImage &image, int x, int y)
{
    return image.isNull() || !image.rect().contains(x, y) ? QColor() : QColor(image.pixel(x, y));
}

} // namespace

class tst_e2e_rdp_session : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void showsServerScreen();
    void keyAndClickReachServer();
    void killedServerEndsSessionOnce();
    void wrongPasswordRefused();
    void renewedCertificate_data();
    void renewedCertificate();
    void autoReconnectAfterRestart();
    void autoReconnectGivesUp();

private:
    std::unique_ptr<FreeRdpSessionControl> makeControl(const QString &password = Password);
    bool connectControl(FreeRdpSessionControl &control, QSignalSpy &connected);

    QTemporaryDir m_config;
    std::unique_ptr<RdpTestEnvironment::Display> m_display;
    std::unique_ptr<Server> m_server;
};

void tst_e2e_rdp_session::initTestCase()
{
    const QString missing = missingPrograms();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (scripts/install-deps)").arg(missing)));
    QVERIFY(m_config.isValid());
    // The panel's certificate store lives under here.
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    m_display = std::make_unique<RdpTestEnvironment::Display>();
    QVERIFY2(m_display->isRunning(), "Xvfb did not start");
    QVERIFY(m_display->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#3060a0")}));
}

void tst_e2e_rdp_session::init()
{
    m_server = std::make_unique<Server>(*m_display);
    QVERIFY2(m_server->start(), "the shadow server did not start");
}

void tst_e2e_rdp_session::cleanup()
{
    m_server.reset();
}

std::unique_ptr<FreeRdpSessionControl> tst_e2e_rdp_session::makeControl(const QString &password)
{
    auto control = std::make_unique<FreeRdpSessionControl>();
    control->resize(1024, 768);
    control->setServer(m_server->address());
    control->setUserName(UserName);
    control->setDesktopWidth(1024);
    control->setDesktopHeight(768);
    if (!password.isEmpty())
        control->NonScriptable()->setClearTextPassword(password);
    return control;
}

bool tst_e2e_rdp_session::connectControl(FreeRdpSessionControl &control, QSignalSpy &connected)
{
    control.Connect();
    return connected.wait(30000) || connected.count() > 0;
}

void tst_e2e_rdp_session::showsServerScreen()
{
    auto control = makeControl();
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    QVERIFY(connectControl(*control, connected));
    QCOMPARE(connected.count(), 1);
    QCOMPARE(control->remoteSize(), QSize(1024, 768));

    // The server's background, in the corners and the middle of the screen.
    const QColor blue(0x30, 0x60, 0xa0);
    const QList<QPoint> probes = {{5, 5}, {1018, 5}, {5, 762}, {1018, 762}, {300, 500}};
    for (const QPoint &p : probes)
        QTRY_COMPARE_WITH_TIMEOUT(pixel(control->screenImage(), p.x(), p.y()), blue, 20000);

    // A change on the server reaches the widget, and the widget paints it.
    QVERIFY(m_display->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#a03060")}));
    const QColor red(0xa0, 0x30, 0x60);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(control->screenImage(), 5, 5), red, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(control->grab().toImage(), 1018, 762), red, 20000);
    const QString shots = qEnvironmentVariable("VESKORA_SCREENSHOT_DIR");
    if (!shots.isEmpty())
        control->grab().save(QDir(shots).filePath(QStringLiteral("rdp-session.png")));
    QVERIFY(m_display->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#3060a0")}));
    QCOMPARE(connected.count(), 1);
    QCOMPARE(disconnected.count(), 0);
}

void tst_e2e_rdp_session::keyAndClickReachServer()
{
    Probe probe(m_display->name());
    QVERIFY(probe.isOpen());
    auto control = makeControl();
    // Smaller than the remote desktop: it shows the top left corner, one pixel for one.
    control->resize(512, 384);
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QVERIFY(connectControl(*control, connected));

    const int keyA = 38; // X11 key code of "a" on an evdev keyboard
    QVERIFY(!probe.keyDown(keyA));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, quint32(keyA), 0, 0, QStringLiteral("a"));
    QCoreApplication::sendEvent(control.get(), &press);
    QTRY_VERIFY_WITH_TIMEOUT(probe.keyDown(keyA), 20000);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, quint32(keyA), 0, 0, QStringLiteral("a"));
    QCoreApplication::sendEvent(control.get(), &release);
    QTRY_VERIFY_WITH_TIMEOUT(!probe.keyDown(keyA), 20000);

    unsigned mask = 0;
    QTest::mousePress(control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    QTRY_VERIFY_WITH_TIMEOUT((probe.pointer(&mask), mask & Probe::LeftButtonMask), 20000);
    QCOMPARE(probe.pointer(&mask), QPoint(100, 50));
    QTest::mouseRelease(control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    QTRY_VERIFY_WITH_TIMEOUT((probe.pointer(&mask), !(mask & Probe::LeftButtonMask)), 20000);

    // A key held while the focus goes is let go on the server.
    control->show();
    control->activateWindow();
    control->setFocus();
    QTRY_VERIFY(control->hasFocus());
    QCoreApplication::sendEvent(control.get(), &press);
    QTRY_VERIFY_WITH_TIMEOUT(probe.keyDown(keyA), 20000);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(control.get(), &focusOut);
    QTRY_VERIFY_WITH_TIMEOUT(!probe.keyDown(keyA), 20000);
}

void tst_e2e_rdp_session::killedServerEndsSessionOnce()
{
    auto control = makeControl();
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    QVERIFY(connectControl(*control, connected));
    m_server->kill();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 30000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonServerEnded));
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
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 30000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonAuthenticationFailed));
    QCOMPARE(connected.count(), 0);
}

// A server's certificate that changes: one the system's trust store vouches for is taken as
// it comes; a self-signed one trusted on first use makes the control ask the operator, who may
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
    // A certificate authority of the test's own stands in for the system's trust store.
    QTemporaryDir ca;
    if (trusted) {
        QVERIFY(makeCertificates(ca.path()));
        QVERIFY(m_server->renewCertificate(ca.filePath(QStringLiteral("a.crt")), ca.filePath(QStringLiteral("a.key"))));
        qputenv("SSL_CERT_FILE", QFile::encodeName(ca.filePath(QStringLiteral("ca.pem"))));
    }
    auto restore = qScopeGuard([] { qunsetenv("SSL_CERT_FILE"); });
    QVERIFY(m_server->start(m_server->port()));
    const QString server = QStringLiteral("localhost:%1").arg(m_server->port());
    {
        // First contact: trusted (and a self-signed one kept).
        auto control = makeControl();
        control->setServer(server);
        QSignalSpy connected(control.get(), &SessionControl::OnConnected);
        QVERIFY(connectControl(*control, connected));
    }
    const QString before = fingerprint(m_server->certificate());

    // The server renews its certificate.
    m_server->kill();
    QVERIFY(m_server->renewCertificate(trusted ? ca.filePath(QStringLiteral("b.crt")) : QString(),
                                       trusted ? ca.filePath(QStringLiteral("b.key")) : QString()));
    QVERIFY(m_server->start(m_server->port()));
    FreeRdpSessionControl::setCertificatePromptTimeout(answer.isEmpty() ? 1000 : 60000);
    auto restoreTimeout = qScopeGuard([] { FreeRdpSessionControl::setCertificatePromptTimeout(60000); });
    auto control = makeControl();
    control->setServer(server);
    // The question must not run into the connect time limit.
    control->setConnectTimeLimit(2000);
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    control->Connect();
    if (!trusted) {
        QTRY_VERIFY_WITH_TIMEOUT(prompt(), 30000);
        const QString text = prompt()->text();
        const QString after = fingerprint(m_server->certificate());
        QVERIFY2(text.contains(server) && text.contains(before) && text.contains(after) && before != after, qPrintable(text));
        if (const QString shots = qEnvironmentVariable("VESKORA_SCREENSHOT_DIR"); !shots.isEmpty())
            prompt()->grab().save(QDir(shots).filePath(QStringLiteral("certificate-prompt.png")));
        // An operator who takes longer than the connect time limit to decide.
        if (answer == QLatin1String("Connect"))
            QTest::qWait(2500);
        if (!answer.isEmpty())
            button(prompt(), answer)->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(connected.count() + disconnected.count() > 0, 30000);
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
    QTRY_VERIFY_WITH_TIMEOUT(connectedAgain.count() == 1 || prompt(), 30000);
    QVERIFY(!prompt());
}

void tst_e2e_rdp_session::autoReconnectAfterRestart()
{
    auto control = makeControl();
    control->AdvancedSettings3()->setEnableAutoReconnect(true);
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    QVERIFY(connectControl(*control, connected));
    const QColor blue(0x30, 0x60, 0xa0);
    QTRY_COMPARE_WITH_TIMEOUT(pixel(control->screenImage(), 5, 5), blue, 20000);

    // The server goes away and comes back on the same address, with the same certificate.
    m_server->kill();
    QVERIFY(m_server->start(m_server->port()));
    QVERIFY(m_display->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#20a040")}));
    // The new server's picture arrives in the same session.
    QTRY_COMPARE_WITH_TIMEOUT(pixel(control->screenImage(), 5, 5), QColor(0x20, 0xa0, 0x40), 30000);
    QVERIFY(control->isConnected());
    QCOMPARE(connected.count(), 1);
    QCOMPARE(disconnected.count(), 0);
    QVERIFY(m_display->run(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), QStringLiteral("#3060a0")}));
    control->Disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 30000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonLocal));
}

void tst_e2e_rdp_session::autoReconnectGivesUp()
{
    auto control = makeControl();
    control->AdvancedSettings3()->setEnableAutoReconnect(true);
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    QVERIFY(connectControl(*control, connected));
    // The server does not come back: after its tries the session ends, once.
    m_server->kill();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 120000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonServerEnded));
    QVERIFY(!control->isSessionRunning());
    QCOMPARE(connected.count(), 1);
}

QTEST_MAIN(tst_e2e_rdp_session)
#include "tst_e2e_rdp_session.moc"
