#pragma once

#include <QPoint>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real remote desktop server for tests: an Xvfb display of its own and the FreeRDP shadow
// server showing it on 127.0.0.1, with network-level authentication against a SAM file.
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
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("%1:%2").arg(m_bind).arg(m_port); }
    QString log() const;

private:
    bool listening() const;
    const Display &m_display;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_bind = QStringLiteral("127.0.0.1");
};

quint16 freePort();

// The server display's own view of its keyboard and pointer.
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

private:
    ::_XDisplay *m_display;
};

} // namespace RdpTestEnvironment
