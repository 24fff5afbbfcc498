// The session control on its own, against real sockets on 127.0.0.1: the values it refuses,
// the calls it refuses, how failing attempts end (refused, unknown name, a silent server and
// its time limit, Disconnect, destruction), the keyboard table and the ports it offers.
#include "rdp/FreeRdpSessionControl.h"

#include "platform/ErrorNumbers.h"
#include "rdp/RdpSettings.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using Setter = std::function<void(FreeRdpSessionControl &)>;
Q_DECLARE_METATYPE(Setter)

class tst_FreeRdpSessionControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }
    void valueRefused_data();
    void valueRefused();
    void callsRefused();
    void scanCodes_data();
    void scanCodes();
    void attemptEnds_data();
    void attemptEnds();
    void destroyWhileConnecting();
    void portsOffered();

private:
    QTemporaryDir m_config;
};

void tst_FreeRdpSessionControl::valueRefused_data()
{
    QTest::addColumn<Setter>("set");
    QTest::addColumn<bool>("taken");
    const auto row = [](const char *name, Setter set, bool taken) { QTest::newRow(name) << set << taken; };
    row("server name", [](auto &c) { c.setServer(QStringLiteral("ts01")); }, true);
    row("v6 with port", [](auto &c) { c.setServer(QStringLiteral("[::1]:3390")); }, true);
    row("port zero", [](auto &c) { c.setServer(QStringLiteral("ts01:0")); }, false);
    row("port too large", [](auto &c) { c.setServer(QStringLiteral("ts01:65536")); }, false);
    row("port not a number", [](auto &c) { c.setServer(QStringLiteral("ts01:rdp")); }, false);
    row("blank in name", [](auto &c) { c.setServer(QStringLiteral("ts 01")); }, false);
    row("socket stand-in", [](auto &c) { c.setServer(QStringLiteral("|5")); }, false);
    row("no host before port", [](auto &c) { c.setServer(QStringLiteral(":3389")); }, false);
    row("smallest desktop", [](auto &c) { c.setDesktopWidth(200); }, true);
    row("width too small", [](auto &c) { c.setDesktopWidth(199); }, false);
    row("width too large", [](auto &c) { c.setDesktopWidth(8193); }, false);
    row("height negative", [](auto &c) { c.setDesktopHeight(-768); }, false);
    row("full screen 1", [](auto &c) { c.SecuredSettings()->setFullScreen(1); }, true);
    row("full screen 2", [](auto &c) { c.SecuredSettings()->setFullScreen(2); }, false);
    row("bitmap -1", [](auto &c) { c.AdvancedSettings3()->setBitmapPeristence(-1); }, false);
    row("compress 2", [](auto &c) { c.AdvancedSettings3()->setCompress(2); }, false);
    row("all performance boxes", [](auto &c) { c.AdvancedSettings3()->setPerformanceFlags(0x7F); }, true);
    row("unknown flag", [](auto &c) { c.AdvancedSettings3()->setPerformanceFlags(0x200); }, false);
    row("negative flags", [](auto &c) { c.AdvancedSettings3()->setPerformanceFlags(-1); }, false);
    row("user name of 256", [](auto &c) { c.setUserName(QString(256, u'u')); }, false);
}

void tst_FreeRdpSessionControl::valueRefused()
{
    QFETCH(Setter, set);
    QFETCH(bool, taken);
    FreeRdpSessionControl control;
    try {
        set(control);
        QVERIFY(taken);
    } catch (const VbError &e) {
        QVERIFY(!taken);
        QCOMPARE(e.number(), ErrorNumbers::InvalidPropertyValue.number);
        QCOMPARE(control.Server(), QString());
        QCOMPARE(control.DesktopWidth(), 800);
    }
}

// Settings, a second Connect and a device change while a session runs, Connect without a
// server, a device change without a session: refused at once, and nothing starts.
void tst_FreeRdpSessionControl::callsRefused()
{
    FreeRdpSessionControl control;
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setRedirectDrives(true);
    QVERIFY_THROWS_EXCEPTION(VbError, control.Connect());
    QVERIFY_THROWS_EXCEPTION(VbError, control.NonScriptable()->NotifyRedirectDeviceChange(0x8000, 0));
    QVERIFY(!control.isSessionRunning());
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    control.setServer(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    control.Connect();
    QVERIFY_THROWS_EXCEPTION(VbError, control.setDesktopWidth(1024));
    QVERIFY_THROWS_EXCEPTION(VbError, control.AdvancedSettings3()->setPerformanceFlags(1));
    QVERIFY_THROWS_EXCEPTION(VbError, control.NonScriptable()->setClearTextPassword(QStringLiteral("x")));
    QVERIFY_THROWS_EXCEPTION(VbError, control.NonScriptable()->NotifyRedirectDeviceChange(0x8000, 0));
    QVERIFY_THROWS_EXCEPTION(VbError, control.Connect());
    QCOMPARE(control.DesktopWidth(), 800);
    QCOMPARE(disconnected.count(), 0);
}

void tst_FreeRdpSessionControl::scanCodes_data()
{
    QTest::addColumn<quint32>("keyCode");
    QTest::addColumn<quint32>("scanCode");
    QTest::newRow("a") << 38u << 0x1Eu;
    QTest::newRow("escape") << 9u << 0x01u;
    QTest::newRow("right arrow, extended") << 114u << 0x14Du;
    QTest::newRow("right control, extended") << 105u << 0x11Du;
    QTest::newRow("below the table") << 7u << 0u;
    QTest::newRow("above the table") << 256u << 0u;
}

void tst_FreeRdpSessionControl::scanCodes()
{
    QFETCH(quint32, keyCode);
    QFETCH(quint32, scanCode);
    QCOMPARE(FreeRdpSessionControl::scanCodeForX11KeyCode(keyCode), scanCode);
}

// Connect returns at once; the attempt then ends with one OnDisconnected and its reason, after
// which the control is ready for the next one.
void tst_FreeRdpSessionControl::attemptEnds_data()
{
    QTest::addColumn<QString>("server"); // "silent": a peer that accepts and never answers
    QTest::addColumn<bool>("disconnect"); // once the client waits inside the protocol
    QTest::addColumn<int>("reason");
    QTest::newRow("nothing listens") << "refused" << false << int(FreeRdpSessionControl::ReasonConnectionRefused);
    QTest::newRow("unknown name") << "no-such-panel-server.invalid" << false << int(FreeRdpSessionControl::ReasonNameNotFound);
    QTest::newRow("silent, time limit") << "silent" << false << int(FreeRdpSessionControl::ReasonTimedOut);
    QTest::newRow("silent, Disconnect") << "silent" << true << int(FreeRdpSessionControl::ReasonLocal);
}

void tst_FreeRdpSessionControl::attemptEnds()
{
    QFETCH(QString, server);
    QFETCH(bool, disconnect);
    QFETCH(int, reason);
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    const quint16 port = listener.serverPort();
    if (server == QLatin1String("refused"))
        listener.close();
    FreeRdpSessionControl control;
    QSignalSpy connected(&control, &SessionControl::OnConnected);
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.setServer(server.contains(u'.') ? server : QStringLiteral("127.0.0.1:%1").arg(port));
    control.setUserName(QStringLiteral("panel"));
    control.NonScriptable()->setClearTextPassword(QStringLiteral("secret"));
    control.setConnectTimeLimit(reason == FreeRdpSessionControl::ReasonTimedOut ? 1500 : 30000);
    control.Connect();
    QVERIFY(control.isSessionRunning());
    if (disconnect) {
        // The client's first request arrives: the attempt is inside the protocol, waiting.
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), 20000);
        QTcpSocket *peer = listener.nextPendingConnection();
        QTRY_VERIFY_WITH_TIMEOUT(peer->bytesAvailable() > 0 || peer->waitForReadyRead(100), 20000);
        control.Disconnect();
    }
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 60000);
    QCOMPARE(disconnected.at(0).at(0).toInt(), reason);
    QVERIFY(!control.isSessionRunning());
    QCOMPARE(connected.count(), 0);
    // Nothing is left that could report again; a new attempt can start.
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
    // The client's side of the connection is closed with it, and nothing more is told.
    QTRY_VERIFY_WITH_TIMEOUT(peer->state() == QAbstractSocket::UnconnectedState || peer->waitForDisconnected(100), 20000);
    QCoreApplication::processEvents();
    QCOMPARE(events, 0);
}

void tst_FreeRdpSessionControl::portsOffered()
{
    QTemporaryDir dev;
    for (const char *name : {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS4", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyACM0", "lp0",
                             "lp1", "tty0", "null", "ttyUSB10"})
        QVERIFY(QFile(dev.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly));
    QStringList seen;
    for (const auto &[name, path] : RdpSettings::portDevices(dev.path()))
        seen << name + u'=' + QFileInfo(path).fileName();
    QCOMPARE(seen, QStringList({"COM1=ttyS0", "COM2=ttyS1", "COM3=ttyS2", "COM4=ttyS3", "COM5=ttyUSB0", "COM6=ttyUSB1",
                                "COM7=ttyUSB10", "COM8=ttyACM0", "LPT1=lp0", "LPT2=lp1"}));
    QVERIFY(RdpSettings::portDevices(dev.filePath(QStringLiteral("missing"))).isEmpty());
}

QTEST_MAIN(tst_FreeRdpSessionControl)
#include "tst_FreeRdpSessionControl.moc"
