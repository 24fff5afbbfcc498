#include "client/frmClient.h"

#include "client/Forms.h"
#include "client/SessionControl.h"
#include "client/frmMsRdpClient.h"
#include "serverlink/SocketControl.h"
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

namespace {

// The window's client area at design time, in pixels.
constexpr int kDesignWidth = 518;
constexpr int kDesignHeight = 431;
// Height of the status bar along the bottom edge, in pixels.
constexpr int kStatusBarHeight = 20;
// The host put into the server field before the configuration is read.
const char *const kDefaultServer = "TSSERVER";
const char *const kDefaultPort = "12559";

// Design lengths are twips; the window and its frames place their children in pixels.
int pixelsX(int twips)
{
    return qRound(twips / double(modSystemBasic::TwipsPerPixelX()));
}

int pixelsY(int twips)
{
    return qRound(twips / double(modSystemBasic::TwipsPerPixelY()));
}

void place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(pixelsX(left), pixelsY(top), pixelsX(width), pixelsY(height));
}

QFont baseFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(8.25);
    return f;
}

QFont bigButtonFont()
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(9.75);
    f.setBold(true);
    return f;
}

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

QLineEdit *textBox(QWidget *parent, const char *name)
{
    return named(new QLineEdit(parent), name);
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

QLabel *picture(QWidget *parent, const char *name)
{
    QLabel *p = named(new QLabel(parent), name);
    p->setPixmap(QPixmap(QStringLiteral(":/veskora.xpm")));
    p->setScaledContents(true);
    return p;
}

QFrame *borderlessFrame(QWidget *parent, const char *name)
{
    QFrame *f = named(new QFrame(parent), name);
    f->setFrameShape(QFrame::NoFrame);
    return f;
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

// Each status-bar panel is half the window's outer width. The frame is known only once the
// window is on the screen, so this runs again then.
static void fitPanelsToWindow(frmClient *f)
{
    const int half = f->frameGeometry().width() / 2;
    if (f->stbPanel1->width() != half || f->stbPanel2->width() != half) {
        f->stbPanel1->setFixedWidth(half);
        f->stbPanel2->setFixedWidth(half);
    }
}

frmClient::frmClient(QWidget *parent) : QWidget(parent)
{
    buildControls();
}

frmClient::~frmClient() = default;

void frmClient::buildControls()
{
    setObjectName(QStringLiteral("frmClient"));
    setWindowTitle(QStringLiteral("Torvane Remote Desktop Client"));
    setFont(baseFont());
    // Fixed single border: the operator cannot resize the window.
    setFixedSize(kDesignWidth, kDesignHeight);

    // --- user frame
    Frame2 = named(new QGroupBox(this), "Frame2");
    place(Frame2, 120, 60, 3300, 2700);

    cboUsername = named(new QComboBox(Frame2), "cboUsername");
    place(cboUsername, 1200, 240, 1980, 315);
    cboUsername->hide();

    chkUserPass = named(new CheckBox(QStringLiteral("Use Password"), Frame2), "chkUserPass");
    place(chkUserPass, 1200, 1080, 1980, 255);
    chkUserPass->setValue(1);

    txtPassword = textBox(Frame2, "txtPassword");
    place(txtPassword, 1200, 660, 1980, 315);
    txtPassword->setEchoMode(QLineEdit::Password);
    // One "*" for each character, whatever the style would draw.
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));

    cboResolution = named(new QComboBox(Frame2), "cboResolution");
    place(cboResolution, 1200, 1440, 1980, 315);
    cboResolution->setEditable(true);
    cboResolution->setInsertPolicy(QComboBox::NoInsert);
    cboResolution->addItems({QStringLiteral("Full-Screen"), QStringLiteral("640 x 480"), QStringLiteral("800 x 600"),
                             QStringLiteral("1024 x 768"), QStringLiteral("1152 x 864"), QStringLiteral("1280 x 1024"),
                             QStringLiteral("1600 x 1024")});

    cmdRemoteDesktop = named(new QPushButton(QStringLiteral("Remote Desktop"), Frame2), "cmdRemoteDesktop");
    place(cmdRemoteDesktop, 720, 1980, 2415, 495);

    txtUserName = textBox(Frame2, "txtUserName");
    place(txtUserName, 1200, 240, 1980, 315);

    shpLockStatus = named(new Shape(Frame2), "shpLockStatus");
    place(shpLockStatus, 2880, 2115, 225, 225);

    lblUsername = label(Frame2, "lblUsername", QStringLiteral("Username:"));
    place(lblUsername, 120, 270, 1080, 255);
    lblResolution = label(Frame2, "lblResolution", QStringLiteral("Resolution:"));
    place(lblResolution, 120, 1470, 1080, 255);
    lblPassword = label(Frame2, "lblPassword", QStringLiteral("Password:"));
    place(lblPassword, 120, 690, 1080, 255);

    Image1 = picture(Frame2, "Image1");
    place(Image1, 120, 1980, 480, 480);

    // --- client frame
    Frame1 = named(new QGroupBox(this), "Frame1");
    place(Frame1, 120, 2820, 3300, 1980);

    cmdKeyboard = named(new QPushButton(QStringLiteral("On-Screen Keyboard"), Frame1), "cmdKeyboard");
    place(cmdKeyboard, 720, 1260, 2415, 495);

    txtClientname = textBox(Frame1, "txtClientname");
    place(txtClientname, 1200, 240, 1980, 315);
    txtClientname->setEnabled(false);

    txtClientIP = textBox(Frame1, "txtClientIP");
    place(txtClientIP, 1200, 720, 1980, 315);
    txtClientIP->setEnabled(false);

    Image2 = picture(Frame1, "Image2");
    place(Image2, 120, 1260, 480, 480);

    Label1 = label(Frame1, "Label1", QStringLiteral("Clientname:"));
    place(Label1, 120, 270, 1080, 255);
    Label2 = label(Frame1, "Label2", QStringLiteral("Client-IP:"));
    place(Label2, 120, 750, 1080, 255);

    // --- window
    cmdRestart = named(new QPushButton(QStringLiteral("Restart"), this), "cmdRestart");
    place(cmdRestart, 120, 4920, 1560, 495);
    cmdRestart->setEnabled(false);

    fraConfig = borderlessFrame(this, "fraConfig");
    place(fraConfig, 3540, 60, 4110, 5220);
    fraConfig->hide();

    cmdSetDefault = named(new QPushButton(QStringLiteral("Set Default"), fraConfig), "cmdSetDefault");
    place(cmdSetDefault, 0, 4740, 1980, 420);
    cmdSave = named(new QPushButton(QStringLiteral("Save"), fraConfig), "cmdSave");
    place(cmdSave, 2130, 4740, 1980, 420);

    SSTab1 = named(new QTabWidget(fraConfig), "SSTab1");
    place(SSTab1, 0, 0, 4110, 4620);
    SSTab1->setUsesScrollButtons(false);
    auto *tabStyle = new NarrowTabStyle;
    tabStyle->setParent(SSTab1->tabBar());
    SSTab1->tabBar()->setStyle(tabStyle);

    fraConfiguration = borderlessFrame(SSTab1, "fraConfiguration");
    SSTab1->addTab(fraConfiguration, QStringLiteral("Configuration"));
    chkAutoConnect = named(new CheckBox(QStringLiteral("Connect to Server"), fraConfiguration), "chkAutoConnect");
    place(chkAutoConnect, 240, 300, 3480, 255);
    txtServer = textBox(fraConfiguration, "txtServer");
    place(txtServer, 1080, 780, 2640, 315);
    txtPort = textBox(fraConfiguration, "txtPort");
    place(txtPort, 1080, 1260, 1200, 315);
    lblServer = label(fraConfiguration, "lblServer", QStringLiteral("Server:"));
    place(lblServer, 240, 810, 840, 255);
    Label3 = label(fraConfiguration, "Label3", QStringLiteral("Port:"));
    place(Label3, 240, 1290, 840, 255);

    auto optionBoxes = [](QFrame *page, std::initializer_list<std::pair<CheckBox **, std::pair<const char *, const char *>>> boxes) {
        int top = 300;
        for (const auto &[member, nameCaption] : boxes) {
            *member = named(new CheckBox(QLatin1String(nameCaption.second), page), nameCaption.first);
            place(*member, 240, top, 3600, 255);
            top += 420;
        }
    };

    fraPerformance = borderlessFrame(SSTab1, "fraPerformance");
    SSTab1->addTab(fraPerformance, QStringLiteral("Performance"));
    optionBoxes(fraPerformance, {
        {&chkENABLE_ENHANCED_GRAPHICS, {"chkENABLE_ENHANCED_GRAPHICS", "Enable Enhanced Graphics"}},
        {&chkDISABLE_THEMING, {"chkDISABLE_THEMING", "Disable Theming"}},
        {&chkDISABLE_MENUANIMATIONS, {"chkDISABLE_MENUANIMATIONS", "Disable Menu Animation"}},
        {&chkDISABLE_WALLPAPER, {"chkDISABLE_WALLPAPER", "Disable Wallpaper"}},
        {&chkDISABLE_FULLWINDOWDRAG, {"chkDISABLE_FULLWINDOWDRAG", "Disable Full Window Drag"}},
        {&chkDISABLE_CURSOR_SHADOW, {"chkDISABLE_CURSOR_SHADOW", "Disable Cursor Shadow"}},
        {&chkDISABLE_CURSORSETTINGS, {"chkDISABLE_CURSORSETTINGS", "Disable Cursorsetting"}},
    });

    fraRedirection = borderlessFrame(SSTab1, "fraRedirection");
    SSTab1->addTab(fraRedirection, QStringLiteral("Redirection"));
    optionBoxes(fraRedirection, {
        {&chkRedirectSmartCards, {"chkRedirectSmartCards", "Redirect SmartCards"}},
        {&chkRedirectPrinters, {"chkRedirectPrinters", "Redirect Printers"}},
        {&chkRedirectPorts, {"chkRedirectPorts", "Redirect Ports"}},
        {&chkRedirectDrives, {"chkRedirectDrives", "Redirect Drives"}},
    });

    fraOther = borderlessFrame(SSTab1, "fraOther");
    SSTab1->addTab(fraOther, QStringLiteral("Other"));
    optionBoxes(fraOther, {
        {&chkDisplayConnectionBar, {"chkDisplayConnectionBar", "Enable Display Connection Bar"}},
        {&chkBitmap, {"chkBitmap", "Enable Cache Bitmaps"}},
        {&chkCompress, {"chkCompress", "Enable Data Compression"}},
        {&chkEnableAutoReconnect, {"chkEnableAutoReconnect", "Enable Auto Reconnect"}},
    });

    cmdShutDown = named(new QPushButton(QStringLiteral("Turn Off"), this), "cmdShutDown");
    place(cmdShutDown, 1740, 4920, 1560, 495);
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
    place(lblText, 120, 5520, 3420, 255);

    lblServerVersionLabel = label(this, "lblServerVersionLabel", QStringLiteral("Server Version:"));
    place(lblServerVersionLabel, 120, 5880, 1320, 255);
    lblServerVersionLabel->hide();
    lblServerVersion = label(this, "lblServerVersion", QString());
    place(lblServerVersion, 1440, 5880, 2040, 255);
    lblServerVersion->hide();

    Image3 = picture(this, "Image3");
    place(Image3, 6480, 5400, 480, 480);
    Image4 = picture(this, "Image4");
    place(Image4, 7080, 5400, 480, 480);

    for (QPushButton *big : {cmdRemoteDesktop, cmdKeyboard, cmdRestart, cmdShutDown})
        big->setFont(bigButtonFont());

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

    // The session window, hidden, with its control invisible.
    frmMsRdpClient &session = Forms::LoadMsRdpClient();
    if (session.msts)
        session.msts->setVisible(false);

    gRdpStarted = false;
    gRdpConnected = false;

    // The panel's identity.
    txtClientname->setText(modSystemBasic::GetLocalComputerName());
    txtClientIP->setText(Winsock->LocalIP());

    txtPassword->setEchoMode(QLineEdit::Password);

    // Start values of the connection fields; the configuration overwrites them.
    txtServer->setText(QLatin1String(kDefaultServer));
    txtUserName->clear();
    txtPassword->clear();
    txtPort->setText(QLatin1String(kDefaultPort));
    cboResolution->setCurrentIndex(0);

    ReadConfigurationFromFile();

    // Layout, in pixels.
    if (gNotMaximized) {
        fitPanelsToWindow(this);
    } else {
        const int screenWidth = modSystemBasic::GetScreenWidth() / modSystemBasic::TwipsPerPixelX();
        const int screenHeight = modSystemBasic::GetScreenHeight() / modSystemBasic::TwipsPerPixelY();
        if (screenWidth > 0 && screenHeight > 0) {
            const int outerHeight = frameGeometry().height();
            for (QLabel *l : {lblServerVersion, lblServerVersionLabel})
                l->move(l->x(), screenHeight - (outerHeight - l->y()));
            // The window's outer edges are the screen's; it keeps its caption and fixed border,
            // so that a window manager's panels and notification area stay within reach. The
            // frame is known once the window is on the screen (fitToScreen).
            mScreenSize = QSize(screenWidth, screenHeight);
            setFixedSize(mScreenSize);
            move(0, 0);
        }
        fitPanelsToWindow(this);
    }

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
    const int tppX = modSystemBasic::TwipsPerPixelX();
    const int widthTwips = (shpLockStatus->x() - cmdRemoteDesktop->x()) * tppX - 60;
    cmdRemoteDesktop->resize(qRound(widthTwips / double(tppX)), cmdRemoteDesktop->height());

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
    timControl->stop();
    disconnect(Winsock, nullptr, this, nullptr);
    Winsock->Close();
    hide();
}

void frmClient::timControl_Timer()
{
    if (mLifeCnt > 0) {
        --mLifeCnt;
        return;
    }
    ConnectSideLink();
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
            fitPanelsToWindow(this);
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
    fitPanelsToWindow(this);
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
