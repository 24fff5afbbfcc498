#include "client/Forms.h"
#include "client/SessionControl.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <iterator>
#include <memory>

using namespace modGlobClientVar;
using TestSupport::LoopbackServer;

namespace {

int px(int twips) { return qRound(twips / double(modSystemBasic::TwipsPerPixelX())); }
int py(int twips) { return qRound(twips / double(modSystemBasic::TwipsPerPixelY())); }

const QString kChildSwitch = QStringLiteral("-activation-child");

// Every control of the window as designed; checked is -1 for anything but a check box.
struct Design
{
    const char *name, *kind, *caption, *container;
    bool visible = true, enabled = true;
    int checked = -1;
};
const Design kDesign[] = {
    {"Frame2", "QGroupBox", "", "frmClient"},
    {"cboUsername", "QComboBox", "", "Frame2", false},
    {"chkUserPass", "CheckBox", "Use Password", "Frame2", true, true, 1},
    {"txtPassword", "QLineEdit", "", "Frame2"},
    {"cboResolution", "QComboBox", "", "Frame2"},
    {"cmdRemoteDesktop", "QPushButton", "Remote Desktop", "Frame2"},
    {"txtUserName", "QLineEdit", "", "Frame2"},
    {"shpLockStatus", "Shape", "", "Frame2"},
    {"lblUsername", "QLabel", "Username:", "Frame2"},
    {"lblResolution", "QLabel", "Resolution:", "Frame2"},
    {"lblPassword", "QLabel", "Password:", "Frame2"},
    {"Image1", "QLabel", "", "Frame2"},
    {"Frame1", "QGroupBox", "", "frmClient"},
    {"cmdKeyboard", "QPushButton", "On-Screen Keyboard", "Frame1"},
    {"txtClientname", "QLineEdit", "", "Frame1", true, false},
    {"txtClientIP", "QLineEdit", "", "Frame1", true, false},
    {"Image2", "QLabel", "", "Frame1"},
    {"Label1", "QLabel", "Clientname:", "Frame1"},
    {"Label2", "QLabel", "Client-IP:", "Frame1"},
    {"cmdRestart", "QPushButton", "Restart", "frmClient", true, false},
    {"fraConfig", "QFrame", "", "frmClient", false},
    {"cmdSetDefault", "QPushButton", "Set Default", "fraConfig"},
    {"cmdSave", "QPushButton", "Save", "fraConfig"},
    {"SSTab1", "QTabWidget", "", "fraConfig"},
    {"fraConfiguration", "QFrame", "", "SSTab1"},
    {"chkAutoConnect", "CheckBox", "Connect to Server", "fraConfiguration", true, true, 0},
    {"txtServer", "QLineEdit", "", "fraConfiguration"},
    {"txtPort", "QLineEdit", "", "fraConfiguration"},
    {"lblServer", "QLabel", "Server:", "fraConfiguration"},
    {"Label3", "QLabel", "Port:", "fraConfiguration"},
    {"fraPerformance", "QFrame", "", "SSTab1"},
    {"chkENABLE_ENHANCED_GRAPHICS", "CheckBox", "Enable Enhanced Graphics", "fraPerformance", true, true, 0},
    {"chkDISABLE_THEMING", "CheckBox", "Disable Theming", "fraPerformance", true, true, 0},
    {"chkDISABLE_MENUANIMATIONS", "CheckBox", "Disable Menu Animation", "fraPerformance", true, true, 0},
    {"chkDISABLE_WALLPAPER", "CheckBox", "Disable Wallpaper", "fraPerformance", true, true, 0},
    {"chkDISABLE_FULLWINDOWDRAG", "CheckBox", "Disable Full Window Drag", "fraPerformance", true, true, 0},
    {"chkDISABLE_CURSOR_SHADOW", "CheckBox", "Disable Cursor Shadow", "fraPerformance", true, true, 0},
    {"chkDISABLE_CURSORSETTINGS", "CheckBox", "Disable Cursorsetting", "fraPerformance", true, true, 0},
    {"fraRedirection", "QFrame", "", "SSTab1"},
    {"chkRedirectSmartCards", "CheckBox", "Redirect SmartCards", "fraRedirection", true, true, 0},
    {"chkRedirectPrinters", "CheckBox", "Redirect Printers", "fraRedirection", true, true, 0},
    {"chkRedirectPorts", "CheckBox", "Redirect Ports", "fraRedirection", true, true, 0},
    {"chkRedirectDrives", "CheckBox", "Redirect Drives", "fraRedirection", true, true, 0},
    {"fraOther", "QFrame", "", "SSTab1"},
    {"chkDisplayConnectionBar", "CheckBox", "Enable Display Connection Bar", "fraOther", true, true, 0},
    {"chkBitmap", "CheckBox", "Enable Cache Bitmaps", "fraOther", true, true, 0},
    {"chkCompress", "CheckBox", "Enable Data Compression", "fraOther", true, true, 0},
    {"chkEnableAutoReconnect", "CheckBox", "Enable Auto Reconnect", "fraOther", true, true, 0},
    {"cmdShutDown", "QPushButton", "Turn Off", "frmClient", true, false},
    {"stbStatusBar", "QStatusBar", "", "frmClient"},
    {"stbPanel1", "QLabel", "", "stbStatusBar"},
    {"stbPanel2", "QLabel", "", "stbStatusBar"},
    {"timControl", "QTimer", "", "frmClient"},
    {"Winsock", "SocketControl", "", "frmClient"},
    {"lblText", "QLabel", "", "frmClient"},
    {"lblServerVersionLabel", "QLabel", "Server Version:", "frmClient", false},
    {"lblServerVersion", "QLabel", "", "frmClient", false},
    {"Image3", "QLabel", "", "frmClient"},
    {"Image4", "QLabel", "", "frmClient"},
};

// A tab page's container is the tab control, not the stack inside it.
QString containerOf(const QObject *o)
{
    const QObject *p = o->parent();
    if (qobject_cast<const QStackedWidget *>(p) && qobject_cast<const QTabWidget *>(p->parent()))
        p = p->parent();
    return p ? p->objectName() : QString();
}

// The text a control shows: the title of a group box, the text of anything else that has one.
QString captionOf(const QObject *o)
{
    return o->property(qobject_cast<const QGroupBox *>(o) ? "title" : "text").toString();
}

bool isTabPage(const QWidget *w) { return qobject_cast<const QStackedWidget *>(w->parentWidget()); }

// Operator mode: "Connect to Server" checked, the side link to 127.0.0.1.
frmClient &loadOperator(const TestSupport::ProgramDir &dir, quint16 port, bool notMaximized)
{
    gNotMaximized = notMaximized;
    return TestSupport::LoadPanel(dir, {"txtServer=127.0.0.1", QStringLiteral("txtPort=%1").arg(port), "chkUserPass=0",
                                        "AutoConnect=1"});
}

} // namespace

class tst_frmClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;

    frmClient &load(bool notMaximized)
    {
        gNotMaximized = notMaximized;
        return Forms::LoadClient();
    }
    static void waitForActivation(frmClient &f)
    {
        QTRY_VERIFY(f.isActiveWindow());
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        qApp->setQuitOnLastWindowClosed(false);
        RecordingSessionControl::install();
        frmClient::TimerIntervalMs = 3600 * 1000; // the tests tick by hand
        gStartConnectLifeCnt = 3;
        gStartLifeCnt = 45;
    }

    void init() { m_dir = std::make_unique<TestSupport::ProgramDir>(); }

    void cleanup()
    {
        TestSupport::UnloadForms();
        m_dir.reset();
    }

    void designControls_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kDesign)); ++i)
            QTest::newRow(kDesign[i].name) << i;
    }
    void designControls()
    {
        QFETCH(int, row);
        const Design &d = kDesign[row];
        frmClient f;
        const QList<QObject *> found = f.findChildren<QObject *>(QLatin1String(d.name));
        QCOMPARE(found.size(), 1);
        QObject *o = found.first();
        QVERIFY2(o->inherits(d.kind), o->metaObject()->className());
        QCOMPARE(captionOf(o), QString::fromLatin1(d.caption));
        QCOMPARE(containerOf(o), QString::fromLatin1(d.container));
        if (auto *w = qobject_cast<QWidget *>(o)) {
            if (!isTabPage(w)) // the tab control shows one page at a time
                QCOMPARE(!w->isHidden(), d.visible);
            QCOMPARE(w->isEnabled(), d.enabled);
            // Arial 8.25 throughout; the four large buttons 9.75 bold.
            const bool big = QByteArrayList{"cmdRemoteDesktop", "cmdKeyboard", "cmdRestart", "cmdShutDown"}.contains(d.name);
            QCOMPARE(w->font().family(), QStringLiteral("Arial"));
            QCOMPARE(w->font().pointSizeF(), big ? 9.75 : 8.25);
            QCOMPARE(w->font().bold(), big);
        }
        if (d.checked >= 0) // a CheckBox, as checked above
            QCOMPARE(static_cast<CheckBox *>(o)->Value(), d.checked);
    }

    void designWindow()
    {
        frmClient f;
        QCOMPARE(f.windowTitle(), QStringLiteral("Torvane Remote Desktop Client"));
        for (const QSize &s : {f.size(), f.minimumSize(), f.maximumSize()})
            QCOMPARE(s, QSize(518, 431));

        const QList<QFrame *> pages{f.fraConfiguration, f.fraPerformance, f.fraRedirection, f.fraOther};
        QCOMPARE(f.SSTab1->count(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(f.SSTab1->tabText(i), QStringLiteral("Configuration|Performance|Redirection|Other").section(u'|', i, i));
            QCOMPARE(f.SSTab1->widget(i), pages.at(i));
            QCOMPARE(pages.at(i)->frameShape(), QFrame::NoFrame);
        }
        QCOMPARE(f.fraConfig->frameShape(), QFrame::NoFrame);
        QCOMPARE(f.SSTab1->currentIndex(), 0);

        QStringList entries;
        for (int i = 0; i < f.cboResolution->count(); ++i)
            entries << f.cboResolution->itemText(i);
        QCOMPARE(entries, QStringLiteral("Full-Screen|640 x 480|800 x 600|1024 x 768|1152 x 864|1280 x 1024|1600 x 1024")
                              .split(u'|'));
        // A typed resolution does not grow the list.
        QVERIFY(f.cboResolution->isEditable());
        f.cboResolution->lineEdit()->setText(QStringLiteral("1000 x 700"));
        QTest::keyClick(f.cboResolution->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.cboResolution->count(), 7);
        QCOMPARE(f.cboResolution->currentText(), QStringLiteral("1000 x 700"));
        QVERIFY(!f.cboUsername->isEditable());

        QCOMPARE(f.cmdRemoteDesktop->x(), px(720));
        QCOMPARE(f.cmdRemoteDesktop->width(), px(2415));
        QCOMPARE(f.shpLockStatus->x(), px(2880));
        QCOMPARE(f.shpLockStatus->size(), QSize(px(225), py(225)));
        QCOMPARE(f.lblServerVersionLabel->y(), py(5880));
        QCOMPARE(f.lblServerVersion->y(), py(5880));
        QCOMPARE(f.cboUsername->geometry(), f.txtUserName->geometry());

        f.txtPassword->setText(QStringLiteral("secret"));
        QCOMPARE(f.txtPassword->displayText(), QStringLiteral("******"));
        for (QLabel *image : {f.Image1, f.Image2, f.Image3, f.Image4})
            QVERIFY2(!image->pixmap().isNull() && !image->size().isEmpty(), qPrintable(image->objectName()));

        // Each field is named by the label before it, for the keyboard and for screen readers.
        static const char *const buddies[][2] = {{"lblUsername", "txtUserName"}, {"lblPassword", "txtPassword"},
                                                 {"lblResolution", "cboResolution"}, {"Label1", "txtClientname"},
                                                 {"Label2", "txtClientIP"}, {"lblServer", "txtServer"},
                                                 {"Label3", "txtPort"}};
        for (const auto &[label, field] : buddies) {
            auto *l = f.findChild<QLabel *>(QLatin1String(label));
            QWidget *w = f.findChild<QWidget *>(QLatin1String(field));
            QVERIFY2(l && w && l->buddy() == w, label);
            QVERIFY2(!w->accessibleName().isEmpty() && l->text().startsWith(w->accessibleName()), label);
        }

        // Two status bar panels, addressed 1 and 2.
        QCOMPARE(f.stbStatusBar->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
        f.setPanelText(2, QStringLiteral("error:5 x"));
        f.setPanelText(3, QStringLiteral("nowhere"));
        QCOMPARE(f.stbPanel2->text(), QStringLiteral("error:5 x"));
        QCOMPARE(f.PanelText(3), QString());
        // The only button no other test clicks: its handler is connected to it.
        QVERIFY(disconnect(f.cmdRemoteDesktop, &QPushButton::clicked, &f, &frmClient::cmdRemoteDesktop_Click));
    }

    // The key filter lets through what it must: Ctrl+V (code 22) only in the server field, the
    // arrows in the profile list.
    void keysPassingTheFilter()
    {
        frmClient f;
        QGuiApplication::clipboard()->setText(QStringLiteral("99"));
        for (QLineEdit *edit : {f.txtPort, f.txtServer}) {
            edit->setText(QStringLiteral("1"));
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        }
        QCOMPARE(f.txtPort->text(), QStringLiteral("1"));
        QCOMPARE(f.txtServer->text(), QStringLiteral("199"));
        f.cboUsername->addItems({QStringLiteral("alice"), QStringLiteral("bob")});
        f.cboUsername->setCurrentIndex(0);
        QTest::keyClick(f.cboUsername, Qt::Key_Down);
        QCOMPARE(f.cboUsername->currentIndex(), 1);
    }

    void loadFillsIdentityAndRefusesClose()
    {
        // Without a configuration path the reader leaves the start values in place.
        gClientCfgFile.clear();
        gUserCfgFile.clear();
        gRdpStarted = gRdpConnected = true;
        frmClient &f = load(true);
        QVERIFY(modSystemBasic::IsCloseRemoved(&f));
        QVERIFY(!gRdpStarted && !gRdpConnected);
        QCOMPARE(f.txtClientname->text(), modSystemBasic::GetLocalComputerName());
        QCOMPARE(f.txtClientIP->text(), SocketControl().LocalIP());
        QVERIFY(!f.txtServer->text().isEmpty());
        QCOMPARE(f.txtPort->text(), QStringLiteral("12559"));
        QCOMPARE(f.txtUserName->text() + f.txtPassword->text(), QString());
        QCOMPARE(f.cboResolution->currentText(), QStringLiteral("Full-Screen"));
        QCOMPARE(f.mLifeCnt, 0);
        // The session window is loaded hidden, its control invisible.
        frmMsRdpClient *session = Forms::MsRdpClient();
        QVERIFY(session && session->msts && !session->isVisible() && session->msts->isHidden());

        waitForActivation(f);
        QVERIFY(!f.close());
        QVERIFY(f.windowHandle());
        QVERIFY(!f.windowHandle()->close());
        QVERIFY(f.isVisible());
    }

    // Configuration mode in both layouts, and with "Connect to Server" checked when the frame is
    // shown before the activation (as after the tray menu's "Configuration").
    void configurationMode_data()
    {
        QTest::addColumn<bool>("notMaximized");
        QTest::addColumn<bool>("autoConnect");
        QTest::newRow("not maximized") << true << false;
        QTest::newRow("full screen") << false << false;
        QTest::newRow("connect to server, frame shown") << true << true;
    }
    void configurationMode()
    {
        QFETCH(bool, notMaximized);
        QFETCH(bool, autoConnect);
        LoopbackServer server;
        frmClient design;
        frmClient &f = autoConnect ? loadOperator(*m_dir, server.port(), notMaximized) : load(notMaximized);
        f.fraConfig->setVisible(autoConnect);
        f.cboUsername->show();
        waitForActivation(f);
        f.Form_Activate();
        QVERIFY(f.fraConfig->isVisible());
        QVERIFY(f.txtUserName->isVisible());
        QVERIFY(!f.cboUsername->isVisible());
        QVERIFY(!f.shpLockStatus->isVisible());
        for (QWidget *w : QList<QWidget *>{f.txtUserName, f.txtPassword, f.chkUserPass, f.cboResolution})
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckClosed));
        QVERIFY(!f.timControl->isActive());
        QCOMPARE(f.PanelText(1), QString());

        // Covering the screen by its outer edges, the window keeps its frame and fixed border.
        const QSize frame = f.frameGeometry().size() - f.size();
        QVERIFY(!frame.isEmpty() && !(f.windowFlags() & Qt::FramelessWindowHint));
        const QSize size = notMaximized ? design.size() : QGuiApplication::primaryScreen()->geometry().size() - frame;
        QCOMPARE(f.size(), size);
        if (!notMaximized) {
            QCOMPARE(f.frameGeometry(), QRect(QPoint(0, 0), size + frame));
            QCOMPARE(f.minimumSize(), size);
            QCOMPARE(f.maximumSize(), size);
        }
        // The server version keeps its distance from the lower edge; the panels halve the width.
        const int down = size.height() - design.height();
        QCOMPARE(f.lblServerVersion->geometry(), design.lblServerVersion->geometry().translated(0, down));
        QCOMPARE(f.lblServerVersionLabel->geometry(), design.lblServerVersionLabel->geometry().translated(0, down));
        QCOMPARE(f.stbPanel1->width(), f.frameGeometry().width() / 2);
        QCOMPARE(f.stbPanel2->width(), f.frameGeometry().width() / 2);
        const int barHeight = design.stbStatusBar->height();
        QCOMPARE(f.stbStatusBar->geometry(), QRect(0, size.height() - barHeight, size.width(), barHeight));

        // Everything else stays where it was designed, inside its container, captions not cut,
        // clear of the status bar, no overlaps but the two on purpose: the profile list stands
        // in for the user name field, the lamp shows only beside the shortened button of
        // operator mode.
        const QSet<QString> shared{QStringLiteral("cboUsername txtUserName"), QStringLiteral("cmdRemoteDesktop shpLockStatus")};
        QList<QWidget *> placed; // no tab pages, nothing of the status bar
        for (const Design &d : kDesign)
            if (auto *w = f.findChild<QWidget *>(QLatin1String(d.name));
                w && !isTabPage(w) && w != f.stbStatusBar && w->parentWidget() != f.stbStatusBar)
                placed << w;
        for (qsizetype i = 0; i < placed.size(); ++i) {
            QWidget *w = placed.at(i);
            const QByteArray name = w->objectName().toLatin1();
            if (w != f.lblServerVersion && w != f.lblServerVersionLabel)
                QVERIFY2(w->geometry() == design.findChild<QWidget *>(w->objectName())->geometry(), name.constData());
            // The tab control lays out only the page it shows; all pages have its size.
            const QRect inside = isTabPage(w->parentWidget()) ? f.SSTab1->currentWidget()->rect() : w->parentWidget()->rect();
            QVERIFY2(inside.contains(w->geometry()), name.constData());
            if ((qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)) && !captionOf(w).isEmpty())
                QVERIFY2(w->sizeHint().width() <= w->width() && w->fontMetrics().height() <= w->height(), name.constData());
            if (w->parentWidget() == &f)
                QVERIFY2(!w->geometry().intersects(f.stbStatusBar->geometry()), name.constData());
            for (QWidget *b : placed.mid(i + 1)) // after w in design order
                if (b->parentWidget() == w->parentWidget() && !shared.contains(w->objectName() + u' ' + b->objectName()))
                    QVERIFY2(!w->geometry().intersects(b->geometry()),
                             qPrintable(w->objectName() + QStringLiteral(" overlaps ") + b->objectName()));
        }
        for (int i = 0; i < 4; ++i)
            QVERIFY(f.SSTab1->tabBar()->tabRect(i).right() < f.SSTab1->width());
    }

    // Operator mode in both layouts, from the load to the unload.
    void operatorMode_data()
    {
        QTest::addColumn<bool>("notMaximized");
        QTest::newRow("full screen") << false;
        QTest::newRow("not maximized") << true;
    }
    void operatorMode()
    {
        QFETCH(bool, notMaximized);
        LoopbackServer server;
        frmClient &f = loadOperator(*m_dir, server.port(), notMaximized);

        QTRY_VERIFY(!f.txtUserName->isEnabled());
        QVERIFY(!f.fraConfig->isVisible());
        QVERIFY(!f.txtPassword->isEnabled());
        QCOMPARE(f.chkUserPass->Value(), 1);
        QVERIFY(!f.chkUserPass->isEnabled());
        QVERIFY(!f.cboResolution->isEnabled());
        // The button ends 60 twips before the lamp: 2100 twips with the design positions.
        QCOMPARE(f.cmdRemoteDesktop->width(), px(2100));
        QCOMPARE(f.shpLockStatus->x() - f.cmdRemoteDesktop->geometry().right() - 1, px(60));

        // The supervisor ran at once: the server has the side link.
        QTRY_COMPARE(server.peers.size(), 1);
        QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QVERIFY(f.timControl->isActive());
        QVERIFY(f.PanelText(1).startsWith(QStringLiteral("Connected ")));

        // With the timer running, a new activation leaves the link to the timer.
        f.Form_Activate();
        QCoreApplication::processEvents();
        QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QCOMPARE(server.peers.size(), 1);
        QVERIFY(server.peer() && server.peer()->state() == QAbstractSocket::ConnectedState);

        // Only the full-screen panel is held in the top-left corner.
        const QPoint expected = notMaximized ? QPoint(40, 30) : QPoint(0, 0);
        f.move(40, 30);
        QTRY_COMPARE(f.pos(), expected);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(f.pos(), expected);

        // A countdown below zero counts as run out: the next tick reopens the link.
        f.mLifeCnt = -2;
        f.timControl_Timer();
        QTRY_COMPARE(server.peers.size(), 2);
        QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QCOMPARE(f.mLifeCnt, gStartLifeCnt);

        // Unloading stops the timer and closes the link; the window itself goes once control is
        // back in the event loop, the session window stays.
        QPointer<frmClient> gone = &f;
        QPointer<QTcpSocket> peer = server.peer();
        Forms::UnloadClient();
        QVERIFY(!Forms::Client());
        QVERIFY(gone && !gone->isVisible() && !gone->timControl->isActive());
        QCOMPARE(gone->Winsock->State(), qint32(SocketControl::sckClosed));
        QTRY_VERIFY(!peer || peer->state() == QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(!gone);
        QVERIFY(Forms::MsRdpClient());
    }

    void activationWithoutWindowManager_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("configuration") << "configuration";
        QTest::newRow("operator") << "operator";
    }
    // A bare X server without a window manager never activates a window: the window must take
    // up its mode all the same. Run in a child process of this test on its own X server.
    void activationWithoutWindowManager()
    {
        QFETCH(QString, mode);
        const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
        if (xvfbRun.isEmpty())
            QSKIP("xvfb-run is not installed (scripts/install-deps installs it)");

        LoopbackServer server;
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(xvfbRun, {"-a", "-s", "-screen 0 1024x768x24 -nolisten tcp", QCoreApplication::applicationFilePath(),
                              "-platform", "xcb", kChildSwitch, mode, QString::number(server.port())});
        QVERIFY(child.waitForStarted(10000));
        // Keep our server answering while the child runs.
        QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 60000);
        const QString output = QString::fromLocal8Bit(child.readAll());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("no active window")), qPrintable(output));
        QCOMPARE(server.peers.size(), mode == QStringLiteral("operator") ? 1 : 0);
    }
};

// The child side of activationWithoutWindowManager.
static int runActivationChild(const QString &mode, const QString &port)
{
    RecordingSessionControl::install();
    frmClient::TimerIntervalMs = 3600 * 1000;
    TestSupport::ProgramDir dir;
    const bool operatorMode = mode == QStringLiteral("operator");
    frmClient &f = operatorMode ? loadOperator(dir, port.toUShort(), false) : (gNotMaximized = true, Forms::LoadClient());
    auto fail = [&f](const char *what, int code) {
        std::printf("%s: active window %s, fraConfig %d, txtUserName enabled %d, socket %d, geometry %d,%d %dx%d\n",
                    what, QApplication::activeWindow() ? "present" : "none", f.fraConfig->isVisible(),
                    f.txtUserName->isEnabled(), f.Winsock->State(), f.x(), f.y(), f.width(), f.height());
        return code;
    };
    if (!QTest::qWaitFor([&] { return operatorMode ? !f.txtUserName->isEnabled() : f.fraConfig->isVisible(); }, 20000))
        return fail("no mode taken up", 1);
    if (QApplication::activeWindow())
        return fail("a window was activated, so this proves nothing", 2);
    if (operatorMode) {
        if (!QTest::qWaitFor([&] { return f.Winsock->State() == SocketControl::sckConnected; }, 20000))
            return fail("side link not opened", 3);
        if (f.geometry() != QRect(QPoint(0, 0), QGuiApplication::primaryScreen()->geometry().size()))
            return fail("not covering the screen", 4);
    }
    std::printf("no active window on %s\n", qPrintable(QGuiApplication::platformName()));
    TestSupport::UnloadForms();
    return 0;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (const QStringList args = app.arguments(); args.size() == 4 && args.at(1) == kChildSwitch)
        return runActivationChild(args.at(2), args.at(3));
    tst_frmClient test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmClient.moc"
