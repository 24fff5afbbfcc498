#include "rdp/FreeRdpSessionControl.h"

#include "platform/ErrorNumbers.h"
#include "platform/Logging.h"
#include "platform/MsgBox.h"
#include "system/RemovableMedia.h"
#include "rdp/RdpSession.h"
#include "rdp/RdpX11.h"
#include "serverlink/ServerAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <QWindow>

#include <freerdp/input.h>
#include <freerdp/locale/keyboard.h>
#include <winpr/input.h>

#include <mutex>

namespace {

int g_certificatePromptMs = FreeRdpSessionControl::DefaultCertificatePromptMs;

_XDisplay *x11Display()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

// Where a window manager follows the desktop conventions it places windows, makes them cover
// the screen and hands out the keyboard; on a bare X server nothing does. Elsewhere (another
// window system) the desktop takes care of it.
bool windowManaged()
{
    _XDisplay *display = x11Display();
    return !display || RdpX11::windowManagerRunning(display);
}

// A minimised window can be brought back: a window manager runs and a panel, a dock or a
// notification area (whose icon restores the session) stands on the screen. Elsewhere only the
// notification area can be seen to be there.
bool minimizedRestorable()
{
    _XDisplay *display = x11Display();
    if (!display)
        return QSystemTrayIcon::isSystemTrayAvailable();
    return RdpX11::windowManagerRunning(display)
        && (RdpX11::dockRunning(display) || QSystemTrayIcon::isSystemTrayAvailable());
}

std::once_flag keyboardOnce;
DWORD keyboardLayout = 0x409;

bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

void initKeyboard()
{
    // Off X the library's keyboard set-up would still open the X display of the environment,
    // which makes a Wayland compositor start Xwayland for nothing; there the key codes are the
    // kernel's (plus 8) anyway, and the layout stays US English.
    if (!onX11())
        return;
    std::call_once(keyboardOnce, [] {
        const DWORD layout = freerdp_keyboard_init(0);
        if (layout != 0)
            keyboardLayout = layout;
    });
}

// The removable media mounted now, as drives: the name the server shows, the mount point.
QList<QPair<QString, QString>> removableDrives()
{
    QList<QPair<QString, QString>> drives;
    const QList<RemovableMedia::MountEntry> mounts = RemovableMedia::Mounted();
    for (const RemovableMedia::MountEntry &m : mounts)
        drives.append({QFileInfo(m.mountPoint).fileName(), m.mountPoint});
    return drives;
}

void checkRange(qint64 value, qint64 low, qint64 high)
{
    if (value < low || value > high)
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
}

} // namespace

FreeRdpSessionControl::FreeRdpSessionControl(QWidget *parent) : SessionControl(parent)
{
    initKeyboard();
    RdpSession::warmUp();
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_InputMethodEnabled, false);

    m_connectionBar = new QWidget(this);
    m_connectionBar->setObjectName(QStringLiteral("connectionBar"));
    m_connectionBar->setAutoFillBackground(true);
    auto *layout = new QHBoxLayout(m_connectionBar);
    layout->setContentsMargins(8, 2, 4, 2);
    m_connectionBarServer = new QLabel(m_connectionBar);
    m_connectionBarServer->setObjectName(QStringLiteral("lblConnectionBarServer"));
    m_connectionBarServer->setTextFormat(Qt::PlainText);
    layout->addWidget(m_connectionBarServer, 1, Qt::AlignCenter);
    m_connectionBarMinimize = new QToolButton(m_connectionBar);
    m_connectionBarMinimize->setObjectName(QStringLiteral("cmdConnectionBarMinimize"));
    m_connectionBarMinimize->setText(QStringLiteral("_"));
    m_connectionBarMinimize->setToolTip(tr("Minimize"));
    m_connectionBarMinimize->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_connectionBarMinimize);
    auto *close = new QToolButton(m_connectionBar);
    close->setObjectName(QStringLiteral("cmdConnectionBarClose"));
    close->setText(QStringLiteral("X"));
    close->setToolTip(tr("Disconnect"));
    close->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(close);
    connect(m_connectionBarMinimize, &QToolButton::clicked, this, [this] { window()->showMinimized(); });
    connect(close, &QToolButton::clicked, this, [this] { Disconnect(); });
    // On X a window of its own, so that the X server keeps the picture, put there directly, off
    // it. Elsewhere the bar is drawn into the session's window: a window within a Wayland window
    // is a surface of its own, and made the session's control one too.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_connectionBar->setAttribute(Qt::WA_NativeWindow);
    m_connectionBar->hide();
}

FreeRdpSessionControl::~FreeRdpSessionControl()
{
    delete m_certificatePrompt;
    // Joins the worker; the signals it may still have queued die with this object.
    m_session.reset();
    wipePassword();
}

void FreeRdpSessionControl::checkSettable() const
{
    // Settings reach the session when it starts; a running session cannot take them.
    if (m_session)
        ErrorNumbers::raise(ErrorNumbers::InvalidCall);
}

void FreeRdpSessionControl::setServer(const QString &value)
{
    checkSettable();
    QString host;
    quint16 port;
    if (!value.isEmpty() && !ServerAddress::Split(value, host, port))
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
    m_server = value;
    updateConnectionBar();
}

void FreeRdpSessionControl::setUserName(const QString &value)
{
    checkSettable();
    if (value.size() > 255)
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
    m_userName = value;
}

void FreeRdpSessionControl::setNumber(qint32 &member, qint32 value, qint32 low, qint32 high)
{
    checkSettable();
    checkRange(value, low, high);
    member = value;
}

void FreeRdpSessionControl::setSwitch(bool &member, bool value)
{
    checkSettable();
    member = value;
}

void FreeRdpSessionControl::setDesktopWidth(qint32 value) { setNumber(m_desktopWidth, value, 200, 8192); }
void FreeRdpSessionControl::setDesktopHeight(qint32 value) { setNumber(m_desktopHeight, value, 200, 8192); }
void FreeRdpSessionControl::setFullScreen(qint32 value) { setNumber(m_fullScreen, value, 0, 1); }
void FreeRdpSessionControl::setBitmapPeristence(qint32 value) { setNumber(m_bitmapPersistence, value, 0, 1); }
void FreeRdpSessionControl::setCompress(qint32 value) { setNumber(m_compress, value, 0, 1); }
// The flags the protocol defines, up to desktop composition (0x100).
void FreeRdpSessionControl::setPerformanceFlags(qint32 value) { setNumber(m_performanceFlags, value, 0, 0x1FF); }
void FreeRdpSessionControl::setRedirectDrives(bool value) { setSwitch(m_redirectDrives, value); }
void FreeRdpSessionControl::setRedirectPorts(bool value) { setSwitch(m_redirectPorts, value); }
void FreeRdpSessionControl::setRedirectPrinters(bool value) { setSwitch(m_redirectPrinters, value); }
void FreeRdpSessionControl::setRedirectSmartCards(bool value) { setSwitch(m_redirectSmartCards, value); }
void FreeRdpSessionControl::setDisplayConnectionBar(bool value) { setSwitch(m_displayConnectionBar, value); }
void FreeRdpSessionControl::setEnableAutoReconnect(bool value) { setSwitch(m_enableAutoReconnect, value); }

void FreeRdpSessionControl::setClearTextPassword(const QString &value)
{
    checkSettable();
    if (value.size() > 255)
        ErrorNumbers::raise(ErrorNumbers::InvalidPropertyValue);
    wipePassword();
    m_password = value.toUtf8();
}

void FreeRdpSessionControl::wipePassword()
{
    m_password.fill('\0');
    m_password.clear();
}

void FreeRdpSessionControl::NotifyRedirectDeviceChange(quint32 wParam, qint32)
{
    if (!established())
        ErrorNumbers::raise(ErrorNumbers::InvalidCall);
    // Whatever arrived or went, the session follows the media mounted now.
    if (m_redirectDrives && (wParam == 0x8000 || wParam == 0x8004))
        m_session->postDrives(removableDrives());
}

QString FreeRdpSessionControl::certificateStoreDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Veskora/rdp");
}

quint32 FreeRdpSessionControl::scanCodeForX11KeyCode(quint32 keyCode)
{
    // The library's table has 256 entries and says nothing sensible below 8.
    if (keyCode < 8 || keyCode > 255)
        return 0;
    if (!onX11())
        return GetVirtualScanCodeFromVirtualKeyCode(GetVirtualKeyCodeFromKeycode(keyCode, KEYCODE_TYPE_EVDEV), KBD_TYPE_IBM_ENHANCED);
    initKeyboard();
    return freerdp_keyboard_get_rdp_scancode_from_x11_keycode(keyCode);
}

void FreeRdpSessionControl::Connect()
{
    if (m_session)
        ErrorNumbers::raise(ErrorNumbers::InvalidCall);
    RdpSessionConfig config;
    QString host;
    quint16 port = 3389;
    if (!ServerAddress::Split(m_server, host, port))
        ErrorNumbers::raise(ErrorNumbers::InvalidCall);
    config.host = host.toStdString();
    config.port = port;
    config.userName = m_userName.toStdString();
    config.password.assign(m_password.constData(), size_t(m_password.size()));
    wipePassword();
    config.width = quint32(m_desktopWidth);
    config.height = quint32(m_desktopHeight);
    config.bitmapPersistence = m_bitmapPersistence == 1;
    config.compress = m_compress == 1;
    config.performanceFlags = quint32(m_performanceFlags);
    config.redirectDrives = m_redirectDrives;
    config.redirectPorts = m_redirectPorts;
    config.redirectPrinters = m_redirectPrinters;
    config.redirectSmartCards = m_redirectSmartCards;
    config.autoReconnect = m_enableAutoReconnect;
    config.connectTimeLimitMs = m_connectTimeLimitMs;
    const QString store = certificateStoreDirectory();
    QDir().mkpath(store);
    QFile::setPermissions(store, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    config.certificateDirectory = QFile::encodeName(store).toStdString();
    config.keyboardLayout = keyboardLayout;
    if (m_redirectDrives)
        config.drives = removableDrives();

    m_keysDown.clear();
    m_buttonsDown = {};
    m_frame.reset(QSize(m_desktopWidth, m_desktopHeight));
    // Before the session exists: making the window native announces its new id, which would
    // attach it a second time.
    attachWindow();
    m_session = std::make_unique<RdpSession>(m_frame, std::move(config));
    // Queued: the session sends them from its worker thread, and ended() is its last.
    RdpSession *session = m_session.get();
    connect(session, &RdpSession::connected, this, &FreeRdpSessionControl::sessionConnected, Qt::QueuedConnection);
    connect(session, &RdpSession::ended, this, &FreeRdpSessionControl::sessionEnded, Qt::QueuedConnection);
    connect(session, &RdpSession::reconnecting, this, &FreeRdpSessionControl::sessionReconnecting, Qt::QueuedConnection);
    connect(session, &RdpSession::frameChanged, this, &FreeRdpSessionControl::sessionFrameChanged,
            Qt::QueuedConnection);
    connect(session, &RdpSession::resized, this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
    connect(session, &RdpSession::certificateChanged, this, &FreeRdpSessionControl::sessionCertificateChanged,
            Qt::QueuedConnection);
    setState(SessionState::Connecting);
    m_session->start();
    applyFullScreen();
    updateConnectionBar();
    update();
}

void FreeRdpSessionControl::Disconnect()
{
    if (!m_session)
        return;
    m_session->requestStop();
    setState(SessionState::Ending);
}

QImage FreeRdpSessionControl::screenImage() const
{
    return m_session ? m_frame.image() : QImage();
}

QSize FreeRdpSessionControl::remoteSize() const
{
    return m_session ? m_frame.size() : QSize(m_desktopWidth, m_desktopHeight);
}

void FreeRdpSessionControl::sessionConnected()
{
    // A session made again is connected again, but established only once; one being ended
    // stays so.
    const SessionState before = State();
    if (before != SessionState::Connecting && before != SessionState::Reconnecting)
        return;
    setState(SessionState::Connected);
    if (hasFocus())
        m_session->postInput({RdpInputEvent::FocusIn, false, lockKeyStates(), 0, 0});
    if (before == SessionState::Connecting)
        emit OnConnected();
}

void FreeRdpSessionControl::sessionReconnecting()
{
    if (State() == SessionState::Connected)
        setState(SessionState::Reconnecting);
}

void FreeRdpSessionControl::sessionEnded(qint32 reason)
{
    if (!m_session)
        return;
    delete m_certificatePrompt;
    m_session.reset();
    m_frame.setWindow(nullptr);
    m_framePutDirectly = false;
    updateConnectionBar();
    setState(SessionState::NotStarted);
    emit OnDisconnected(reason);
}

void FreeRdpSessionControl::sessionCertificateChanged(const QString &remembered, const QString &presented)
{
    if (!m_session)
        return;
    // The control asks, as a terminal-services control does; no answer in time is a refusal.
    auto *box = new QMessageBox(QMessageBox::Warning, MsgBox::AppTitle,
                                tr("The certificate of this remote computer has changed since the last "
                                   "connection:\n%1\n\nRemembered fingerprint:\n%2\n\nPresented fingerprint:\n%3\n\n"
                                   "Connect only if its administrator has renewed the certificate.")
                                    .arg(m_server, remembered, presented),
                                QMessageBox::NoButton, window());
    box->setObjectName(QStringLiteral("certificatePrompt"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *accept = box->addButton(tr("Connect"), QMessageBox::AcceptRole);
    box->setDefaultButton(box->addButton(tr("Cancel"), QMessageBox::RejectRole));
    m_certificatePrompt = box;
    RdpSession *session = m_session.get();
    auto answer = [this, session, box, accept](bool) {
        if (m_session.get() == session)
            session->answerCertificate(box->clickedButton() == accept);
    };
    connect(box, &QMessageBox::finished, this, answer);
    // The box's own timer, which goes with it: the program unloads this code after the session.
    auto *timeLimit = new QTimer(box);
    timeLimit->setSingleShot(true);
    connect(timeLimit, &QTimer::timeout, box, &QMessageBox::reject);
    timeLimit->start(g_certificatePromptMs);
    box->open();
    box->activateWindow();
}

void FreeRdpSessionControl::setCertificatePromptTimeout(int milliseconds)
{
    g_certificatePromptMs = milliseconds;
}

void FreeRdpSessionControl::sessionFrameChanged()
{
    const QRect damaged = m_frame.takeDamage();
    if (!damaged.isEmpty())
        update(damaged);
}

QPoint FreeRdpSessionControl::toRemote(const QPointF &local) const
{
    // One pixel here is one pixel there.
    const QSize size = remoteSize();
    if (size.isEmpty())
        return QPoint();
    return QPoint(qBound(0, int(local.x()), size.width() - 1), qBound(0, int(local.y()), size.height() - 1));
}

void FreeRdpSessionControl::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    if (!m_session) {
        painter.fillRect(event->rect(), Qt::black);
        return;
    }
    m_frame.paint(painter, event->rect());
    // The toolkit's copy reaches the window after this returns; a change the session put there
    // meanwhile would be covered by the older picture.
    if (m_framePutDirectly)
        QMetaObject::invokeMethod(this, [this, area = event->rect()] { m_frame.present(area); }, Qt::QueuedConnection);
}

bool FreeRdpSessionControl::event(QEvent *event)
{
    if (event->type() == QEvent::WinIdChange && m_session)
        attachWindow();
    return SessionControl::event(event);
}

// Where the X server takes the library's pixels as they are, the session puts its picture into
// this widget's window itself: the user-interface thread would add a hop, a paint and a copy.
void FreeRdpSessionControl::attachWindow()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    auto window = x11 && x11->connection() ? RdpX11::WindowImage::create(x11->connection(), quint32(winId())) : nullptr;
    m_framePutDirectly = window != nullptr;
    const bool shared = m_frame.setWindow(std::move(window));
    if (m_framePutDirectly)
        windowHandle()->installEventFilter(this);
    qCInfo(lcSession, "picture %s", !m_framePutDirectly ? "painted by the toolkit"
                                    : shared         ? "put into the window from memory shared with the X server"
                                                     : "put into the window through the X connection");
}

void FreeRdpSessionControl::resizeEvent(QResizeEvent *event)
{
    SessionControl::resizeEvent(event);
    layoutConnectionBar();
}

void FreeRdpSessionControl::showEvent(QShowEvent *event)
{
    SessionControl::showEvent(event);
    applyFullScreen();
    updateConnectionBar();
    // The session takes the keyboard when it appears, before any click: a window manager
    // hands it over on request; without one the window takes it once it is on the screen.
    window()->installEventFilter(this);
    if (QWindow *handle = window()->windowHandle())
        handle->installEventFilter(this);
    m_focusWhenExposed = true;
    setFocus(Qt::ActiveWindowFocusReason);
    window()->activateWindow();
}

bool FreeRdpSessionControl::eventFilter(QObject *watched, QEvent *event)
{
    // Shown again, the window gets the toolkit's copy of the picture, which the session's own
    // puts have left behind.
    if (watched == windowHandle() && event->type() == QEvent::Expose && m_framePutDirectly)
        QMetaObject::invokeMethod(this, [this] { m_frame.present(rect()); }, Qt::QueuedConnection);
    if (watched == window()->windowHandle() && event->type() == QEvent::Expose && window()->windowHandle()->isExposed()
        && std::exchange(m_focusWhenExposed, false) && !windowManaged())
        RdpX11::takeInputFocus(x11Display(), window()->winId());
    // A window that nothing on the desktop could bring back is not left minimised.
    if (watched == window() && event->type() == QEvent::WindowStateChange && window()->isMinimized()
        && !minimizedRestorable())
        QMetaObject::invokeMethod(
            this,
            [this] {
                window()->setWindowState(window()->windowState() & ~Qt::WindowMinimized);
                window()->activateWindow();
            },
            Qt::QueuedConnection);
    return SessionControl::eventFilter(watched, event);
}

void FreeRdpSessionControl::applyFullScreen()
{
    if (m_fullScreen != 1 || !m_session)
        return;
    QWidget *top = window();
    if (!top || !top->isVisible())
        return;
    // A window manager covers the screen with the window on request (the full-screen state);
    // on a bare X server the window takes the screen's geometry itself.
    if (!top->isFullScreen())
        top->showFullScreen();
    if (!windowManaged() && top->screen())
        top->setGeometry(top->screen()->geometry());
}

void FreeRdpSessionControl::layoutConnectionBar()
{
    const int w = qMin(width(), 420);
    const int h = m_connectionBar->sizeHint().height();
    m_connectionBar->setGeometry((width() - w) / 2, 0, w, h);
}

void FreeRdpSessionControl::updateConnectionBar()
{
    m_connectionBarServer->setText(m_server);
    const bool show = m_session && m_fullScreen == 1 && m_displayConnectionBar;
    m_connectionBarMinimize->setVisible(minimizedRestorable());
    m_connectionBar->setVisible(show);
    if (show) {
        layoutConnectionBar();
        m_connectionBar->raise();
    }
}

void FreeRdpSessionControl::keyPressEvent(QKeyEvent *event)
{
    const quint32 code = scanCodeForX11KeyCode(event->nativeScanCode());
    if (!code || !established())
        return;
    // Held keys repeat as further presses, as a keyboard does on the wire.
    if (!m_keysDown.contains(code))
        m_keysDown.append(code);
    m_session->postInput({RdpInputEvent::Key, true, code, 0, 0});
}

void FreeRdpSessionControl::keyReleaseEvent(QKeyEvent *event)
{
    if (event->isAutoRepeat())
        return;
    const quint32 code = scanCodeForX11KeyCode(event->nativeScanCode());
    if (!code || !established())
        return;
    m_keysDown.removeAll(code);
    m_session->postInput({RdpInputEvent::Key, false, code, 0, 0});
}

void FreeRdpSessionControl::sendMouseButton(Qt::MouseButton button, bool down, const QPointF &pos)
{
    if (!established())
        return;
    const QPoint p = toRemote(pos);
    RdpInputEvent e{RdpInputEvent::Mouse, down, 0, quint16(p.x()), quint16(p.y())};
    switch (button) {
    case Qt::LeftButton:
        e.code = PTR_FLAGS_BUTTON1;
        break;
    case Qt::RightButton:
        e.code = PTR_FLAGS_BUTTON2;
        break;
    case Qt::MiddleButton:
        e.code = PTR_FLAGS_BUTTON3;
        break;
    case Qt::BackButton:
        e.kind = RdpInputEvent::ExtendedMouse;
        e.code = PTR_XFLAGS_BUTTON1;
        break;
    case Qt::ForwardButton:
        e.kind = RdpInputEvent::ExtendedMouse;
        e.code = PTR_XFLAGS_BUTTON2;
        break;
    default:
        return;
    }
    if (down)
        e.code |= e.kind == RdpInputEvent::Mouse ? PTR_FLAGS_DOWN : PTR_XFLAGS_DOWN;
    // Servers that place the pointer only on moves (the shadow server is one) need it where
    // the click is before the click.
    m_session->postInput({RdpInputEvent::Mouse, false, PTR_FLAGS_MOVE, e.x, e.y});
    if (down)
        m_buttonsDown |= button;
    else
        m_buttonsDown &= ~Qt::MouseButtons(button);
    m_session->postInput(e);
}

void FreeRdpSessionControl::mousePressEvent(QMouseEvent *event)
{
    m_lastPointer = event->position();
    setFocus(Qt::MouseFocusReason);
    sendMouseButton(event->button(), true, event->position());
}

void FreeRdpSessionControl::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The server counts clicks itself: a double click is a second press.
    sendMouseButton(event->button(), true, event->position());
}

void FreeRdpSessionControl::mouseReleaseEvent(QMouseEvent *event)
{
    m_lastPointer = event->position();
    sendMouseButton(event->button(), false, event->position());
}

void FreeRdpSessionControl::mouseMoveEvent(QMouseEvent *event)
{
    m_lastPointer = event->position();
    if (!established())
        return;
    const QPoint p = toRemote(event->position());
    m_session->postInput({RdpInputEvent::Mouse, false, PTR_FLAGS_MOVE, quint16(p.x()), quint16(p.y())});
}

void FreeRdpSessionControl::wheelEvent(QWheelEvent *event)
{
    if (!established())
        return;
    const QPoint p = toRemote(event->position());
    auto send = [&](int delta, quint32 axis) {
        while (delta != 0) {
            // The wire carries at most one notch (120) per event, sign in its own flag.
            const int step = qBound(-120, delta, 120);
            delta -= step;
            quint32 flags = axis;
            if (step < 0)
                flags |= PTR_FLAGS_WHEEL_NEGATIVE | (quint32(0x100 + step) & 0xFF);
            else
                flags |= quint32(step) & 0xFF;
            m_session->postInput({RdpInputEvent::Mouse, false, flags, quint16(p.x()), quint16(p.y())});
        }
    };
    send(event->angleDelta().y(), PTR_FLAGS_WHEEL);
    // The protocol's horizontal wheel turns the other way round.
    send(-event->angleDelta().x(), PTR_FLAGS_HWHEEL);
    event->accept();
}

quint32 FreeRdpSessionControl::lockKeyStates()
{
    return RdpX11::lockKeyStates(x11Display());
}

void FreeRdpSessionControl::focusInEvent(QFocusEvent *event)
{
    SessionControl::focusInEvent(event);
    if (established())
        m_session->postInput({RdpInputEvent::FocusIn, false, lockKeyStates(), 0, 0});
}

void FreeRdpSessionControl::focusOutEvent(QFocusEvent *event)
{
    SessionControl::focusOutEvent(event);
    releaseAllInput();
}

void FreeRdpSessionControl::releaseAllInput()
{
    // Keys and buttons held while the focus goes would stay down on the server.
    if (established()) {
        for (quint32 code : std::as_const(m_keysDown))
            m_session->postInput({RdpInputEvent::Key, false, code, 0, 0});
        for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton, Qt::BackButton, Qt::ForwardButton})
            if (m_buttonsDown & b)
                sendMouseButton(b, false, m_lastPointer);
    }
    m_keysDown.clear();
    m_buttonsDown = {};
}

bool FreeRdpSessionControl::focusNextPrevChild(bool)
{
    // Tab belongs to the remote desktop.
    return false;
}
