// The tray icon in a real notification area: an X server of its own with a tray (trayer) and
// no window manager, as on a bare panel.
#include "DialogScript.h"
#include "Panel.h"
#include "RdpTestEnvironment.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>

using namespace modGlobClientVar;

namespace {

QMenu *trayMenu() { return frmClientTrayIcon::Instance()->findChild<QMenu *>(QStringLiteral("mnuTrayMenu")); }

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
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        // The tray's announcement of itself makes the toolkit dock the icon again, which closes
        // an open menu: wait for it before any test, with the toolkit already listening for it.
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        // The platform's native interface is a QObject; its class is declared in no public header.
        const auto *native = reinterpret_cast<QObject *>(QGuiApplication::platformNativeInterface());
        QSignalSpy announced(native, SIGNAL(systemTrayWindowChanged(QScreen *)));
        tray.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                                              "120", "--height", "32"});
        QVERIFY(announced.wait(20000) && QSystemTrayIcon::isSystemTrayAvailable());
    }

    void cleanupTestCase()
    {
        tray.terminate();
        tray.waitForFinished(5000);
    }

    void init()
    {
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        RecordingSessionControl::install();
        gSecurityEnabled = gNotMaximized = true;
        endCalls = 0;
        frmClientTrayIcon::SetEndProgram([this] { ++endCalls; });
        frmClientTrayIcon::Load();
        // The icon is embedded once the tray has taken it.
        QTRY_VERIFY_WITH_TIMEOUT(embeddedIcon() && embeddedIcon()->isVisible(), 10000);
    }

    void cleanup()
    {
        for (frmEnterPassword *p = frmEnterPassword::Instance(); p; p = frmEnterPassword::Instance())
            p->Unload();
        if (frmClientTrayIcon::Instance())
            trayMenu()->hide();
        TestSupport::UnloadForms();
        delete frmClientTrayIcon::Instance();
        frmClientTrayIcon::SetEndProgram({});
        QTRY_VERIFY(!embeddedIcon());
        boxes.reset();
        dir.reset();
    }

    void rightClickOpensTheMenu()
    {
        QVERIFY(Forms::Client()->PanelText(1).isEmpty());
        QTest::mouseClick(embeddedIcon(), Qt::RightButton, {}, QPoint(5, 5));
        QTRY_VERIFY(trayMenu()->isVisible());
        QTest::keyClick(trayMenu(), Qt::Key_Escape);
        QTRY_VERIFY(!trayMenu()->isVisible());
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
        if (hidden)
            QTRY_VERIFY(script.finished() && before.isNull() && Forms::Client()->isVisible()
                        && TestSupport::child(Forms::Client(), "fraConfig")->isVisible());
        else
            QVERIFY(!frmEnterPassword::Instance() && Forms::Client() == before);
    }

    // With no window manager nobody hands the keyboard back when a message box closes: the
    // prompt under "Wrong Password" must be typed into again without a touch.
    void wrongPasswordGivesTheKeyboardBack()
    {
        boxes.reset(); // the real box
        bool boxHadKeyboard = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); box && box->isActiveWindow())
                boxHadKeyboard = true, closer.stop(), box->button(QMessageBox::Ok)->click();
        });
        const auto promptHasKeyboard = [] { return promptShown() && frmEnterPassword::Instance()->isActiveWindow(); };
        DialogScript script;
        script.then(promptHasKeyboard).act([&] { closer.start(10); }).enter("x").then(promptHasKeyboard).enter({}).start();
        frmClientTrayIcon::Instance()->findChild<QAction *>(QStringLiteral("mnuExit"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(script.finished() || script.timedOut(), 20000);
        QVERIFY(boxHadKeyboard && !script.timedOut());
        QTRY_COMPARE(endCalls, 1);
    }
};

int main(int argc, char *argv[])
{
    RdpTestEnvironment::Display display;
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", display.name().toLatin1());
    // Only the X notification area: no desktop bus that could offer another one.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    tst_TrayIconX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TrayIconX11.moc"
