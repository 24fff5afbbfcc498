// The session control on its own, against real sockets on 127.0.0.1: settings it takes and
// refuses, the events of attempts that fail, a stalled connect ended by the time limit, by
// Disconnect and by destruction, the full-screen connection bar, the keyboard table.
#include "rdp/FreeRdpSessionControl.h"

#include "platform/ErrorNumbers.h"
#include "rdp/RdpSettings.h"

#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <functional>

class tst_FreeRdpSessionControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void settingTaken_data();
    void settingTaken();
    void settingRefused_data();
    void settingRefused();
    void settingsRefusedWhileRunning();
    void connectWithoutServerRaises();
    void notifyWithoutSessionRaises();
    void scanCodes_data();
    void scanCodes();
    void refusedPort();
    void nameNotFound();
    void silentServerTimesOut();
    void disconnectWhileConnecting();
    void destroyWhileConnecting();
    void fullScreenConnectionBar();
    void portsOffered();

private:
    static quint16 freePort();
    QTemporaryDir m_config;
};

using Setter = std::function<void(FreeRdpSessionControl &)>;
Q_DECLARE_METATYPE(Setter)

void tst_FreeRdpSessionControl::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
}

quint16 tst_FreeRdpSessionControl::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

void tst_FreeRdpSessionControl::settingTaken_data()
{
    QTest::addColumn<Setter>("set");
    QTest::addColumn<QString>("check");
    auto row = [](const char *name, Setter s, const char *check) { QTest::newRow(name) << s << QString::fromLatin1(check); };
    row("server name", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("ts01")); }, "Server=ts01");
    row("server with port", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("10.0.0.5:3390")); },
        "Server=10.0.0.5:3390");
    row("v6 with port", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("[::1]:3390")); }, "Server=[::1]:3390");
    row("smallest desktop", [](FreeRdpSessionControl &c) { c.setDesktopWidth(200); }, "DesktopWidth=200");
    row("panel desktop", [](FreeRdpSessionControl &c) { c.setDesktopHeight(1024); }, "DesktopHeight=1024");
    row("full screen", [](FreeRdpSessionControl &c) { c.SecuredSettings()->setFullScreen(1); }, "FullScreen=1");
    row("all performance boxes", [](FreeRdpSessionControl &c) { c.AdvancedSettings3()->setPerformanceFlags(0x7F); },
        "PerformanceFlags=127");
    row("bitmap persistence", [](FreeRdpSessionControl &c) { c.AdvancedSettings3()->setBitmapPeristence(1); },
        "BitmapPeristence=1");
    row("compress", [](FreeRdpSessionControl &c) { c.AdvancedSettings3()->setCompress(1); }, "Compress=1");
}

static QString describe(const FreeRdpSessionControl &c, const QString &name)
{
    if (name == QLatin1String("Server"))
        return c.Server();
    if (name == QLatin1String("DesktopWidth"))
        return QString::number(c.DesktopWidth());
    if (name == QLatin1String("DesktopHeight"))
        return QString::number(c.DesktopHeight());
    if (name == QLatin1String("FullScreen"))
        return QString::number(c.FullScreen());
    if (name == QLatin1String("PerformanceFlags"))
        return QString::number(c.PerformanceFlags());
    if (name == QLatin1String("BitmapPeristence"))
        return QString::number(c.BitmapPeristence());
    if (name == QLatin1String("Compress"))
        return QString::number(c.Compress());
    return QString();
}

void tst_FreeRdpSessionControl::settingTaken()
{
    QFETCH(Setter, set);
    QFETCH(QString, check);
    FreeRdpSessionControl control;
    set(control);
    const QString name = check.section(QLatin1Char('='), 0, 0);
    QCOMPARE(describe(control, name), check.section(QLatin1Char('='), 1));
}

void tst_FreeRdpSessionControl::settingRefused_data()
{
    QTest::addColumn<Setter>("set");
    auto row = [](const char *name, Setter s) { QTest::newRow(name) << s; };
    row("port zero", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("ts01:0")); });
    row("port too large", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("ts01:65536")); });
    row("port not a number", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("ts01:rdp")); });
    row("blank in name", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("ts 01")); });
    row("socket stand-in", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral("|5")); });
    row("no host before port", [](FreeRdpSessionControl &c) { c.setServer(QStringLiteral(":3389")); });
    row("width too small", [](FreeRdpSessionControl &c) { c.setDesktopWidth(199); });
    row("height negative", [](FreeRdpSessionControl &c) { c.setDesktopHeight(-768); });
    row("width too large", [](FreeRdpSessionControl &c) { c.setDesktopWidth(8193); });
    row("full screen 2", [](FreeRdpSessionControl &c) { c.SecuredSettings()->setFullScreen(2); });
    row("bitmap -1", [](FreeRdpSessionControl &c) { c.AdvancedSettings3()->setBitmapPeristence(-1); });
    row("compress 2", [](FreeRdpSessionControl &c) { c.AdvancedSettings3()->setCompress(2); });
    row("unknown flag", [](FreeRdpSessionControl &c) { c.AdvancedSettings3()->setPerformanceFlags(0x200); });
    row("negative flags", [](FreeRdpSessionControl &c) { c.AdvancedSettings3()->setPerformanceFlags(-1); });
}

void tst_FreeRdpSessionControl::settingRefused()
{
    QFETCH(Setter, set);
    FreeRdpSessionControl control;
    const QString serverBefore = control.Server();
    try {
        set(control);
        QFAIL("the setting was taken");
    } catch (const VbError &e) {
        QCOMPARE(e.number(), ErrorNumbers::InvalidPropertyValue.number);
    }
    QCOMPARE(control.Server(), serverBefore);
}

void tst_FreeRdpSessionControl::settingsRefusedWhileRunning()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    FreeRdpSessionControl control;
    control.setServer(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    control.Connect();
    QVERIFY_THROWS_EXCEPTION(VbError, control.setDesktopWidth(1024));
    QVERIFY_THROWS_EXCEPTION(VbError, control.AdvancedSettings3()->setPerformanceFlags(1));
    QVERIFY_THROWS_EXCEPTION(VbError, control.NonScriptable()->setClearTextPassword(QStringLiteral("x")));
    QVERIFY_THROWS_EXCEPTION(VbError, control.Connect());
    QCOMPARE(control.DesktopWidth(), 800);
}

void tst_FreeRdpSessionControl::connectWithoutServerRaises()
{
    FreeRdpSessionControl control;
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    QVERIFY_THROWS_EXCEPTION(VbError, control.Connect());
    QVERIFY(!control.isSessionRunning());
    QCOMPARE(disconnected.count(), 0);
}

void tst_FreeRdpSessionControl::notifyWithoutSessionRaises()
{
    FreeRdpSessionControl control;
    control.setRedirectDrives(true);
    QVERIFY_THROWS_EXCEPTION(VbError, control.NonScriptable()->NotifyRedirectDeviceChange(0x8000, 0));
}

void tst_FreeRdpSessionControl::scanCodes_data()
{
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<quint32>("scanCode");
    QTest::newRow("a") << 38u << 0x1Eu;
    QTest::newRow("escape") << 9u << 0x01u;
    QTest::newRow("caps lock") << 66u << 0x3Au;
    QTest::newRow("right arrow, extended") << 114u << 0x14Du;
    QTest::newRow("right control, extended") << 105u << 0x11Du;
    QTest::newRow("below the table") << 7u << 0u;
    QTest::newRow("zero") << 0u << 0u;
    QTest::newRow("above the table") << 256u << 0u;
    QTest::newRow("far above") << 0x10000u << 0u;
}

void tst_FreeRdpSessionControl::scanCodes()
{
    QFETCH(quint32, keyCode);
    QFETCH(quint32, scanCode);
    QCOMPARE(FreeRdpSessionControl::scanCodeForX11KeyCode(keyCode), scanCode);
}

void tst_FreeRdpSessionControl::refusedPort()
{
    const quint16 port = freePort();
    QVERIFY(port != 0);
    FreeRdpSessionControl control;
    QSignalSpy connected(&control, &SessionControl::OnConnected);
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setServer(QStringLiteral("127.0.0.1:%1").arg(port));
    control.setUserName(QStringLiteral("panel"));
    control.NonScriptable()->setClearTextPassword(QStringLiteral("secret"));
    control.Connect();
    QVERIFY(control.isSessionRunning()); // Connect returned before the outcome
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 20000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonConnectionRefused));
    QCOMPARE(connected.count(), 0);
    QVERIFY(!control.isSessionRunning());
}

void tst_FreeRdpSessionControl::nameNotFound()
{
    FreeRdpSessionControl control;
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setServer(QStringLiteral("no-such-panel-server.invalid"));
    control.Connect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 40000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonNameNotFound));
}

void tst_FreeRdpSessionControl::silentServerTimesOut()
{
    // Accepts the connection and never says a word.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    FreeRdpSessionControl control;
    QSignalSpy connected(&control, &SessionControl::OnConnected);
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setServer(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    control.setConnectTimeLimit(1500);
    control.Connect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 60000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonTimedOut));
    QCOMPARE(connected.count(), 0);
}

void tst_FreeRdpSessionControl::disconnectWhileConnecting()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    FreeRdpSessionControl control;
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setServer(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    control.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 20000);
    QTcpSocket *peer = silent.nextPendingConnection();
    // The client's first request arrives: the attempt is inside the protocol, waiting.
    QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() > 0 || peer->waitForReadyRead(100), 20000);
    control.Disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 60000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonLocal));
    QVERIFY(!control.isSessionRunning());
    // The session is gone, so nothing can report a second time; a new attempt can start.
    control.Connect();
    control.Disconnect();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 2, 60000);
}

void tst_FreeRdpSessionControl::destroyWhileConnecting()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    int events = 0;
    auto *control = new FreeRdpSessionControl;
    connect(control, &SessionControl::OnDisconnected, this, [&events] { ++events; });
    connect(control, &SessionControl::OnConnected, this, [&events] { ++events; });
    control->setServer(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    control->Connect();
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 20000);
    QTcpSocket *peer = silent.nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() > 0 || peer->waitForReadyRead(100), 20000);
    delete control; // stops and joins the worker
    // The client's side of the connection is closed with it.
    QTRY_VERIFY_WITH_TIMEOUT(peer->state() == QAbstractSocket::UnconnectedState || peer->waitForDisconnected(100), 20000);
    QCoreApplication::processEvents();
    QCOMPARE(events, 0);
}

void tst_FreeRdpSessionControl::fullScreenConnectionBar()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QWidget window;
    window.resize(640, 480);
    auto *control = new FreeRdpSessionControl(&window);
    control->setGeometry(0, 0, 640, 480);
    QSignalSpy disconnected(control, &SessionControl::OnDisconnected);
    const QString server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
    control->setServer(server);
    control->SecuredSettings()->setFullScreen(1);
    control->AdvancedSettings3()->setDisplayConnectionBar(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *bar = control->findChild<QWidget *>(QStringLiteral("connectionBar"));
    QVERIFY(bar);
    QVERIFY(!bar->isVisible()); // no session, no bar
    control->Connect();
    QTRY_VERIFY(window.isFullScreen());
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->y(), 0);
    QCOMPARE(control->findChild<QLabel *>(QStringLiteral("lblConnectionBarServer"))->text(), server);
    auto *close = control->findChild<QToolButton *>(QStringLiteral("cmdConnectionBarClose"));
    QVERIFY(close);
    close->click();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 60000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), int(FreeRdpSessionControl::ReasonLocal));
    QVERIFY(!bar->isVisible());
}

void tst_FreeRdpSessionControl::portsOffered()
{
    QTemporaryDir dev;
    for (const char *name : {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS4", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyACM0",
                             "lp0", "lp1", "tty0", "null", "ttyUSB10"}) {
        QFile f(dev.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const auto ports = RdpSettings::portDevices(dev.path());
    QStringList seen;
    for (const auto &p : ports)
        seen << p.first + QLatin1Char('=') + QFileInfo(p.second).fileName();
    QCOMPARE(seen, QStringList({"COM1=ttyS0", "COM2=ttyS1", "COM3=ttyS2", "COM4=ttyS3", "COM5=ttyUSB0",
                                "COM6=ttyUSB1", "COM7=ttyUSB10", "COM8=ttyACM0", "LPT1=lp0", "LPT2=lp1"}));
    QVERIFY(RdpSettings::portDevices(dev.filePath(QStringLiteral("missing"))).isEmpty());
}

QTEST_MAIN(tst_FreeRdpSessionControl)
#include "tst_FreeRdpSessionControl.moc"
