#include "client/frmClient.h"

#include "client/FormLayout.h"
#include "client/Forms.h"
#include "client/RemoteDesktopConnection.h"
#include "client/SessionControl.h"
#include "client/VbControls.h"
#include "client/frmMsRdpClient.h"
#include "serverlink/ServerAddress.h"
#include "serverlink/SideLinkMessages.h"
#include "serverlink/SideLinkSupervisor.h"
#include "serverlink/SocketControl.h"
#include "settings/ClientConfig.h"
#include "settings/modGlobClientVar.h"
#include "system/modSystemBasic.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProxyStyle>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <memory>
#include <optional>

using namespace modGlobClientVar;
using FormLayout::Place;

namespace {

// The window's client area at design time, in pixels.
constexpr int kDesignWidth = 518;
constexpr int kDesignHeight = 431;
// Height of the status bar along the bottom edge, in pixels.
constexpr int kStatusBarHeight = 20;
// The host put into the server field before the configuration is read.
const char *const kDefaultServer = "TSSERVER";
const char *const kDefaultPort = "12559";

template<typename T>
T *named(T *w, const char *name)
{
    w->setObjectName(QLatin1String(name));
    return w;
}

// Labels show their text as it stands: status texts carry names from the side link.
QLabel *label(QWidget *parent, const char *name, const QString &caption)
{
    QLabel *l = named(new QLabel(caption, parent), name);
    l->setTextFormat(Qt::PlainText);
    return l;
}

// A label names the field it stands beside, for keyboard users and screen readers.
void describe(QLabel *caption, QWidget *field)
{
    caption->setBuddy(field);
    QString name = caption->text();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    field->setAccessibleName(name);
}

QLabel *picture(QWidget *parent, const char *name, int left, int top)
{
    QLabel *p = named(new QLabel(parent), name);
    p->setPixmap(FormLayout::Picture(QStringLiteral(":/veskora.xpm")));
    p->setScaledContents(true);
    Place(p, left, top, 480, 480);
    return p;
}

QFrame *borderlessFrame(QWidget *parent, const char *name)
{
    QFrame *f = named(new QFrame(parent), name);
    f->setFrameShape(QFrame::NoFrame);
    return f;
}

using Holders = std::array<QWidget *, ClientKeyCount>;

// The control of a configuration key, named as the key's table says.
template<typename T>
T *holding(Holders &holders, ClientKey key, T *control)
{
    control->setObjectName(ClientConfig::KeyOf(key).control);
    holders.at(size_t(key)) = control;
    return control;
}

// One page of the configuration's tab control with its check boxes, one under the other.
void optionPage(QTabWidget *tabs, const char *name, const QString &caption,
                std::initializer_list<std::pair<ClientKey, const char *>> boxes, Holders &holders)
{
    QFrame *page = borderlessFrame(tabs, name);
    tabs->addTab(page, caption);
    int top = 300;
    for (const auto &[key, boxCaption] : boxes) {
        Place(holding(holders, key, new CheckBox(QLatin1String(boxCaption), page)), 240, top, 3600, 255);
        top += 420;
    }
}

// The application's style with less room beside each tab caption, so that all four tabs of
// the configuration stand side by side in the frame.
class NarrowTabStyle : public QProxyStyle
{
public:
    NarrowTabStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        if (metric == PM_TabBarTabHSpace)
            return qMin(QProxyStyle::pixelMetric(metric, option, widget), 10);
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// The character code of a key press, as a key handler sees it: printable characters and
// control codes (Backspace 8, Enter 13, Escape 27, Ctrl+letter 1 to 26). Keys that type
// nothing (Delete, arrows, function keys, Tab) give no code.
std::optional<int> keyAscii(const QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return std::nullopt;
    default:
        break;
    }
    const Qt::KeyboardModifiers mods = e->modifiers();
    if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
        return e->key() - Qt::Key_A + 1;
    const QString text = e->text();
    if (!text.isEmpty() && text.at(0).unicode() != 0x7F)
        return text.at(0).unicode();
    return std::nullopt;
}

// The key that types a character code, for passing on a character a handler put in.
int keyOf(int code)
{
    switch (code) {
    case 8:
        return Qt::Key_Backspace;
    case 13:
        return Qt::Key_Return;
    case 27:
        return Qt::Key_Escape;
    default:
        break;
    }
    const QChar c(code);
    if (c.isLetter() && c.toUpper().unicode() < 0x80)
        return c.toUpper().unicode();
    if (code >= 0x20 && code < 0x7F)
        return code;
    return 0;
}

// Set while a key press changed by a handler is passed on, so it is not filtered again.
bool g_forwardingKey = false;

} // namespace

frmClient::frmClient(QWidget *parent) : QWidget(parent), mConnection(std::make_unique<RemoteDesktopConnection>())
{
    buildControls();
    mSupervisor = new SideLinkSupervisor(*Winsock, *timControl, *this, this);
    mMessages = new SideLinkMessages(*Winsock, *mSupervisor, *this, this);
}

frmClient::~frmClient() = default;

void frmClient::buildControls()
{
    setObjectName(QStringLiteral("frmClient"));
    setWindowTitle(QStringLiteral("Torvane Remote Desktop Client"));
    setFont(FormLayout::Arial());
    // Fixed single border: the operator cannot resize the window.
    setFixedSize(kDesignWidth, kDesignHeight);

    // --- user frame
    Frame2 = named(new QGroupBox(this), "Frame2");
    Place(Frame2, 120, 60, 3300, 2700);

    cboUsername = named(new QComboBox(Frame2), "cboUsername");
    Place(cboUsername, 1200, 240, 1980, 315);
    cboUsername->hide();

    chkUserPass = holding(mHolders, ClientKey::chkUserPass, new CheckBox(QStringLiteral("Use Password"), Frame2));
    Place(chkUserPass, 1200, 1080, 1980, 255);
    chkUserPass->setValue(1);

    txtPassword = holding(mHolders, ClientKey::txtPassword, new QLineEdit(Frame2));
    Place(txtPassword, 1200, 660, 1980, 315);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(FormLayout::PasswordFieldStyle);

    cboResolution = holding(mHolders, ClientKey::cboResolution, new QComboBox(Frame2));
    Place(cboResolution, 1200, 1440, 1980, 315);
    cboResolution->setEditable(true);
    cboResolution->setInsertPolicy(QComboBox::NoInsert);
    cboResolution->addItems(ClientConfig::Resolutions());

    cmdRemoteDesktop = named(new QPushButton(QStringLiteral("Remote Desktop"), Frame2), "cmdRemoteDesktop");
    Place(cmdRemoteDesktop, 720, 1980, 2415, 495);

    txtUserName = holding(mHolders, ClientKey::txtUserName, new QLineEdit(Frame2));
    Place(txtUserName, 1200, 240, 1980, 315);

    shpLockStatus = named(new Shape(Frame2), "shpLockStatus");
    Place(shpLockStatus, 2880, 2115, 225, 225);

    lblUsername = label(Frame2, "lblUsername", QStringLiteral("Username:"));
    Place(lblUsername, 120, 270, 1080, 255);
    lblResolution = label(Frame2, "lblResolution", QStringLiteral("Resolution:"));
    Place(lblResolution, 120, 1470, 1080, 255);
    lblPassword = label(Frame2, "lblPassword", QStringLiteral("Password:"));
    Place(lblPassword, 120, 690, 1080, 255);
    picture(Frame2, "Image1", 120, 1980);

    // --- client frame
    Frame1 = named(new QGroupBox(this), "Frame1");
    Place(Frame1, 120, 2820, 3300, 1980);

    cmdKeyboard = named(new QPushButton(QStringLiteral("On-Screen Keyboard"), Frame1), "cmdKeyboard");
    Place(cmdKeyboard, 720, 1260, 2415, 495);

    txtClientname = named(new QLineEdit(Frame1), "txtClientname");
    Place(txtClientname, 1200, 240, 1980, 315);
    txtClientname->setEnabled(false);

    txtClientIP = named(new QLineEdit(Frame1), "txtClientIP");
    Place(txtClientIP, 1200, 720, 1980, 315);
    txtClientIP->setEnabled(false);

    picture(Frame1, "Image2", 120, 1260);
    Label1 = label(Frame1, "Label1", QStringLiteral("Clientname:"));
    Place(Label1, 120, 270, 1080, 255);
    Label2 = label(Frame1, "Label2", QStringLiteral("Client-IP:"));
    Place(Label2, 120, 750, 1080, 255);

    // --- window
    cmdRestart = named(new QPushButton(QStringLiteral("Restart"), this), "cmdRestart");
    Place(cmdRestart, 120, 4920, 1560, 495);
    cmdRestart->setEnabled(false);

    fraConfig = borderlessFrame(this, "fraConfig");
    Place(fraConfig, 3540, 60, 4110, 5220);
    fraConfig->hide();

    cmdSetDefault = named(new QPushButton(QStringLiteral("Set Default"), fraConfig), "cmdSetDefault");
    Place(cmdSetDefault, 0, 4740, 1980, 420);
    cmdSave = named(new QPushButton(QStringLiteral("Save"), fraConfig), "cmdSave");
    Place(cmdSave, 2130, 4740, 1980, 420);

    SSTab1 = named(new QTabWidget(fraConfig), "SSTab1");
    Place(SSTab1, 0, 0, 4110, 4620);
    SSTab1->setUsesScrollButtons(false);
    auto *tabStyle = new NarrowTabStyle;
    tabStyle->setParent(SSTab1->tabBar());
    SSTab1->tabBar()->setStyle(tabStyle);

    QFrame *fraConfiguration = borderlessFrame(SSTab1, "fraConfiguration");
    SSTab1->addTab(fraConfiguration, QStringLiteral("Configuration"));
    chkAutoConnect = holding(mHolders, ClientKey::AutoConnect, new CheckBox(QStringLiteral("Connect to Server"), fraConfiguration));
    Place(chkAutoConnect, 240, 300, 3480, 255);
    txtServer = holding(mHolders, ClientKey::txtServer, new QLineEdit(fraConfiguration));
    Place(txtServer, 1080, 780, 2640, 315);
    txtPort = holding(mHolders, ClientKey::txtPort, new QLineEdit(fraConfiguration));
    Place(txtPort, 1080, 1260, 1200, 315);
    lblServer = label(fraConfiguration, "lblServer", QStringLiteral("Server:"));
    Place(lblServer, 240, 810, 840, 255);
    Label3 = label(fraConfiguration, "Label3", QStringLiteral("Port:"));
    Place(Label3, 240, 1290, 840, 255);

    {
        using enum ClientKey; // the members of the same names are not meant here
        optionPage(SSTab1, "fraPerformance", QStringLiteral("Performance"),
                   {{chkENABLE_ENHANCED_GRAPHICS, "Enable Enhanced Graphics"},
                    {chkDISABLE_THEMING, "Disable Theming"},
                    {chkDISABLE_MENUANIMATIONS, "Disable Menu Animation"},
                    {chkDISABLE_WALLPAPER, "Disable Wallpaper"},
                    {chkDISABLE_FULLWINDOWDRAG, "Disable Full Window Drag"},
                    {chkDISABLE_CURSOR_SHADOW, "Disable Cursor Shadow"},
                    {chkDISABLE_CURSORSETTINGS, "Disable Cursorsetting"}}, mHolders);
        optionPage(SSTab1, "fraRedirection", QStringLiteral("Redirection"),
                   {{chkRedirectSmartCards, "Redirect SmartCards"},
                    {chkRedirectPrinters, "Redirect Printers"},
                    {chkRedirectPorts, "Redirect Ports"},
                    {chkRedirectDrives, "Redirect Drives"}}, mHolders);
        optionPage(SSTab1, "fraOther", QStringLiteral("Other"),
                   {{chkDisplayConnectionBar, "Enable Display Connection Bar"},
                    {chkBitmap, "Enable Cache Bitmaps"},
                    {chkCompress, "Enable Data Compression"},
                    {chkEnableAutoReconnect, "Enable Auto Reconnect"}}, mHolders);
    }

    cmdShutDown = named(new QPushButton(QStringLiteral("Turn Off"), this), "cmdShutDown");
    Place(cmdShutDown, 1740, 4920, 1560, 495);
    cmdShutDown->setEnabled(false);

    stbStatusBar = named(new QStatusBar(this), "stbStatusBar");
    stbStatusBar->setSizeGripEnabled(false);
    stbPanel1 = label(stbStatusBar, "stbPanel1", QString());
    stbPanel2 = label(stbStatusBar, "stbPanel2", QString());
    for (QLabel *panel : {stbPanel1, stbPanel2}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setFixedWidth(kDesignWidth / 2);
        stbStatusBar->addWidget(panel);
    }
    stbStatusBar->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);

    timControl = named(new QTimer(this), "timControl");
    timControl->setInterval(TimerIntervalMs);
    connect(timControl, &QTimer::timeout, this, &frmClient::timControl_Timer);

    Winsock = named(new SocketControl(this), "Winsock");
    connect(Winsock, &SocketControl::Connected, this, &frmClient::Winsock_Connect);
    connect(Winsock, &SocketControl::Closed, this, &frmClient::Winsock_Close);
    connect(Winsock, &SocketControl::Error, this, &frmClient::Winsock_Error);
    connect(Winsock, &SocketControl::DataArrival, this, &frmClient::Winsock_DataArrival);

    lblText = label(this, "lblText", QString());
    Place(lblText, 120, 5520, 3420, 255);
    lblServerVersionLabel = label(this, "lblServerVersionLabel", QStringLiteral("Server Version:"));
    Place(lblServerVersionLabel, 120, 5880, 1320, 255);
    lblServerVersionLabel->hide();
    lblServerVersion = label(this, "lblServerVersion", QString());
    Place(lblServerVersion, 1440, 5880, 2040, 255);
    lblServerVersion->hide();
    picture(this, "Image3", 6480, 5400);
    picture(this, "Image4", 7080, 5400);

    for (QPushButton *big : {cmdRemoteDesktop, cmdKeyboard, cmdRestart, cmdShutDown})
        big->setFont(FormLayout::Arial(9.75, true));

    describe(lblUsername, txtUserName);
    describe(lblPassword, txtPassword);
    describe(lblResolution, cboResolution);
    describe(Label1, txtClientname);
    describe(Label2, txtClientIP);
    describe(lblServer, txtServer);
    describe(Label3, txtPort);
    cboUsername->setAccessibleName(QStringLiteral("Username"));

    connect(cmdRemoteDesktop, &QPushButton::clicked, this, &frmClient::cmdRemoteDesktop_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmClient::cmdSave_Click);
    connect(cmdSetDefault, &QPushButton::clicked, this, &frmClient::cmdSetDefault_Click);
    connect(cmdRestart, &QPushButton::clicked, this, &frmClient::cmdRestart_Click);
    connect(cmdShutDown, &QPushButton::clicked, this, &frmClient::cmdShutDown_Click);
    connect(cmdKeyboard, &QPushButton::clicked, this, &frmClient::cmdKeyboard_Click);

    // The profile list's handler runs once for each choice: when the selection changes (by the
    // operator or by the program) and when the operator picks the entry already selected.
    auto changedJustNow = std::make_shared<bool>(false);
    connect(cboUsername, &QComboBox::currentIndexChanged, this, [this, changedJustNow](int) {
        *changedJustNow = true;
        QTimer::singleShot(0, this, [changedJustNow] { *changedJustNow = false; });
        cboUsername_Click();
    });
    connect(cboUsername, &QComboBox::activated, this, [this, changedJustNow](int) {
        const bool handled = *changedJustNow;
        *changedJustNow = false;
        if (!handled)
            cboUsername_Click();
    });

    for (QWidget *w : {static_cast<QWidget *>(txtPort), static_cast<QWidget *>(txtServer),
                       static_cast<QWidget *>(cboUsername)})
        w->installEventFilter(this);
}

void frmClient::Form_Load()
{
    // The operator cannot close the window.
    modSystemBasic::RemoveCloseMenu(this);

    // The session window, hidden, with its control invisible; and the session flags cleared,
    // as they follow the control's state. A window rebuilt while a session runs (the tray's
    // Configuration) leaves that session, its picture and its flags alone.
    frmMsRdpClient &session = Forms::LoadMsRdpClient();
    const SessionControl::SessionState state = Forms::SessionState();
    if (session.msts && state == SessionControl::SessionState::NotStarted)
        session.msts->setVisible(false);
    session.msts_StateChanged(state);

    // The panel's identity; its address follows the configuration.
    txtClientname->setText(modSystemBasic::GetLocalComputerName());

    txtPassword->setEchoMode(QLineEdit::Password);

    // Start values of the connection fields; the configuration overwrites them.
    txtServer->setText(QLatin1String(kDefaultServer));
    txtUserName->clear();
    txtPassword->clear();
    txtPort->setText(QLatin1String(kDefaultPort));
    cboResolution->setCurrentIndex(0);

    ReadConfigurationFromFile();
    // The address the side link would use towards the server configured; once the link is
    // open, the one it uses (a host name is not looked up here).
    Winsock->SetRemoteHost(ServerAddress::Host(txtServer->text()));
    txtClientIP->setText(Winsock->LocalIP());

    // Layout, in pixels.
    const QSize screen = screenPixels();
    const bool fullScreen = !gNotMaximized && !screen.isEmpty();
    if (fullScreen) {
        const int outerHeight = frameGeometry().height();
        for (QLabel *l : {lblServerVersion, lblServerVersionLabel})
            l->move(l->x(), screen.height() - (outerHeight - l->y()));
        // The window's outer edges are the screen's; it keeps its caption and fixed border,
        // so that a window manager's panels and notification area stay within reach. The
        // frame is known once the window is on the screen (fitToScreen).
        mScreenSize = screen;
        setFixedSize(mScreenSize);
        move(0, 0);
    }
    fitPanelsToWindow();

    // A Wayland compositor gives no window a place of its own: the screen is its full-screen state.
    if (fullScreen && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        showFullScreen();
    else
        show();
}

void frmClient::Form_Activate()
{
    if (mUnloading)
        return;
    mActivatedSinceShow = true;

    const bool operatorMode = chkAutoConnect->Value() == 1 && !fraConfig->isVisibleTo(this);
    if (!operatorMode) {
        fraConfig->setVisible(true);
        txtUserName->setVisible(true);
        cboUsername->setVisible(false);
        shpLockStatus->setVisible(false);
        return;
    }

    txtUserName->setEnabled(false);
    txtPassword->setEnabled(false);
    chkUserPass->setValue(1);
    chkUserPass->setEnabled(false);
    cboResolution->setEnabled(false);

    // The button ends 60 twips before the lamp.
    const int widthTwips = (shpLockStatus->x() - cmdRemoteDesktop->x()) * modSystemBasic::TwipsPerPixelX() - 60;
    cmdRemoteDesktop->resize(modSystemBasic::TwipsToPixelsX(widthTwips), cmdRemoteDesktop->height());

    if (!gNotMaximized) {
        // The full-screen panel stays where it is: it has no frame to drag, and whatever
        // moves it is undone.
        mMoveLocked = true;
        if (pos() != QPoint(0, 0))
            move(0, 0);
    }

    if (!timControl->isActive())
        ConnectSideLink();
}

void frmClient::Form_Unload()
{
    mUnloading = true;
    mMoveLocked = false;
    disconnect(Winsock, nullptr, this, nullptr);
    mSupervisor->Unload();
    hide();
}

void frmClient::timControl_Timer()
{
    mSupervisor->timControl_Timer();
}

QString frmClient::PanelText(int panel) const
{
    switch (panel) {
    case 1:
        return stbPanel1->text();
    case 2:
        return stbPanel2->text();
    default:
        return {};
    }
}

void frmClient::setPanelText(int panel, const QString &text)
{
    if (panel == 1)
        stbPanel1->setText(text);
    else if (panel == 2)
        stbPanel2->setText(text);
}

void frmClient::ShowConfigurationFrame()
{
    fraConfig->setVisible(true);
}

void frmClient::ShowNote(const QString &text)
{
    lblText->setText(text);
    lblText->resize(qMax(lblText->width(), lblText->sizeHint().width()), lblText->height());
}

void frmClient::CloseSideLink()
{
    Winsock->Close();
}

QSize frmClient::screenPixels()
{
    return QSize(modSystemBasic::GetScreenWidth() / modSystemBasic::TwipsPerPixelX(),
                 modSystemBasic::GetScreenHeight() / modSystemBasic::TwipsPerPixelY());
}

// Each status-bar panel is half the window's outer width. The frame is known only once the
// window is on the screen, so this runs again then.
void frmClient::fitPanelsToWindow()
{
    const int half = frameGeometry().width() / 2;
    if (stbPanel1->width() != half || stbPanel2->width() != half) {
        stbPanel1->setFixedWidth(half);
        stbPanel2->setFixedWidth(half);
    }
}

bool frmClient::event(QEvent *e)
{
    const bool result = QWidget::event(e);
    switch (e->type()) {
    case QEvent::WindowActivate:
        // The first activation after the window stood in for one (see showEvent) has been
        // handled already.
        if (!mActivatedSinceShow)
            Form_Activate();
        mActivatedSinceShow = true;
        break;
    case QEvent::WindowDeactivate:
        mActivatedSinceShow = false;
        break;
    case QEvent::Resize:
        // The status bar stays along the bottom edge.
        if (stbStatusBar)
            stbStatusBar->setGeometry(0, height() - kStatusBarHeight, width(), kStatusBarHeight);
        break;
    case QEvent::Move:
        if (isVisible()) {
            fitToScreen();
            fitPanelsToWindow();
        }
        if (mMoveLocked && pos() != QPoint(0, 0))
            QTimer::singleShot(0, this, [this] {
                if (mMoveLocked && pos() != QPoint(0, 0))
                    move(0, 0);
            });
        break;
    default:
        break;
    }
    return result;
}

void frmClient::fitToScreen()
{
    if (mScreenSize.isEmpty())
        return;
    // The inside is the screen less the frame a window manager put around the window.
    const QRect outer = frameGeometry(), inner = geometry();
    const QSize inside = mScreenSize - QSize(outer.width() - inner.width(), outer.height() - inner.height());
    if (inside == size() || inside.isEmpty())
        return;
    // The server version keeps its distance from the lower edge.
    const int down = inside.height() - height();
    for (QLabel *l : {lblServerVersion, lblServerVersionLabel})
        l->move(l->x(), l->y() + down);
    setFixedSize(inside);
    move(0, 0);
}

void frmClient::closeEvent(QCloseEvent *e)
{
    // Only the program unloads the window; close requests from outside are refused.
    e->ignore();
}

void frmClient::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    fitToScreen();
    fitPanelsToWindow();
    if (e->spontaneous())
        return;
    // Without a window manager no window is ever activated; the window still has to take up
    // its mode (and start the side link) once it is on the screen.
    mActivatedSinceShow = false;
    QTimer::singleShot(0, this, [this] {
        if (!mUnloading && isVisible() && !mActivatedSinceShow && !QApplication::activeWindow())
            Form_Activate();
    });
}

bool frmClient::eventFilter(QObject *watched, QEvent *e)
{
    if (e->type() == QEvent::InputMethod && (watched == txtPort || watched == txtServer) && !g_forwardingKey) {
        // Dead keys, compose and input methods deliver their characters here, not as key
        // presses: each goes through the key handler as if typed, the composition still under
        // way is shown as it is.
        auto *composed = static_cast<QInputMethodEvent *>(e);
        for (const QChar c : composed->commitString()) {
            QKeyEvent typed(QEvent::KeyPress, keyOf(c.unicode()), Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(watched, &typed);
        }
        QInputMethodEvent underWay(composed->preeditString(), composed->attributes());
        g_forwardingKey = true;
        QCoreApplication::sendEvent(watched, &underWay);
        g_forwardingKey = false;
        return true;
    }
    if (e->type() != QEvent::KeyPress || g_forwardingKey)
        return QWidget::eventFilter(watched, e);

    void (frmClient::*handler)(int &) = nullptr;
    if (watched == txtPort)
        handler = &frmClient::txtPort_KeyPress;
    else if (watched == txtServer)
        handler = &frmClient::txtServer_KeyPress;
    else if (watched == cboUsername)
        handler = &frmClient::cboUsername_KeyPress;
    if (!handler)
        return QWidget::eventFilter(watched, e);

    auto *key = static_cast<QKeyEvent *>(e);
    const std::optional<int> code = keyAscii(key);
    if (!code)
        return QWidget::eventFilter(watched, e);

    int KeyAscii = *code;
    (this->*handler)(KeyAscii);
    if (KeyAscii == 0)
        return true; // swallowed
    if (KeyAscii != *code) {
        // The handler typed another character in place of the one pressed.
        QKeyEvent replaced(QEvent::KeyPress, keyOf(KeyAscii), Qt::NoModifier, QString(QChar(KeyAscii)));
        g_forwardingKey = true;
        QCoreApplication::sendEvent(watched, &replaced);
        g_forwardingKey = false;
        return true;
    }
    return false;
}
