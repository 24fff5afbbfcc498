// The tray form: its icon and menu, the gate before Configuration and Exit, the main window
// it owns and rebuilds, the about box, and the order in which Exit ends the program.
#include "Version.h"
#include "client/Forms.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmAboutClient.h"
#include "shell/frmClientTrayIcon.h"

#include "DialogScript.h"
#include "Panel.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>

using namespace modGlobClientVar;

namespace {

// Calls back once when a widget is hidden.
struct HideWatcher : QObject
{
    std::function<void()> onHide;
    HideWatcher(QWidget *widget, std::function<void()> f) : onHide(std::move(f)) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && onHide)
            std::exchange(onHide, nullptr)();
        return false;
    }
};

SocketControl *winsock(QObject *client)
{
    return TestSupport::child<SocketControl>(client, "Winsock");
}

void rightClick(QWidget *widget)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(widget, &event);
}

} // namespace

class tst_TrayIcon : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;
    QTcpServer peer;
    int endCalls = 0;
    std::function<void()> onEnd;

    frmClientTrayIcon &tray() { return *frmClientTrayIcon::Instance(); }
    QMenu *menu() { return tray().findChild<QMenu *>(QStringLiteral("mnuTrayMenu")); }
    QAction *action(const char *name) { return tray().findChild<QAction *>(QLatin1String(name)); }
    QSystemTrayIcon *icon() { return tray().findChild<QSystemTrayIcon *>(QStringLiteral("trayIcon")); }

    // The main window's side link connected to a loopback peer; returns the peer's end.
    QTcpSocket *connectLink()
    {
        frmClient *client = Forms::Client();
        QSignalSpy connected(winsock(client), &SocketControl::Connected);
        winsock(client)->Connect(QStringLiteral("127.0.0.1"), peer.serverPort());
        if (!connected.wait(5000) || !QTest::qWaitFor([&] { return peer.hasPendingConnections(); }))
            return nullptr;
        return peer.nextPendingConnection();
    }

private slots:
    void init()
    {
        QVERIFY(peer.isListening() || peer.listen(QHostAddress::LocalHost));
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        RecordingSessionControl::install();
        gSecurityEnabled = true;
        gNotMaximized = true;
        endCalls = 0;
        onEnd = nullptr;
        frmClientTrayIcon::SetEndProgram([this] {
            ++endCalls;
            if (onEnd)
                onEnd();
        });
        frmClientTrayIcon::Load();
        QVERIFY(Forms::Client());
    }

    void cleanup()
    {
        for (frmEnterPassword *p = frmEnterPassword::Instance(); p; p = frmEnterPassword::Instance())
            p->Unload();
        for (frmPassDefine *d = frmPassDefine::Instance(); d; d = frmPassDefine::Instance())
            d->Unload();
        if (frmAboutClient *a = frmAboutClient::Instance())
            a->close();
        Forms::UnloadMsRdpClient();
        Forms::UnloadClient();
        delete frmClientTrayIcon::Instance();
        frmClientTrayIcon::SetEndProgram({});
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        boxes.reset();
        dir.reset();
    }

    // A double click with the window hidden and the Configuration entry pass the gate, then
    // rebuild the main window from the stored configuration with its configuration frame
    // shown; a refused gate keeps the window and its edits.
    void configuration_data()
    {
        QTest::addColumn<bool>("viaMenu");
        QTest::addColumn<bool>("granted");
        QTest::newRow("menu, password right") << true << true;
        QTest::newRow("menu, password refused") << true << false;
        QTest::newRow("double click, password right") << false << true;
        QTest::newRow("double click, password refused") << false << false;
    }
    void configuration()
    {
        QFETCH(bool, viaMenu);
        QFETCH(bool, granted);
        dir->write(QStringLiteral("Client.cfg"), {"[Client]", "txtServer=stored-host"});
        tray().RefreshMainForm();
        QPointer<frmClient> before = Forms::Client();
        const auto server = [](frmClient *f) { return TestSupport::child<QLineEdit>(f, "txtServer"); };
        QCOMPARE(server(before)->text(), QStringLiteral("stored-host"));
        server(before)->setText(QStringLiteral("unsaved"));
        if (!viaMenu)
            before->hide();
        DialogScript script;
        script.answerPrompt(granted).start();
        if (viaMenu)
            action("mnuConfiguration")->trigger();
        else
            emit icon()->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(script.finished() && !frmEnterPassword::Instance());
        if (granted) {
            QTRY_VERIFY(before.isNull());
            frmClient *now = Forms::Client();
            QCOMPARE(server(now)->text(), QStringLiteral("stored-host"));
            QVERIFY(now->isVisible() && TestSupport::child(now, "fraConfig")->isVisible());
        } else {
            QCOMPARE(Forms::Client(), before.data());
            QCOMPARE(server(before)->text(), QStringLiteral("unsaved"));
            QCOMPARE(before->isVisible(), viaMenu);
        }
    }

    // About and Security open their windows without the gate. The about box shows the
    // program's version, one box at a time, closed by OK, Enter, Esc or its close box.
    void aboutAndSecurityWithoutPrompt()
    {
        for (const char *how : {"ok", "enter", "escape", "close"}) {
            action("mnuAbout")->trigger();
            QTRY_VERIFY(frmAboutClient::Instance() && frmAboutClient::Instance()->isVisible());
            QPointer<frmAboutClient> box = frmAboutClient::Instance();
            QVERIFY(!box->parentWidget() && !box->isModal() && &frmAboutClient::ShowBox() == box);
            QCOMPARE(TestSupport::child<QLabel>(box, "lblVersion")->text() + '/'
                         + TestSupport::child<QLabel>(box, "lblBuild")->text(),
                     QString::asprintf("%02d.%02d/%d", Version::Major, Version::Minor, Version::Revision));
            QVERIFY(QTest::qWaitForWindowActive(box.data()));
            if (qstrcmp(how, "ok") == 0)
                QTest::mouseClick(TestSupport::child<QPushButton>(box, "cmdOk"), Qt::LeftButton);
            else if (qstrcmp(how, "close") == 0)
                box->close();
            else
                QTest::keyClick(box.data(), qstrcmp(how, "enter") == 0 ? Qt::Key_Return : Qt::Key_Escape);
            QVERIFY2(!frmAboutClient::Instance(), how);
            QTRY_VERIFY(box.isNull());
        }
        bool noPrompt = false;
        DialogScript script;
        script.then(defineShown).act([&] {
            noPrompt = !frmEnterPassword::Instance();
            clickIn(true, "cmdCancel");
        });
        script.start();
        action("mnuSecConfig")->trigger();
        QTRY_VERIFY(script.finished() && noPrompt);
    }

    // The main window's Save rebuilds it through the tray form, from the file just written.
    void saveRebuildsTheMainWindow()
    {
        QPointer<frmClient> before = Forms::Client();
        TestSupport::child<QLineEdit>(before, "txtServer")->setText(QStringLiteral("saved-host"));
        QTest::mouseClick(TestSupport::child<QPushButton>(before, "cmdSave"), Qt::LeftButton);
        QTRY_VERIFY(before.isNull());
        QCOMPARE(TestSupport::child<QLineEdit>(Forms::Client(), "txtServer")->text(), QStringLiteral("saved-host"));
    }

    // Exit: side link closed, icon removed, session window, main window and tray form
    // unloaded, in that order, then the program ends. Refused, it leaves everything as it was.
    void exit_data()
    {
        QTest::addColumn<bool>("granted");
        QTest::newRow("password right") << true;
        QTest::newRow("password refused") << false;
    }
    void exit()
    {
        QFETCH(bool, granted);
        std::unique_ptr<QTcpSocket> serverSide(connectLink());
        QVERIFY(serverSide);
        QPointer<frmClient> client = Forms::Client();
        QPointer<frmMsRdpClient> session = Forms::MsRdpClient();
        QPointer<frmClientTrayIcon> trayForm = &tray();
        QVERIFY(session);
        QStringList order;
        QSystemTrayIcon *trayIcon = icon();
        QObject thisTest; // ends the watching when the test does
        connect(session, &QObject::destroyed, &thisTest, [&] {
            order << QStringLiteral("session window: link %1, icon %2, main window %3")
                         .arg(Forms::Client() ? winsock(Forms::Client())->State() : -1)
                         .arg(trayIcon->isVisible() ? "shown" : "removed")
                         .arg(Forms::Client() ? "loaded" : "gone");
        });
        // The main window hides when it unloads (it is destroyed a little later).
        HideWatcher mainHidden(client, [&] {
            order << QStringLiteral("main window: session window %1, tray %2")
                         .arg(Forms::MsRdpClient() ? "loaded" : "gone")
                         .arg(frmClientTrayIcon::Instance() ? "loaded" : "gone");
        });
        onEnd = [&] { order << QStringLiteral("end: tray %1").arg(frmClientTrayIcon::Instance() ? "loaded" : "gone"); };
        DialogScript script;
        script.answerPrompt(granted).start();
        action("mnuExit")->trigger();
        if (granted) {
            QTRY_COMPARE(endCalls, 1);
            QCOMPARE(order, (QStringList{"session window: link 0, icon removed, main window loaded",
                                         "main window: session window gone, tray loaded", "end: tray gone"}));
            QVERIFY(!Forms::Client() && !Forms::MsRdpClient());
            QTRY_VERIFY(trayForm.isNull());
            QTRY_COMPARE(serverSide->state(), QAbstractSocket::UnconnectedState);
            return;
        }
        QTRY_VERIFY(script.finished() && !frmEnterPassword::Instance());
        QCoreApplication::processEvents();
        QVERIFY(endCalls == 0 && order.isEmpty() && frmClientTrayIcon::Instance() == trayForm && icon()->isVisible());
        QVERIFY(Forms::Client() == client && Forms::MsRdpClient() == session);
        QCOMPARE(winsock(client)->State(), qint32(SocketControl::sckConnected));
        QCOMPARE(serverSide->state(), QAbstractSocket::ConnectedState);
    }

    // Exit while the Security dialog waits: the program still ends, the wait included.
    void exitEndsAWaitingSecurityDialog()
    {
        QPointer<frmClientTrayIcon> trayForm = &tray();
        DialogScript script;
        script.then(defineShown).act([&] { action("mnuExit")->trigger(); }).answerPrompt(true).start();
        trayForm->mnuSecConfig_Click();
        QVERIFY(!script.timedOut() && endCalls == 1);
        QVERIFY(!frmPassDefine::Instance() && !frmClientTrayIcon::Instance());
    }

    // Without a notification area the operator is told once and reaches the menu from the
    // main window, also from a rebuilt one.
    void withoutANotificationArea()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this desktop has a notification area");
        frmClient *client = Forms::Client();
        QCOMPARE(client->PanelText(1), QStringLiteral("No notification area: right-click for the menu"));
        rightClick(client->findChild<QLabel *>(QStringLiteral("Label1")));
        QVERIFY(menu()->isVisible());
        menu()->hide();

        tray().RefreshMainForm();
        frmClient *rebuilt = Forms::Client();
        QVERIFY(rebuilt != client);
        QCOMPARE(rebuilt->PanelText(1), QString());
        rightClick(rebuilt->findChild<QLabel *>(QStringLiteral("Label2")));
        QVERIFY(menu()->isVisible());
        menu()->hide();
    }
};

QTEST_MAIN(tst_TrayIcon)
#include "tst_TrayIcon.moc"
