// The tray form, its menu and the windows it owns, the password gate and the definition dialog.
// On an X server of its own with no window manager, as on a bare panel.
#include "Version.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmAboutClient.h"
#include "shell/frmClientTrayIcon.h"
#include "shell/modSecurityPassword.h"

#include "DialogScript.h"
#include "Panel.h"
#include "RdpTestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QWindow>

using namespace modGlobClientVar;
using modSecurityPassword::CheckSecurityPassword;
using TestSupport::child;

namespace {

SocketControl *winsock(QObject *client) { return child<SocketControl>(client, "Winsock"); }

// The widget Qt puts into the notification area for the icon, if there is one.
QWidget *embeddedIcon()
{
    for (QWidget *w : QApplication::allWidgets())
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return w;
    return nullptr;
}

// The one warning the dialog gave, or none when text is empty.
void checkBoxes(const QList<MsgBox::Call> &boxes, const QString &text, const char *owner)
{
    QCOMPARE(boxes.size(), text.isEmpty() ? 0 : 1);
    for (const MsgBox::Call &box : boxes)
        QVERIFY(box.text == text && box.style == MsgBox::Exclamation && box.owner && box.owner->objectName() == QLatin1String(owner));
}

// Ok by Return in the field, or a refusal by Cancel, the close box or Esc.
void answer(bool define, const char *field, const QString &how)
{
    if (how == QLatin1String("cancel"))
        clickIn(define, "cmdCancel");
    else if (how == QLatin1String("close"))
        dialogChild<QWidget>(define, field)->window()->close();
    else
        QTest::keyClick(dialogChild<QLineEdit>(define, field), how.isEmpty() ? Qt::Key_Return : Qt::Key_Escape);
}

} // namespace

class tst_TrayIcon : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;
    int endCalls = 0;
    std::function<void()> onEnd;

    frmClientTrayIcon &tray() { return *frmClientTrayIcon::Instance(); }
    QMenu *menu() { return tray().findChild<QMenu *>(QStringLiteral("mnuTrayMenu")); }
    QAction *action(const char *name) { return tray().findChild<QAction *>(QLatin1String(name)); }
    QSystemTrayIcon *icon() { return tray().findChild<QSystemTrayIcon *>(QStringLiteral("trayIcon")); }
    void storePassword(const QString &value) { dir->write(QStringLiteral("Client.cfg"), {"[Client]", "SecurityPassword=" + value}); }

private slots:
    void init()
    {
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        RecordingSessionControl::install();
        gSecurityEnabled = gNotMaximized = true;
        gPasswordOk = false;
        endCalls = 0, onEnd = nullptr;
        frmClientTrayIcon::SetEndProgram([this] { if (++endCalls; onEnd) onEnd(); });
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
        TestSupport::UnloadForms();
        delete frmClientTrayIcon::Instance();
        frmClientTrayIcon::SetEndProgram({});
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        boxes.reset();
        dir.reset();
    }

    // Without a window manager nothing is activated: the full-screen operator panel takes up its mode all the same
    // (configuration mode: in configuration below).
    void operatorModeWithoutActivation()
    {
        TestSupport::LoopbackServer server;
        gNotMaximized = false;
        dir->write(QStringLiteral("Client.cfg"), {"[Client]", "AutoConnect=1", "txtServer=127.0.0.1", "txtPort=" + QString::number(server.port())});
        tray().RefreshMainForm();
        QTRY_VERIFY(server.peer() && !child(Forms::Client(), "txtUserName")->isEnabled());
        QTRY_COMPARE(Forms::Client()->geometry(), QRect(QPoint(0, 0), QGuiApplication::primaryScreen()->geometry().size()));
        QVERIFY2(!QApplication::activeWindow(), "a window was activated: proves nothing");
    }

    // A granted gate rebuilds the main window from the file, configuration shown; a refused keeps it.
    void configuration_data()
    {
        QTest::addColumn<int>("how"); // 0: the menu, else the icon's activation
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("granted");
        const int menu = 0, dbl = QSystemTrayIcon::DoubleClick, click = QSystemTrayIcon::Trigger;
        QTest::newRow("menu, password right") << menu << false << true;
        QTest::newRow("double click, password right") << dbl << true << true;
        QTest::newRow("double click, password refused") << dbl << true << false;
        QTest::newRow("double click, window shown") << dbl << false << false;
        QTest::newRow("click, window hidden") << click << true << false;
    }
    void configuration()
    {
        QFETCH(int, how);
        QFETCH(bool, hidden);
        QFETCH(bool, granted);
        const bool viaMenu = how == 0, prompted = viaMenu || (hidden && how == QSystemTrayIcon::DoubleClick);
        dir->write(QStringLiteral("Client.cfg"), {"[Client]", "txtServer=stored-host"});
        tray().RefreshMainForm();
        QPointer<frmClient> before = Forms::Client();
        QTRY_VERIFY(child(before, "fraConfig")->isVisible() && !QApplication::activeWindow()); // the mode, without activation
        const auto server = [](frmClient *f) { return child<QLineEdit>(f, "txtServer"); };
        QCOMPARE(server(before)->text(), QStringLiteral("stored-host"));
        server(before)->setText(QStringLiteral("unsaved"));
        before->setHidden(hidden);
        DialogScript script;
        script.answerPrompt(granted).start();
        bool handled = false;
        viaMenu ? action("mnuConfiguration")->trigger() : icon()->activated(QSystemTrayIcon::ActivationReason(how));
        QMetaObject::invokeMethod(this, [&] { handled = true; }, Qt::QueuedConnection); // after the activation
        QTRY_VERIFY(handled && !frmEnterPassword::Instance());
        QCOMPARE(script.finished(), prompted);
        if (granted) {
            QTRY_VERIFY(before.isNull());
            QCOMPARE(server(Forms::Client())->text(), QStringLiteral("stored-host"));
            QVERIFY(Forms::Client()->isVisible() && child(Forms::Client(), "fraConfig")->isVisible());
        } else {
            QCOMPARE(Forms::Client(), before.data());
            QCOMPARE(server(before)->text(), QStringLiteral("unsaved"));
            QCOMPARE(before->isVisible(), !hidden);
        }
    }

    // About and Security need no gate, nothing does with the gate off; one about box at a time.
    void withoutPrompt()
    {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) { // OK by default; Esc closes too
            action("mnuAbout")->trigger();
            QTRY_VERIFY(frmAboutClient::Instance() && frmAboutClient::Instance()->isVisible());
            QPointer<frmAboutClient> box = frmAboutClient::Instance();
            QVERIFY(!box->parentWidget() && !box->isModal() && &frmAboutClient::ShowBox() == box);
            QCOMPARE(child<QLabel>(box, "lblVersion")->text() + '/' + child<QLabel>(box, "lblBuild")->text(),
                     QString::asprintf("%02d.%02d/%d", Version::Major, Version::Minor, Version::Revision));
            QVERIFY(QTest::qWaitForWindowActive(box.data()));
            QTest::keyClick(box.data(), key);
            QVERIFY(!frmAboutClient::Instance());
            QTRY_VERIFY(box.isNull());
        }
        bool noPrompt = false;
        DialogScript script;
        script.then(defineShown).act([&] { noPrompt = !frmEnterPassword::Instance(), clickIn(true, "cmdCancel"); }).start();
        action("mnuSecConfig")->trigger();
        QTRY_VERIFY(script.finished() && noPrompt);
        gSecurityEnabled = false;
        DialogScript cancel;
        cancel.answerPrompt(false).start(); // should a prompt come
        QVERIFY(CheckSecurityPassword() && !frmEnterPassword::Instance());
    }

    // Exit: link closed, icon removed, session window, main window, tray form unloaded, in order.
    void exit_data()
    {
        QTest::addColumn<bool>("granted");
        QTest::newRow("password right") << true;
        QTest::newRow("password refused") << false;
    }
    void exit()
    {
        QFETCH(bool, granted);
        TestSupport::LoopbackServer server;
        winsock(Forms::Client())->Connect(QStringLiteral("127.0.0.1"), server.port());
        QTRY_VERIFY(winsock(Forms::Client())->State() == SocketControl::sckConnected && server.peer());
        QTcpSocket *serverSide = server.peer();
        QPointer<frmClient> client = Forms::Client();
        QPointer<frmMsRdpClient> session = Forms::MsRdpClient();
        QPointer<frmClientTrayIcon> trayForm = &tray();
        QSystemTrayIcon *trayIcon = icon();
        // At each step: the link's state (-1: no main window), whether the icon shows, the forms still loaded.
        QStringList order;
        const auto note = [&](const char *step) {
            order << QStringLiteral("%1: link %2, icon %3, loaded:%4%5%6")
                         .arg(QLatin1String(step)).arg(Forms::Client() ? winsock(Forms::Client())->State() : -1).arg(trayIcon->isVisible())
                         .arg(Forms::MsRdpClient() ? " session" : "", Forms::Client() ? " main" : "", frmClientTrayIcon::Instance() ? " tray" : "");
        };
        QObject thisTest; // ends the watching when the test does
        connect(session, &QObject::destroyed, &thisTest, [&] { note("session window gone"); });
        // The main window hides when it unloads (it is destroyed a little later).
        connect(client->windowHandle(), &QWindow::visibleChanged, &thisTest, [&] { note("main window hidden"); });
        onEnd = [&] { note("end"); };
        DialogScript script;
        script.answerPrompt(granted).start();
        action("mnuExit")->trigger();
        if (granted) {
            QTRY_COMPARE(endCalls, 1);
            QCOMPARE(order, (QStringList{"session window gone: link 0, icon 0, loaded: main tray",
                                         "main window hidden: link -1, icon 0, loaded: tray", "end: link -1, icon 0, loaded:"}));
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
    }

    // Exit while the Security dialog waits: the program still ends, the wait included.
    void exitEndsAWaitingSecurityDialog()
    {
        DialogScript script;
        script.then(defineShown).act([&] { action("mnuExit")->trigger(); }).answerPrompt(true).start();
        tray().mnuSecConfig_Click();
        QVERIFY(endCalls == 1 && !frmPassDefine::Instance() && !frmClientTrayIcon::Instance());
    }

    // Only exactly the stored password (cut as read back) opens; a wrong one keeps the prompt.
    void entryMatching_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("how"); // empty: Return
        QTest::addColumn<bool>("granted");
        const QString longOne = QString(300, QLatin1Char('a')) + QStringLiteral("XYZ");
        QTest::newRow("none, empty entry") << "0" << "" << "" << true;
        QTest::newRow("none, entry 0") << "0" << "0" << "" << false;
        QTest::newRow("exact") << "Secret" << "Secret" << "" << true;
        QTest::newRow("lower case") << "Secret" << "secret" << "" << false;
        QTest::newRow("empty entry") << "Secret" << "" << "" << false;
        QTest::newRow("umlauts") << QString::fromUtf8("Päßwörd") << QString::fromUtf8("Päßwörd") << "" << true;
        QTest::newRow("long, in full") << longOne << longOne << "" << false;
        QTest::newRow("long, cut at 254") << longOne << longOne.left(254) << "" << true;
        for (const char *how : {"cancel", "close", "escape"})
            QTest::addRow("%s", how) << "Secret" << "Secret" << QString::fromLatin1(how) << false;
    }
    void entryMatching()
    {
        QFETCH(QString, stored);
        QFETCH(QString, entry);
        QFETCH(QString, how);
        QFETCH(bool, granted);
        storePassword(stored);
        bool startedEmpty = false, keptOpen = false;
        DialogScript script;
        script.then(promptShown)
            .act([&] {
                auto *field = dialogChild<QLineEdit>(false, "txtEnterPassword");
                startedEmpty = field->text().isEmpty() && !frmEnterPassword::Instance()->isModal(); // other windows stay usable
                field->setText(entry);
                answer(false, "txtEnterPassword", how);
            })
            .act([&] {
                keptOpen = promptShown() && dialogChild<QLineEdit>(false, "txtEnterPassword")->text() == entry;
                if (promptShown())
                    clickIn(false, "cmdCancel");
            });
        script.start();
        QCOMPARE(CheckSecurityPassword(), granted);
        QVERIFY(startedEmpty);
        const bool wrong = !granted && how.isEmpty();
        QCOMPARE(keptOpen, wrong);
        checkBoxes(boxes->calls, wrong ? QStringLiteral("Wrong Password") : QString(), "frmEnterPassword");
    }

    // A second gate shares the open prompt, not reloaded; one answer ends both, the inner first.
    void secondGateSharesThePrompt()
    {
        storePassword(QStringLiteral("first"));
        QStringList order;
        QPointer<QWidget> first;
        DialogScript script;
        script.then(promptShown)
            .act([&] {
                first = frmEnterPassword::Instance();
                storePassword(QStringLiteral("second"));
                QTimer::singleShot(0, [&] { order << "inner start" << "inner " + QString::number(CheckSecurityPassword()); });
            })
            .then([&] { return order.contains(QStringLiteral("inner start")); })
            .enter(QStringLiteral("first"));
        script.start();
        order << "outer " + QString::number(CheckSecurityPassword());
        QCOMPARE(order, (QStringList{"inner start", "inner 1", "outer 1"}));
        QTRY_VERIFY(first.isNull());
    }

    // A refused definition stays open as filled and writes nothing; a saved one rules the next gate.
    void definition_data()
    {
        QTest::addColumn<QString>("stored"); // null: Client.cfg cannot be written
        QTest::addColumn<QStringList>("entries"); // old, new, verify
        QTest::addColumn<QString>("how"); // empty: Return
        QTest::addColumn<QString>("message"); // empty: no message
        const QString oldWrong = "Old Password is wrong!", notEqual = "Passwords are not equal!";
        QTest::newRow("old wrong") << "old" << QStringList{"Old", "new", "new"} << "" << oldWrong;
        QTest::newRow("old wrong, entries differ") << "old" << QStringList{"OLD", "new", "neu"} << "" << oldWrong;
        QTest::newRow("entries differ") << "old" << QStringList{"old", "new", "New"} << "" << notEqual;
        QTest::newRow("not saved") << QString() << QStringList{"", "abc", "abc"} << ""
                                   << "The password could not be saved!";
        for (const char *kept : {" lead", "trail ", "'quoted'", "a \"b'"})
            QTest::addRow("kept as typed: [%s]", kept) << "old" << QStringList{"old", kept, kept} << "" << "";
        QTest::newRow("cancel") << "old" << QStringList{"old", "x", "x"} << "cancel" << "";
        QTest::newRow("0 means none") << "old" << QStringList{"old", "0", "0"} << "" << "";
        QTest::newRow("first definition") << "0" << QStringList{"", "abc", "abc"} << "" << "";
    }
    void definition()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, entries);
        QFETCH(QString, how);
        QFETCH(QString, message);
        stored.isNull() ? void(gClientCfgFile = dir->file(QStringLiteral("missing-directory/Client.cfg"))) : storePassword(stored);
        const bool defined = !stored.isNull() && stored != QLatin1String("0"), saved = how.isEmpty() && message.isEmpty();
        const char *const names[] = {"txtOldPassword", "txtNewPassword", "txtVerifyNewPassword"};
        const auto field = [&](int i) { return dialogChild<QLineEdit>(true, names[i]); };
        bool oldFieldRight = false;
        QStringList left; // in the fields after the answer
        DialogScript script;
        script.then(defineShown)
            .then([&] { return frmPassDefine::Instance()->focusWidget() == field(defined ? 0 : 1); })
            .act([&] {
                oldFieldRight = field(0)->isEnabled() == defined && field(0)->text().isEmpty();
                for (int i = 0; i < 3; ++i)
                    field(i)->setText(entries.at(i));
                answer(true, names[1], how);
            })
            .act([&] {
                for (int i = 0; defineShown() && i < 3; ++i)
                    left << field(i)->text();
                if (defineShown())
                    clickIn(true, "cmdCancel");
            });
        script.start();
        modSecurityPassword::mnuSecConfig_Click();
        QVERIFY(oldFieldRight);
        QCOMPARE(left, message.isEmpty() ? QStringList() : entries);
        QCOMPARE(gPasswordOk, saved);
        checkBoxes(boxes->calls, message, "frmPassDefine");
        const QString now = saved ? entries.at(1) : stored;
        QCOMPARE(modSecurityPassword::ReadStoredPassword(), now.isNull() ? QStringLiteral("0") : now);
        if (!saved)
            return;
        DialogScript gateScript;
        gateScript.then(promptShown).enter(defined ? stored : QString()).enter(now == "0" ? QString() : now).start();
        QVERIFY(CheckSecurityPassword());
        QVERIFY(boxes->calls.size() == 1 && boxes->calls.first().text == u"Wrong Password");
    }
    // Without a notification area the menu is on the main window; with one, on the icon.
    void notificationArea()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable() && QGuiApplication::platformName() == u"xcb");
        const auto note = [] { return child<QLabel>(Forms::Client(), "lblText")->text(); };
        dir->write(QStringLiteral("Client.cfg"), {"[Client]", "AutoConnect=1", "txtServer=127.0.0.1", "txtPort=" + QString::number(TestSupport::refusingPort())});
        for (const char *label : {"Label1", "Label2"}) { // also on the window rebuilt; the side link does not take it away
            tray().RefreshMainForm();
            QTRY_VERIFY(Forms::Client()->PanelText(1).startsWith(QLatin1String("Try to reconnect ")));
            QCOMPARE(note(), QStringLiteral("No notification area: right-click for the menu"));
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), QPoint(2, 2));
            QApplication::sendEvent(child(Forms::Client(), label), &event);
            QVERIFY(menu()->isVisible());
            menu()->hide();
        }

        // The tray's announcement re-docks the icon, closing an open menu: wait for it first.
        QSignalSpy announced(reinterpret_cast<QObject *>(QGuiApplication::platformNativeInterface()),
                             SIGNAL(systemTrayWindowChanged(QScreen *)));
        QProcess trayer;
        trayer.start(QStringLiteral("trayer"), {"--edge", "top", "--widthtype", "pixel", "--width", "120", "--height", "32"});
        QVERIFY(announced.wait(20000) && QSystemTrayIcon::isSystemTrayAvailable());
        cleanup();
        init();
        QTRY_VERIFY_WITH_TIMEOUT(embeddedIcon() && embeddedIcon()->isVisible(), 10000);
        QVERIFY(note().isEmpty());
        QTest::mouseClick(embeddedIcon(), Qt::RightButton, {}, QPoint(5, 5));
        QTRY_VERIFY(menu()->isVisible());
        QTest::keyClick(menu(), Qt::Key_Escape);
        QTRY_VERIFY(!menu()->isVisible());

        boxes.reset();
        bool boxHadKeyboard = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); box && box->isActiveWindow())
                boxHadKeyboard = true, closer.stop(), box->button(QMessageBox::Ok)->click();
        });
        const auto promptHasKeyboard = [] { return promptShown() && frmEnterPassword::Instance()->isActiveWindow(); };
        DialogScript script;
        script.then(promptHasKeyboard).act([&] { closer.start(10); }).enter("x").then(promptHasKeyboard).enter({}).start();
        action("mnuExit")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(script.finished() && boxHadKeyboard, 20000);
        QTRY_COMPARE(endCalls, 1);
        trayer.terminate(), trayer.waitForFinished(5000);
    }
};

int main(int argc, char *argv[])
{
    RdpTestEnvironment::Display display;
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", display.name().toLatin1());
    TestSupport::withoutSessionBus(); // only the X notification area
    QApplication app(argc, argv);
    tst_TrayIcon test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TrayIcon.moc"
