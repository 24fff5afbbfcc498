#include "client/Forms.h"
#include "client/SessionControl.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "serverlink/SocketControl.h"
#include "shell/frmClientTrayIcon.h"
#include "startup/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <memory>

using namespace modGlobClientVar;

namespace {

int px(int twips)
{
    return qRound(twips / double(modSystemBasic::TwipsPerPixelX()));
}

int py(int twips)
{
    return qRound(twips / double(modSystemBasic::TwipsPerPixelY()));
}

// The container a control sits in as the window describes it: a tab page's container is the
// tab control, not the stack inside it.
QString containerOf(const QObject *o)
{
    const QObject *p = o->parent();
    if (qobject_cast<const QStackedWidget *>(p) && qobject_cast<const QTabWidget *>(p->parent()))
        p = p->parent();
    return p ? p->objectName() : QString();
}

QString captionOf(const QObject *o)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(o))
        return b->text();
    if (auto *l = qobject_cast<const QLabel *>(o))
        return l->text();
    if (auto *g = qobject_cast<const QGroupBox *>(o))
        return g->title();
    if (auto *e = qobject_cast<const QLineEdit *>(o))
        return e->text();
    return {};
}

bool isTabPage(const QWidget *w)
{
    return qobject_cast<const QStackedWidget *>(w->parentWidget());
}

// Every named member of the window, with its member name.
QList<QPair<QString, QObject *>> members(frmClient &f)
{
    QList<QPair<QString, QObject *>> m;
#define MEMBER(x) m.append({QStringLiteral(#x), f.x})
    MEMBER(Frame2); MEMBER(cboUsername); MEMBER(chkUserPass); MEMBER(txtPassword); MEMBER(cboResolution);
    MEMBER(cmdRemoteDesktop); MEMBER(txtUserName); MEMBER(shpLockStatus); MEMBER(lblUsername);
    MEMBER(lblResolution); MEMBER(lblPassword); MEMBER(Image1); MEMBER(Frame1); MEMBER(cmdKeyboard);
    MEMBER(txtClientname); MEMBER(txtClientIP); MEMBER(Image2); MEMBER(Label1); MEMBER(Label2);
    MEMBER(cmdRestart); MEMBER(fraConfig); MEMBER(cmdSetDefault); MEMBER(cmdSave); MEMBER(SSTab1);
    MEMBER(fraConfiguration); MEMBER(chkAutoConnect); MEMBER(txtServer); MEMBER(txtPort); MEMBER(lblServer);
    MEMBER(Label3); MEMBER(fraPerformance); MEMBER(chkENABLE_ENHANCED_GRAPHICS); MEMBER(chkDISABLE_THEMING);
    MEMBER(chkDISABLE_MENUANIMATIONS); MEMBER(chkDISABLE_WALLPAPER); MEMBER(chkDISABLE_FULLWINDOWDRAG);
    MEMBER(chkDISABLE_CURSOR_SHADOW); MEMBER(chkDISABLE_CURSORSETTINGS); MEMBER(fraRedirection);
    MEMBER(chkRedirectSmartCards); MEMBER(chkRedirectPrinters); MEMBER(chkRedirectPorts);
    MEMBER(chkRedirectDrives); MEMBER(fraOther); MEMBER(chkDisplayConnectionBar); MEMBER(chkBitmap);
    MEMBER(chkCompress); MEMBER(chkEnableAutoReconnect); MEMBER(cmdShutDown); MEMBER(stbStatusBar);
    MEMBER(stbPanel1); MEMBER(stbPanel2); MEMBER(timControl); MEMBER(Winsock); MEMBER(lblText);
    MEMBER(lblServerVersionLabel); MEMBER(lblServerVersion); MEMBER(Image3); MEMBER(Image4);
#undef MEMBER
    return m;
}

// A loopback server playing the companion program; it keeps every connection it accepts.
class SideLinkServer : public QObject
{
public:
    SideLinkServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection())
                peers.append(s);
        });
        server.listen(QHostAddress::LocalHost);
    }
    QString port() const { return QString::number(server.serverPort()); }
    QTcpServer server;
    QList<QPointer<QTcpSocket>> peers;
};

void writeOperatorConfig(const TestSupport::ProgramDir &dir, const QString &port)
{
    dir.write(QStringLiteral("Client.cfg"), {QStringLiteral("[Client]"), QStringLiteral("txtServer=127.0.0.1"),
                                             QStringLiteral("txtPort=") + port, QStringLiteral("chkUserPass=0"),
                                             QStringLiteral("AutoConnect=1")});
}

} // namespace

class tst_frmClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void designControls_data();
    void designControls();
    void memberNamesAreObjectNames();
    void resolutionList();
    void fonts();
    void fixedWindow();
    void tabs();
    void designPositions();
    void readableLayout();
    void passwordShowsStars();
    void labelBuddies_data();
    void labelBuddies();
    void pictures();
    void statusBarPanels();
    void timerAtDesign();
    void handlersWired_data();
    void handlersWired();
    void keyRouting_data();
    void keyRouting();
    void keysWithoutCharacterAreNotRouted();
    void profileListIgnoresTyping();

    void loadFillsIdentityAndDefaults();
    void layoutNotMaximized();
    void layoutFullScreen();
    void configurationMode();
    void autoConnectWithConfigurationVisibleIsConfigurationMode();
    void operatorMode();
    void operatorModeNotMaximizedCanMove();
    void timerRunsSupervisorOnTickAfterCount_data();
    void timerRunsSupervisorOnTickAfterCount();
    void runningTimerDrivesSupervisor();
    void closeRefused();
    void unloadReleasesTimerAndSocket();
    void trayFormLoadsAndReloadsMainWindow();
    void activationWithoutWindowManager_data();
    void activationWithoutWindowManager();

private:
    frmClient &load(bool notMaximized);
    // Waits until the loaded window has taken up a mode.
    void waitForActivation(frmClient &f);
    // Loads a full-screen window in operator mode that has connected to the server.
    frmClient &loadOperator(SideLinkServer &server, bool notMaximized = false);

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
};

void tst_frmClient::initTestCase()
{
    qApp->setQuitOnLastWindowClosed(false);
    RecordingSessionControl::install();
}

void tst_frmClient::init()
{
    frmClient::TimerIntervalMs = 3600 * 1000;
    m_dir = std::make_unique<TestSupport::ProgramDir>();
    gNotMaximized = false;
    gStartConnectLifeCnt = 3;
    gStartLifeCnt = 45;
    gTryConnectCount = 0;
    gTryConnectActionCnt = 3;
    gMaxTryConnectActionCnt = 50;
    gUserProcessName.clear();
    gSecurityEnabled = false;
}

void tst_frmClient::cleanup()
{
    delete frmClientTrayIcon::Instance();
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_dir.reset();
}

frmClient &tst_frmClient::load(bool notMaximized)
{
    gNotMaximized = notMaximized;
    return Forms::LoadClient();
}

void tst_frmClient::waitForActivation(frmClient &f)
{
    QTRY_VERIFY(f.isActiveWindow());
    QCoreApplication::processEvents();
}

frmClient &tst_frmClient::loadOperator(SideLinkServer &server, bool notMaximized)
{
    writeOperatorConfig(*m_dir, server.port());
    frmClient &f = load(notMaximized);
    // The same settings, whether or not the configuration reader has set them already; the
    // window takes up its mode when it is activated, after the load.
    f.chkAutoConnect->setValue(1);
    f.chkUserPass->setValue(0);
    f.txtServer->setText(QStringLiteral("127.0.0.1"));
    f.txtPort->setText(server.port());
    return f;
}

// ---------------------------------------------------------------- design state

void tst_frmClient::designControls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("container");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("checked"); // -1: not a check box

    auto row = [](const char *name, const char *kind, const char *caption, const char *container,
                  bool visible = true, bool enabled = true, int checked = -1) {
        QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(caption)
                            << QString::fromLatin1(container) << visible << enabled << checked;
    };
    row("Frame2", "QGroupBox", "", "frmClient");
    row("cboUsername", "QComboBox", "", "Frame2", false);
    row("chkUserPass", "CheckBox", "Use Password", "Frame2", true, true, 1);
    row("txtPassword", "QLineEdit", "", "Frame2");
    row("cboResolution", "QComboBox", "", "Frame2");
    row("cmdRemoteDesktop", "QPushButton", "Remote Desktop", "Frame2");
    row("txtUserName", "QLineEdit", "", "Frame2");
    row("shpLockStatus", "Shape", "", "Frame2");
    row("lblUsername", "QLabel", "Username:", "Frame2");
    row("lblResolution", "QLabel", "Resolution:", "Frame2");
    row("lblPassword", "QLabel", "Password:", "Frame2");
    row("Image1", "QLabel", "", "Frame2");
    row("Frame1", "QGroupBox", "", "frmClient");
    row("cmdKeyboard", "QPushButton", "On-Screen Keyboard", "Frame1");
    row("txtClientname", "QLineEdit", "", "Frame1", true, false);
    row("txtClientIP", "QLineEdit", "", "Frame1", true, false);
    row("Image2", "QLabel", "", "Frame1");
    row("Label1", "QLabel", "Clientname:", "Frame1");
    row("Label2", "QLabel", "Client-IP:", "Frame1");
    row("cmdRestart", "QPushButton", "Restart", "frmClient", true, false);
    row("fraConfig", "QFrame", "", "frmClient", false);
    row("cmdSetDefault", "QPushButton", "Set Default", "fraConfig");
    row("cmdSave", "QPushButton", "Save", "fraConfig");
    row("SSTab1", "QTabWidget", "", "fraConfig");
    row("fraConfiguration", "QFrame", "", "SSTab1");
    row("chkAutoConnect", "CheckBox", "Connect to Server", "fraConfiguration", true, true, 0);
    row("txtServer", "QLineEdit", "", "fraConfiguration");
    row("txtPort", "QLineEdit", "", "fraConfiguration");
    row("lblServer", "QLabel", "Server:", "fraConfiguration");
    row("Label3", "QLabel", "Port:", "fraConfiguration");
    row("fraPerformance", "QFrame", "", "SSTab1");
    row("chkENABLE_ENHANCED_GRAPHICS", "CheckBox", "Enable Enhanced Graphics", "fraPerformance", true, true, 0);
    row("chkDISABLE_THEMING", "CheckBox", "Disable Theming", "fraPerformance", true, true, 0);
    row("chkDISABLE_MENUANIMATIONS", "CheckBox", "Disable Menu Animation", "fraPerformance", true, true, 0);
    row("chkDISABLE_WALLPAPER", "CheckBox", "Disable Wallpaper", "fraPerformance", true, true, 0);
    row("chkDISABLE_FULLWINDOWDRAG", "CheckBox", "Disable Full Window Drag", "fraPerformance", true, true, 0);
    row("chkDISABLE_CURSOR_SHADOW", "CheckBox", "Disable Cursor Shadow", "fraPerformance", true, true, 0);
    row("chkDISABLE_CURSORSETTINGS", "CheckBox", "Disable Cursorsetting", "fraPerformance", true, true, 0);
    row("fraRedirection", "QFrame", "", "SSTab1");
    row("chkRedirectSmartCards", "CheckBox", "Redirect SmartCards", "fraRedirection", true, true, 0);
    row("chkRedirectPrinters", "CheckBox", "Redirect Printers", "fraRedirection", true, true, 0);
    row("chkRedirectPorts", "CheckBox", "Redirect Ports", "fraRedirection", true, true, 0);
    row("chkRedirectDrives", "CheckBox", "Redirect Drives", "fraRedirection", true, true, 0);
    row("fraOther", "QFrame", "", "SSTab1");
    row("chkDisplayConnectionBar", "CheckBox", "Enable Display Connection Bar", "fraOther", true, true, 0);
    row("chkBitmap", "CheckBox", "Enable Cache Bitmaps", "fraOther", true, true, 0);
    row("chkCompress", "CheckBox", "Enable Data Compression", "fraOther", true, true, 0);
    row("chkEnableAutoReconnect", "CheckBox", "Enable Auto Reconnect", "fraOther", true, true, 0);
    row("cmdShutDown", "QPushButton", "Turn Off", "frmClient", true, false);
    row("stbStatusBar", "QStatusBar", "", "frmClient");
    row("stbPanel1", "QLabel", "", "stbStatusBar");
    row("stbPanel2", "QLabel", "", "stbStatusBar");
    row("timControl", "QTimer", "", "frmClient");
    row("Winsock", "SocketControl", "", "frmClient");
    row("lblText", "QLabel", "", "frmClient");
    row("lblServerVersionLabel", "QLabel", "Server Version:", "frmClient", false);
    row("lblServerVersion", "QLabel", "", "frmClient", false);
    row("Image3", "QLabel", "", "frmClient");
    row("Image4", "QLabel", "", "frmClient");
}

void tst_frmClient::designControls()
{
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QString, container);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);
    QFETCH(int, checked);

    frmClient f;
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QObject *> found = f.findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QObject *o = found.first();
    QVERIFY2(o->inherits(kind.toLatin1().constData()), o->metaObject()->className());
    QCOMPARE(captionOf(o), caption);
    QCOMPARE(containerOf(o), container);
    if (auto *w = qobject_cast<QWidget *>(o)) {
        if (!isTabPage(w)) // the tab control shows one page at a time
            QCOMPARE(!w->isHidden(), visible);
        QCOMPARE(w->isEnabled(), enabled);
    }
    if (checked >= 0) {
        auto *box = qobject_cast<CheckBox *>(o);
        QVERIFY(box);
        QCOMPARE(box->Value(), checked);
    }
}

void tst_frmClient::memberNamesAreObjectNames()
{
    frmClient f;
    QCOMPARE(f.objectName(), QStringLiteral("frmClient"));
    for (const auto &[name, object] : members(f)) {
        QVERIFY2(object, qPrintable(name));
        QCOMPARE(object->objectName(), name);
    }
}

void tst_frmClient::resolutionList()
{
    frmClient f;
    const QStringList expected{QStringLiteral("Full-Screen"), QStringLiteral("640 x 480"), QStringLiteral("800 x 600"),
                               QStringLiteral("1024 x 768"),  QStringLiteral("1152 x 864"), QStringLiteral("1280 x 1024"),
                               QStringLiteral("1600 x 1024")};
    QStringList entries;
    for (int i = 0; i < f.cboResolution->count(); ++i)
        entries << f.cboResolution->itemText(i);
    QCOMPARE(entries, expected);
    // Its text can also be typed, and a typed text does not grow the list.
    QVERIFY(f.cboResolution->isEditable());
    f.cboResolution->lineEdit()->setText(QStringLiteral("1000 x 700"));
    QTest::keyClick(f.cboResolution->lineEdit(), Qt::Key_Return);
    QCOMPARE(f.cboResolution->count(), 7);
    QCOMPARE(f.cboResolution->currentText(), QStringLiteral("1000 x 700"));
    // The profile list is chosen from only.
    QVERIFY(!f.cboUsername->isEditable());
}

void tst_frmClient::fonts()
{
    frmClient f;
    const QSet<QString> big{QStringLiteral("cmdRemoteDesktop"), QStringLiteral("cmdKeyboard"),
                            QStringLiteral("cmdRestart"), QStringLiteral("cmdShutDown")};
    QCOMPARE(f.font().family(), QStringLiteral("Arial"));
    QCOMPARE(f.font().pointSizeF(), 8.25);
    for (const auto &[name, object] : members(f)) {
        auto *w = qobject_cast<QWidget *>(object);
        if (!w)
            continue;
        const QFont font = w->font();
        QVERIFY2(font.family() == QStringLiteral("Arial"), qPrintable(name));
        QVERIFY2(font.pointSizeF() == (big.contains(name) ? 9.75 : 8.25), qPrintable(name));
        QVERIFY2(font.bold() == big.contains(name), qPrintable(name));
    }
}

void tst_frmClient::fixedWindow()
{
    frmClient f;
    QCOMPARE(f.windowTitle(), QStringLiteral("Torvane Remote Desktop Client"));
    QCOMPARE(f.size(), QSize(518, 431));
    QCOMPARE(f.minimumSize(), QSize(518, 431));
    QCOMPARE(f.maximumSize(), QSize(518, 431));
}

void tst_frmClient::tabs()
{
    frmClient f;
    QCOMPARE(f.SSTab1->count(), 4);
    const QStringList captions{QStringLiteral("Configuration"), QStringLiteral("Performance"),
                               QStringLiteral("Redirection"), QStringLiteral("Other")};
    const QList<QFrame *> pages{f.fraConfiguration, f.fraPerformance, f.fraRedirection, f.fraOther};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(f.SSTab1->tabText(i), captions.at(i));
        QCOMPARE(f.SSTab1->widget(i), pages.at(i));
        QCOMPARE(pages.at(i)->frameShape(), QFrame::NoFrame);
    }
    QCOMPARE(f.fraConfig->frameShape(), QFrame::NoFrame);
    QCOMPARE(f.SSTab1->currentIndex(), 0);
}

void tst_frmClient::designPositions()
{
    frmClient f;
    QCOMPARE(f.cmdRemoteDesktop->x(), px(720));
    QCOMPARE(f.cmdRemoteDesktop->width(), px(2415));
    QCOMPARE(f.shpLockStatus->x(), px(2880));
    QCOMPARE(f.shpLockStatus->size(), QSize(px(225), py(225)));
    QCOMPARE(f.lblServerVersionLabel->y(), py(5880));
    QCOMPARE(f.lblServerVersion->y(), py(5880));
    // The profile list takes the place of the user name field.
    QCOMPARE(f.cboUsername->geometry(), f.txtUserName->geometry());
    // The status bar runs along the bottom edge.
    QCOMPARE(f.stbStatusBar->geometry().bottom(), f.height() - 1);
    QCOMPARE(f.stbStatusBar->x(), 0);
    QCOMPARE(f.stbStatusBar->width(), f.width());
}

void tst_frmClient::readableLayout()
{
    gClientCfgFile.clear();
    frmClient &f = load(true);
    waitForActivation(f);
    QVERIFY(f.fraConfig->isVisible());
    // Controls that share a place on purpose: the profile list stands in for the user name
    // field, and the lamp is shown only beside the shortened button of operator mode.
    const QSet<QPair<QString, QString>> shared{{QStringLiteral("cboUsername"), QStringLiteral("txtUserName")},
                                               {QStringLiteral("cmdRemoteDesktop"), QStringLiteral("shpLockStatus")}};
    QList<QWidget *> placed;
    for (const auto &[name, object] : members(f)) {
        auto *w = qobject_cast<QWidget *>(object);
        if (!w || isTabPage(w) || w == f.stbStatusBar || w->parentWidget() == f.stbStatusBar)
            continue;
        placed << w;
        // Inside its container, and big enough for what it says.
        // The tab control lays out only the page it shows; all pages have its size.
        const QRect inside = isTabPage(w->parentWidget()) ? f.SSTab1->currentWidget()->rect() : w->parentWidget()->rect();
        QVERIFY2(inside.contains(w->geometry()), qPrintable(name));
        if (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)) {
            if (!captionOf(w).isEmpty()) {
                QVERIFY2(w->sizeHint().width() <= w->width(), qPrintable(name));
                QVERIFY2(w->fontMetrics().height() <= w->height(), qPrintable(name));
            }
        }
    }
    for (QWidget *a : placed)
        for (QWidget *b : placed) {
            if (a == b || a->parentWidget() != b->parentWidget())
                continue;
            if (shared.contains({a->objectName(), b->objectName()}) || shared.contains({b->objectName(), a->objectName()}))
                continue;
            QVERIFY2(!a->geometry().intersects(b->geometry()),
                     qPrintable(a->objectName() + QStringLiteral(" overlaps ") + b->objectName()));
        }
    // Nothing on the window is hidden behind the status bar.
    for (QWidget *w : placed)
        if (w->parentWidget() == &f)
            QVERIFY2(!w->geometry().intersects(f.stbStatusBar->geometry()), qPrintable(w->objectName()));
    // All four tabs can be read.
    for (int i = 0; i < 4; ++i)
        QVERIFY(f.SSTab1->tabBar()->tabRect(i).right() < f.SSTab1->width());
}

void tst_frmClient::passwordShowsStars()
{
    frmClient f;
    QCOMPARE(f.txtPassword->echoMode(), QLineEdit::Password);
    f.txtPassword->setText(QStringLiteral("secret"));
    QCOMPARE(f.txtPassword->displayText(), QStringLiteral("******"));
}

void tst_frmClient::labelBuddies_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("field");
    QTest::newRow("user name") << "lblUsername" << "txtUserName";
    QTest::newRow("password") << "lblPassword" << "txtPassword";
    QTest::newRow("resolution") << "lblResolution" << "cboResolution";
    QTest::newRow("client name") << "Label1" << "txtClientname";
    QTest::newRow("client IP") << "Label2" << "txtClientIP";
    QTest::newRow("server") << "lblServer" << "txtServer";
    QTest::newRow("port") << "Label3" << "txtPort";
}

void tst_frmClient::labelBuddies()
{
    QFETCH(QString, label);
    QFETCH(QString, field);
    frmClient f;
    auto *l = f.findChild<QLabel *>(label);
    auto *w = f.findChild<QWidget *>(field);
    QVERIFY(l && w);
    QCOMPARE(l->buddy(), w);
    QVERIFY(!w->accessibleName().isEmpty());
    QVERIFY(l->text().startsWith(w->accessibleName()));
}

void tst_frmClient::pictures()
{
    frmClient f;
    for (QLabel *image : {f.Image1, f.Image2, f.Image3, f.Image4}) {
        QVERIFY2(!image->pixmap().isNull(), qPrintable(image->objectName()));
        QVERIFY(image->width() > 0 && image->height() > 0);
    }
}

void tst_frmClient::statusBarPanels()
{
    frmClient f;
    QCOMPARE(f.stbStatusBar->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
    f.setPanelText(1, QStringLiteral("Connected 12:00:00"));
    f.setPanelText(2, QStringLiteral("error:5 x"));
    QCOMPARE(f.PanelText(1), QStringLiteral("Connected 12:00:00"));
    QCOMPARE(f.PanelText(2), QStringLiteral("error:5 x"));
    QCOMPARE(f.stbPanel1->text(), QStringLiteral("Connected 12:00:00"));
    QCOMPARE(f.stbPanel2->text(), QStringLiteral("error:5 x"));
    // There are only two panels.
    f.setPanelText(3, QStringLiteral("nowhere"));
    QCOMPARE(f.PanelText(3), QString());
    QCOMPARE(f.PanelText(0), QString());
    QCOMPARE(f.PanelText(1), QStringLiteral("Connected 12:00:00"));
    QCOMPARE(f.PanelText(2), QStringLiteral("error:5 x"));
}

void tst_frmClient::timerAtDesign()
{
    frmClient::TimerIntervalMs = 1234;
    frmClient f;
    QCOMPARE(f.timControl->interval(), 1234);
    QVERIFY(!f.timControl->isActive());
    QVERIFY(!f.timControl->isSingleShot());
    QCOMPARE(f.mLifeCnt, 0);
    frmClient::TimerIntervalMs = 1000;
    frmClient g;
    QCOMPARE(g.timControl->interval(), 1000);
}

void tst_frmClient::handlersWired_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("cmdRemoteDesktop") << "cmdRemoteDesktop";
    QTest::newRow("cmdSave") << "cmdSave";
    QTest::newRow("cmdSetDefault") << "cmdSetDefault";
    QTest::newRow("cmdRestart") << "cmdRestart";
    QTest::newRow("cmdShutDown") << "cmdShutDown";
    QTest::newRow("cmdKeyboard") << "cmdKeyboard";
    QTest::newRow("Winsock_Connect") << "Connect";
    QTest::newRow("Winsock_Close") << "Close";
    QTest::newRow("Winsock_Error") << "Error";
    QTest::newRow("Winsock_DataArrival") << "DataArrival";
    QTest::newRow("timControl") << "timControl";
}

void tst_frmClient::handlersWired()
{
    QFETCH(QString, source);
    frmClient f;
    // Disconnecting succeeds only for a connection that exists, to exactly that handler.
    bool wired = false;
    if (source == QStringLiteral("cmdRemoteDesktop"))
        wired = disconnect(f.cmdRemoteDesktop, &QPushButton::clicked, &f, &frmClient::cmdRemoteDesktop_Click);
    else if (source == QStringLiteral("cmdSave"))
        wired = disconnect(f.cmdSave, &QPushButton::clicked, &f, &frmClient::cmdSave_Click);
    else if (source == QStringLiteral("cmdSetDefault"))
        wired = disconnect(f.cmdSetDefault, &QPushButton::clicked, &f, &frmClient::cmdSetDefault_Click);
    else if (source == QStringLiteral("cmdRestart"))
        wired = disconnect(f.cmdRestart, &QPushButton::clicked, &f, &frmClient::cmdRestart_Click);
    else if (source == QStringLiteral("cmdShutDown"))
        wired = disconnect(f.cmdShutDown, &QPushButton::clicked, &f, &frmClient::cmdShutDown_Click);
    else if (source == QStringLiteral("cmdKeyboard"))
        wired = disconnect(f.cmdKeyboard, &QPushButton::clicked, &f, &frmClient::cmdKeyboard_Click);
    else if (source == QStringLiteral("Connect"))
        wired = disconnect(f.Winsock, &SocketControl::Connected, &f, &frmClient::Winsock_Connect);
    else if (source == QStringLiteral("Close"))
        wired = disconnect(f.Winsock, &SocketControl::Closed, &f, &frmClient::Winsock_Close);
    else if (source == QStringLiteral("Error"))
        wired = disconnect(f.Winsock, &SocketControl::Error, &f, &frmClient::Winsock_Error);
    else if (source == QStringLiteral("DataArrival"))
        wired = disconnect(f.Winsock, &SocketControl::DataArrival, &f, &frmClient::Winsock_DataArrival);
    else if (source == QStringLiteral("timControl"))
        wired = disconnect(f.timControl, &QTimer::timeout, &f, &frmClient::timControl_Timer);
    QVERIFY(wired);
}

void tst_frmClient::keyRouting_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    // The port field takes digits and Backspace only; the server field takes anything.
    QTest::newRow("port digits") << "txtPort" << "" << "12a.3 -+" << "123";
    QTest::newRow("server anything") << "txtServer" << "" << "ts-1.example" << "ts-1.example";
    // The length limits apply to every character code, Backspace (8) included.
    QTest::newRow("port full: digit") << "txtPort" << "123456" << "7" << "123456";
    QTest::newRow("port full: backspace") << "txtPort" << "123456" << "\b" << "123456";
    QTest::newRow("port not full: backspace") << "txtPort" << "12345" << "\b" << "1234";
    QTest::newRow("server full: backspace") << "txtServer" << QString(31, QLatin1Char('s')) << "\bx"
                                            << QString(31, QLatin1Char('s'));
    QTest::newRow("server at 30: one more") << "txtServer" << QString(30, QLatin1Char('s')) << "xy"
                                            << QString(30, QLatin1Char('s')) + QLatin1Char('x');
}

void tst_frmClient::keyRouting()
{
    QFETCH(QString, field);
    QFETCH(QString, before);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    frmClient f;
    auto *edit = f.findChild<QLineEdit *>(field);
    QVERIFY(edit);
    edit->setText(before);
    edit->end(false);
    for (QChar c : typed) {
        if (c == QLatin1Char('\b'))
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, QString(c));
    }
    QCOMPARE(edit->text(), after);
}

void tst_frmClient::keysWithoutCharacterAreNotRouted()
{
    frmClient f;
    // A full port field refuses every character, yet Delete and the arrows still work.
    f.txtPort->setText(QStringLiteral("123456"));
    f.txtPort->home(false);
    QTest::keyClick(f.txtPort, Qt::Key_Delete);
    QCOMPARE(f.txtPort->text(), QStringLiteral("23456"));
    f.txtPort->setText(QStringLiteral("123456"));
    f.txtPort->end(false);
    QTest::keyClick(f.txtPort, Qt::Key_Left);
    QCOMPARE(f.txtPort->cursorPosition(), 5);
    // Control codes are routed like characters: Ctrl+V (22) is refused in the port field, so
    // pasting by keyboard does nothing there, and works in the server field.
    QGuiApplication::clipboard()->setText(QStringLiteral("99"));
    f.txtPort->setText(QStringLiteral("1"));
    f.txtPort->end(false);
    QTest::keyClick(f.txtPort, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.txtPort->text(), QStringLiteral("1"));
    f.txtServer->setText(QStringLiteral("1"));
    f.txtServer->end(false);
    QTest::keyClick(f.txtServer, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(f.txtServer->text(), QStringLiteral("199"));
}

void tst_frmClient::profileListIgnoresTyping()
{
    frmClient f;
    f.cboUsername->addItems({QStringLiteral("alice"), QStringLiteral("bob")});
    f.cboUsername->setCurrentIndex(0);
    QTest::keyClicks(f.cboUsername, QStringLiteral("b"));
    QCOMPARE(f.cboUsername->currentIndex(), 0);
    // Choosing still works.
    QTest::keyClick(f.cboUsername, Qt::Key_Down);
    QCOMPARE(f.cboUsername->currentIndex(), 1);
}

// ---------------------------------------------------------------- load and layouts

void tst_frmClient::loadFillsIdentityAndDefaults()
{
    // Without a configuration path the reader leaves the start values in place.
    gClientCfgFile.clear();
    gUserCfgFile.clear();
    gRdpStarted = true;
    gRdpConnected = true;
    frmClient &f = load(true);
    QVERIFY(f.isVisible());
    QVERIFY(modSystemBasic::IsCloseRemoved(&f));
    QVERIFY(!gRdpStarted);
    QVERIFY(!gRdpConnected);
    QCOMPARE(f.txtClientname->text(), modSystemBasic::GetLocalComputerName());
    SocketControl probe;
    QCOMPARE(f.txtClientIP->text(), probe.LocalIP());
    QVERIFY(!f.txtServer->text().isEmpty());
    QCOMPARE(f.txtPort->text(), QStringLiteral("12559"));
    QCOMPARE(f.txtUserName->text(), QString());
    QCOMPARE(f.txtPassword->text(), QString());
    QCOMPARE(f.cboResolution->currentText(), QStringLiteral("Full-Screen"));
    QCOMPARE(f.txtPassword->echoMode(), QLineEdit::Password);
    QCOMPARE(f.mLifeCnt, 0);

    // The session window is loaded hidden, its control invisible.
    frmMsRdpClient *session = Forms::MsRdpClient();
    QVERIFY(session);
    QVERIFY(!session->isVisible());
    QVERIFY(session->msts);
    QVERIFY(session->msts->isHidden());
}

void tst_frmClient::layoutNotMaximized()
{
    frmClient design;
    frmClient &f = load(true);
    waitForActivation(f);
    QCOMPARE(f.size(), QSize(518, 431));
    QCOMPARE(f.stbPanel1->width(), f.frameGeometry().width() / 2);
    QCOMPARE(f.stbPanel2->width(), f.frameGeometry().width() / 2);
    QCOMPARE(f.lblServerVersion->y(), py(5880));
    QCOMPARE(f.lblServerVersionLabel->y(), py(5880));
    QVERIFY(!(f.windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(f.stbStatusBar->geometry().bottom(), f.height() - 1);
    for (const auto &[name, object] : members(design))
        if (auto *w = qobject_cast<QWidget *>(object); w && !isTabPage(w) && w->parentWidget() != design.stbStatusBar)
            QVERIFY2(f.findChild<QWidget *>(name)->geometry() == w->geometry(), qPrintable(name));
}

void tst_frmClient::layoutFullScreen()
{
    frmClient design;
    frmClient &f = load(false);
    waitForActivation(f);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(f.frameGeometry(), QRect(QPoint(0, 0), screen.size()));
    QCOMPARE(f.geometry(), QRect(QPoint(0, 0), screen.size()));
    // The server version keeps its distance from the lower edge.
    const int distance = design.height() - design.lblServerVersion->y();
    QCOMPARE(f.lblServerVersion->y(), screen.height() - distance);
    QCOMPARE(f.lblServerVersionLabel->y(), screen.height() - distance);
    QCOMPARE(f.lblServerVersion->x(), design.lblServerVersion->x());
    // Half of the new width each.
    QCOMPARE(f.stbPanel1->width(), screen.width() / 2);
    QCOMPARE(f.stbPanel2->width(), screen.width() / 2);
    QCOMPARE(f.stbStatusBar->geometry(), QRect(0, screen.height() - design.stbStatusBar->height(), screen.width(),
                                               design.stbStatusBar->height()));
    // Everything else stays where it was designed.
    for (const auto &[name, object] : members(design)) {
        auto *w = qobject_cast<QWidget *>(object);
        if (!w || isTabPage(w) || w == design.stbStatusBar || w->parentWidget() == design.stbStatusBar
            || w == design.lblServerVersion || w == design.lblServerVersionLabel)
            continue;
        QVERIFY2(f.findChild<QWidget *>(name)->geometry() == w->geometry(), qPrintable(name));
    }
    // It is not resized by anyone.
    QCOMPARE(f.minimumSize(), screen.size());
    QCOMPARE(f.maximumSize(), screen.size());
}

// ---------------------------------------------------------------- modes

void tst_frmClient::configurationMode()
{
    frmClient design;
    frmClient &f = load(true);
    f.cboUsername->show();
    waitForActivation(f);
    QVERIFY(f.fraConfig->isVisible());
    QVERIFY(f.txtUserName->isVisible());
    QVERIFY(!f.cboUsername->isVisible());
    QVERIFY(!f.shpLockStatus->isVisible());
    // Nothing is locked.
    QVERIFY(f.txtUserName->isEnabled());
    QVERIFY(f.txtPassword->isEnabled());
    QVERIFY(f.chkUserPass->isEnabled());
    QVERIFY(f.cboResolution->isEnabled());
    QCOMPARE(f.cmdRemoteDesktop->width(), design.cmdRemoteDesktop->width());
    // No side link.
    QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckClosed));
    QVERIFY(!f.timControl->isActive());
    QCOMPARE(f.PanelText(1), QString());
}

void tst_frmClient::autoConnectWithConfigurationVisibleIsConfigurationMode()
{
    SideLinkServer server;
    frmClient &f = loadOperator(server, true);
    // As after the tray menu's "Configuration": the frame is shown before the activation.
    f.fraConfig->setVisible(true);
    waitForActivation(f);
    f.Form_Activate();
    QVERIFY(f.txtUserName->isEnabled());
    QVERIFY(f.cboResolution->isEnabled());
    QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckClosed));
    QCOMPARE(server.peers.size(), 0);
}

void tst_frmClient::operatorMode()
{
    SideLinkServer server;
    QVERIFY(server.server.isListening());
    QSignalSpy connections(&server.server, &QTcpServer::newConnection);
    frmClient &f = loadOperator(server);

    // Locked once the window is active.
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
    QTRY_COMPARE(connections.count(), 1);
    QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
    QVERIFY(f.timControl->isActive());
    QVERIFY(f.PanelText(1).startsWith(QStringLiteral("Connected ")));

    // With the timer running, a new activation leaves the link to the timer.
    f.Form_Activate();
    QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
    QCoreApplication::processEvents();
    QCOMPARE(connections.count(), 1);
    QVERIFY(server.peers.at(0) && server.peers.at(0)->state() == QAbstractSocket::ConnectedState);

    // The full-screen panel cannot be moved away from the top-left corner.
    f.move(40, 30);
    QTRY_COMPARE(f.pos(), QPoint(0, 0));
}

void tst_frmClient::operatorModeNotMaximizedCanMove()
{
    SideLinkServer server;
    frmClient &f = loadOperator(server, true);
    QTRY_VERIFY(!f.txtUserName->isEnabled());
    f.move(40, 30);
    QTRY_COMPARE(f.pos(), QPoint(40, 30));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(f.pos(), QPoint(40, 30));
    QVERIFY(!(f.windowFlags() & Qt::FramelessWindowHint));
}

void tst_frmClient::timerRunsSupervisorOnTickAfterCount_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("0: first tick") << 0;
    QTest::newRow("1: second tick") << 1;
    QTest::newRow("3: fourth tick") << 3;
    QTest::newRow("negative: first tick") << -2;
}

void tst_frmClient::timerRunsSupervisorOnTickAfterCount()
{
    QFETCH(int, count);
    SideLinkServer server;
    QSignalSpy connections(&server.server, &QTcpServer::newConnection);
    frmClient &f = loadOperator(server);
    QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
    QCOMPARE(connections.count(), 1);

    f.mLifeCnt = count;
    for (int tick = 1; tick <= count; ++tick) {
        f.timControl_Timer();
        QCOMPARE(f.mLifeCnt, count - tick);
        // The link is left alone.
        QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
    }
    f.timControl_Timer();
    // This tick re-opens the side link.
    QTRY_COMPARE(connections.count(), 2);
    QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
    QCOMPARE(f.mLifeCnt, gStartLifeCnt);
}

void tst_frmClient::runningTimerDrivesSupervisor()
{
    frmClient::TimerIntervalMs = 5;
    gStartLifeCnt = 2;
    SideLinkServer server;
    QSignalSpy connections(&server.server, &QTcpServer::newConnection);
    frmClient &f = loadOperator(server);
    QTRY_VERIFY(connections.count() >= 1);
    QVERIFY(f.timControl->isActive());
    // Silent server: the link is re-opened after gStartLifeCnt + 1 ticks, again and again.
    QTRY_VERIFY(connections.count() >= 3);
}

// ---------------------------------------------------------------- life

void tst_frmClient::closeRefused()
{
    frmClient &f = load(true);
    waitForActivation(f);
    QVERIFY(!f.close());
    QVERIFY(f.isVisible());
    QVERIFY(f.windowHandle());
    QVERIFY(!f.windowHandle()->close());
    QVERIFY(f.isVisible());
    QCOMPARE(Forms::Client(), &f);
}

void tst_frmClient::unloadReleasesTimerAndSocket()
{
    SideLinkServer server;
    frmClient &loaded = loadOperator(server);
    QTRY_COMPARE(loaded.Winsock->State(), qint32(SocketControl::sckConnected));
    QTRY_COMPARE(server.peers.size(), 1);
    QPointer<QTcpSocket> peer = server.peers.at(0);
    QPointer<frmClient> f = &loaded;

    Forms::UnloadClient();
    QVERIFY(!Forms::Client());
    QVERIFY(f);
    QVERIFY(!f->isVisible());
    QVERIFY(!f->timControl->isActive());
    QCOMPARE(f->Winsock->State(), qint32(SocketControl::sckClosed));
    // The server sees the link go.
    QTRY_VERIFY(!peer || peer->state() == QAbstractSocket::UnconnectedState);
    // The window itself goes once control is back in the event loop.
    QTRY_VERIFY(!f);
    // The session window stays loaded for the next main window.
    QVERIFY(Forms::MsRdpClient());
}

void tst_frmClient::trayFormLoadsAndReloadsMainWindow()
{
    gClientCfgFile.clear();
    gNotMaximized = true;
    QVERIFY(!frmClientTrayIcon::Instance());
    frmClientTrayIcon &tray = frmClientTrayIcon::Load();
    QCOMPARE(frmClientTrayIcon::Instance(), &tray);
    QCOMPARE(tray.windowTitle(), QStringLiteral("frmDummyTrayIcon"));
    QVERIFY(!tray.isVisible());
    QPointer<frmClient> first = Forms::Client();
    QVERIFY(first);
    QVERIFY(first->isVisible());

    // Loading twice does nothing.
    QCOMPARE(&frmClientTrayIcon::Load(), &tray);
    QCOMPARE(Forms::Client(), first.data());

    // Reloading from inside one of the window's own handlers, as Save does.
    first->txtPort->setText(QStringLiteral("edited"));
    QTimer::singleShot(0, first.data(), [&tray] { tray.RefreshMainForm(); });
    QTRY_VERIFY(Forms::Client() != first.data());
    frmClient *second = Forms::Client();
    QVERIFY(second);
    QVERIFY(second->isVisible());
    QCOMPARE(second->txtPort->text(), QStringLiteral("12559"));
    QTRY_VERIFY(!first);
    QVERIFY(!tray.isVisible());
}

void tst_frmClient::activationWithoutWindowManager_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("configuration") << "configuration";
    QTest::newRow("operator") << "operator";
}

// A bare X server without a window manager never activates a window: the window must take
// up its mode all the same. Run in a child process of this test on its own X server.
void tst_frmClient::activationWithoutWindowManager()
{
    QFETCH(QString, mode);
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfbRun.isEmpty())
        QSKIP("xvfb-run is not installed (scripts/install-deps installs it)");

    SideLinkServer server;
    QSignalSpy connections(&server.server, &QTcpServer::newConnection);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("VESKORA_FRMCLIENT_CHILD"), mode);
    env.insert(QStringLiteral("VESKORA_FRMCLIENT_PORT"), server.port());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(xvfbRun, {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1024x768x24 -nolisten tcp"),
                          QCoreApplication::applicationFilePath()});
    QVERIFY(child.waitForStarted(10000));
    // Keep our server answering while the child runs.
    QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 60000);
    const QString output = QString::fromLocal8Bit(child.readAll());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("no active window")), qPrintable(output));
    if (mode == QStringLiteral("operator"))
        QCOMPARE(connections.count(), 1);
    else
        QCOMPARE(connections.count(), 0);
}

// The child side of activationWithoutWindowManager.
static int runActivationChild(const QString &mode)
{
    RecordingSessionControl::install();
    frmClient::TimerIntervalMs = 3600 * 1000;
    TestSupport::ProgramDir dir;
    const bool operatorMode = mode == QStringLiteral("operator");
    const QString port = qEnvironmentVariable("VESKORA_FRMCLIENT_PORT");
    if (operatorMode)
        writeOperatorConfig(dir, port);
    gNotMaximized = !operatorMode;
    frmClient &f = Forms::LoadClient();
    if (operatorMode) {
        f.chkAutoConnect->setValue(1);
        f.txtServer->setText(QStringLiteral("127.0.0.1"));
        f.txtPort->setText(port);
    }
    auto report = [&f](const char *what) {
        std::printf("%s: active window %s, fraConfig %d, txtUserName enabled %d, socket %d, geometry %d,%d %dx%d\n",
                    what, QApplication::activeWindow() ? "present" : "none", f.fraConfig->isVisible(),
                    f.txtUserName->isEnabled(), f.Winsock->State(), f.x(), f.y(), f.width(), f.height());
        std::fflush(stdout);
    };
    const bool moded = QTest::qWaitFor(
        [&] { return operatorMode ? !f.txtUserName->isEnabled() : f.fraConfig->isVisible(); }, 20000);
    if (!moded) {
        report("no mode taken up");
        return 1;
    }
    if (QApplication::activeWindow()) {
        report("a window was activated, so this proves nothing");
        return 2;
    }
    if (operatorMode) {
        if (!QTest::qWaitFor([&] { return f.Winsock->State() == SocketControl::sckConnected; }, 20000)) {
            report("side link not opened");
            return 3;
        }
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        if (f.geometry() != QRect(QPoint(0, 0), screen.size())) {
            report("not covering the screen");
            return 4;
        }
    }
    std::printf("no active window\n");
    report("mode taken up");
    Forms::UnloadClient();
    Forms::UnloadMsRdpClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

int main(int argc, char **argv)
{
    const QString child = qEnvironmentVariable("VESKORA_FRMCLIENT_CHILD");
    QApplication app(argc, argv);
    if (!child.isEmpty())
        return runActivationChild(child);
    tst_frmClient test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmClient.moc"
