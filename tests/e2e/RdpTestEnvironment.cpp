#include "RdpTestEnvironment.h"
#include "TestSupport.h"
#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace RdpTestEnvironment {

void launch(QProcess &process, const QStringList &command, const QStringList &environment, bool ownGroup)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : environment)
        env.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    process.setProcessEnvironment(env);
    if (process.processChannelMode() == QProcess::SeparateChannels)
        process.setStandardErrorFile(QProcess::nullDevice());
    process.setChildProcessModifier([parent = ::getpid(), ownGroup] {
        if (ownGroup)
            ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
    });
    process.start(command.first(), command.mid(1));
}

bool run(const QStringList &command, QString *output, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(command.first(), command.mid(1));
    const bool ok = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return ok;
}

QString outputOf(const QStringList &command)
{
    QString out;
    return run(command, &out) ? out.trimmed() : QString();
}

QString stateOf(const QProcess &process)
{
    if (process.state() != QProcess::Running)
        return process.exitStatus() == QProcess::CrashExit ? QStringLiteral("it crashed")
                                                            : QStringLiteral("it ended with %1").arg(process.exitCode());
    QString stacks;
    run({"gdb", "-p", QString::number(process.processId()), "-batch", "-ex", "thread apply all bt"}, &stacks, 60000);
    return QStringLiteral("it still runs:\n") + stacks;
}

bool privateFileSystem()
{
    const auto tmpfs = [](const char *dir) { return QDir().mkpath(dir) && ::mount("tmpfs", dir, "tmpfs", 0, "mode=0755") == 0; };
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && tmpfs("/media") && tmpfs("/home") && QDir().mkpath("/media/.etc/upper") && QDir().mkpath("/media/.etc/work")
        && ::mount("overlay", "/etc", "overlay", 0, "lowerdir=/etc,upperdir=/media/.etc/upper,workdir=/media/.etc/work") == 0;
}

QString freeServerAddress()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const QString address = QStringLiteral("127.0.%1.%2").arg(QRandomGenerator::global()->bounded(1, 255)).arg(QRandomGenerator::global()->bounded(2, 255));
        QTcpServer probe;
        if (probe.listen(QHostAddress(address), 3389))
            return address;
    }
    return {};
}

Display::Display(int width, int height)
{
    launch(m_process, {"Xvfb", "-displayfd", "1", "-screen", "0", QStringLiteral("%1x%2x24").arg(width).arg(height), "-nolisten",
                       "tcp", "-noreset"});
    QByteArray out;
    while (!out.contains('\n') && m_process.waitForReadyRead(20000))
        out += m_process.readAllStandardOutput();
    m_number = out.contains('\n') ? out.trimmed().toInt() : -1;
}

bool Display::setManaged(bool managed)
{
    if (managed == (m_windowManager.state() != QProcess::NotRunning))
        return true;
    if (managed) {
        // The manager starts the panel once it serves the screen, so that the panel is its dock.
        m_windowManager.setStandardOutputFile(QProcess::nullDevice());
        launch(m_windowManager, {"openbox", "--sm-disable", "--startup",
                                 "trayer --edge top --align right --widthtype pixel --width 120 --height 24 --SetDockType true"},
               {"DISPLAY=" + name()}, true);
    } else {
        ::kill(-pid_t(m_windowManager.processId()), SIGKILL); // with the panel it started
        m_windowManager.waitForFinished(10000);
    }
    Probe probe(name());
    return QTest::qWaitFor([&] { return probe.desktopParts() == (managed ? 2 : 0); }, 20000);
}

Compositor::Compositor(const QString &program, const QSize &size)
{
    const bool headless = program == QLatin1String("cage-headless");
    if (!headless)
        m_display = std::make_unique<Display>(size.width(), size.height());
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    QDir().mkdir(runtime);
    QFile config(runtime + QStringLiteral("/config"));
    if ((m_display && !m_display->isRunning()) || !config.open(QIODevice::WriteOnly))
        return;
    config.write(QStringLiteral("output X11-1 mode %1x%2\nxwayland disable\ndefault_border none\n"
                              "default_floating_border none\nfor_window [title=\".*\"] floating enable, move position 0 0\n")
                     .arg(size.width()).arg(size.height()).toUtf8());
    config.close();
    // Its directory is nobody's alone, within one that nobody may only pass through.
    if (!QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther)
        || !run({"chown", "-R", "nobody:nogroup", runtime}) || !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return;
    QStringList command{program, "-c", runtime + QStringLiteral("/config")};
    // cage would not start without an Xwayland program, which it runs only for X programs.
    QStringList environment{"XDG_RUNTIME_DIR=" + runtime, "WLR_RENDERER=pixman", "WLR_XWAYLAND=/bin/false"};
    if (program.startsWith(QLatin1String("cage")))
        command = QStringList{"cage", "-d", "--", "setpriv", "--pdeathsig", "KILL", "sleep", "86400"};
    if (headless) {
        // This cage hands a window as large as the screen to the screen as it is, without drawing
        // it; a screen of memory then keeps what was drawn before for good. On a screen turned
        // half round (grim turns it back) it draws every window itself.
        command.insert(1, QStringLiteral("-r"));
        command.insert(1, QStringLiteral("-r"));
        environment << "WLR_BACKENDS=headless";
    } else {
        environment << "DISPLAY=" + m_display->name() << "WLR_BACKENDS=x11";
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("log")));
    launch(m_process, QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"} + command, environment);
    m_process.waitForStarted(10000);
    const auto served = [&] {
        const QStringList sockets = QDir(runtime).entryList({QStringLiteral("wayland-?")}, QDir::AllEntries | QDir::System);
        if (!sockets.isEmpty())
            m_socket = runtime + u'/' + sockets.first();
        return !m_socket.isEmpty() || m_process.state() == QProcess::NotRunning;
    };
    if (!QTest::qWaitFor(served, 20000) || m_process.state() != QProcess::Running)
        m_socket.clear();
    if (m_display)
        m_input = std::make_unique<Probe>(m_display->name());
}

QImage Compositor::grab(const QRect &rect) const
{
    QProcess grim;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), m_socket);
    grim.setProcessEnvironment(environment);
    grim.start(QStringLiteral("grim"), {"-t", "ppm", "-g", QStringLiteral("%1,%2 %3x%4").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height()), "-"});
    return grim.waitForFinished(20000) && grim.exitCode() == 0 ? QImage::fromData(grim.readAllStandardOutput(), "PPM").convertToFormat(QImage::Format_RGB888) : QImage();
}

bool Server::start(quint16 port, const QString &bindAddress)
{
    kill();
    m_bind = bindAddress;
    m_port = port ? port : TestSupport::refusingPort();
    const QString sam = m_dir.filePath(QStringLiteral("nla.sam"));
    if (!QFile::exists(sam) && !run({"sh", "-c", "winpr-hash -u \"$0\" -p \"$1\" -f sam > \"$2\"", UserName, Password, sam}))
        return false;
    // Line-buffered, so that its log is current while it runs.
    return serve({"stdbuf", "-oL", "freerdp-shadow-cli", "/bind-address:" + m_bind, QStringLiteral("/port:%1").arg(m_port), "/sec:nla",
                  "/sam-file:" + sam},
                 {"DISPLAY=" + m_display.name(), "XDG_CONFIG_HOME=" + m_dir.filePath(QStringLiteral("config"))}, m_bind, m_port);
}

bool Program::serve(const QStringList &command, const QStringList &environment, const QString &address, quint16 port)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
    launch(m_process, command, environment);
    // Ready once it listens (a connection to try it would leave errors in its log).
    QString out;
    const auto ready = [&] {
        return m_process.state() == QProcess::NotRunning
            || (run({"ss", "-Hltn", QStringLiteral("src %1:%2").arg(address).arg(port)}, &out) && !out.isEmpty());
    };
    return QTest::qWaitFor(ready, 20000) && m_process.state() == QProcess::Running;
}

bool Server::renewCertificate(const QString &newCertificate, const QString &newKey)
{
    // The server makes a new key and certificate when it finds none where it keeps them.
    const QString dir = QFileInfo(certificate()).path(), key = dir + QStringLiteral("/shadow.key");
    QFile::remove(certificate());
    QFile::remove(key);
    return newCertificate.isEmpty() || (QDir().mkpath(dir) && QFile::copy(newCertificate, certificate()) && QFile::copy(newKey, key));
}

Probe::Probe(const QString &display) : m_name(display), m_display(XOpenDisplay(display.toLatin1().constData()))
{
    // A server that went away (a session that ended) is a failed grab, not the end of the test.
    XSetErrorHandler([](::_XDisplay *, XErrorEvent *) { return 0; });
    XSetIOErrorHandler([](::_XDisplay *) { return 0; });
    if (m_display)
        XSetIOErrorExitHandler(m_display, [](::_XDisplay *, void *) {}, nullptr);
}

Probe::~Probe()
{
    if (m_display)
        XCloseDisplay(m_display);
}

bool Probe::keyDown(unsigned keyCode) const
{
    char keys[32];
    XQueryKeymap(m_display, keys);
    return keys[keyCode / 8] & (1 << (keyCode % 8));
}

QPoint Probe::pointer(unsigned *mask) const
{
    Window root, child;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned buttons = 0;
    XQueryPointer(m_display, DefaultRootWindow(m_display), &root, &child, &x, &y, &wx, &wy, mask ? mask : &buttons);
    return QPoint(x, y);
}

QImage Probe::grab(const QRect &rect) const
{
    const int screen = DefaultScreen(m_display);
    const QRect area = rect.isEmpty() ? QRect(0, 0, DisplayWidth(m_display, screen), DisplayHeight(m_display, screen)) : rect;
    XImage *image = XGetImage(m_display, DefaultRootWindow(m_display), area.x(), area.y(), unsigned(area.width()),
                              unsigned(area.height()), AllPlanes, ZPixmap);
    if (!image)
        return {};
    // 24-bit colour in 32-bit pixels, as RGB32 holds them; the copy leaves out their top byte.
    const QImage picture = image->bits_per_pixel != 32 ? QImage()
        : QImage(reinterpret_cast<const uchar *>(image->data), area.width(), area.height(), image->bytes_per_line, QImage::Format_RGB32)
              .convertToFormat(QImage::Format_RGB888);
    XDestroyImage(image);
    return picture;
}

void Probe::paint(int seed) const
{
    const int screen = DefaultScreen(m_display);
    const Window root = DefaultRootWindow(m_display);
    const int width = DisplayWidth(m_display, screen), height = DisplayHeight(m_display, screen);
    const Pixmap pixmap = XCreatePixmap(m_display, root, unsigned(width), unsigned(height), unsigned(DefaultDepth(m_display, screen)));
    GC gc = XCreateGC(m_display, pixmap, 0, nullptr);
    for (int row = 0; row * 16 < height; ++row)
        for (int column = 0; column * 16 < width; ++column) {
            XSetForeground(m_display, gc, (((column * 3 + seed * 85) & 0xFF) << 16) | ((row * 5 & 0xFF) << 8) | ((column * 7 + row * 11) & 0xFF));
            XFillRectangle(m_display, pixmap, gc, column * 16, row * 16, 16, 16);
        }
    XFreeGC(m_display, gc);
    XSetWindowBackgroundPixmap(m_display, root, pixmap);
    XFreePixmap(m_display, pixmap);
    XClearWindow(m_display, root);
    XSync(m_display, False);
}

int Probe::desktopParts() const
{
    const auto owned = [this](const char *selection) { return XGetSelectionOwner(m_display, XInternAtom(m_display, selection, False)) != None; };
    return int(owned("WM_S0")) + int(owned("_NET_SYSTEM_TRAY_S0"));
}

unsigned long Probe::topLevel(const QByteArray &windowClass, QRect *geometry) const
{
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count);
    for (unsigned i = 0, largest = 0; i < count; ++i) {
        XWindowAttributes a;
        XClassHint hint{nullptr, nullptr};
        if (!XGetWindowAttributes(m_display, children[i], &a) || a.map_state != IsViewable || unsigned(a.width * a.height) <= largest)
            continue;
        if (windowClass.isEmpty() || (XGetClassHint(m_display, children[i], &hint) && windowClass == hint.res_class)) {
            largest = unsigned(a.width * a.height);
            found = children[i];
            if (geometry)
                *geometry = QRect(a.x, a.y, a.width, a.height);
        }
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    if (children)
        XFree(children);
    return found;
}

Xrdp::~Xrdp()
{
    const QString display = sessionDisplay().mid(1);
    kill(); // the namespace's first process takes every other one with it, but not their files
    if (!display.isEmpty()) {
        QFile::remove("/tmp/.X11-unix/X" + display);
        QFile::remove("/tmp/.X" + display + "-lock");
    }
    run({"userdel", "-r", "-f", m_user});
}

bool Xrdp::start(const QString &address)
{
    // One xterm over the whole screen takes typed keys wherever the pointer is. xrdp finds its
    // session manager through the installed sesman.ini and both keep sockets under /run/xrdp:
    // a mount namespace makes both theirs alone. Each key changed in its own (first) section.
    const QString script = QStringLiteral(R"sh(set -e
dir=$1 user=$4
useradd -m -s /bin/sh $user; echo "$user:$5" | chpasswd
printf "xhost +si:localuser:root\nxsetroot -solid '#208040'\nexec xterm -geometry 300x100+0+0\n" > /home/$user/.xsession
chown $user: /home/$user/.xsession
first() { echo "0,/^$1=/s|^$1=.*|$1=$2|"; }
log="$(first LogFile "$dir/log")" syslog="$(first EnableSyslog false)"
sed -e "$(first port "tcp://$2:3389")" -e "$log" -e "$syslog" /etc/xrdp/xrdp.ini > "$dir/xrdp.ini"
sed -e "$(first ListenPort "$3")" -e "$log" -e "$syslog" /etc/xrdp/sesman.ini > "$dir/sesman.ini"
mount --bind "$dir/sesman.ini" /etc/xrdp/sesman.ini
mkdir -p /run/xrdp; mount -t tmpfs -o mode=0755 tmpfs /run/xrdp; mkdir -m 3777 /run/xrdp/sockdir
xrdp-sesman --nodaemon -c "$dir/sesman.ini" &
exec xrdp --nodaemon -c "$dir/xrdp.ini")sh");
    return serve({"unshare", "--mount", "--propagation", "private", "--pid", "--mount-proc", "--kill-child", "sh", "-c", script, "sh",
                  m_dir.path(), address, QString::number(TestSupport::refusingPort()), m_user, m_password}, {}, address, 3389);
}

QString Xrdp::sessionDisplay() const
{
    return QRegularExpression(QStringLiteral("Starting session: .* display (:\\d+)")).match(log()).captured(1);
}

QString Xrdp::runInSession(const QStringList &command) const
{
    // The session's channel server mounts the drives, in the namespace's mounts, as the user.
    const QString pid = QString::number(m_process.processId()), first = readFile("/proc/" + pid + "/task/" + pid + "/children");
    return outputOf(QStringList{"nsenter", "-t", first.trimmed(), "-m", "--", "runuser", "-u", m_user, "--"} + command);
}

} // namespace RdpTestEnvironment
