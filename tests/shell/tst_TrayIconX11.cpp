// The tray icon in a real notification area: an X server of its own (Xvfb) with a tray
// (trayer) and no window manager, as on a bare panel. Skipped where either is missing.

#include "DialogScript.h"
#include "Panel.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <signal.h>
#include <cstdio>
#include <cstdlib>

using namespace modGlobClientVar;

namespace {

const char *g_skipReason = "Xvfb is not installed or did not start";

// Starts an Xvfb on a free display before the application exists, ended when the program
// exits; returns false when there is none.
bool startXvfb(QByteArray &display)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return false;
    // Xvfb writes the display number once it accepts clients.
    FILE *out = ::popen("echo $$; exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset 2>/dev/null",
                        "r");
    char pid[32] = {}, number[32] = {};
    if (!out || !::fgets(pid, sizeof pid, out) || !::fgets(number, sizeof number, out)) {
        if (out)
            ::pclose(out);
        return false;
    }
    display = ":" + QByteArray(number).trimmed();
    g_skipReason = nullptr;
    static FILE *server = out;
    static pid_t serverPid = QByteArray(pid).trimmed().toInt();
    std::atexit([] {
        ::kill(serverPid, SIGTERM);
        ::pclose(server);
    });
    return true;
}

QMenu *trayMenu()
{
    return frmClientTrayIcon::Instance()->findChild<QMenu *>(QStringLiteral("mnuTrayMenu"));
}

// The widget Qt puts into the notification area for the icon, if there is one.
QWidget *embeddedIcon()
{
    for (QWidget *w : QApplication::allWidgets())
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return w;
    return nullptr;
}

} // namespace

class tst_TrayIconX11 : public QObject
{
    Q_OBJECT

    QProcess tray;
    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;
    int endCalls = 0;

private slots:
    void initTestCase()
    {
        if (g_skipReason)
            QSKIP(g_skipReason);
        const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        if (trayer.isEmpty())
            QSKIP("trayer is not installed");
        // The tray's announcement of itself makes the toolkit dock the icon again, which closes
        // an open menu: wait for it before any test, with the toolkit already listening for it.
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        // The platform's native interface is a QObject; its class is declared in no public header.
        const auto *native = reinterpret_cast<QObject *>(QGuiApplication::platformNativeInterface());
        QSignalSpy announced(native, SIGNAL(systemTrayWindowChanged(QScreen *)));
        QVERIFY(announced.isValid());
        tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tray.start(trayer, {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--height",
                            "32"});
        QVERIFY(tray.waitForStarted());
        QVERIFY(announced.wait(20000));
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
    }

    void cleanupTestCase()
    {
        if (tray.state() != QProcess::NotRunning) {
            tray.terminate();
            tray.waitForFinished(5000);
        }
    }

    void init()
    {
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        RecordingSessionControl::install();
        gSecurityEnabled = true;
        gNotMaximized = true;
        endCalls = 0;
        frmClientTrayIcon::SetEndProgram([this] { ++endCalls; });
        frmClientTrayIcon::Load();
        QVERIFY(Forms::Client());
        // The icon is embedded once the tray has taken it.
        QTRY_VERIFY_WITH_TIMEOUT(embeddedIcon() && embeddedIcon()->isVisible(), 10000);
    }

    void cleanup()
    {
        for (frmEnterPassword *p = frmEnterPassword::Instance(); p; p = frmEnterPassword::Instance())
            p->Unload();
        if (frmClientTrayIcon::Instance())
            trayMenu()->hide();
        Forms::UnloadMsRdpClient();
        Forms::UnloadClient();
        delete frmClientTrayIcon::Instance();
        frmClientTrayIcon::SetEndProgram({});
        QTRY_VERIFY(!embeddedIcon());
        boxes.reset();
        dir.reset();
    }

    void rightClickOpensTheMenu()
    {
        QVERIFY(!Forms::Client()->PanelText(1).contains(QLatin1String("notification area")));
        QMenu *menu = trayMenu();
        QTest::mouseClick(embeddedIcon(), Qt::RightButton, {}, QPoint(5, 5));
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->actions().size(), 7);
        QTest::keyClick(menu, Qt::Key_Escape);
        QTRY_VERIFY(!menu->isVisible());
    }

    // With the main window visible left clicks do nothing; with it hidden a double click
    // passes the gate and brings back a fresh window with its configuration shown.
    void leftButton_data()
    {
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("click") << false << false;
        QTest::newRow("double click") << true << false;
        QTest::newRow("double click, window hidden") << true << true;
    }
    void leftButton()
    {
        QFETCH(bool, doubleClick);
        QFETCH(bool, hidden);
        QPointer<frmClient> before = Forms::Client();
        before->setHidden(hidden);
        DialogScript script;
        if (hidden)
            script.answerPrompt(true).start();
        if (doubleClick)
            QTest::mouseDClick(embeddedIcon(), Qt::LeftButton, {}, QPoint(5, 5));
        else
            QTest::mouseClick(embeddedIcon(), Qt::LeftButton, {}, QPoint(5, 5));
        QCoreApplication::processEvents();
        QVERIFY(!trayMenu()->isVisible());
        if (!hidden) {
            QVERIFY(!frmEnterPassword::Instance() && Forms::Client() == before);
            return;
        }
        QTRY_VERIFY(script.finished() && before.isNull() && Forms::Client() && Forms::Client()->isVisible());
        QVERIFY(TestSupport::child(Forms::Client(), "fraConfig")->isVisible());
    }

    // With no window manager nobody hands the keyboard back when a message box closes: the
    // prompt under "Wrong Password" must be typed into again without a touch.
    void wrongPasswordGivesTheKeyboardBack()
    {
        boxes.reset(); // the real box on the real X server
        bool boxHadKeyboard = false;
        QElapsedTimer waited;
        QTimer closer;
        closer.setInterval(10);
        connect(&closer, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            boxHadKeyboard = box->isActiveWindow();
            if (boxHadKeyboard || waited.elapsed() > 10000) {
                closer.stop();
                box->button(QMessageBox::Ok)->click();
            }
        });
        const auto promptHasKeyboard = [] { return promptShown() && frmEnterPassword::Instance()->isActiveWindow(); };
        DialogScript script;
        script.then(promptHasKeyboard)
            .act([&] { waited.start(), closer.start(); })
            .enter(QStringLiteral("x"))
            .then(promptHasKeyboard)
            .enter(QString())
            .start();
        frmClientTrayIcon::Instance()->findChild<QAction *>(QStringLiteral("mnuExit"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(script.finished() || script.timedOut(), 20000);
        QVERIFY(boxHadKeyboard);
        QVERIFY(!script.timedOut());
        QTRY_COMPARE(endCalls, 1);
    }
};

int main(int argc, char *argv[])
{
    QByteArray display;
    if (startXvfb(display)) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", display);
        // Only the X notification area: no desktop bus that could offer another one.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    QApplication app(argc, argv);
    tst_TrayIconX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TrayIconX11.moc"
