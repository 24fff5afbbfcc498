#include "RdpTestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace RdpTestEnvironment {

namespace {

// The kernel kills the child when this program ends, however it ends; in a process group of
// its own, its own children can be killed with it.
void dieWithTest(QProcess &process, bool ownGroup = false)
{
    process.setChildProcessModifier([parent = ::getpid(), ownGroup] {
        if (ownGroup)
            ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
    });
}

// Runs a program to its end: whether it succeeded; its output goes to *out.
bool succeeds(const QString &program, const QStringList &arguments, const QByteArray &input = {}, QString *out = nullptr)
{
    QProcess p;
    p.start(program, arguments);
    p.write(input);
    p.closeWriteChannel();
    const bool ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return ok;
}

template<typename F>
bool waitFor(F condition, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition() && !deadline.hasExpired())
        QThread::msleep(20);
    return condition();
}

// A server is ready once it listens (a connection to try it would leave errors in its log).
bool startListening(QProcess &process, const QString &address, quint16 port)
{
    QString out;
    const auto listening = [&] {
        return process.state() != QProcess::Running
            || (succeeds(QStringLiteral("ss"), {"-Hltn", QStringLiteral("src %1:%2").arg(address).arg(port)}, {}, &out)
                && !out.isEmpty());
    };
    return process.waitForStarted(10000) && waitFor(listening, 20000) && process.state() == QProcess::Running;
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

} // namespace

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
        const QString address = QStringLiteral("127.0.%1.%2")
                                    .arg(QRandomGenerator::global()->bounded(1, 255))
                                    .arg(QRandomGenerator::global()->bounded(2, 255));
        QTcpServer probe;
        if (probe.listen(QHostAddress(address), 3389))
            return address;
    }
    return {};
}

Display::Display(int width, int height)
{
    // Xvfb writes the number of the display it took once it accepts clients.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    dieWithTest(m_process);
    m_process.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", QStringLiteral("%1x%2x24").arg(width).arg(height),
                                             "-nolisten", "tcp", "-noreset"});
    QByteArray out;
    for (QDeadlineTimer deadline(20000); m_process.waitForStarted(10000) && !out.contains('\n') && !deadline.hasExpired();
         out += m_process.readAllStandardOutput())
        m_process.waitForReadyRead(200);
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    m_number = ok ? number : -1;
}

Display::~Display()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool Server::start(quint16 port, const QString &bindAddress)
{
    kill();
    m_bind = bindAddress;
    m_port = port ? port : freePort();
    const QString sam = m_dir.filePath(QStringLiteral("nla.sam"));
    QString hash;
    QFile file(sam);
    if (!file.exists() && (!succeeds(QStringLiteral("winpr-hash"), {"-u", UserName, "-p", Password, "-f", "sam"}, {}, &hash)
                           || !file.open(QIODevice::WriteOnly) || file.write(hash.toUtf8()) < 0))
        return false;
    file.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display.name());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("shadow.log")), QIODevice::Append);
    dieWithTest(m_process);
    // Line-buffered, so that its log is current for anyone reading it while it runs.
    m_process.start(QStringLiteral("stdbuf"), {"-oL", "freerdp-shadow-cli", "/bind-address:" + m_bind,
                                               QStringLiteral("/port:%1").arg(m_port), "/sec:nla", "/sam-file:" + sam});
    return startListening(m_process, m_bind, m_port);
}

void Server::kill()
{
    m_process.kill();
    m_process.waitForFinished(10000);
}

QString Server::log() const
{
    return readFile(m_dir.filePath(QStringLiteral("shadow.log")));
}

bool Server::renewCertificate(const QString &newCertificate, const QString &newKey)
{
    // The server makes a new key and certificate when it finds none where it keeps them.
    const QString dir = QFileInfo(certificate()).path(), key = dir + QStringLiteral("/shadow.key");
    QFile::remove(certificate());
    QFile::remove(key);
    return newCertificate.isEmpty()
        || (QDir().mkpath(dir) && QFile::copy(newCertificate, certificate()) && QFile::copy(newKey, key));
}

Probe::Probe(const QString &display) : m_display(XOpenDisplay(display.toLatin1().constData()))
{
    // A window that went away meanwhile is an answer, and a server that went away (a session
    // that ended) a failed grab, not the end of the test program.
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
    XQueryPointer(m_display, DefaultRootWindow(m_display), &root, &child, &x, &y, &wx, &wy, mask);
    return QPoint(x, y);
}

void Probe::press(unsigned keyCode, bool down) const
{
    XTestFakeKeyEvent(m_display, keyCode, down ? True : False, CurrentTime);
    XSync(m_display, False);
}

void Probe::chord(const QList<QByteArray> &keys) const
{
    for (const QByteArray &key : keys)
        press(XKeysymToKeycode(m_display, XStringToKeysym(key.constData())), true);
    for (auto key = keys.crbegin(); key != keys.crend(); ++key)
        press(XKeysymToKeycode(m_display, XStringToKeysym(key->constData())), false);
}

void Probe::type(const QString &text) const
{
    for (const QChar c : text)
        chord({c == u'\n' ? "Return" : c == u' ' ? "space" : QByteArray(1, c.toLatin1())});
}

void Probe::move(const QPoint &to) const
{
    XTestFakeMotionEvent(m_display, -1, to.x(), to.y(), CurrentTime);
    XSync(m_display, False);
}

void Probe::click(const QPoint &at, int button) const
{
    move(at);
    XTestFakeButtonEvent(m_display, unsigned(button), True, CurrentTime);
    XTestFakeButtonEvent(m_display, unsigned(button), False, CurrentTime);
    XSync(m_display, False);
}

QImage Probe::grab(const QRect &rect) const
{
    const int screen = DefaultScreen(m_display);
    const QRect area = rect.isEmpty() ? QRect(0, 0, DisplayWidth(m_display, screen), DisplayHeight(m_display, screen)) : rect;
    XImage *image = XGetImage(m_display, DefaultRootWindow(m_display), area.x(), area.y(), unsigned(area.width()),
                              unsigned(area.height()), AllPlanes, ZPixmap);
    // 24-bit colour in 32-bit pixels, as RGB32 holds them; the copy leaves their top byte out.
    QImage picture;
    if (image && image->bits_per_pixel == 32)
        picture = QImage(reinterpret_cast<const uchar *>(image->data), area.width(), area.height(), image->bytes_per_line,
                         QImage::Format_RGB32).convertToFormat(QImage::Format_RGB888);
    if (image)
        XDestroyImage(image);
    return picture;
}

void Probe::fill(QRgb colour) const
{
    XSetWindowBackground(m_display, DefaultRootWindow(m_display), colour & 0xFFFFFF);
    XClearWindow(m_display, DefaultRootWindow(m_display));
    XSync(m_display, False);
}

void Probe::paintPattern() const
{
    const int screen = DefaultScreen(m_display);
    const Window root = DefaultRootWindow(m_display);
    const int width = DisplayWidth(m_display, screen), height = DisplayHeight(m_display, screen);
    const Pixmap pixmap = XCreatePixmap(m_display, root, unsigned(width), unsigned(height), unsigned(DefaultDepth(m_display, screen)));
    GC gc = XCreateGC(m_display, pixmap, 0, nullptr);
    // Red and green count the squares across and down; blue tells the two apart.
    for (int row = 0; row * 16 < height; ++row)
        for (int column = 0; column * 16 < width; ++column) {
            XSetForeground(m_display, gc, ((column * 3 & 0xFF) << 16) | ((row * 5 & 0xFF) << 8) | ((column * 7 + row * 11) & 0xFF));
            XFillRectangle(m_display, pixmap, gc, column * 16, row * 16, 16, 16);
        }
    XFreeGC(m_display, gc);
    XSetWindowBackgroundPixmap(m_display, root, pixmap);
    XFreePixmap(m_display, pixmap);
    XClearWindow(m_display, root);
    XSync(m_display, False);
}

// The 32-bit values of a window's property (windows, atoms), empty when it has none.
QList<unsigned long> Probe::property(unsigned long window, const char *name, unsigned long type) const
{
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    XGetWindowProperty(m_display, window, XInternAtom(m_display, name, False), 0, 4096, False, type, &actual, &format,
                       &count, &after, &data);
    const auto *values = reinterpret_cast<unsigned long *>(data);
    const QList<unsigned long> list = data && format == 32 ? QList<unsigned long>(values, values + count) : QList<unsigned long>();
    if (data)
        XFree(data);
    return list;
}

bool Probe::windowManaged() const
{
    // A manager names a window of its own on the root window and on that window itself; the
    // window of a manager that is gone does not answer.
    const auto check = property(DefaultRootWindow(m_display), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    return !check.isEmpty() && property(check.first(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW) == check;
}

unsigned long Probe::activeWindow() const
{
    return property(DefaultRootWindow(m_display), "_NET_ACTIVE_WINDOW", XA_WINDOW).value(0);
}

bool Probe::dockShown() const
{
    const Atom dock = XInternAtom(m_display, "_NET_WM_WINDOW_TYPE_DOCK", False);
    const auto clients = property(DefaultRootWindow(m_display), "_NET_CLIENT_LIST", XA_WINDOW);
    return std::any_of(clients.cbegin(), clients.cend(),
                       [&](unsigned long w) { return property(w, "_NET_WM_WINDOW_TYPE", XA_ATOM).contains(dock); });
}

bool Desktop::setManaged(bool managed)
{
    if (managed == (m_windowManager.state() != QProcess::NotRunning))
        return true;
    Probe probe(m_display);
    if (!managed) {
        // The manager and the panel it started, as one group.
        ::kill(-pid_t(m_windowManager.processId()), SIGKILL);
        m_windowManager.waitForFinished(10000);
        return waitFor([&] { return !probe.windowManaged() && !probe.dockShown(); }, 10000);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    m_windowManager.setProcessEnvironment(env);
    m_windowManager.setStandardOutputFile(QProcess::nullDevice());
    m_windowManager.setStandardErrorFile(QProcess::nullDevice());
    dieWithTest(m_windowManager, true);
    // The manager starts the panel once it serves the screen, so that the panel is its dock.
    m_windowManager.start(QStringLiteral("openbox"), {"--sm-disable", "--startup",
                                                      "trayer --edge top --align right --widthtype pixel --width 120 "
                                                      "--height 24 --SetDockType true"});
    return m_windowManager.waitForStarted() && waitFor([&] { return probe.windowManaged() && probe.dockShown(); }, 20000);
}

bool Xrdp::canRun()
{
    return ::geteuid() == 0;
}

Xrdp::Xrdp()
    : m_user(QStringLiteral("vsk%1").arg(QRandomGenerator::global()->bounded(100000, 999999))),
      m_password(QStringLiteral("Pw-%1").arg(QRandomGenerator::global()->bounded(100000, 999999)))
{
}

Xrdp::~Xrdp()
{
    // The namespace's first process takes every other one with it.
    m_process.kill();
    m_process.waitForFinished(10000);
    succeeds(QStringLiteral("userdel"), {"-r", "-f", m_user});
}

bool Xrdp::start(const QString &address)
{
    // The user lets root (this test) see its screen, paints its background and opens one xterm
    // over all of it, so that typed keys reach it wherever the pointer is.
    QFile session(home() + QStringLiteral("/.xsession"));
    if (!succeeds(QStringLiteral("useradd"), {"-m", "-s", "/bin/sh", m_user})
        || !succeeds(QStringLiteral("chpasswd"), {}, (m_user + u':' + m_password + u'\n').toLatin1())
        || !session.open(QIODevice::WriteOnly)
        || session.write("xhost +si:localuser:root\nxsetroot -solid '#208040'\nexec xterm -geometry 300x100+0+0\n") < 0)
        return false;
    session.close();
    // Copies of the installed configuration, each key changed where it first appears (the
    // section's own): our address, our session manager's port, one log here. xrdp finds its
    // session manager through the installed sesman.ini, and both keep their sockets under
    // /run/xrdp: in a mount namespace of their own both are theirs alone. In a process
    // namespace of their own, whose first process dies with this program, every session they
    // start goes with them.
    const QString script = QStringLiteral(R"sh(set -e
dir=$1
first() { echo "0,/^$1=/s|^$1=.*|$1=$2|"; }
log="$(first LogFile "$dir/log")" syslog="$(first EnableSyslog false)"
sed -e "$(first port "tcp://$2:3389")" -e "$log" -e "$syslog" /etc/xrdp/xrdp.ini > "$dir/xrdp.ini"
sed -e "$(first ListenPort "$3")" -e "$log" -e "$syslog" /etc/xrdp/sesman.ini > "$dir/sesman.ini"
mount --bind "$dir/sesman.ini" /etc/xrdp/sesman.ini
mkdir -p /run/xrdp
mount -t tmpfs -o mode=0755 tmpfs /run/xrdp
mkdir -m 3777 /run/xrdp/sockdir
xrdp-sesman --nodaemon -c "$dir/sesman.ini" &
exec xrdp --nodaemon -c "$dir/xrdp.ini"
)sh");
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
    dieWithTest(m_process);
    m_process.start(QStringLiteral("unshare"), {"--mount", "--propagation", "private", "--pid", "--mount-proc", "--kill-child",
                                                "sh", "-c", script, "sh", m_dir.path(), address, QString::number(freePort())});
    return succeeds(QStringLiteral("chown"), {m_user + u':', session.fileName()}) && startListening(m_process, address, 3389);
}

QString Xrdp::sessionDisplay() const
{
    const auto found = QRegularExpression(QStringLiteral("Starting session: .* display (:\\d+)")).match(log());
    return found.captured(1);
}

QString Xrdp::runInSession(const QStringList &command) const
{
    // The session's channel server mounts the drives, in the namespace's mounts, as the user.
    const QString pid = QString::number(m_process.processId()), first = readFile("/proc/" + pid + "/task/" + pid + "/children");
    QString out;
    succeeds(QStringLiteral("nsenter"), QStringList{"-t", first.trimmed(), "-m", "--", "runuser", "-u", m_user, "--"} + command,
             {}, &out);
    return out;
}

QString Xrdp::log() const
{
    return readFile(m_dir.filePath(QStringLiteral("log")));
}

} // namespace RdpTestEnvironment
