// The main window as the operator and the side link meet it.
#include "client/MainWindowHost.h"
#include "client/ModuleSessionControl.h"
#include "client/VbControls.h"
#include "client/clsDeviceChange.h"
#include "serverlink/SideLinkMessages.h"
#include "serverlink/SideLinkSupervisor.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "system/OnScreenKeyboard.h"
#include "system/RemovableMedia.h"

#include "Panel.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTimer>
#include <QWindow>

using namespace modGlobClientVar;
using TestSupport::child;

namespace {

// The tray form in the program: the gate and the rebuild after Save.
struct Host : MainWindowHost
{
    bool grant = true;
    std::function<void()> duringGate;
    int refreshes = 0;
    bool CheckSecurityPassword() override { return duringGate ? duringGate() : void(), grant; }
    void RefreshMainForm() override { ++refreshes; }
};

CheckBox *box(const frmClient &f, const char *name) { return child<CheckBox>(&f, name); }
QLineEdit *field(const frmClient &f, const char *name) { return child<QLineEdit>(&f, name); }
QComboBox *list(const frmClient &f, const char *name) { return child<QComboBox>(&f, name); }

// The kernel's id of the mount at path, the last one being on top; -1 when nothing is mounted there.
qint32 mountIdOf(const QString &path)
{
    qint32 id = -1;
    for (const auto &e : RemovableMedia::ParseMountInfo(TestSupport::readBytes(QStringLiteral("/proc/self/mountinfo"))))
        id = e.mountPoint == path ? e.id : id;
    return id;
}

} // namespace

class tst_frmClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> m_boxes;
    Host m_host;
    QTemporaryDir m_media; // the test's own place for removable storage

    frmClient &configurationMode()
    {
        gNotMaximized = true;
        frmClient &f = TestSupport::LoadPanel(*m_dir, {"AutoConnect=0", "txtServer=ts.example", "txtUserName=operator",
                                                       "txtPassword=secret", "chkUserPass=1", "cboResolution=3"});
        if (!QTest::qWaitFor([&] { return child(&f, "fraConfig")->isVisible(); }))
            qFatal("the window took up no mode");
        return f;
    }

private slots:
    void initTestCase()
    {
        frmClient::TimerIntervalMs = 3600 * 1000; // the tests tick by hand
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(1280, 1024));
        // Only mounts below the test's directory count, whatever the machine has mounted.
        RemovableMedia::Rule().mountRoots = {QFileInfo(m_media.path()).canonicalFilePath()};
        RemovableMedia::Rule().sysDevBlock.clear();
    }

    void init()
    {
        RecordingSessionControl::install();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        m_host = Host();
        Forms::SetHost(&m_host);
        gStartConnectLifeCnt = 3, gStartLifeCnt = 45;
        gRdpStarted = gRdpConnected = false;
        gUsersConfig.reset();
        OnScreenKeyboard::SetProgram(QString());
    }

    void cleanup()
    {
        TestSupport::UnloadForms();
        Forms::SetHost(nullptr);
        m_boxes.reset();
        m_dir.reset();
    }

    // The load and the two modes; configuration keeps the link closed, operator mode opens it.
    void modes_data()
    {
        QTest::addColumn<bool>("autoConnect");
        QTest::addColumn<bool>("frameShown");
        QTest::addColumn<bool>("notMaximized");
        QTest::newRow("connect to server cleared") << false << false << true;
        QTest::newRow("connect to server, frame shown") << true << true << false;
        QTest::newRow("operator, full screen") << true << false << false;
        QTest::newRow("operator, not maximized") << true << false << true;
    }
    void modes()
    {
        QFETCH(bool, autoConnect);
        QFETCH(bool, frameShown);
        QFETCH(bool, notMaximized);
        TestSupport::LoopbackServer server;
        gNotMaximized = notMaximized;
        gRdpStarted = gRdpConnected = true;
        // Operator mode: "Connect to Server" checked, the side link to 127.0.0.1.
        const QStringList operatorLines{"txtServer=127.0.0.1", QStringLiteral("txtPort=%1").arg(server.port()), "chkUserPass=0", "AutoConnect=1"};
        frmClient &f = TestSupport::LoadPanel(*m_dir, autoConnect ? operatorLines : QStringList{"chkUserPass=7"});
        QVERIFY(!gRdpStarted && !gRdpConnected && Forms::MsRdpClient()->isHidden() && Forms::MsRdpClient()->msts->isHidden());
        RecordingSessionControl::last()->raiseConnected(); // not started here: not counted
        QVERIFY(!gRdpConnected);
        // Names from the side link reach the status bar: shown as text, never as markup.
        QCOMPARE(child<QLabel>(&f, "stbPanel2")->textFormat(), Qt::PlainText);
        auto *winsock = child<SocketControl>(&f, "Winsock");
        if (frameShown)
            f.ShowConfigurationFrame();
        if (!autoConnect || frameShown) {
            QTRY_VERIFY(f.isActiveWindow());
            QVERIFY(!f.close() && !f.windowHandle()->close() && f.isVisible());
            QVERIFY(child(&f, "fraConfig")->isVisible() && field(f, "txtUserName")->isVisible());
            QCOMPARE(box(f, "chkUserPass")->Value(), autoConnect ? 0 : 1); // a value no box holds leaves the design's
            QVERIFY(f.Supervisor().LifeCnt() == 0 && winsock->State() == SocketControl::sckClosed && server.peers.isEmpty());
            QCOMPARE(child(&f, "cmdRemoteDesktop")->width(), 161); // 2415 twips
            return;
        }
        QTRY_VERIFY(!field(f, "txtUserName")->isEnabled() && !field(f, "txtPassword")->isEnabled());
        QVERIFY(!child(&f, "fraConfig")->isVisible() && !list(f, "cboResolution")->isEnabled());
        QCOMPARE(child(&f, "cmdRemoteDesktop")->width(), 140); // ends 60 twips before the lamp
        // Full screen, the server-version labels keep their distance from the lower edge: design top 392 of 431 pixels.
        const int frame = f.frameGeometry().height() - f.height();
        for (const char *label : {"lblServerVersion", "lblServerVersionLabel"})
            QCOMPARE(child(&f, label)->y(), notMaximized ? 392 : 1024 - (431 + frame - 392));

        // The supervisor ran at once; with the timer running a new activation leaves it alone.
        QTRY_COMPARE(winsock->State(), qint32(SocketControl::sckConnected));
        QVERIFY(child<QTimer>(&f, "timControl")->isActive());
        f.Form_Activate();
        QCoreApplication::processEvents();
        QCOMPARE(server.peers.size(), 1);

        // Only the full-screen panel is held in the top-left corner.
        f.move(40, 30);
        QTRY_COMPARE(f.pos(), notMaximized ? QPoint(40, 30) : QPoint(0, 0));

        // Unloading stops the timer and closes the link; the window goes later.
        QPointer<frmClient> gone = &f;
        Forms::UnloadClient();
        QVERIFY(!Forms::Client() && gone && !gone->isVisible() && !child<QTimer>(gone, "timControl")->isActive());
        QCOMPARE(winsock->State(), qint32(SocketControl::sckClosed));
        QTRY_VERIFY(!gone);
        QTRY_VERIFY(!server.peer() || server.peer()->state() == QAbstractSocket::UnconnectedState);
    }

    // The Client-IP field: the address the side link would use towards the server configured; once open, the one it uses.
    void clientAddress_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("address"); // empty: the link's own, once open
        QTest::newRow("loopback") << "127.0.0.1" << "127.0.0.1";
        QTest::newRow("IPv6 loopback with the session's port") << "[::1]:3389" << "::1";
        QTest::newRow("a name, once connected") << "localhost" << "";
    }
    void clientAddress()
    {
        QFETCH(QString, server);
        QFETCH(QString, address);
        TestSupport::LoopbackServer side;
        gNotMaximized = true;
        frmClient &f = TestSupport::LoadPanel(*m_dir, {"txtServer=" + server, QStringLiteral("txtPort=%1").arg(side.port()), "AutoConnect=1"});
        if (address.isEmpty())
            QTRY_VERIFY(side.peer() && !(address = side.peer()->peerAddress().toString()).isEmpty());
        QTRY_COMPARE(field(f, "txtClientIP")->text(), address);
    }

    // Each profile shown as it arrives, the list after the last; a bad resolution is refused.
    void profileList()
    {
        frmClient &f = configurationMode();
        SideLinkMessages &messages = f.Messages();
        QVERIFY(!child(&f, "cmdShutDown")->isEnabled() && !child(&f, "cmdRestart")->isEnabled()); // until the server's list
        messages.ReceiveUserProfile(1, QStringLiteral("anna"), QStringLiteral("a-pw"), 1);
        QCOMPARE(field(f, "txtUserName")->text() + field(f, "txtPassword")->text(), QStringLiteral("annaa-pw"));
        messages.ReceiveUserProfile(2, QStringLiteral("bert"), QStringLiteral("b-pw"), 4);
        QCOMPARE(TestSupport::errorOf([&] { messages.ReceiveUserProfile(3, QStringLiteral("carl"), QString(), 7); }),
                 ErrorNumbers::InvalidPropertyValue.number);
        QCOMPARE(field(f, "txtUserName")->text(), QStringLiteral("carl")); // set before the resolution failed
        f.ShowUserList();
        QComboBox *users = list(f, "cboUsername");
        QVERIFY(users->isVisible() && !field(f, "txtUserName")->isVisible() && users->count() == 3);
        QCOMPARE(list(f, "cboResolution")->currentIndex(), 1); // profile 1 in the fields
        for (const char *name : {"cmdRemoteDesktop", "cmdShutDown", "cmdRestart", "cmdKeyboard"})
            QVERIFY(child<QPushButton>(&f, name)->isEnabled() && child<QPushButton>(&f, name)->font().bold());
        users->setCurrentIndex(2);
        QVERIFY(field(f, "txtUserName")->text() == u"carl" && list(f, "cboResolution")->currentIndex() == 1);
        QCoreApplication::processEvents();
        for (int again = 0; again < 2; ++again) { // the entry already chosen, picked again: the fields anew, each time
            field(f, "txtUserName")->clear();
            emit users->activated(2);
            QCOMPARE(field(f, "txtUserName")->text(), QStringLiteral("carl"));
        }
        users->setFocus();
        QTest::keyClicks(users, QStringLiteral("ab")); // typing chooses nothing
        QCOMPARE(users->currentIndex(), 2);
        QTest::keyClick(users, Qt::Key_Up);
        QCOMPARE(field(f, "txtUserName")->text(), QStringLiteral("bert"));
        messages.ReceiveUserProfile(1, QStringLiteral("dora"), QString(), 0); // a new series
        f.ShowUserList();
        QCOMPARE(users->count(), 1);
    }

    // Written and read back whole, grayed boxes too; Save with the box cleared closes the link.
    void configurationThroughTheWindow()
    {
        frmClient &f = configurationMode();
        const QList<CheckBox *> boxes = f.findChildren<CheckBox *>();
        for (qsizetype i = 0; i < boxes.size(); ++i)
            boxes.at(i)->setValue(int(i % 3));
        // Digits only in the port, six at most, 31 characters in the server; Backspace too is cut.
        const QString typed = QStringLiteral("4a0+0-0.1 2").repeated(4);
        for (QLineEdit *edit : {field(f, "txtPort"), field(f, "txtServer")}) {
            edit->clear();
            edit->setFocus();
            QTest::keyClicks(edit, typed);
            QTest::keyClick(edit, Qt::Key_Backspace);
        }
        QCOMPARE(field(f, "txtPort")->text() + u' ' + field(f, "txtServer")->text(), "400012 " + typed.left(31));
        field(f, "txtPort")->setText(QStringLiteral("4000"));
        field(f, "txtServer")->setText(QStringLiteral("ts"));
        QTest::keyClick(field(f, "txtServer"), Qt::Key_A, Qt::ControlModifier); // below the limit control keys keep their use
        QCOMPARE(field(f, "txtServer")->selectedText(), QStringLiteral("ts"));
        list(f, "cboResolution")->setCurrentIndex(5);
        const auto held = [&] { QList<int> values; for (CheckBox *b : boxes) values << b->Value(); return values; };
        const QList<int> written = held();
        f.WriteConfigurationToFile();
        f.cmdSetDefault_Click();
        QCOMPARE(field(f, "txtServer")->text(), QStringLiteral("SERVERNAME"));
        f.ReadConfigurationFromFile();
        QCOMPARE(held(), written);
        QCOMPARE(field(f, "txtPort")->text(), QStringLiteral("4000"));
        QCOMPARE(list(f, "cboResolution")->currentIndex(), 5);

        TestSupport::LoopbackServer peer;
        auto *winsock = child<SocketControl>(&f, "Winsock");
        winsock->Connect(QStringLiteral("127.0.0.1"), peer.port());
        QTRY_COMPARE(winsock->State(), qint32(SocketControl::sckConnected));
        const QString autostart = m_dir->file(QStringLiteral("autostart-system/ClientStart.desktop"));
        box(f, "chkAutoConnect")->setValue(1);
        f.cmdSave_Click();
        QVERIFY(QFileInfo::exists(autostart));
        box(f, "chkAutoConnect")->setValue(2); // grayed keeps the link, not the autostart entry
        f.cmdSave_Click();
        QVERIFY(winsock->State() == SocketControl::sckConnected && !QFileInfo::exists(autostart));
        box(f, "chkAutoConnect")->setValue(0);
        child<QTimer>(&f, "timControl")->start();
        f.cmdSave_Click();
        QVERIFY(!child<QTimer>(&f, "timControl")->isActive());
        QCOMPARE(winsock->State(), qint32(SocketControl::sckClosed));
        QCOMPARE(f.PanelText(1), QStringLiteral("Not connected"));
        QTRY_COMPARE(m_host.refreshes, 3);
    }

    // Composed characters (dead keys, compose, input methods) pass the key filters as typed ones; the composing part shows.
    void composedInputIsFiltered_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("composed");
        QTest::addColumn<QString>("after");
        QTest::newRow("port: digits only") << "txtPort" << "" << QString::fromUtf8("1é2^3") << "123";
        QTest::newRow("port: six at most") << "txtPort" << "12345" << "678" << "123456";
        QTest::newRow("server: any character") << "txtServer" << "ts" << QString::fromUtf8("ü.é") << QString::fromUtf8("tsü.é");
        QTest::newRow("server: 31 at most") << "txtServer" << QString(30, u's') << QString::fromUtf8("éé") << QString(30, u's') + QString::fromUtf8("é");
    }
    void composedInputIsFiltered()
    {
        QFETCH(QString, name);
        QFETCH(QString, composed);
        QLineEdit *edit = field(configurationMode(), qPrintable(name));
        QFETCH(QString, before);
        edit->setText(before);
        QInputMethodEvent event(QStringLiteral("`"), {});
        event.setCommitString(composed);
        QCoreApplication::sendEvent(edit, &event);
        QTEST(edit->text(), "after");
        QCOMPARE(edit->inputMethodQuery(Qt::ImSurroundingText).toString(), edit->text()); // the composing "`" is no text yet
    }

    // The buttons: a refused entry says why; with the server in charge the request names the chosen profile.
    void panelButtons()
    {
        frmClient &f = configurationMode();
        field(f, "txtServer")->clear();
        f.cmdRemoteDesktop_Click();
        QCOMPARE(m_boxes->calls.value(0).text, QStringLiteral("Please enter a Server address"));
        QCOMPARE(m_boxes->calls.value(0).style, int(MsgBox::OkOnly));
        QCOMPARE(f.focusWidget(), field(f, "txtServer"));

        TestSupport::LoopbackServer server;
        field(f, "txtServer")->setText(QStringLiteral("127.0.0.1"));
        field(f, "txtPort")->setText(QString::number(server.port()));
        box(f, "chkAutoConnect")->setValue(1);
        f.cmdRemoteDesktop_Click(); // the link is down
        QCOMPARE(f.PanelText(2),
                 QStringLiteral("error:40006 Wrong protocol or connection state for the requested transaction or request"));
        QTRY_VERIFY(child<SocketControl>(&f, "Winsock")->State() == SocketControl::sckConnected && server.peer());
        f.Messages().ReceiveUserProfile(1, QStringLiteral("anna"), QStringLiteral("secret"), 3);
        f.Messages().ReceiveUserProfile(2, QStringLiteral("bert"), QStringLiteral("secret"), 3);
        f.ShowUserList();
        list(f, "cboUsername")->setCurrentIndex(1);
        f.cmdRemoteDesktop_Click();
        QTRY_COMPARE(server.received, QByteArray("@#cmd:10##Argument:2###@"));
        QVERIFY(f.isVisible() && !gRdpStarted && m_boxes->calls.size() == 1);

        // Restart and Turn Off ask the server after the gate, also from a window unloaded meanwhile.
        server.received.clear();
        const auto click = [&](const char *name, bool grant) {
            m_host.grant = grant;
            child<QPushButton>(&f, name)->setEnabled(true);
            QTest::mouseClick(child<QPushButton>(&f, name), Qt::LeftButton);
        };
        click("cmdRestart", true);
        click("cmdShutDown", false);
        click("cmdShutDown", true);
        OnScreenKeyboard::SetProgram(QStringLiteral("veskora-no-such-keyboard"));
        const QString panel2 = f.PanelText(2);
        click("cmdKeyboard", false);
        QCOMPARE(f.PanelText(2), panel2);
        QCOMPARE(m_boxes->calls.last().text, QStringLiteral("The On-Screen Keyboard could not be started: veskora-no-such-keyboard was not found"));
        m_host.grant = true;
        m_host.duringGate = [] { Forms::UnloadClient(); };
        f.cmdRestart_Click();
        QTRY_COMPARE(server.received, QByteArray("@#cmd:12##Argument:1###@@#cmd:12##Argument:3###@"));
    }

    // A session window per connection; a refused value or no module brings the main window back.
    void connectToServer()
    {
        frmClient &f = configurationMode();
        f.cmdRemoteDesktop_Click();
        QPointer<RecordingSessionControl> first = RecordingSessionControl::last();
        frmMsRdpClient *session = Forms::MsRdpClient();
        QVERIFY(first && session->msts == first && first->calls.contains({QStringLiteral("Connect"), {}}));
        QVERIFY(!f.isVisible() && session->isVisible() && first->isVisible() && gRdpStarted);
        QCOMPARE(session->frameGeometry().topLeft(), QPoint(1, 1));
        QVERIFY(first->geometry() == QRect(0, 0, 1024, 768) && session->size() == first->size() && session->maximumSize() == first->size());
        first->raiseConnected();
        QVERIFY(gRdpConnected);
        // Only arrivals and removals of media reach the control; its refusal changes nothing.
        first->notifyError = 40006;
        const quint32 dc = clsDeviceChange::WM_DEVICECHANGE;
        for (const auto &[msg, wParam] : {std::pair{dc, 0x8000u}, {dc, 0x8004u}, {dc, 0x8001u}, {0x0218u, 0x8000u}})
            QCOMPARE(modDeviceChange::DeviceChangeProc(session, msg, wParam, -1), 0);
        QCOMPARE(first->calls.last(2), (QList<RecordingSessionControl::Call>{{"NotifyRedirectDeviceChange", QVariantList{0x8000u, -1}},
                                                                              {"NotifyRedirectDeviceChange", QVariantList{0x8004u, -1}}}));
        // Closing a running session ends it through the control; its end brings the window back.
        QVERIFY(!session->close() && first->calls.contains({QStringLiteral("Disconnect"), {}}) && session->isVisible());
        first->raiseDisconnected(2);
        QVERIFY(f.isVisible() && !session->isVisible() && first->isHidden() && !gRdpStarted && !gRdpConnected);
        QVERIFY(!session->close()); // none running: nothing to end
        f.cmdRemoteDesktop_Click();
        first = RecordingSessionControl::last();
        first->raiseConnected();

        // A new connection while one runs: the old window goes first.
        SessionControlFactory::Set([](QWidget *p) { auto *c = new RecordingSessionControl(p); return c->refuseSetting = "DesktopWidth", c; });
        QCOMPARE(TestSupport::errorOf([&] { f.ConnectToServer(); }), ErrorNumbers::InvalidPropertyValue.number);
        QVERIFY(!first);
        QVERIFY(f.isVisible() && !Forms::MsRdpClient()->isVisible() && !gRdpStarted && !gRdpConnected);

        // Without the session module the attempt ends the same way, with the loader's reason.
        ModuleSessionControl::ModulePath() = m_dir->file(QStringLiteral("libveskora-session.so"));
        const auto defaultModule = qScopeGuard([] { ModuleSessionControl::ModulePath().clear(); });
        SessionControlFactory::Set([](QWidget *parent) { return new ModuleSessionControl(parent); });
        f.cmdRemoteDesktop_Click();
        QVERIFY2(f.PanelText(2).startsWith(QLatin1String("error:429 The remote desktop module could not be loaded: "))
                     && f.PanelText(2).contains(ModuleSessionControl::ModulePath()), qPrintable(f.PanelText(2)));
        QVERIFY(f.isVisible() && !Forms::MsRdpClient()->isVisible() && !gRdpStarted);

        list(f, "cboResolution")->setEditText(QStringLiteral("800"));
        session = Forms::MsRdpClient();
        QCOMPARE(TestSupport::errorOf([&] { f.ConnectToServer(); }), ErrorNumbers::InvalidPropertyValue.number);
        QCOMPARE(Forms::MsRdpClient(), session);
    }

    // The window rebuilt while a session runs (the tray's Configuration) leaves it running, shown
    // and counted; closing its window still ends it.
    void rebuildDuringSession()
    {
        configurationMode().cmdRemoteDesktop_Click();
        const QPointer<RecordingSessionControl> control = RecordingSessionControl::last();
        control->raiseConnected();
        Forms::UnloadClient();
        frmClient &rebuilt = Forms::LoadClient();
        QVERIFY(rebuilt.isVisible() && control && control->isVisible() && gRdpStarted && gRdpConnected);
        QVERIFY(!Forms::MsRdpClient()->close() && control->calls.last().first == u"Disconnect");
        QVERIFY(gRdpStarted && !gRdpConnected); // ending
        control->raiseDisconnected(0);
        QVERIFY(!gRdpStarted && rebuilt.isVisible() && !Forms::MsRdpClient()->isVisible());
    }

    // Real mounts become messages, escaped names too; a handler may end the watch.
    void realMountsBecomeMessages()
    {
        using TestSupport::TmpfsMount;
        if (const QString why = TmpfsMount::refusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        const QString root = RemovableMedia::Rule().mountRoots.first(), presentPath = root + "/MY DISK\tA\\B";
        QTemporaryDir elsewhere;
        TmpfsMount present(presentPath);
        QVERIFY2(present.mounted(), qPrintable(present.error()));
        const qint32 presentId = mountIdOf(presentPath);
        QWidget window;
        auto watcher = std::make_unique<clsDeviceChange>();
        QSignalSpy spy(watcher.get(), &clsDeviceChange::DeviceChanged);
        watcher->SubClass(&window);
        // A mount outside the media directory comes first: a message of its own would arrive first.
        TmpfsMount other(elsewhere.filePath(QStringLiteral("disk"))), stick(root + QStringLiteral("/STICK"));
        QVERIFY2(other.mounted() && stick.mounted() && presentId > 0, qPrintable(stick.error()));
        const qint32 id = mountIdOf(root + QStringLiteral("/STICK"));
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy, (QList<QVariantList>{{clsDeviceChange::DBT_DEVICEARRIVAL, id}}));
        QVERIFY(other.unmount() && stick.unmount() && present.unmount());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 5000);
        QVERIFY(spy.contains(QVariantList{clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, id}));
        QVERIFY(spy.contains(QVariantList{clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, presentId}));
        connect(watcher.get(), &clsDeviceChange::DeviceChanged, this, [&] { watcher.reset(); });
        TmpfsMount a(root + QStringLiteral("/A")), b(root + QStringLiteral("/B"));
        QVERIFY(a.mounted() && b.mounted());
        QTRY_VERIFY_WITH_TIMEOUT(!watcher, 5000);
        QCOMPARE(spy.size(), 4);
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
    }
};

int main(int argc, char **argv)
{
    // A panel screen of 1280 x 1024 at 96 dots per inch, with window frames.
    QTemporaryFile config(QDir::tempPath() + QStringLiteral("/tst_frmClient-XXXXXX.json"));
    if (!config.open() || !config.write(R"({"windowFrameMargins": true, "screens": [{"name": "panel", "x": 0, "y": 0,
                 "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") || !config.flush())
        return 1;
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    QApplication app(argc, argv);
    tst_frmClient test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmClient.moc"
