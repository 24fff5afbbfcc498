// The panel's remote desktop session beside xfreerdp, against the FreeRDP shadow server on an
// Xvfb screen and against xrdp (a real PAM log-on; root only). Every run is a fresh client
// process and the clients take turns, but where both are connected at once. "panel" is
// bench_session (the panel's session control, one session per process) or, where the whole
// program is measured, bin/Veskora itself. Each client shows the session in a window of
// 1024 x 768 at the top left corner of an Xvfb screen of that size with no window manager; the
// server's screen is 1024 x 768 as well. The clients run as in a desktop session: their runtime
// directory in memory (as /run/user/UID is) and a session bus of their own.
//
//   build/bin/bench_rdp [all|connect|traffic|latency|whole|startup|panel] [--runs N] [--servers shadow,xrdp]
//                       [--seconds S] [--samples M] [--sessions K]
//
// Runs per client: 10 for connect and start-up, 5 for the others (--runs sets them all). Figures:
// min, p50 (the median), p90 and max over all runs (latency: over all samples), and the ratios of
// the panel's p50 and min to xfreerdp's. xrdp needs root (it makes a user of its own); the panel
// program and bench_session are found beside this program.
//
// connect  From the client's process start to the server's picture on the client's screen: a
//          row of pixels near the screen's bottom equal to the server's own row (XGetImage
//          every 2 ms). After one warm-up run of each client (page cache, xrdp's X session).
// traffic  While a 640 x 400 area of the server's screen animates at 30 frames a second: CPU
//          time of the client (all threads) and of the client and its X server together, and
//          the bytes its connection received (the kernel's count, from ss), per second of
//          wall time over S seconds, after one second to settle.
// latency  A 32 x 32 square on the server's screen takes a new colour (XSync has returned);
//          the time until the client's screen shows that colour there (XGetImage every 0.5 ms).
//          M samples per run (100), 30 to 80 ms apart (the same sequence for both clients).
// whole    The server's whole screen takes a new colour; the time until nine points spread
//          over the client's screen all show it. Against the shadow server both clients are
//          connected at once, each on a screen of its own, and see the same changes: M changes
//          (40), 50 to 150 ms apart, and for each the panel's time minus xfreerdp's. xrdp keeps
//          one client per session, so there the clients take turns on the same sequence.
// startup  The panel program (copied with a Client.cfg into a directory of its own; full screen
//          with the connection bar): process start to its main window mapped, beside a bare Qt
//          window (this program), in turns.
// panel    The start-up above, then the panel program's resident memory (VmRSS): idle 2 s after
//          the window; 2 s after the picture of a session ordered over the side link; 2 s after
//          the session ended by the connection bar's close button and the main window is back;
//          beside bench_session and xfreerdp in a session; the same for the pages of each process
//          alone (its private memory, without the shared library code). Then one program, K
//          sessions (100) one after another: resident memory 0.5 s after each picture and 0.5 s
//          after each end, and its growth per session (the least-squares slope from the second
//          session on).
//
// Both clients get the same protocol features; xfreerdp's are chosen on its command line (see
// xfreerdpArguments). Built with the project, never run by the tests. The load average is
// printed with each figure: the machine may be shared.
#include "RdpTestEnvironment.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace RdpTestEnvironment;

namespace {

constexpr int Width = 1024, Height = 768;
constexpr int ProbeRow = Height - 40;              // the row compared for "the picture is there"
constexpr QRect Marker(Width - 96, 64, 32, 32);     // the square whose colour changes (latency)
constexpr QRect Animated(100, 100, 640, 400);       // the moving bars (traffic)
constexpr int WaitMs = 30000;

QString builtProgram(const char *name)
{
    return QCoreApplication::applicationDirPath() + u'/' + QLatin1String(name);
}

// Lets the event loop run (timers, sockets) for a while.
void pause(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Polls a condition every interval until it holds (true) or the time is up (false).
bool waitUntil(const std::function<bool()> &condition, int timeoutMs, int intervalUs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        ::usleep(useconds_t(intervalUs));
    }
    return true;
}

// ---- figures

struct Summary
{
    qsizetype count = 0;
    double min = NAN, p50 = NAN, p90 = NAN, max = NAN;
};

Summary summarize(QList<double> values)
{
    Summary s;
    std::sort(values.begin(), values.end());
    s.count = values.size();
    if (values.isEmpty())
        return s;
    // Between the two nearest ranks, so that p50 is the median of an even count too.
    const auto rank = [&](double p) {
        const double at = p * double(s.count - 1);
        const qsizetype below = qsizetype(std::floor(at)), above = std::min(below + 1, s.count - 1);
        return values.at(below) + (at - double(below)) * (values.at(above) - values.at(below));
    };
    s.min = values.first();
    s.p50 = rank(0.5);
    s.p90 = rank(0.9);
    s.max = values.last();
    return s;
}

void printHeader(const QString &title)
{
    std::printf("\n%s\n  %-24s %5s %10s %10s %10s %10s\n", qPrintable(title), "client", "n", "min", "p50", "p90",
                "max");
}

Summary printRow(const QString &client, const QList<double> &values, const char *unit)
{
    const Summary s = summarize(values);
    std::printf("  %-24s %5lld %10.4g %10.4g %10.4g %10.4g %s\n", qPrintable(client), static_cast<long long>(s.count),
                s.min, s.p50, s.p90, s.max, unit);
    return s;
}

void printRatio(const char *what, const Summary &panel, const Summary &xfreerdp)
{
    std::printf("  ratio panel/xfreerdp, %s: p50 %.3f, min %.3f\n", what, panel.p50 / xfreerdp.p50,
                panel.min / xfreerdp.min);
}

double loadAverage()
{
    double load[3] = {};
    return getloadavg(load, 3) > 0 ? load[0] : NAN;
}

// ---- processes

// Fields of /proc/PID/stat after the command name: utime and stime are the 12th and 13th.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return NAN;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return f.size() > 12 ? (f.at(11).toDouble() + f.at(12).toDouble()) / double(sysconf(_SC_CLK_TCK)) : NAN;
}

double residentMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return NAN;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return NAN;
}

// The pages of the process alone (Private_Clean + Private_Dirty of smaps_rollup): its own heap,
// stacks and written data, without the library code and the shared memory it shares with
// other processes (the X server among them).
double privateMegabytes(qint64 pid)
{
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return NAN;
    double kb = 0;
    for (const QByteArray &line : rollup.readAll().split('\n'))
        if (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:"))
            kb += line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble();
    return kb / 1024.0;
}

// The output of ss (socket statistics) with the given arguments.
QString socketStatistics(const QStringList &arguments)
{
    QProcess ss;
    ss.start(QStringLiteral("ss"), QStringList{QStringLiteral("-H")} + arguments);
    return ss.waitForFinished(5000) ? QString::fromLatin1(ss.readAllStandardOutput()) : QString();
}

// The X server of a display: the process listening on its socket.
qint64 xServerPid(const QString &display)
{
    const QString out = socketStatistics({QStringLiteral("-xlp"), QStringLiteral("src"),
                                          QStringLiteral("/tmp/.X11-unix/X") + display.mid(1)});
    return QRegularExpression(QStringLiteral("pid=(\\d+)")).match(out).captured(1).toLongLong();
}

// Bytes received on the established TCP connections to address:port (the kernel's count).
double bytesReceived(const QString &address, quint16 port)
{
    const QString out = socketStatistics({QStringLiteral("-tin"), QStringLiteral("state"), QStringLiteral("established"),
                                          QStringLiteral("dst"), QStringLiteral("%1:%2").arg(address).arg(port)});
    double total = 0;
    auto it = QRegularExpression(QStringLiteral("bytes_received:(\\d+)")).globalMatch(out);
    while (it.hasNext())
        total += it.next().captured(1).toDouble();
    return total;
}

// A program that dies with this one: a client, or the panel.
class Child
{
public:
    Child(const QString &program, const QStringList &arguments, const QString &display, const QByteArray &input = {},
          const QString &workingDirectory = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.setWorkingDirectory(workingDirectory);
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_clock.start();
        m_process.start(program, arguments);
        // Standard input stays open: xfreerdp waits for more if it closes early.
        if (m_process.waitForStarted(10000) && !input.isEmpty())
            m_process.write(input);
    }
    ~Child()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }
    // Seconds since the process was started.
    double age() const { return m_clock.nsecsElapsed() / 1e9; }

private:
    QProcess m_process;
    QElapsedTimer m_clock;
};

// ---- the servers and the clients

// Draws on a server's screen: the marker square and the moving bars, each a window of its own
// above everything else there.
class Painter
{
public:
    explicit Painter(const QString &display) : m_display(XOpenDisplay(display.toLatin1().constData())) {}
    ~Painter()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool isOpen() const { return m_display != nullptr; }
    // The root window's colour: it stays when this connection closes.
    void background(QRgb colour)
    {
        XSetWindowBackground(m_display, DefaultRootWindow(m_display), colour & 0xFFFFFF);
        XClearWindow(m_display, DefaultRootWindow(m_display));
        XSync(m_display, False);
    }
    void fill(const QRect &area, QRgb colour)
    {
        const Window w = window(area);
        XSetForeground(m_display, m_gc, colour & 0xFFFFFF);
        XFillRectangle(m_display, w, m_gc, 0, 0, unsigned(area.width()), unsigned(area.height()));
        XSync(m_display, False);
    }
    // A band of colours across the screen, none of them black: what the clients show before
    // the server's picture (black, or the screen's own colour) never matches it.
    void stripes(const QRect &area)
    {
        for (int x = 0; x < area.width(); x += 64) {
            const unsigned i = unsigned(x / 64);
            fill(area.adjusted(x, 0, x + 64 - area.width(), 0), 0x404040 + ((i * 37) % 192 << 16) + ((i * 91) % 192 << 8) + (i * 53) % 192);
        }
    }
    void animate(unsigned frame)
    {
        const Window w = window(Animated);
        XSetForeground(m_display, m_gc, 0x102030);
        XFillRectangle(m_display, w, m_gc, 0, 0, unsigned(Animated.width()), unsigned(Animated.height()));
        for (unsigned bar = 0; bar < 8; ++bar) {
            XSetForeground(m_display, m_gc, (0x40 + 0x18 * bar) << ((bar % 3) * 8));
            XFillRectangle(m_display, w, m_gc, int((frame * (3 + bar)) % unsigned(Animated.width())), int(bar) * 50, 60, 40);
        }
        XFlush(m_display);
    }
    void remove(const QRect &area)
    {
        for (qsizetype i = 0; i < m_windows.size(); ++i)
            if (m_windows.at(i).first == area) {
                XDestroyWindow(m_display, m_windows.takeAt(i).second);
                XSync(m_display, False);
                return;
            }
    }

private:
    Window window(const QRect &area)
    {
        for (const auto &[known, w] : m_windows)
            if (known == area)
                return w;
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        const Window w = XCreateWindow(m_display, DefaultRootWindow(m_display), area.x(), area.y(), unsigned(area.width()),
                                       unsigned(area.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
                                       CWOverrideRedirect, &attributes);
        XMapRaised(m_display, w);
        if (!m_gc)
            m_gc = XCreateGC(m_display, w, 0, nullptr);
        m_windows.append({area, w});
        return w;
    }

    ::Display *m_display;
    GC m_gc = nullptr;
    QList<QPair<QRect, Window>> m_windows;
};

struct Target
{
    QString name;        // "shadow" or "xrdp"
    QString host;        // a loopback address; the standard port
    QString user, password;
    QString screen;      // the X display the server shows
    std::shared_ptr<Painter> painter; // draws there
};

enum class Kind { Panel, Xfreerdp };

QString kindName(Kind kind)
{
    return kind == Kind::Panel ? QStringLiteral("panel (bench_session)") : QStringLiteral("xfreerdp");
}

// The features of the panel's session, chosen explicitly where xfreerdp's defaults differ: no
// graphics pipeline (so no H.264, RemoteFX or dynamic channels), no compression, 32 bits per
// pixel, bitmap and glyph caches, the server's sound, no clipboard, no drives, no heartbeat,
// performance flags 0 (font smoothing off, window drag and menu animations on).
QStringList xfreerdpArguments(const Target &target)
{
    return {QStringLiteral("/v:") + target.host, QStringLiteral("/u:") + target.user, QStringLiteral("/from-stdin:force"),
            QStringLiteral("/cert:ignore"), QStringLiteral("/size:%1x%2").arg(Width).arg(Height),
            QStringLiteral("/bpp:32"), QStringLiteral("/sound"), QStringLiteral("-compression"), QStringLiteral("-clipboard"),
            QStringLiteral("+glyph-cache"), QStringLiteral("+bitmap-cache"), QStringLiteral("-fonts"),
            QStringLiteral("+window-drag"), QStringLiteral("+menu-anims"), QStringLiteral("-heartbeat")};
}

std::unique_ptr<Child> startClient(Kind kind, const Target &target, const QString &display)
{
    const QByteArray password = (target.password + u'\n').toUtf8();
    if (kind == Kind::Xfreerdp)
        return std::make_unique<Child>(QStringLiteral("xfreerdp"), xfreerdpArguments(target), display, password);
    return std::make_unique<Child>(builtProgram("bench_session"),
                                   QStringList{target.host, target.user, QStringLiteral("%1x%2").arg(Width).arg(Height)},
                                   display, password);
}

QImage probeRow(const Probe &screen)
{
    return screen.grab(QRect(0, ProbeRow, Width, 1));
}

// Until the client's screen shows the server's row: the client's age then, or NAN.
double waitForPicture(const Child &client, const Probe &clientScreen, const QImage &serverRow)
{
    const bool shown = waitUntil([&] { return !client.running() || probeRow(clientScreen) == serverRow; }, WaitMs, 2000);
    return shown && client.running() ? client.age() : NAN;
}

// ---- the environment

class Bench
{
public:
    // 0: the default of each figure.
    Bench(int runs, int seconds, int samples, int sessions)
        : m_runs(runs), m_seconds(seconds), m_samples(samples), m_sessions(sessions)
    {
    }
    bool setUp(const QStringList &servers);
    void connect();
    void traffic();
    void latency();
    void whole();
    void startUp();
    void panel();

private:
    // One client with a session on a client screen: the process, the time to the picture.
    struct Session
    {
        std::unique_ptr<Child> client;
        double pictureSeconds = NAN;
    };
    // On the first client screen, or on the second.
    Session startSession(Kind kind, const Target &target, bool second = false);
    void endSession(Session &session);
    // The clients in turn, count runs each (after a warm-up each when asked for).
    void alternate(const Target &target, int count, bool warmUp, const std::function<void(Kind, Session &)> &measure);
    int runs(int byDefault) const { return m_runs > 0 ? m_runs : byDefault; }
    int samples(int byDefault) const { return m_samples > 0 ? m_samples : byDefault; }
    void panelStartUp(const Target &target);
    void panelMemory(const Target &target);
    void panelSessions(const Target &target);

    int m_runs, m_seconds, m_samples, m_sessions;
    std::unique_ptr<RdpTestEnvironment::Display> m_clientScreen, m_secondScreen, m_serverScreen;
    std::unique_ptr<Probe> m_client, m_second;
    std::unique_ptr<Server> m_shadow;
    std::unique_ptr<Xrdp> m_xrdp;
    QList<Target> m_targets;
    QTemporaryDir m_home; // the clients' configuration (certificates)
};

bool Bench::setUp(const QStringList &servers)
{
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
    m_clientScreen = std::make_unique<RdpTestEnvironment::Display>(Width, Height);
    m_secondScreen = std::make_unique<RdpTestEnvironment::Display>(Width, Height);
    m_serverScreen = std::make_unique<RdpTestEnvironment::Display>(Width, Height);
    if (!m_clientScreen->isRunning() || !m_secondScreen->isRunning() || !m_serverScreen->isRunning()) {
        std::fprintf(stderr, "bench_rdp: Xvfb did not start\n");
        return false;
    }
    m_client = std::make_unique<Probe>(m_clientScreen->name());
    m_second = std::make_unique<Probe>(m_secondScreen->name());
    for (const auto *screen : {m_clientScreen.get(), m_secondScreen.get()})
        Painter(screen->name()).background(0x6A0D83); // none of the servers' colours
    if (servers.contains(QStringLiteral("shadow"))) {
        // A plain background, as a desktop has one; the standard port of an address of its own,
        // where the panel program finds it by the address alone.
        Painter(m_serverScreen->name()).background(0x3060A0);
        const QString host = freeServerAddress();
        m_shadow = std::make_unique<Server>(*m_serverScreen);
        if (!m_shadow->start(3389, host)) {
            std::fprintf(stderr, "bench_rdp: the shadow server did not start\n");
            return false;
        }
        m_targets.append({QStringLiteral("shadow"), host, UserName, Password, m_serverScreen->name(), {}});
    }
    if (servers.contains(QStringLiteral("xrdp"))) {
        if (::geteuid() != 0) {
            std::fprintf(stderr, "bench_rdp: xrdp left out: it needs root\n");
        } else {
            const QString host = freeServerAddress();
            m_xrdp = std::make_unique<Xrdp>();
            if (!m_xrdp->start(host)) {
                std::fprintf(stderr, "bench_rdp: xrdp did not start\n%s\n", qPrintable(m_xrdp->log()));
                return false;
            }
            // The user's X session starts with the first log-on; its display is known after it.
            Target target{QStringLiteral("xrdp"), host, m_xrdp->user(), m_xrdp->password(), QString(), {}};
            Session first = startSession(Kind::Xfreerdp, target);
            // Root may look at the session's screen once the session has begun; its xterm
            // comes up soon after.
            const bool up = waitUntil(
                [&] {
                    target.screen = m_xrdp->sessionDisplay();
                    return Probe(target.screen).isOpen();
                },
                WaitMs, 50000);
            pause(3000);
            if (!up) {
                std::fprintf(stderr, "bench_rdp: no X session of xrdp\n%s\n", qPrintable(m_xrdp->log()));
                return false;
            }
            endSession(first);
            m_targets.append(target);
        }
    }
    for (Target &target : m_targets) {
        target.painter = std::make_shared<Painter>(target.screen);
        target.painter->stripes(QRect(0, ProbeRow - 8, Width, 16));
    }
    return !m_targets.isEmpty();
}

Bench::Session Bench::startSession(Kind kind, const Target &target, bool second)
{
    Session s;
    const QImage serverRow = target.screen.isEmpty() ? QImage() : probeRow(Probe(target.screen));
    s.client = startClient(kind, target, (second ? m_secondScreen : m_clientScreen)->name());
    if (!serverRow.isNull())
        s.pictureSeconds = waitForPicture(*s.client, second ? *m_second : *m_client, serverRow);
    return s;
}

void Bench::endSession(Session &session)
{
    session.client.reset();
    pause(300); // the server lets the connection go
}

void Bench::alternate(const Target &target, int count, bool warmUp, const std::function<void(Kind, Session &)> &measure)
{
    for (int run = warmUp ? -1 : 0; run < count; ++run)
        for (const Kind kind : {Kind::Panel, Kind::Xfreerdp}) {
            Session s = startSession(kind, target);
            if (std::isnan(s.pictureSeconds))
                std::fprintf(stderr, "  %s: no picture from %s within %d s\n", qPrintable(kindName(kind)),
                             qPrintable(target.name), WaitMs / 1000);
            else if (run >= 0)
                measure(kind, s);
            endSession(s);
        }
}

void Bench::connect()
{
    for (const Target &target : std::as_const(m_targets)) {
        QMap<Kind, QList<double>> seconds;
        alternate(target, runs(10), true, [&](Kind kind, Session &s) { seconds[kind].append(s.pictureSeconds); });
        printHeader(QStringLiteral("connect, %1: process start to the server's picture on the client's screen "
                                   "(load %2)")
                        .arg(target.name)
                        .arg(loadAverage(), 0, 'f', 2));
        const Summary panel = printRow(kindName(Kind::Panel), seconds[Kind::Panel], "s");
        const Summary xf = printRow(kindName(Kind::Xfreerdp), seconds[Kind::Xfreerdp], "s");
        printRatio("time", panel, xf);
    }
}

void Bench::traffic()
{
    for (const Target &target : std::as_const(m_targets)) {
        QMap<Kind, QList<double>> cpu, cpuWithX, kilobytes;
        Painter &server = *target.painter;
        unsigned frame = 0;
        QTimer animation;
        QObject::connect(&animation, &QTimer::timeout, [&] { server.animate(frame++); });
        const qint64 xServer = xServerPid(m_clientScreen->name());
        alternate(target, runs(5), false, [&](Kind kind, Session &s) {
            animation.start(1000 / 30);
            pause(1000);
            const auto sample = [&] {
                return std::array<double, 3>{cpuSeconds(s.client->pid()), cpuSeconds(xServer), bytesReceived(target.host, 3389)};
            };
            QElapsedTimer clock;
            const auto before = sample();
            clock.start();
            pause(m_seconds * 1000);
            const auto after = sample();
            const double wall = clock.nsecsElapsed() / 1e9;
            animation.stop();
            cpu[kind].append(100 * (after[0] - before[0]) / wall);
            cpuWithX[kind].append(100 * (after[0] + after[1] - before[0] - before[1]) / wall);
            kilobytes[kind].append((after[2] - before[2]) / wall / 1024);
        });
        server.remove(Animated);
        printHeader(QStringLiteral("traffic, %1: %2 x %3 pixels moving at 30 frames/s, %4 s per run (load %5)")
                        .arg(target.name)
                        .arg(Animated.width())
                        .arg(Animated.height())
                        .arg(m_seconds)
                        .arg(loadAverage(), 0, 'f', 2));
        Summary p = printRow(kindName(Kind::Panel) + QStringLiteral(" CPU"), cpu[Kind::Panel], "% of a core");
        Summary x = printRow(kindName(Kind::Xfreerdp) + QStringLiteral(" CPU"), cpu[Kind::Xfreerdp], "% of a core");
        printRatio("CPU", p, x);
        p = printRow(QStringLiteral("panel CPU + X server"), cpuWithX[Kind::Panel], "% of a core");
        x = printRow(QStringLiteral("xfreerdp CPU + X server"), cpuWithX[Kind::Xfreerdp], "% of a core");
        printRatio("CPU with the X server", p, x);
        p = printRow(QStringLiteral("panel received"), kilobytes[Kind::Panel], "KiB/s");
        x = printRow(QStringLiteral("xfreerdp received"), kilobytes[Kind::Xfreerdp], "KiB/s");
        printRatio("bytes received", p, x);
    }
}

// The server paints the area in the colour: the milliseconds until seen() holds go to times, or
// a miss is counted when it does not within 2 s.
void timeChange(Painter &server, const QRect &area, QRgb colour, const std::function<bool()> &seen, QList<double> &times,
                int &misses)
{
    QElapsedTimer clock;
    server.fill(area, colour);
    clock.start();
    if (waitUntil(seen, 2000, 500))
        times.append(clock.nsecsElapsed() / 1e6);
    else
        ++misses;
}

void Bench::latency()
{
    for (const Target &target : std::as_const(m_targets)) {
        QMap<Kind, QList<double>> milliseconds;
        Painter &server = *target.painter;
        server.fill(Marker, 0x000000);
        int misses = 0;
        alternate(target, runs(5), false, [&](Kind kind, Session &) {
            QRandomGenerator pauses(15); // the same pauses for both clients
            const QRect spot(Marker.center(), QSize(1, 1));
            for (int i = 0; i < samples(100); ++i) {
                pause(30 + int(pauses.bounded(50)));
                // Colours no other pixel there has, exact in 32 bits per pixel.
                const QRgb colour = 0xFF000000u | (i % 2 ? 0xE01020u : 0x20E010u) | unsigned(i % 64);
                timeChange(server, Marker, colour, [&] { return m_client->grab(spot).pixel(0, 0) == colour; },
                           milliseconds[kind], misses);
            }
        });
        server.remove(Marker);
        printHeader(QStringLiteral("latency, %1: a change on the server's screen to the pixel on the client's screen, "
                                   "%2 samples per run (load %3)")
                        .arg(target.name)
                        .arg(samples(100))
                        .arg(loadAverage(), 0, 'f', 2));
        const Summary panel = printRow(kindName(Kind::Panel), milliseconds[Kind::Panel], "ms");
        const Summary xf = printRow(kindName(Kind::Xfreerdp), milliseconds[Kind::Xfreerdp], "ms");
        printRatio("latency", panel, xf);
        if (misses)
            std::printf("  %d changes never reached a client's screen within 2 s\n", misses);
    }
}

// ---- whole-screen changes

// Nine points spread over the screen, corners and centre among them.
QList<QPoint> spreadPoints()
{
    QList<QPoint> points;
    for (const int y : {4, Height / 2, Height - 5})
        for (const int x : {4, Width / 2, Width - 5})
            points.append(QPoint(x, y));
    return points;
}

bool showsEverywhere(const Probe &screen, QRgb colour)
{
    static const QList<QPoint> points = spreadPoints();
    return std::all_of(points.begin(), points.end(),
                       [&](const QPoint &p) { return screen.grab(QRect(p, QSize(1, 1))).pixel(0, 0) == colour; });
}

void Bench::whole()
{
    const QRect screen(0, 0, Width, Height);
    const int count = samples(40);
    for (const Target &target : std::as_const(m_targets)) {
        Painter &server = *target.painter;
        QMap<Kind, QList<double>> milliseconds;
        QList<double> behind; // the panel's time minus xfreerdp's, on the same change
        int misses = 0;
        // The changes, the same for both clients: colours no other pixel there has, exact in 32
        // bits per pixel, with pauses between them.
        const auto changes = [&](const std::function<void(QRgb colour)> &measure) {
            QRandomGenerator pauses(25);
            for (int i = 0; i < count; ++i) {
                pause(50 + int(pauses.bounded(100)));
                measure(0xFF000000u | (i % 2 ? 0xD02818u : 0x18D028u) | unsigned(i % 64));
            }
        };
        const bool together = target.name == QLatin1String("shadow");
        if (together) {
            Session panel = startSession(Kind::Panel, target);
            Session xf = startSession(Kind::Xfreerdp, target, true);
            if (std::isnan(panel.pictureSeconds) || std::isnan(xf.pictureSeconds))
                std::fprintf(stderr, "  whole: no picture from %s within %d s\n", qPrintable(target.name), WaitMs / 1000);
            else
                changes([&](QRgb colour) {
                    QElapsedTimer clock;
                    server.fill(screen, colour);
                    clock.start();
                    double p = NAN, x = NAN;
                    const bool seen = waitUntil(
                        [&] {
                            if (std::isnan(p) && showsEverywhere(*m_client, colour))
                                p = clock.nsecsElapsed() / 1e6;
                            if (std::isnan(x) && showsEverywhere(*m_second, colour))
                                x = clock.nsecsElapsed() / 1e6;
                            return !std::isnan(p) && !std::isnan(x);
                        },
                        2000, 500);
                    if (!seen) {
                        ++misses;
                        return;
                    }
                    milliseconds[Kind::Panel].append(p);
                    milliseconds[Kind::Xfreerdp].append(x);
                    behind.append(p - x);
                });
            endSession(panel);
            endSession(xf);
        } else {
            alternate(target, 1, false, [&](Kind kind, Session &) {
                changes([&](QRgb colour) {
                    timeChange(server, screen, colour, [&] { return showsEverywhere(*m_client, colour); }, milliseconds[kind],
                               misses);
                });
            });
        }
        server.remove(screen);
        printHeader(QStringLiteral("whole screen, %1: the server's whole screen changes colour, the time until the "
                                   "client's screen shows it everywhere; %2 (load %3)")
                        .arg(target.name,
                             together ? QStringLiteral("both clients connected at once, on the same changes")
                                      : QStringLiteral("the clients in turn, on the same sequence"))
                        .arg(loadAverage(), 0, 'f', 2));
        const Summary panel = printRow(kindName(Kind::Panel), milliseconds[Kind::Panel], "ms");
        const Summary xf = printRow(kindName(Kind::Xfreerdp), milliseconds[Kind::Xfreerdp], "ms");
        if (together)
            printRow(QStringLiteral("panel minus xfreerdp"), behind, "ms");
        printRatio("time", panel, xf);
        if (misses)
            std::printf("  %d changes never reached a client's screen everywhere within 2 s\n", misses);
    }
}

// ---- the panel program

// Waits for a window of at least half the screen to be mapped on the display (no window
// manager: the top-level windows are the root's children); the age of the process then.
class MapWatch
{
public:
    explicit MapWatch(const QString &display) : m_display(XOpenDisplay(display.toLatin1().constData()))
    {
        XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
        XSync(m_display, False);
    }
    ~MapWatch() { XCloseDisplay(m_display); }
    double wait(const Child &program)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < WaitMs && program.running()) {
            while (XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                XWindowAttributes a{};
                if (event.type == MapNotify && XGetWindowAttributes(m_display, event.xmap.window, &a)
                    && a.width * a.height * 2 >= Width * Height)
                    return program.age();
            }
            pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&fd, 1, 100);
        }
        return NAN;
    }

private:
    ::Display *m_display;
};

// The connection bar's close button (the last one on the bar, a window of its own at the top
// of the full-screen session) in screen coordinates; null when no bar is shown.
QPoint connectionBarClose(const QString &name)
{
    ::Display *display = XOpenDisplay(name.toLatin1().constData());
    if (!display)
        return {};
    QPoint found;
    const std::function<void(Window)> search = [&](Window window) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            return;
        for (unsigned i = 0; i < count && found.isNull(); ++i) {
            XWindowAttributes a{};
            if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable)
                continue;
            int x = 0, y = 0;
            Window child = 0;
            XTranslateCoordinates(display, children[i], root, 0, 0, &x, &y, &child);
            if (y == 0 && a.width <= 420 && a.height < 64 && window != root)
                found = QPoint(x + a.width - 12, y + a.height / 2);
            else
                search(children[i]);
        }
        if (children)
            XFree(children);
    };
    search(DefaultRootWindow(display));
    XCloseDisplay(display);
    return found;
}

// The panel's side link as its server end: it orders sessions with the given log-on.
class SideLink
{
public:
    explicit SideLink(const QString &host) { m_server.listen(QHostAddress(host), 0); }
    quint16 port() const { return m_server.serverPort(); }
    bool orderSession(const QString &user, const QString &password)
    {
        // A link the panel has closed meanwhile is followed by its next one.
        if (m_link && m_link->state() != QAbstractSocket::ConnectedState)
            m_link = nullptr;
        const bool linked = waitUntil(
            [&] { return m_link || (m_server.hasPendingConnections() && (m_link = m_server.nextPendingConnection())); },
            WaitMs, 1000);
        if (!linked)
            return false;
        // One profile (1024 x 768, full screen: resolution entry 0), then the order to use it.
        QByteArray received;
        m_link->write(QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:1##Username:%1##Password:%2##Resolution:0###@")
                          .arg(user, password)
                          .toLatin1());
        if (!waitUntil([&] { return (received += m_link->readAll()).contains("@#cmd:7#"); }, WaitMs, 1000))
            return false;
        m_link->write("@#cmd:11##Argument:1###@");
        return waitUntil([&] { return m_link->bytesToWrite() == 0; }, WaitMs, 1000);
    }

private:
    QTcpServer m_server;
    QTcpSocket *m_link = nullptr;
};

// The panel program in a directory of its own (it reads Client.cfg beside itself), the rest of
// the build's program directory linked there, so that whatever it loads from there it finds;
// in operator mode with its side link to this program, full screen with the connection bar.
// Its start-up time is the time to its main window.
class PanelProgram
{
public:
    PanelProgram(const Target &target, const QString &display) : m_target(target), m_display(display), m_link(target.host)
    {
        const QFileInfo program(builtProgram("Veskora"));
        const QDir from = program.absoluteDir();
        for (const QString &name : from.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System))
            if (name != program.fileName())
                QFile::link(from.filePath(name), m_dir.filePath(name));
        const QString copy = m_dir.filePath(program.fileName());
        QFile::copy(program.filePath(), copy);
        const QStringList configuration{QStringLiteral("[Client]"), QStringLiteral("txtServer=") + target.host,
                                        QStringLiteral("txtPort=%1").arg(m_link.port()), QStringLiteral("txtUserName=op"),
                                        QStringLiteral("chkUserPass=1"), QStringLiteral("cboResolution=0"),
                                        QStringLiteral("chkDisplayConnectionBar=1"), QStringLiteral("chkCompress=0"),
                                        QStringLiteral("chkBitmap=0"), QStringLiteral("AutoConnect=1"),
                                        QStringLiteral("StartConnectLifeCnt=3"), QStringLiteral("StartLifeCnt=45")};
        QFile cfg(m_dir.filePath(QStringLiteral("Client.cfg")));
        if (cfg.open(QIODevice::WriteOnly))
            cfg.write(configuration.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
        cfg.close();
        MapWatch watch(display);
        m_process = std::make_unique<Child>(copy, QStringList(), display);
        m_startUpSeconds = watch.wait(*m_process);
    }
    double startUpSeconds() const { return m_startUpSeconds; }
    double resident() const { return residentMegabytes(m_process->pid()); }
    double privateMemory() const { return privateMegabytes(m_process->pid()); }
    // A session ordered over the side link: true once the screen shows the server's picture.
    bool startSession(const Probe &screen, const QImage &serverRow)
    {
        if (!m_link.orderSession(m_target.user, m_target.password))
            std::fprintf(stderr, "  the panel program took no order over its side link\n");
        else if (!waitUntil([&] { return probeRow(screen) == serverRow; }, WaitMs, 2000))
            std::fprintf(stderr, "  the panel program showed no session\n");
        else
            return true;
        return false;
    }
    // Ends the session as the operator does: true once the main window is back.
    bool endSession(const Probe &screen)
    {
        const QPoint close = connectionBarClose(m_display);
        MapWatch watch(m_display);
        // Without --sync, which waits for a move that never comes when the pointer is there already.
        if (!close.isNull())
            screen.xdo({"mousemove", QString::number(close.x()), QString::number(close.y()), "click", "1"});
        if (!close.isNull() && !std::isnan(watch.wait(*m_process)))
            return true;
        std::fprintf(stderr, "  the panel program's session did not end by its connection bar\n");
        return false;
    }

private:
    const Target &m_target;
    const QString m_display;
    SideLink m_link;
    QTemporaryDir m_dir;
    std::unique_ptr<Child> m_process;
    double m_startUpSeconds = NAN;
};

void Bench::startUp()
{
    if (!QFile::exists(builtProgram("Veskora")))
        std::fprintf(stderr, "bench_rdp: the panel needs %s\n", qPrintable(builtProgram("Veskora")));
    else if (!m_targets.isEmpty())
        panelStartUp(m_targets.first());
}

void Bench::panel()
{
    startUp();
    if (!QFile::exists(builtProgram("Veskora")))
        return;
    for (const Target &target : std::as_const(m_targets)) {
        panelMemory(target);
        panelSessions(target);
    }
}

void Bench::panelStartUp(const Target &target)
{
    QList<double> panel, bare;
    for (int run = -1; run < runs(10); ++run) {
        const double up = PanelProgram(target, m_clientScreen->name()).startUpSeconds();
        pause(300);
        MapWatch watch(m_clientScreen->name());
        const Child window(QCoreApplication::applicationFilePath(), {QStringLiteral("window")}, m_clientScreen->name());
        const double bareUp = watch.wait(window);
        if (run >= 0) {
            panel.append(up * 1000);
            bare.append(bareUp * 1000);
        }
        pause(300);
    }
    printHeader(QStringLiteral("start-up: process start to the main window mapped (load %1)").arg(loadAverage(), 0, 'f', 2));
    const Summary p = printRow(QStringLiteral("panel program"), panel, "ms");
    const Summary b = printRow(QStringLiteral("bare Qt window"), bare, "ms");
    std::printf("  ratio panel/bare window: p50 %.3f, min %.3f\n", p.p50 / b.p50, p.min / b.min);
}

void Bench::panelMemory(const Target &target)
{
    const QImage serverRow = probeRow(Probe(target.screen));
    QList<double> idle, bareIdle, inSession, after, driver, xf, ownIdle, ownSession, ownAfter, ownXf;
    for (int run = -1; run < runs(5); ++run) {
        {
            PanelProgram panel(target, m_clientScreen->name());
            pause(2000);
            const double idleMb = panel.resident(), ownIdleMb = panel.privateMemory();
            double sessionMb = NAN, afterMb = NAN, ownSessionMb = NAN, ownAfterMb = NAN;
            if (panel.startSession(*m_client, serverRow)) {
                pause(2000);
                sessionMb = panel.resident();
                ownSessionMb = panel.privateMemory();
                if (panel.endSession(*m_client)) {
                    pause(2000);
                    afterMb = panel.resident();
                    ownAfterMb = panel.privateMemory();
                }
            }
            if (run >= 0) {
                idle.append(idleMb);
                inSession.append(sessionMb);
                after.append(afterMb);
                ownIdle.append(ownIdleMb);
                ownSession.append(ownSessionMb);
                ownAfter.append(ownAfterMb);
            }
        }
        pause(300);
        {
            const Child bare(QCoreApplication::applicationFilePath(), {QStringLiteral("window")}, m_clientScreen->name());
            pause(2000);
            if (run >= 0)
                bareIdle.append(residentMegabytes(bare.pid()));
        }
        for (const Kind kind : {Kind::Panel, Kind::Xfreerdp}) {
            Session s = startSession(kind, target);
            pause(2000);
            if (run >= 0 && !std::isnan(s.pictureSeconds)) {
                (kind == Kind::Panel ? driver : xf).append(residentMegabytes(s.client->pid()));
                if (kind == Kind::Xfreerdp)
                    ownXf.append(privateMegabytes(s.client->pid()));
            }
            endSession(s);
        }
    }
    const auto known = [](QList<double> values) {
        values.removeIf([](double v) { return std::isnan(v); });
        return values;
    };
    printHeader(QStringLiteral("resident memory (VmRSS), %1: 2 s after the window, the picture or the session's end "
                               "(load %2)")
                    .arg(target.name)
                    .arg(loadAverage(), 0, 'f', 2));
    const Summary before = printRow(QStringLiteral("panel program, idle"), idle, "MB");
    printRow(QStringLiteral("bare Qt window"), bareIdle, "MB");
    const Summary panel = printRow(QStringLiteral("panel program, session"), known(inSession), "MB");
    const Summary ended = printRow(QStringLiteral("panel program, after it"), known(after), "MB");
    printRow(QStringLiteral("bench_session, session"), driver, "MB");
    const Summary x = printRow(QStringLiteral("xfreerdp, session"), xf, "MB");
    printRatio("memory with a session", panel, x);
    std::printf("  the session adds (p50) %.1f MB; after it the panel keeps %.1f MB more than before it\n",
                panel.p50 - before.p50, ended.p50 - before.p50);
    printHeader(QStringLiteral("private memory (Private_Clean + Private_Dirty), %1: the same moments").arg(target.name));
    const Summary ownBefore = printRow(QStringLiteral("panel program, idle"), known(ownIdle), "MB");
    const Summary ownPanel = printRow(QStringLiteral("panel program, session"), known(ownSession), "MB");
    const Summary ownEnded = printRow(QStringLiteral("panel program, after it"), known(ownAfter), "MB");
    const Summary ownX = printRow(QStringLiteral("xfreerdp, session"), ownXf, "MB");
    printRatio("private memory with a session", ownPanel, ownX);
    std::printf("  the session adds (p50) %.1f MB of its own; after it the panel keeps %.1f MB more than before it\n",
                ownPanel.p50 - ownBefore.p50, ownEnded.p50 - ownBefore.p50);
}

void Bench::panelSessions(const Target &target)
{
    const QImage serverRow = probeRow(Probe(target.screen));
    const int count = m_sessions > 0 ? m_sessions : 100;
    PanelProgram panel(target, m_clientScreen->name());
    pause(2000);
    const double idle = panel.resident();
    QList<double> inSession, after;
    for (int i = 0; i < count; ++i) {
        if (!panel.startSession(*m_client, serverRow))
            break;
        pause(500);
        inSession.append(panel.resident());
        if (!panel.endSession(*m_client))
            break;
        pause(500);
        after.append(panel.resident());
    }
    // The least-squares slope of the memory after each session, from the second one on (the
    // first loads the session module).
    double slope = NAN;
    if (after.size() > 2) {
        const qsizetype n = after.size() - 1;
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (qsizetype i = 1; i < after.size(); ++i) {
            sx += double(i);
            sy += after.at(i);
            sxx += double(i) * double(i);
            sxy += double(i) * after.at(i);
        }
        slope = (double(n) * sxy - sx * sy) / (double(n) * sxx - sx * sx);
    }
    printHeader(QStringLiteral("resident memory, %1: one panel program, %2 sessions one after another (load %3)")
                    .arg(target.name)
                    .arg(after.size())
                    .arg(loadAverage(), 0, 'f', 2));
    printRow(QStringLiteral("in each session"), inSession, "MB");
    printRow(QStringLiteral("after each session"), after, "MB");
    std::printf("  idle before the first %.1f MB; after the first %.1f MB, after the last %.1f MB; growth per session "
                "from the second on %.1f KB\n",
                idle, after.value(0, NAN), after.isEmpty() ? NAN : after.last(), slope * 1024);
}

volatile pid_t worker = 0;

// This process's children: those it started and those orphaned below it (it reaps them).
QList<pid_t> children()
{
    QList<pid_t> found;
    DIR *proc = ::opendir("/proc");
    while (dirent *entry = proc ? ::readdir(proc) : nullptr) {
        char path[300], text[512] = {};
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        FILE *stat = std::fopen(path, "r");
        if (!stat)
            continue;
        const size_t length = std::fread(text, 1, sizeof text - 1, stat);
        std::fclose(stat);
        const char *end = length ? std::strrchr(text, ')') : nullptr;
        int parent = 0;
        if (end && std::sscanf(end + 1, " %*c %d", &parent) == 1 && parent == ::getpid())
            found.append(pid_t(std::atoi(entry->d_name)));
    }
    if (proc)
        ::closedir(proc);
    return found;
}

// The benchmark runs in a child process, in a process group of its own with everything it
// starts; this process waits for it, then ends that group and whatever else the benchmark
// left (xrdp runs in a session of its own), also when the benchmark crashed or this process
// was interrupted. Returns in the child.
void runInGroup()
{
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    worker = ::fork();
    if (worker == 0) {
        ::setpgid(0, 0);
        std::signal(SIGTERM, [](int) { ::kill(0, SIGKILL); });
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        return;
    }
    ::setpgid(worker, worker); // before the child does, so that no signal below misses the group
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        std::signal(sig, [](int) { ::kill(-worker, SIGKILL); });
    int status = 0;
    while (::waitpid(worker, &status, 0) < 0 && errno == EINTR) {
    }
    ::kill(-worker, SIGKILL);
    for (int round = 0; round < 100; ++round) {
        const QList<pid_t> left = children();
        for (const pid_t pid : left)
            ::kill(pid, SIGKILL);
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        if (left.isEmpty())
            break;
        ::usleep(100000);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

} // namespace

int main(int argc, char **argv)
{
    // A bare Qt window: the reference for the panel's start-up and memory.
    if (argc == 2 && qstrcmp(argv[1], "window") == 0) {
        QApplication app(argc, argv);
        QWidget window;
        window.setGeometry(0, 0, Width, Height);
        window.show();
        return QApplication::exec();
    }
    runInGroup();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The clients run as in a desktop session: the runtime files in a directory of their own in
    // memory (as /run/user/UID is), a session bus of their own.
    const QTemporaryDir runtime(QStringLiteral("/dev/shm/bench_rdp-XXXXXX"));
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const QString bus = QStringLiteral("unix:path=") + runtime.filePath(QStringLiteral("bus"));
    QProcess sessionBus;
    sessionBus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                     QStringLiteral("--address=") + bus});
    const auto stopBus = qScopeGuard([&] {
        sessionBus.kill();
        sessionBus.waitForFinished();
    });
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    QApplication app(argc, argv);
    waitUntil([&] { return QFile::exists(runtime.filePath(QStringLiteral("bus"))); }, 5000, 1000);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("what"), QStringLiteral("all, connect, traffic, latency, whole, startup or panel"));
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Runs per client."), QStringLiteral("N"));
    const QCommandLineOption servers(QStringLiteral("servers"), QStringLiteral("shadow, xrdp or both."),
                                     QStringLiteral("LIST"), QStringLiteral("shadow,xrdp"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Measuring time per traffic run."),
                                     QStringLiteral("S"), QStringLiteral("10"));
    const QCommandLineOption samples(QStringLiteral("samples"),
                                     QStringLiteral("Latency samples per run, whole-screen changes."), QStringLiteral("M"));
    const QCommandLineOption sessions(QStringLiteral("sessions"), QStringLiteral("Sessions of one panel program."),
                                      QStringLiteral("K"));
    parser.addOptions({runs, servers, seconds, samples, sessions});
    parser.process(app);
    const QString what = parser.positionalArguments().value(0, QStringLiteral("all"));
    const bool all = what == QLatin1String("all");

    if (QStandardPaths::findExecutable(QStringLiteral("xfreerdp")).isEmpty()) {
        std::fprintf(stderr, "bench_rdp: needs xfreerdp (scripts/install-deps)\n");
        return 2;
    }
    std::printf("bench_rdp %s, %s, load %.2f\n", qPrintable(what),
                qPrintable(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)), loadAverage());
    const Target example{QString(), QStringLiteral("ADDRESS"), QStringLiteral("USER"), QString(), QString(), {}};
    std::printf("xfreerdp %s\n", qPrintable(xfreerdpArguments(example).join(u' ')));
    std::printf("both clients: %dx%d, 32 bpp, bitmap updates (no graphics pipeline: no H.264, RemoteFX or dynamic\n"
                "channels), no bulk compression, bitmap and glyph caches, the server's sound (rdpsnd), no clipboard,\n"
                "no drives, no heartbeat, performance flags 0; xfreerdp alone opens the device channel (rdpdr: its\n"
                "channel loader always adds it) and announces network auto-detection\n",
                Width, Height);
    std::fflush(stdout);
    Bench bench(parser.value(runs).toInt(), parser.value(seconds).toInt(), parser.value(samples).toInt(),
                parser.value(sessions).toInt());
    if (!bench.setUp(parser.value(servers).split(u',')))
        return 1;
    if (all || what == QLatin1String("connect"))
        bench.connect();
    if (all || what == QLatin1String("traffic"))
        bench.traffic();
    if (all || what == QLatin1String("latency"))
        bench.latency();
    if (all || what == QLatin1String("whole"))
        bench.whole();
    if (all || what == QLatin1String("panel"))
        bench.panel();
    else if (what == QLatin1String("startup"))
        bench.startUp();
    return 0;
}
