// The session control against a real RDP server: the FreeRDP shadow server showing an Xvfb
// display of the test's own. What the server's screen shows must appear in the widget, what
// the widget is given must arrive at the server's display, and every end of a session must be
// reported once, with its reason.
#include "RdpTestEnvironment.h"
#include "rdp/FreeRdpSessionControl.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace RdpTestEnvironment;

namespace {

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
    void changedCertificateRefused();
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
    // Half the remote size: coordinates must be scaled up on the way.
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
    QCOMPARE(probe.pointer(&mask), QPoint(200, 100));
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

void tst_e2e_rdp_session::changedCertificateRefused()
{
    {
        // First contact: the certificate is trusted and kept.
        auto control = makeControl();
        QSignalSpy connected(control.get(), &SessionControl::OnConnected);
        QVERIFY(connectControl(*control, connected));
    }
    const QString store = FreeRdpSessionControl::certificateStoreDirectory();
    QVERIFY(QDir(store).exists());
    {
        // The same server again: still trusted.
        auto control = makeControl();
        QSignalSpy connected(control.get(), &SessionControl::OnConnected);
        QVERIFY(connectControl(*control, connected));
    }
    // Another server (another certificate) on the same address.
    const quint16 port = m_server->port();
    m_server = std::make_unique<Server>(*m_display);
    QVERIFY(m_server->start(port));
    auto control = makeControl();
    QSignalSpy connected(control.get(), &SessionControl::OnConnected);
    QSignalSpy disconnected(control.get(), &SessionControl::OnDisconnected);
    control->Connect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 30000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonCertificateRefused));
    QCOMPARE(connected.count(), 0);
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
