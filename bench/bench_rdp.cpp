// The panel's session control and xfreerdp, one after the other, against the same FreeRDP
// shadow server on an Xvfb display whose screen keeps changing. For each client: the time from
// the start of the connection to the established session, and the client's CPU time per second
// of wall time while the remote screen animates. Then the two ratios (panel / xfreerdp).
//
//   bench_rdp [--seconds N] [--screenshot FILE]
//
// Not a test: it is built with the project and run by hand.
#include "../tests/e2e/RdpTestEnvironment.h"
#include "rdp/FreeRdpSessionControl.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xlib.h>

#include <cstdio>
#include <memory>
#include <vector>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Draws moving bars on the display until killed: the remote screen's animation.
int animate(const char *displayName)
{
    ::Display *d = XOpenDisplay(displayName);
    if (!d)
        return 1;
    const int screen = DefaultScreen(d);
    Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 100, 100, 640, 400, 0, 0, 0);
    XMapWindow(d, w);
    GC gc = XCreateGC(d, w, 0, nullptr);
    for (unsigned long frame = 0;; ++frame) {
        XSetForeground(d, gc, 0x102030);
        XFillRectangle(d, w, gc, 0, 0, 640, 400);
        for (int bar = 0; bar < 8; ++bar) {
            XSetForeground(d, gc, (0x40 + 0x18 * bar) << ((bar % 3) * 8));
            XFillRectangle(d, w, gc, int((frame * (3 + bar)) % 640), bar * 50, 60, 40);
        }
        XFlush(d);
        usleep(1000000 / 30);
    }
}

double cpuSecondsSelf()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses: utime and stime are the 14th and 15th.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return -1;
    return (f.at(11).toDouble() + f.at(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

struct Result
{
    double connectSeconds = -1; // the client's own signal (OnConnected; xfreerdp has none)
    double activatedSeconds = -1; // until the server logs the client as activated
    double cpuPerSecond = -1;
};

int activations(const RdpTestEnvironment::Server &server)
{
    return int(server.log().count(QStringLiteral(" is activated ")));
}

// Waits (pumping events) until the server has logged one more activation than before.
bool waitActivated(const RdpTestEnvironment::Server &server, int before, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (activations(server) <= before) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

Result runPanel(const RdpTestEnvironment::Server &server, int seconds, const QString &screenshot)
{
    Result r;
    FreeRdpSessionControl control;
    control.resize(1024, 768);
    control.show();
    control.setServer(server.address());
    control.setUserName(RdpTestEnvironment::UserName);
    control.NonScriptable()->setClearTextPassword(RdpTestEnvironment::Password);
    control.setDesktopWidth(1024);
    control.setDesktopHeight(768);
    if (!screenshot.isEmpty()) {
        // As the operator sees it in full screen: with the connection bar.
        control.SecuredSettings()->setFullScreen(1);
        control.AdvancedSettings3()->setDisplayConnectionBar(true);
    }
    QSignalSpy connected(&control, &SessionControl::OnConnected);
    const int before = activations(server);
    QElapsedTimer clock;
    clock.start();
    control.Connect();
    if (!waitActivated(server, before, 30000))
        return r;
    r.activatedSeconds = clock.nsecsElapsed() / 1e9;
    if (!connected.count() && !connected.wait(30000))
        return r;
    r.connectSeconds = clock.nsecsElapsed() / 1e9;
    const double cpu0 = cpuSecondsSelf();
    clock.restart();
    while (clock.elapsed() < seconds * 1000)
        QTest::qWait(50); // the session works on its own thread; the widget paints here
    r.cpuPerSecond = (cpuSecondsSelf() - cpu0) / (clock.nsecsElapsed() / 1e9);
    if (!screenshot.isEmpty())
        control.grab().save(screenshot);
    QSignalSpy disconnected(&control, &SessionControl::OnDisconnected);
    control.Disconnect();
    disconnected.wait(30000);
    return r;
}

Result runXfreerdp(const RdpTestEnvironment::Server &server, const RdpTestEnvironment::Display &clientDisplay,
                   int seconds)
{
    Result r;
    QProcess xfreerdp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), clientDisplay.name());
    xfreerdp.setProcessEnvironment(env);
    xfreerdp.setProcessChannelMode(QProcess::MergedChannels);
    const int before = activations(server);
    QElapsedTimer clock;
    clock.start();
    // The password goes in on standard input, never on the command line; standard input stays
    // open, or xfreerdp waits for more.
    xfreerdp.start(QStringLiteral("xfreerdp"),
                   {QStringLiteral("/v:") + server.address(), QStringLiteral("/u:") + RdpTestEnvironment::UserName,
                    QStringLiteral("/from-stdin"), QStringLiteral("/cert:ignore"), QStringLiteral("/size:1024x768")});
    if (!xfreerdp.waitForStarted(10000))
        return r;
    xfreerdp.write((RdpTestEnvironment::Password + QLatin1Char('\n')).toUtf8());
    if (waitActivated(server, before, 30000)) {
        r.activatedSeconds = clock.nsecsElapsed() / 1e9;
        const double cpu0 = cpuSecondsOf(xfreerdp.processId());
        clock.restart();
        while (clock.elapsed() < seconds * 1000) {
            xfreerdp.waitForReadyRead(50);
            xfreerdp.readAll();
        }
        r.cpuPerSecond = (cpuSecondsOf(xfreerdp.processId()) - cpu0) / (clock.nsecsElapsed() / 1e9);
    }
    xfreerdp.terminate();
    if (!xfreerdp.waitForFinished(5000)) {
        xfreerdp.kill();
        xfreerdp.waitForFinished(5000);
    }
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--animate") == 0)
        return animate(argv[2]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Measuring time per client."),
                                     QStringLiteral("N"), QStringLiteral("10"));
    QCommandLineOption shotOption(QStringLiteral("screenshot"), QStringLiteral("Save the panel's widget as PNG."),
                                  QStringLiteral("FILE"));
    parser.addOption(secondsOption);
    parser.addOption(shotOption);
    parser.process(app);
    const int seconds = qMax(1, parser.value(secondsOption).toInt());

    if (QStandardPaths::findExecutable(QStringLiteral("xfreerdp")).isEmpty()) {
        std::fprintf(stderr, "bench_rdp: needs xfreerdp (freerdp2-x11)\n");
        return 2;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

    RdpTestEnvironment::Display serverDisplay;
    RdpTestEnvironment::Display clientDisplay; // where xfreerdp puts its window
    if (!serverDisplay.isRunning() || !clientDisplay.isRunning()) {
        std::fprintf(stderr, "bench_rdp: Xvfb did not start\n");
        return 1;
    }
    RdpTestEnvironment::Probe(serverDisplay.name()).paint(0);
    RdpTestEnvironment::Server server(serverDisplay);
    if (!server.start()) {
        std::fprintf(stderr, "bench_rdp: the shadow server did not start\n");
        return 1;
    }
    // For the picture, a few ordinary X programs on the server's screen as well.
    std::vector<std::unique_ptr<QProcess>> programs;
    if (parser.isSet(shotOption)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), serverDisplay.name());
        const QList<QStringList> commands = {
            {QStringLiteral("xclock"), QStringLiteral("-geometry"), QStringLiteral("200x200+780+40"), QStringLiteral("-update"), QStringLiteral("1")},
            {QStringLiteral("xeyes"), QStringLiteral("-geometry"), QStringLiteral("200x120+780+300")},
            {QStringLiteral("xlogo"), QStringLiteral("-geometry"), QStringLiteral("200x200+780+520")}};
        for (QStringList command : commands) {
            auto p = std::make_unique<QProcess>();
            p->setProcessEnvironment(env);
            const QString program = command.takeFirst();
            p->start(program, command);
            programs.push_back(std::move(p));
        }
    }
    QProcess animator;
    animator.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--animate"), serverDisplay.name()});
    animator.waitForStarted(5000);

    // The first session of a process pays for one-time set-up (the codecs' CPU self-test);
    // the second shows the steady cost.
    const Result first = runPanel(server, 1, QString());
    const Result panel = runPanel(server, seconds, parser.value(shotOption));
    const Result xf = runXfreerdp(server, clientDisplay, seconds);
    animator.kill();
    animator.waitForFinished(5000);
    for (auto &p : programs) {
        p->kill();
        p->waitForFinished(5000);
    }

    std::printf("client      OnConnected   server saw activation   CPU s per s (animating)\n");
    std::printf("panel, 1st  %8.3f s    %8.3f s\n", first.connectSeconds, first.activatedSeconds);
    std::printf("panel       %8.3f s    %8.3f s              %8.4f\n", panel.connectSeconds, panel.activatedSeconds,
                panel.cpuPerSecond);
    std::printf("xfreerdp         -        %8.3f s              %8.4f\n", xf.activatedSeconds, xf.cpuPerSecond);
    if (panel.activatedSeconds > 0 && xf.activatedSeconds > 0 && xf.cpuPerSecond > 0)
        std::printf("ratio panel/xfreerdp: time to connected %.3f, CPU per second %.3f\n",
                    panel.activatedSeconds / xf.activatedSeconds, panel.cpuPerSecond / xf.cpuPerSecond);
    return panel.activatedSeconds > 0 && xf.activatedSeconds > 0 ? 0 : 1;
}
