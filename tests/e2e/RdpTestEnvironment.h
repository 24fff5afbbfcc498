#pragma once

#include <QImage>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Real remote desktop servers for tests: an Xvfb display of its own with the FreeRDP shadow
// server showing it on 127.0.0.1 (network-level authentication against a SAM file), and xrdp
// with a test user of its own; and the desktops a panel runs on (an X server with a window
// manager, a panel and a notification area, or none).
struct _XDisplay;

namespace RdpTestEnvironment {

inline const QString UserName = QStringLiteral("nlauser");
inline const QString Password = QStringLiteral("Nla-Pass-1");

// Empty when every program is there, else what is missing (tests skip with it).
QString missingPrograms();

// An Xvfb server on a display number it chose itself (-displayfd).
class Display
{
public:
    Display(int width = 1024, int height = 768);
    ~Display();
    bool isRunning() const { return m_number >= 0; }
    QString name() const { return QStringLiteral(":%1").arg(m_number); }
    // Runs an X client (xsetroot and the like) on this display and waits for it.
    bool run(const QString &program, const QStringList &arguments) const;

private:
    QProcess m_process;
    int m_number = -1;
};

// The shadow server on a free port (or a given one), its configuration in a directory of its
// own: two servers with different directories have different certificates.
class Server
{
public:
    explicit Server(const Display &display);
    ~Server();
    // On a free port (or the given one) of 127.0.0.1 (or the given loopback address).
    bool start(quint16 port = 0, const QString &bindAddress = QStringLiteral("127.0.0.1"));
    void kill();
    // A certificate made anew, as a server renewing its own does, or the given one (PEM files).
    bool renewCertificate(const QString &certificate = {}, const QString &key = {});
    // The server's certificate (PEM), once it has started.
    QString certificate() const { return m_dir.filePath(QStringLiteral("config/freerdp/shadow/shadow.crt")); }
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("%1:%2").arg(m_bind).arg(m_port); }
    QString log() const;

private:
    const Display &m_display;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_bind = QStringLiteral("127.0.0.1");
};

quint16 freePort();
// A loopback address of its own (127.x.y.z) whose standard remote desktop port is free, so
// that a panel reaches a server there by the address alone and runs side by side do not meet.
QString freeServerAddress();
// Something listens on address:port (TCP, IPv4).
bool listening(const QString &address, quint16 port);

// The display's own view of its keyboard, pointer and screen, and input made there as by
// hand (XTest).
class Probe
{
public:
    static constexpr unsigned LeftButtonMask = 1u << 8;
    explicit Probe(const QString &display);
    ~Probe();
    bool isOpen() const { return m_display != nullptr; }
    bool keyDown(int keyCode) const;
    // Pointer position on the root window; the button mask goes to *mask.
    QPoint pointer(unsigned *mask) const;
    // Presses (and releases) keys as a keyboard does; the text may hold lower-case letters,
    // digits, blanks and '\n' (Return). A key name alone ("F4") with modifiers: key().
    void type(const QString &text) const;
    void key(const char *keyName, bool alt = false) const;
    void press(unsigned keyCode, bool down) const;
    // Moves the pointer; presses and releases a mouse button at a point of the screen.
    void move(const QPoint &to) const;
    void click(const QPoint &at, int button = 1) const;
    // The screen's pixels in a rectangle (all of it when empty), as the X server holds them.
    QImage grab(const QRect &rect = {}) const;
    // Covers the root window with squares of 16 pixels, no two of the same colour, so that a
    // picture of it shifted or scaled by any amount differs from it.
    bool paintPattern() const;
    // A window manager serves the display; a panel (dock) stands on it.
    bool windowManaged() const;
    bool dockShown() const;
    // The window the window manager has made the active one (0 when none).
    unsigned long activeWindow() const;

private:
    ::_XDisplay *m_display;
};

// A window manager with a panel holding a notification area on a display (openbox, trayer),
// or none at all.
class Desktop
{
public:
    explicit Desktop(const QString &display) : m_display(display) {}
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;
    ~Desktop() { setManaged(false); }
    // Starts (or stops) the window manager and its panel; true once they serve the screen.
    bool setManaged(bool managed);
    bool isManaged() const { return m_windowManager.state() == QProcess::Running; }

private:
    QString m_display;
    QProcess m_windowManager;
};

// xrdp with its session manager on a free port of 127.0.0.1, in a mount namespace of their own
// (their configuration copies in place of the installed one, their sockets apart from any
// installed xrdp), with a test user made for it whose session paints its background and opens
// one xterm across the screen. Needs root; the user and all its processes go with the object.
class Xrdp
{
public:
    // Why xrdp cannot run here, or nothing.
    static QString unavailable();
    Xrdp();
    ~Xrdp();
    // On the standard port of the given loopback address.
    bool start(const QString &address);
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    QString home() const { return QStringLiteral("/home/") + m_user; }
    // The X display of the user's session, empty while there is none.
    QString sessionDisplay() const;
    // Runs a command as the user where the session's redirected drives are mounted; its output.
    QString runInSession(const QStringList &command) const;
    // Processes of the user (its session) still running: pid and name.
    QList<QPair<int, QString>> sessionProcesses() const;
    QString log() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_user, m_password;
    bool m_userMade = false;
};

} // namespace RdpTestEnvironment
