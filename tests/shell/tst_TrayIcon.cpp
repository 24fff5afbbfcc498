#include "DialogScript.h"
#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "serverlink/SocketControl.h"
#include "shell/frmAboutClient.h"
#include "shell/frmClientTrayIcon.h"
#include "shell/frmEnterPassword.h"
#include "shell/frmPassDefine.h"
#include "startup/modGlobClientVar.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QPointer>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace modGlobClientVar;

Q_DECLARE_METATYPE(QSystemTrayIcon::ActivationReason)

namespace {

bool promptShown()
{
    return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible();
}

void answerPrompt(DialogScript &script, bool ok)
{
    script.then([] { return promptShown(); }).act([ok] {
        frmEnterPassword *p = frmEnterPassword::Instance();
        QTest::mouseClick(ok ? p->cmdOk : p->cmdCancel, Qt::LeftButton);
    });
}

// Calls back when a widget is hidden.
class HideWatcher : public QObject
{
public:
    HideWatcher(QWidget *widget, std::function<void()> onHide) : m_onHide(std::move(onHide))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && m_onHide) {
            m_onHide();
            m_onHide = nullptr;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onHide;
};

// Lets queued calls (menu commands, icon activations) run.
void deliverQueued()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

class tst_TrayIcon : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;
    int endCalls = 0;
    std::function<void()> onEnd;

    frmClientTrayIcon &tray() { return *frmClientTrayIcon::Instance(); }

private slots:
    void init()
    {
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

    void formLoadPutsTheIconUp()
    {
        frmClientTrayIcon &t = tray();
        QCOMPARE(t.windowTitle(), QStringLiteral("frmDummyTrayIcon"));
        QVERIFY(!t.isVisible());
        QVERIFY(t.trayIcon);
        QVERIFY(t.trayIcon->isVisible());
        QCOMPARE(t.trayIcon->toolTip(), QStringLiteral("Veskora"));
        QVERIFY(!t.trayIcon->icon().isNull());
        // The menu goes up only on request: no menu of the platform's own.
        QVERIFY(!t.trayIcon->contextMenu());
        QVERIFY(Forms::Client()->isVisible());
    }

    void menuEntriesInOrder()
    {
        QMenu *menu = tray().mnuTrayMenu;
        QCOMPARE(menu->objectName(), QStringLiteral("mnuTrayMenu"));
        QCOMPARE(menu->title(), QStringLiteral("TrayMenu"));
        QStringList names, captions;
        QList<bool> separators;
        for (QAction *a : menu->actions()) {
            names << a->objectName();
            captions << a->text();
            separators << a->isSeparator();
        }
        QCOMPARE(names, (QStringList{"mnuConfiguration", "mnuSep1", "mnuSecConfig", "mnuSep2", "mnuAbout", "mnuSep3",
                                     "mnuExit"}));
        QCOMPARE(captions, (QStringList{"Configuration", "", "Security", "", "About", "", "Exit"}));
        QCOMPARE(separators, (QList<bool>{false, true, false, true, false, true, false}));
        QCOMPARE(tray().mnuExit, menu->actions().last());
    }

    void tipAndPicture_data()
    {
        QTest::addColumn<QString>("tip");
        QTest::addColumn<QString>("shown");
        QTest::newRow("short") << "Panel 7" << "Panel 7";
        QTest::newRow("63 characters") << QString(63, QLatin1Char('t')) << QString(63, QLatin1Char('t'));
        QTest::newRow("cut at the field") << QString(80, QLatin1Char('t')) << QString(63, QLatin1Char('t'));
    }
    void tipAndPicture()
    {
        QFETCH(QString, tip);
        QFETCH(QString, shown);
        tray().UpdateTrayIcon(1, tip);
        QCOMPARE(tray().trayIcon->toolTip(), shown);
        // An image the list does not have leaves the picture as it was.
        const qint64 before = tray().trayIcon->icon().cacheKey();
        tray().UpdateTrayIcon(7, QStringLiteral("x"));
        QCOMPARE(tray().trayIcon->icon().cacheKey(), before);
        QCOMPARE(tray().trayIcon->toolTip(), QStringLiteral("x"));
    }

    void updateDoesNotBringBackARemovedIcon()
    {
        tray().RemoveFromTray();
        QVERIFY(!tray().trayIcon->isVisible());
        tray().UpdateTrayIcon(1, QStringLiteral("Veskora"));
        QVERIFY(!tray().trayIcon->isVisible());
    }

    void activations_data()
    {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("menuOpens");
        QTest::newRow("right button") << QSystemTrayIcon::Context << true;
        QTest::newRow("single click") << QSystemTrayIcon::Trigger << false;
        QTest::newRow("middle button") << QSystemTrayIcon::MiddleClick << false;
        QTest::newRow("unknown") << QSystemTrayIcon::Unknown << false;
        // The main window is visible: a double click does nothing.
        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false;
    }
    void activations()
    {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, menuOpens);
        QPointer<frmClient> client = Forms::Client();
        client->txtServer->setText(QStringLiteral("unsaved edit"));
        emit tray().trayIcon->activated(reason);
        deliverQueued();
        if (menuOpens) {
            QTRY_VERIFY(tray().mnuTrayMenu->isVisible());
            tray().mnuTrayMenu->hide();
        } else {
            QVERIFY(!tray().mnuTrayMenu->isVisible());
        }
        QVERIFY(!frmEnterPassword::Instance());
        QCOMPARE(Forms::Client(), client.data());
        QCOMPARE(client->txtServer->text(), QStringLiteral("unsaved edit"));
    }

    void formMouseMoveCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("mouse move") << 0x200;
        QTest::newRow("left down") << 0x201;
        QTest::newRow("left up") << 0x202;
        QTest::newRow("right down") << 0x204;
        QTest::newRow("right double click") << 0x206;
        QTest::newRow("middle up") << 0x208;
        QTest::newRow("left double click, window visible") << 0x203;
    }
    void formMouseMoveCodes()
    {
        QFETCH(int, code);
        QPointer<frmClient> client = Forms::Client();
        tray().Form_MouseMove(code);
        QVERIFY(!tray().mnuTrayMenu->isVisible());
        QVERIFY(!frmEnterPassword::Instance());
        QCOMPARE(Forms::Client(), client.data());
    }

    void rightButtonUpOpensTheMenu()
    {
        tray().Form_MouseMove(frmClientTrayIcon::WM_RBUTTONUP);
        QVERIFY(tray().mnuTrayMenu->isVisible());
        QVERIFY(!tray().mnuTrayMenu->activeAction());
        QTest::keyClick(tray().mnuTrayMenu, Qt::Key_Escape);
        QTRY_VERIFY(!tray().mnuTrayMenu->isVisible());
    }

    void doubleClickWithTheWindowHidden_data()
    {
        QTest::addColumn<bool>("granted");
        QTest::newRow("password right") << true;
        QTest::newRow("password refused") << false;
    }
    void doubleClickWithTheWindowHidden()
    {
        QFETCH(bool, granted);
        QPointer<frmClient> before = Forms::Client();
        before->hide();
        DialogScript script;
        answerPrompt(script, granted);
        script.start();
        emit tray().trayIcon->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(script.finished());
        QTRY_VERIFY(!frmEnterPassword::Instance());
        frmClient *now = Forms::Client();
        QVERIFY(now);
        if (granted) {
            QVERIFY(before.isNull());
            QVERIFY(now->isVisible());
            QVERIFY(now->fraConfig->isVisible());
        } else {
            QCOMPARE(now, before.data());
            QVERIFY(!now->isVisible());
        }
    }

    // The gate is passed, the main window is rebuilt from the stored configuration and its
    // configuration frame is shown; a refused gate keeps the window and its edits.
    void configuration_data()
    {
        QTest::addColumn<bool>("granted");
        QTest::newRow("password right") << true;
        QTest::newRow("password refused") << false;
    }
    void configuration()
    {
        QFETCH(bool, granted);
        dir->write(QStringLiteral("Client.cfg"), {QStringLiteral("[Client]"), QStringLiteral("txtServer=stored-host")});
        tray().RefreshMainForm();
        QPointer<frmClient> before = Forms::Client();
        QCOMPARE(before->txtServer->text(), QStringLiteral("stored-host"));
        before->txtServer->setText(QStringLiteral("unsaved"));
        DialogScript script;
        answerPrompt(script, granted);
        script.start();
        tray().mnuConfiguration->trigger();
        QTRY_VERIFY(script.finished());
        QTRY_VERIFY(!frmEnterPassword::Instance());
        if (granted) {
            QTRY_VERIFY(before.isNull());
            frmClient *now = Forms::Client();
            QVERIFY(now);
            QCOMPARE(now->txtServer->text(), QStringLiteral("stored-host"));
            QVERIFY(now->fraConfig->isVisible());
        } else {
            QCOMPARE(Forms::Client(), before.data());
            QCOMPARE(before->txtServer->text(), QStringLiteral("unsaved"));
        }
    }

    void aboutNeedsNoPassword()
    {
        tray().mnuAbout->trigger();
        QTRY_VERIFY(frmAboutClient::Instance());
        QVERIFY(frmAboutClient::Instance()->isVisible());
        QVERIFY(!frmAboutClient::Instance()->parentWidget());
        QVERIFY(!frmEnterPassword::Instance());
        tray().mnuAbout->trigger();
        deliverQueued();
        int boxes = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            boxes += qobject_cast<frmAboutClient *>(w) != nullptr;
        QCOMPARE(boxes, 1);
    }

    void securityOpensTheDefinitionDialog()
    {
        bool shown = false;
        DialogScript script;
        script.then([] { return frmPassDefine::Instance() && frmPassDefine::Instance()->isVisible(); }).act([&] {
            shown = !frmEnterPassword::Instance();
            QTest::mouseClick(frmPassDefine::Instance()->cmdCancel, Qt::LeftButton);
        });
        script.start();
        tray().mnuSecConfig->trigger();
        QTRY_VERIFY(script.finished());
        QVERIFY(shown);
        QTRY_VERIFY(!frmPassDefine::Instance());
    }

    // Exit: side link closed, icon removed, session window, main window and tray form
    // unloaded, in that order, then the program ends.
    void exitInOrder()
    {
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        frmClient *client = Forms::Client();
        QSignalSpy connected(client->Winsock, &SocketControl::Connected);
        client->Winsock->Connect(QStringLiteral("127.0.0.1"), peer.serverPort());
        QVERIFY(connected.wait(5000));
        QTRY_VERIFY(peer.hasPendingConnections());
        QTcpSocket *serverSide = peer.nextPendingConnection();
        QVERIFY(Forms::MsRdpClient());

        QStringList order;
        QSystemTrayIcon *icon = tray().trayIcon;
        connect(Forms::MsRdpClient(), &QObject::destroyed, this, [&] {
            order << QStringLiteral("session window: link %1, icon %2, main window %3")
                         .arg(Forms::Client() ? Forms::Client()->Winsock->State() : -1)
                         .arg(icon->isVisible() ? "shown" : "removed")
                         .arg(Forms::Client() ? "loaded" : "gone");
        });
        // The main window hides when it unloads (it is destroyed a little later).
        HideWatcher mainHidden(client, [&] {
            order << QStringLiteral("main window: session window %1, tray %2")
                         .arg(Forms::MsRdpClient() ? "loaded" : "gone")
                         .arg(frmClientTrayIcon::Instance() ? "loaded" : "gone");
        });
        onEnd = [&] {
            order << QStringLiteral("end: tray %1").arg(frmClientTrayIcon::Instance() ? "loaded" : "gone");
        };
        QPointer<frmClientTrayIcon> trayForm = &tray();
        DialogScript script;
        answerPrompt(script, true);
        script.start();
        trayForm->mnuExit->trigger();
        QTRY_COMPARE(endCalls, 1);
        QCOMPARE(order, (QStringList{QStringLiteral("session window: link 0, icon removed, main window loaded"),
                                     QStringLiteral("main window: session window gone, tray loaded"),
                                     QStringLiteral("end: tray gone")}));
        QVERIFY(!Forms::Client());
        QVERIFY(!Forms::MsRdpClient());
        QTRY_VERIFY(trayForm.isNull());
        QTRY_COMPARE(serverSide->state(), QAbstractSocket::UnconnectedState);
        delete serverSide;
    }

    void exitRefusedChangesNothing()
    {
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        QPointer<frmClient> client = Forms::Client();
        QSignalSpy connected(client->Winsock, &SocketControl::Connected);
        client->Winsock->Connect(QStringLiteral("127.0.0.1"), peer.serverPort());
        QVERIFY(connected.wait(5000));
        QTRY_VERIFY(peer.hasPendingConnections());
        QTcpSocket *serverSide = peer.nextPendingConnection();
        QPointer<frmMsRdpClient> session = Forms::MsRdpClient();
        QPointer<frmClientTrayIcon> trayForm = &tray();

        DialogScript script;
        answerPrompt(script, false);
        script.start();
        trayForm->mnuExit->trigger();
        QTRY_VERIFY(script.finished());
        QTRY_VERIFY(!frmEnterPassword::Instance());
        deliverQueued();
        QCOMPARE(endCalls, 0);
        QCOMPARE(frmClientTrayIcon::Instance(), trayForm.data());
        QVERIFY(trayForm->trayIcon->isVisible());
        QCOMPARE(Forms::Client(), client.data());
        QCOMPARE(Forms::MsRdpClient(), session.data());
        QCOMPARE(client->Winsock->State(), qint32(SocketControl::sckConnected));
        // The link still carries data both ways.
        QByteArray received;
        connect(serverSide, &QTcpSocket::readyRead, this, [&] { received += serverSide->readAll(); });
        client->Winsock->SendData(QStringLiteral("still here"));
        QTRY_VERIFY2(received.endsWith("still here"), received.constData());
        QCOMPARE(serverSide->state(), QAbstractSocket::ConnectedState);
        delete serverSide;
    }

    // Exit while the Security dialog waits: the program still ends, the wait included.
    void exitEndsAWaitingSecurityDialog()
    {
        QPointer<frmClientTrayIcon> trayForm = &tray();
        bool securityReturned = false;
        DialogScript script;
        script.then([] { return frmPassDefine::Instance() && frmPassDefine::Instance()->isVisible(); })
            .act([&] { trayForm->mnuExit->trigger(); });
        answerPrompt(script, true);
        script.start();
        trayForm->mnuSecConfig_Click();
        securityReturned = true;
        QVERIFY(!script.timedOut());
        QVERIFY(securityReturned);
        QCOMPARE(endCalls, 1);
        QVERIFY(!frmPassDefine::Instance());
        QVERIFY(!frmClientTrayIcon::Instance());
    }

    // Without a notification area the operator is told once and reaches the menu from the
    // main window.
    void withoutANotificationArea()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this desktop has a notification area");
        frmClient *client = Forms::Client();
        QCOMPARE(client->PanelText(1), QStringLiteral("No notification area: right-click for the menu"));
        QLabel *label = client->findChild<QLabel *>(QStringLiteral("Label1"));
        QVERIFY(label);
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(label, &rightClick);
        QVERIFY(tray().mnuTrayMenu->isVisible());
        tray().mnuTrayMenu->hide();

        // A rebuilt main window offers the menu too, without telling again.
        tray().RefreshMainForm();
        frmClient *rebuilt = Forms::Client();
        QVERIFY(rebuilt != client);
        QCOMPARE(rebuilt->PanelText(1), QString());
        QLabel *label2 = rebuilt->findChild<QLabel *>(QStringLiteral("Label2"));
        QContextMenuEvent again(QContextMenuEvent::Mouse, QPoint(2, 2), label2->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(label2, &again);
        QVERIFY(tray().mnuTrayMenu->isVisible());
        tray().mnuTrayMenu->hide();
    }
};

QTEST_MAIN(tst_TrayIcon)
#include "tst_TrayIcon.moc"
