#pragma once

#include "FileBytes.h"
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <memory>

// Real remote desktop servers and X servers; every program started here dies with the test's.
struct _XDisplay;

namespace RdpTestEnvironment {

constexpr int kWait = 30000;
// Under AddressSanitizer the code under test runs some ten times slower (the sanitizer walks
// the whole stack at every allocation, so that a leak names its callers): a time limit a test
// sets on that code is this many times longer there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 10;
#else
constexpr int kSlowdown = 1;
#endif
constexpr unsigned kKeyA = 38; // X11 key code of "a" on an evdev keyboard
inline const QString UserName = QStringLiteral("nlauser");
inline const QString Password = QStringLiteral("Nla-Pass-1");

// Runs a program to its end: whether it succeeded; its output and errors go to *output.
bool run(const QStringList &command, QString *output = nullptr, int timeoutMs = 300000);
QString outputOf(const QStringList &command); // trimmed, empty when the program fails
// For a failure's message: how a program ended or, while it still runs, where each of its threads waits.
QString stateOf(const QProcess &process);
inline QString readFile(const QString &path) { return QString::fromLocal8Bit(TestSupport::readBytes(path)); }
// A panel's settings for a server that hands it profiles and orders over the side link on that port.
inline QStringList linkedPanel(const QString &server, quint16 port)
{
    return {"txtServer=" + server, QStringLiteral("txtPort=%1").arg(port), "chkUserPass=1", "AutoConnect=1", "StartConnectLifeCnt=3",
            "StartLifeCnt=45"};
}
// As root, before any thread starts: /etc, /home and /media of the test program's own.
bool privateFileSystem();
// A loopback address (127.x.y.z) whose standard remote desktop port is free.
QString freeServerAddress();
// Starts a program that dies with this one, with these variables ("NAME=value") set; in a group of
// its own, its children can be killed with it. Its errors go nowhere unless the channels say where.
void launch(QProcess &process, const QStringList &command, const QStringList &environment = {}, bool ownGroup = false);

// A program of the environment, killed with the object, its output in a log of its own.
class Program
{
public:
    ~Program() { kill(); }
    void kill() { m_process.kill(); m_process.waitForFinished(10000); }
    QString log() const { return readFile(m_dir.filePath(QStringLiteral("log"))); }

protected:
    // Starts a server with its output in the log; true once it listens.
    bool serve(const QStringList &command, const QStringList &environment, const QString &address, quint16 port);
    QTemporaryDir m_dir;
    QProcess m_process;
};

// Xvfb on a display number of its choice, with openbox and a notification area (trayer) or none.
class Display : public Program
{
public:
    explicit Display(int width = 1024, int height = 768);
    ~Display() { setManaged(false); }
    bool isRunning() const { return m_number >= 0; }
    QString name() const { return QStringLiteral(":%1").arg(m_number); }
    bool setManaged(bool managed); // true once they serve the screen (or have left it)

private:
    QProcess m_windowManager;
    int m_number = -1;
};

// The FreeRDP shadow server showing a display, with network-level authentication of UserName.
class Server : public Program
{
public:
    explicit Server(const Display &display) : m_display(display) {}
    bool start(quint16 port = 0, const QString &bindAddress = QStringLiteral("127.0.0.1"));
    // At the next start a certificate made anew, or the given one (PEM files).
    bool renewCertificate(const QString &certificate = {}, const QString &key = {});
    QString certificate() const { return m_dir.filePath(QStringLiteral("config/freerdp/shadow/shadow.crt")); }
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("%1:%2").arg(m_bind).arg(m_port); }

private:
    const Display &m_display;
    quint16 m_port = 0;
    QString m_bind;
};

// A display's own view of its keyboard, pointer and screen, and input made there as by hand.
class Probe
{
public:
    static constexpr unsigned LeftButtonMask = 1u << 8;
    explicit Probe(const QString &display);
    ~Probe();
    bool isOpen() const { return m_display != nullptr; }
    bool keyDown(unsigned keyCode) const;
    QPoint pointer(unsigned *buttonMask = nullptr) const;
    // xdotool there: input as by hand ("key alt+F4", "type text", "keydown a") and what it tells.
    QString xdo(const QStringList &arguments) const { return outputOf(QStringList{"env", "DISPLAY=" + m_name, "xdotool"} + arguments); }
    void click(const QPoint &at) const { xdo({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()), "click", "1"}); }
    QImage grab(const QRect &rect = {}) const;
    // Squares no two alike, so that a picture shifted or scaled by any amount differs.
    void paint(int seed) const;
    unsigned long inputFocus() const { return xdo({"getwindowfocus", "-f"}).toULong(); }
    int desktopParts() const; // how many of a window manager and a notification area serve it
    // The largest mapped top-level window of the class (of any class if empty), 0 if none.
    unsigned long topLevel(const QByteArray &windowClass, QRect *geometry = nullptr) const;

private:
    const QString m_name;
    ::_XDisplay *m_display;
};

// A Wayland compositor for this program, sway or cage, whose screen is the window of an X server of
// its own: that X server's keyboard and pointer are the compositor's, used as by hand through
// input(). sway puts every window where it asks to be, without a frame, on a screen of the size
// given; cage's screen there is 1024 x 768 whatever the size, and it runs a program that shows
// nothing. "cage-headless" is cage with a screen of memory alone (1280 x 720) and no keyboard or
// pointer: input() is null. Either runs as nobody (wlroots compositors refuse root), in a runtime
// directory of its own; grim takes its screen.
class Compositor : public Program
{
public:
    Compositor(const QString &program, const QSize &size);
    QString socket() const { return m_socket; } // for WAYLAND_DISPLAY; empty unless it serves
    QImage grab(const QRect &rect) const;
    const Probe *input() const { return m_input.get(); }

private:
    std::unique_ptr<Display> m_display;
    std::unique_ptr<Probe> m_input;
    QString m_socket;
};

// xrdp and its session manager on port 3389 of a loopback address, in namespaces of their own, with
// a test user (gone with the object) whose session paints its background and opens one xterm. Root.
class Xrdp : public Program
{
public:
    ~Xrdp();
    bool start(const QString &address);
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    QString home() const { return QStringLiteral("/home/") + m_user; }
    QString sessionDisplay() const; // empty until there is one
    // Runs a command as the user where the session's redirected drives are mounted; its output.
    QString runInSession(const QStringList &command) const;

private:
    const QString m_user = QStringLiteral("vsk%1").arg(QRandomGenerator::global()->bounded(100000, 999999));
    const QString m_password = QStringLiteral("Pw-%1").arg(QRandomGenerator::global()->bounded(100000, 999999));
};

} // namespace RdpTestEnvironment
