// The tray icon in a real notification area: an X server of its own (Xvfb) with a tray
// (trayer) and no window manager, as on a bare panel. Skipped where either is missing.

#include "DialogScript.h"
#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "shell/frmClientTrayIcon.h"
#include "shell/frmEnterPassword.h"
#include "startup/modGlobClientVar.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QMenu>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace modGlobClientVar;

namespace {

// An Xvfb of the test's own on a free display, started before the application exists.
class XServer
{
public:
    XServer()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            why = "Xvfb is not installed";
            return;
        }
        int fds[2];
        if (::pipe(fds) != 0) {
            why = "no pipe";
            return;
        }
        const QByteArray program = xvfb.toLocal8Bit();
        const QByteArray fd = QByteArray::number(fds[1]);
        const char *argv[] = {program.constData(), "-displayfd", fd.constData(), "-screen", "0", "1024x768x24",
                              "-nolisten", "tcp", "-noreset", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&m_pid, program.constData(), &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            m_pid = 0;
            ::close(fds[0]);
            why = "Xvfb could not be started";
            return;
        }
        // Xvfb writes the display number once it accepts clients.
        QByteArray number;
        pollfd p{fds[0], POLLIN, 0};
        while (::poll(&p, 1, 20000) > 0) {
            char c;
            if (::read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        ::close(fds[0]);
        if (number.isEmpty()) {
            why = "Xvfb did not report a display";
            stop();
            return;
        }
        display = ":" + number;
    }
    ~XServer() { stop(); }
    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }

    QByteArray display;
    const char *why = nullptr;

private:
    pid_t m_pid = 0;
};

const char *g_skipReason = nullptr;

// The widget Qt puts into the notification area for the icon, if there is one.
QWidget *embeddedIcon()
{
    for (QWidget *w : QApplication::allWidgets())
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return w;
    return nullptr;
}

bool promptShown()
{
    return frmEnterPassword::Instance() && frmEnterPassword::Instance()->isVisible();
}

} // namespace

class tst_TrayIconX11 : public QObject
{
    Q_OBJECT

private:
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
        tray.setProgram(trayer);
        tray.setArguments({"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--height",
                           "32"});
        tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tray.start();
        QVERIFY(tray.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
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
        if (frmClientTrayIcon *t = frmClientTrayIcon::Instance())
            t->mnuTrayMenu->hide();
        Forms::UnloadMsRdpClient();
        Forms::UnloadClient();
        delete frmClientTrayIcon::Instance();
        frmClientTrayIcon::SetEndProgram({});
        QTRY_VERIFY(!embeddedIcon());
        boxes.reset();
        dir.reset();
    }

    void iconSitsInTheNotificationArea()
    {
        frmClientTrayIcon &t = *frmClientTrayIcon::Instance();
        QTRY_VERIFY(t.trayIcon->geometry().isValid());
        QVERIFY(!t.trayIcon->geometry().isEmpty());
        // With a notification area the operator is not told there is none.
        QVERIFY(!Forms::Client()->PanelText(1).contains(QLatin1String("notification area")));
    }

    void rightClickOpensTheMenu()
    {
        frmClientTrayIcon &t = *frmClientTrayIcon::Instance();
        QTest::mouseClick(embeddedIcon(), Qt::RightButton, {}, QPoint(5, 5));
        QTRY_VERIFY(t.mnuTrayMenu->isVisible());
        QCOMPARE(t.mnuTrayMenu->actions().size(), 7);
        QTest::keyClick(t.mnuTrayMenu, Qt::Key_Escape);
        QTRY_VERIFY(!t.mnuTrayMenu->isVisible());
    }

    void leftClickDoesNothing()
    {
        QPointer<frmClient> client = Forms::Client();
        QTest::mouseClick(embeddedIcon(), Qt::LeftButton, {}, QPoint(5, 5));
        QCoreApplication::processEvents();
        QVERIFY(!frmClientTrayIcon::Instance()->mnuTrayMenu->isVisible());
        QVERIFY(!frmEnterPassword::Instance());
        QCOMPARE(Forms::Client(), client.data());
    }

    void doubleClickWhileTheWindowIsVisibleDoesNothing()
    {
        QPointer<frmClient> client = Forms::Client();
        QVERIFY(client->isVisible());
        QTest::mouseDClick(embeddedIcon(), Qt::LeftButton, {}, QPoint(5, 5));
        QCoreApplication::processEvents();
        QVERIFY(!frmEnterPassword::Instance());
        QCOMPARE(Forms::Client(), client.data());
    }

    void doubleClickWhileTheWindowIsHidden()
    {
        QPointer<frmClient> before = Forms::Client();
        before->hide();
        DialogScript script;
        script.then([] { return promptShown(); }).act([] {
            QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
        });
        script.start();
        QTest::mouseDClick(embeddedIcon(), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_VERIFY(script.finished());
        QTRY_VERIFY(before.isNull());
        QVERIFY(Forms::Client());
        QTRY_VERIFY(Forms::Client()->isVisible());
        QVERIFY(Forms::Client()->fraConfig->isVisible());
    }

    // Exit takes the icon out of the notification area.
    void exitRemovesTheIcon()
    {
        DialogScript script;
        script.then([] { return promptShown(); }).act([] {
            QTest::mouseClick(frmEnterPassword::Instance()->cmdOk, Qt::LeftButton);
        });
        script.start();
        frmClientTrayIcon::Instance()->mnuExit->trigger();
        QTRY_COMPARE(endCalls, 1);
        QTRY_VERIFY(!embeddedIcon());
        QVERIFY(!Forms::Client());
    }
};

int main(int argc, char *argv[])
{
    XServer x;
    if (x.display.isEmpty()) {
        g_skipReason = x.why;
    } else {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", x.display);
        // Only the X notification area: no desktop bus that could offer another one.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    int rc;
    {
        QApplication app(argc, argv);
        tst_TrayIconX11 test;
        rc = QTest::qExec(&test, argc, argv);
    }
    x.stop();
    return rc;
}

#include "tst_TrayIconX11.moc"
