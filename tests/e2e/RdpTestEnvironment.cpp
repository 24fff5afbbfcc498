#include "RdpTestEnvironment.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtEndian>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace RdpTestEnvironment {

namespace {

QString missing(std::initializer_list<const char *> programs)
{
    QStringList names;
    for (const char *name : programs)
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            names << QString::fromLatin1(name);
    return names.join(QStringLiteral(", "));
}

// Runs a program and waits for it: whether it succeeded; its output goes to *out.
bool succeeds(const QString &program, const QStringList &arguments, const QByteArray &input = {}, QString *out = nullptr)
{
    QProcess p;
    p.start(program, arguments);
    if (!input.isEmpty()) {
        p.write(input);
        p.closeWriteChannel();
    }
    const bool ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return ok;
}

// Processes of a user: pid and command name, from /proc.
QList<QPair<pid_t, QString>> processesOf(uid_t uid)
{
    QList<QPair<pid_t, QString>> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &pid : pids) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        QString name;
        bool owned = false;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Name:"))
                name = QString::fromLatin1(line.mid(5).trimmed());
            else if (line.startsWith("Uid:"))
                owned = line.mid(4).simplified().split(' ').value(0).toUInt() == uid;
        }
        if (owned)
            found.append({pid_t(pid.toInt()), name});
    }
    return found;
}

// Polls a condition every 20 ms until it holds or the time is up.
template<typename F>
bool waitFor(F condition, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// The 32-bit values of a window's property (windows, atoms), empty when it has none.
QList<unsigned long> property(::_XDisplay *display, Window window, const char *name, Atom type)
{
    QList<unsigned long> values;
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4096, False, type, &actual, &format,
                           &count, &after, &data)
            == Success
        && data && format == 32)
        for (unsigned long i = 0; i < count; ++i)
            values.append(reinterpret_cast<unsigned long *>(data)[i]);
    if (data)
        XFree(data);
    return values;
}

} // namespace

QString missingPrograms()
{
    return missing({"Xvfb", "freerdp-shadow-cli", "winpr-hash", "xsetroot"});
}

bool listening(const QString &bind, quint16 port)
{
    // The kernel's table of TCP sockets: address:port in state LISTEN (0A); the address is
    // shown as the bytes of the network-order value, read as a number of this machine.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const quint32 address = qToBigEndian(QHostAddress(bind).toIPv4Address());
    const QByteArray local = QByteArray::number(address, 16).toUpper().rightJustified(8, '0') + ':'
        + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f.at(1) == local && f.at(3) == "0A")
            return true;
    }
    return false;
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
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
    // Xvfb writes the display number it took to stdout once it accepts clients.
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("%1x%2x24").arg(width).arg(height), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!m_process.waitForStarted(10000))
        return;
    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
    }
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (ok)
        m_number = number;
}

Display::~Display()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

bool Display::run(const QString &program, const QStringList &arguments) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), name());
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

Server::Server(const Display &display) : m_display(display)
{
    QProcess hash;
    hash.start(QStringLiteral("winpr-hash"),
               {QStringLiteral("-u"), UserName, QStringLiteral("-p"), Password, QStringLiteral("-f"), QStringLiteral("sam")});
    if (hash.waitForFinished(20000)) {
        QFile sam(m_dir.filePath(QStringLiteral("nla.sam")));
        if (sam.open(QIODevice::WriteOnly))
            sam.write(hash.readAllStandardOutput());
    }
}

Server::~Server()
{
    kill();
}

bool Server::start(quint16 port, const QString &bindAddress)
{
    kill();
    m_bind = bindAddress;
    m_port = port ? port : freePort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display.name());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("shadow.log")), QIODevice::Append);
    QStringList arguments = {QStringLiteral("freerdp-shadow-cli"), QStringLiteral("/bind-address:") + m_bind,
                             QStringLiteral("/port:%1").arg(m_port), QStringLiteral("/sec:nla"),
                             QStringLiteral("/sam-file:") + m_dir.filePath(QStringLiteral("nla.sam"))};
    // Its informational lines go to stdout, which a file would buffer: line buffering keeps
    // the log current for anyone reading it while the server runs.
    if (!QStandardPaths::findExecutable(QStringLiteral("stdbuf")).isEmpty())
        arguments = QStringList{QStringLiteral("stdbuf"), QStringLiteral("-oL")} + arguments;
    const QString program = arguments.takeFirst();
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000))
        return false;
    QDeadlineTimer deadline(20000);
    while (!listening(m_bind, m_port)) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return false;
        m_process.waitForFinished(20); // returns at once while it runs; a bounded poll step
    }
    return true;
}

void Server::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QString Server::log() const
{
    QFile f(m_dir.filePath(QStringLiteral("shadow.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

bool Server::renewCertificate(const QString &newCertificate, const QString &newKey)
{
    // The server makes a new key and certificate when it finds none where it keeps them.
    const QString crt = certificate(), dir = QFileInfo(crt).path(), key = dir + QStringLiteral("/shadow.key");
    QFile::remove(crt);
    QFile::remove(key);
    if (newCertificate.isEmpty())
        return true;
    return QDir().mkpath(dir) && QFile::copy(newCertificate, crt) && QFile::copy(newKey, key);
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

bool Probe::keyDown(int keyCode) const
{
    char keys[32];
    XQueryKeymap(m_display, keys);
    return keys[keyCode / 8] & (1 << (keyCode % 8));
}

QPoint Probe::pointer(unsigned *mask) const
{
    static_assert(LeftButtonMask == Button1Mask);
    Window root, child;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    XQueryPointer(m_display, DefaultRootWindow(m_display), &root, &child, &rx, &ry, &wx, &wy, mask);
    return QPoint(rx, ry);
}

void Probe::press(unsigned keyCode, bool down) const
{
    XTestFakeKeyEvent(m_display, keyCode, down ? True : False, CurrentTime);
    XSync(m_display, False);
}

void Probe::type(const QString &text) const
{
    for (const QChar c : text) {
        const QByteArray name = c == u'\n' ? "Return" : c == u' ' ? "space" : QByteArray(1, c.toLatin1());
        const unsigned code = XKeysymToKeycode(m_display, XStringToKeysym(name.constData()));
        press(code, true);
        press(code, false);
    }
}

void Probe::key(const char *keyName, bool alt) const
{
    const unsigned altCode = XKeysymToKeycode(m_display, XStringToKeysym("Alt_L"));
    const unsigned code = XKeysymToKeycode(m_display, XStringToKeysym(keyName));
    if (alt)
        press(altCode, true);
    press(code, true);
    press(code, false);
    if (alt)
        press(altCode, false);
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
    if (!image)
        return QImage();
    QImage picture(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < area.width(); ++x)
            line[x] = 0xFF000000u | (XGetPixel(image, x, y) & 0xFFFFFFu);
    }
    XDestroyImage(image);
    return picture;
}

bool Probe::windowManaged() const
{
    // A manager names a window of its own on the root window and on that window itself; a
    // window of a manager that is gone does not answer.
    const auto check = property(m_display, DefaultRootWindow(m_display), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    return !check.isEmpty() && property(m_display, check.first(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW) == check;
}

unsigned long Probe::activeWindow() const
{
    return property(m_display, DefaultRootWindow(m_display), "_NET_ACTIVE_WINDOW", XA_WINDOW).value(0);
}

bool Probe::dockShown() const
{
    const Atom dock = XInternAtom(m_display, "_NET_WM_WINDOW_TYPE_DOCK", False);
    const auto clients = property(m_display, DefaultRootWindow(m_display), "_NET_CLIENT_LIST", XA_WINDOW);
    return std::any_of(clients.cbegin(), clients.cend(), [&](unsigned long w) {
        return property(m_display, w, "_NET_WM_WINDOW_TYPE", XA_ATOM).contains(dock);
    });
}

bool Probe::paintPattern() const
{
    const int screen = DefaultScreen(m_display);
    const Window root = DefaultRootWindow(m_display);
    const int width = DisplayWidth(m_display, screen), height = DisplayHeight(m_display, screen);
    const Pixmap pixmap = XCreatePixmap(m_display, root, unsigned(width), unsigned(height),
                                        unsigned(DefaultDepth(m_display, screen)));
    GC gc = XCreateGC(m_display, pixmap, 0, nullptr);
    for (int row = 0; row * 16 < height; ++row)
        for (int column = 0; column * 16 < width; ++column) {
            // Red and green count the squares across and down; blue tells the two apart.
            const unsigned long red = unsigned(column * 3) & 0xFF, green = unsigned(row * 5) & 0xFF;
            const unsigned long blue = unsigned(column * 7 + row * 11) & 0xFF;
            XSetForeground(m_display, gc, (red << 16) | (green << 8) | blue);
            XFillRectangle(m_display, pixmap, gc, column * 16, row * 16, 16, 16);
        }
    XFreeGC(m_display, gc);
    XSetWindowBackgroundPixmap(m_display, root, pixmap);
    XFreePixmap(m_display, pixmap);
    XClearWindow(m_display, root);
    XSync(m_display, False);
    return true;
}

bool Desktop::setManaged(bool managed)
{
    if (managed == isManaged())
        return true;
    Probe probe(m_display);
    if (!managed) {
        ::kill(-pid_t(m_windowManager.processId()), SIGKILL);
        m_windowManager.waitForFinished(10000);
        return waitFor([&] { return !probe.windowManaged() && !probe.dockShown(); }, 10000);
    }
    // The manager starts the panel once it serves the screen, so that the panel is its dock;
    // both in a process group of their own.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    m_windowManager.setProcessEnvironment(env);
    m_windowManager.setStandardOutputFile(QProcess::nullDevice());
    m_windowManager.setStandardErrorFile(QProcess::nullDevice());
    m_windowManager.setChildProcessModifier([] { ::setsid(); });
    m_windowManager.start(QStringLiteral("openbox"),
                          {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                           QStringLiteral("trayer --edge top --align right --widthtype pixel --width 120 --height 24 "
                                          "--SetDockType true")});
    return m_windowManager.waitForStarted() && waitFor([&] { return probe.windowManaged() && probe.dockShown(); }, 20000);
}

QString Xrdp::unavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("xrdp needs root here: the test makes a user of its own and runs xrdp as root");
    const QString programs = missing({"xrdp", "xrdp-sesman", "xterm", "Xorg", "unshare", "nsenter", "useradd",
                                      "chpasswd", "userdel", "xhost", "xsetroot"});
    if (!programs.isEmpty())
        return QStringLiteral("needs %1 (scripts/install-deps)").arg(programs);
    if (!QFile::exists(QStringLiteral("/etc/xrdp/xrdp.ini")) || !QFile::exists(QStringLiteral("/etc/xrdp/sesman.ini")))
        return QStringLiteral("xrdp's configuration is not installed (scripts/install-deps)");
    return {};
}

Xrdp::Xrdp()
{
    m_user = QStringLiteral("vsk%1").arg(QRandomGenerator::global()->bounded(100000, 999999));
    m_password = QStringLiteral("Pw-%1").arg(QRandomGenerator::global()->bounded(100000, 999999));
}

Xrdp::~Xrdp()
{
    if (m_process.state() != QProcess::NotRunning) {
        ::kill(-pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }
    if (!m_userMade)
        return;
    if (const passwd *pw = ::getpwnam(m_user.toLatin1().constData())) {
        const uid_t uid = pw->pw_uid;
        waitFor(
            [uid] {
                const auto left = processesOf(uid);
                for (const auto &p : left)
                    ::kill(p.first, SIGKILL);
                return left.isEmpty();
            },
            20000);
    }
    succeeds(QStringLiteral("userdel"), {QStringLiteral("-r"), QStringLiteral("-f"), m_user});
}

bool Xrdp::start(const QString &address)
{
    // The user, whose session lets root (this test) see its screen, paints its background and
    // opens one xterm over all of it, so that typed keys reach it wherever the pointer is.
    if (!succeeds(QStringLiteral("useradd"), {QStringLiteral("-m"), QStringLiteral("-s"), QStringLiteral("/bin/sh"), m_user}))
        return false;
    m_userMade = true;
    const passwd *pw = ::getpwnam(m_user.toLatin1().constData());
    if (!pw || !succeeds(QStringLiteral("chpasswd"), {}, (m_user + u':' + m_password + u'\n').toLatin1()))
        return false;
    QFile session(home() + QStringLiteral("/.xsession"));
    if (!session.open(QIODevice::WriteOnly)
        || session.write("xhost +si:localuser:root\nxsetroot -solid '#208040'\nexec xterm -geometry 300x100+0+0\n") < 0)
        return false;
    session.close();
    if (::chown(QFile::encodeName(session.fileName()).constData(), pw->pw_uid, pw->pw_gid) != 0)
        return false;

    // Copies of the installed configuration: our port, our session manager's port, logs here.
    const QString sesmanPort = QString::number(freePort());
    const QList<std::tuple<QString, QString, QString>> edits{
        {QStringLiteral("xrdp.ini"), QStringLiteral("port"), QStringLiteral("tcp://%1:3389").arg(address)},
        {QStringLiteral("xrdp.ini"), QStringLiteral("LogFile"), m_dir.filePath(QStringLiteral("xrdp.log"))},
        {QStringLiteral("xrdp.ini"), QStringLiteral("EnableSyslog"), QStringLiteral("false")},
        {QStringLiteral("sesman.ini"), QStringLiteral("ListenPort"), sesmanPort},
        {QStringLiteral("sesman.ini"), QStringLiteral("LogFile"), m_dir.filePath(QStringLiteral("sesman.log"))},
        {QStringLiteral("sesman.ini"), QStringLiteral("EnableSyslog"), QStringLiteral("false")},
    };
    for (const QString &name : {QStringLiteral("xrdp.ini"), QStringLiteral("sesman.ini")}) {
        QFile in(QStringLiteral("/etc/xrdp/") + name), out(m_dir.filePath(name));
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
            return false;
        // Each key where it first appears: the section's own (xrdp.ini's listening port, not the
        // session back end's port of the same name).
        QString text = QString::fromUtf8(in.readAll());
        for (const auto &[file, key, value] : edits) {
            const QRegularExpressionMatch found =
                QRegularExpression(QStringLiteral("^%1=.*$").arg(key), QRegularExpression::MultilineOption).match(text);
            if (file == name && found.hasMatch())
                text.replace(found.capturedStart(), found.capturedLength(), key + u'=' + value);
        }
        out.write(text.toUtf8());
    }

    // xrdp finds its session manager through the installed sesman.ini, and both keep their
    // sockets under /run/xrdp: in a mount namespace of their own both are theirs alone.
    const QString script = QStringLiteral("set -e\n"
                                          "mount --bind \"$1/sesman.ini\" /etc/xrdp/sesman.ini\n"
                                          "mkdir -p /run/xrdp\n"
                                          "mount -t tmpfs -o mode=0755 tmpfs /run/xrdp\n"
                                          "mkdir -m 3777 /run/xrdp/sockdir\n"
                                          "xrdp-sesman --nodaemon -c \"$1/sesman.ini\" &\n"
                                          "exec xrdp --nodaemon -c \"$1/xrdp.ini\"\n");
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("xrdp.out")));
    m_process.setChildProcessModifier([] { ::setsid(); });
    m_process.start(QStringLiteral("unshare"), {QStringLiteral("--mount"), QStringLiteral("--propagation"),
                                                 QStringLiteral("private"), QStringLiteral("sh"), QStringLiteral("-c"),
                                                 script, QStringLiteral("sh"), m_dir.path()});
    return m_process.waitForStarted(10000)
        && waitFor([&] { return listening(address, 3389) || m_process.state() != QProcess::Running; },
                   20000)
        && m_process.state() == QProcess::Running;
}

QList<QPair<int, QString>> Xrdp::sessionProcesses() const
{
    const passwd *pw = ::getpwnam(m_user.toLatin1().constData());
    QList<QPair<int, QString>> list;
    for (const auto &p : pw ? processesOf(pw->pw_uid) : QList<QPair<pid_t, QString>>{})
        list.append({int(p.first), p.second});
    return list;
}

QString Xrdp::sessionDisplay() const
{
    for (const auto &p : sessionProcesses()) {
        if (p.second != QLatin1String("Xorg"))
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(p.first));
        if (cmdline.open(QIODevice::ReadOnly))
            for (const QByteArray &argument : cmdline.readAll().split('\0'))
                if (argument.startsWith(':'))
                    return QString::fromLatin1(argument);
    }
    return {};
}

QString Xrdp::runInSession(const QStringList &command) const
{
    // The session's channel server mounts the drives, in the session's mount namespace.
    const passwd *pw = ::getpwnam(m_user.toLatin1().constData());
    QString out;
    for (const auto &p : sessionProcesses())
        if (pw && p.second == QLatin1String("xrdp-chansrv"))
            succeeds(QStringLiteral("nsenter"),
                     QStringList{QStringLiteral("-t"), QString::number(p.first), QStringLiteral("-m"), QStringLiteral("-S"),
                                 QString::number(pw->pw_uid), QStringLiteral("-G"), QString::number(pw->pw_gid),
                                 QStringLiteral("--")}
                         + command,
                     {}, &out);
    return out;
}

QString Xrdp::log() const
{
    QString text;
    for (const char *name : {"xrdp.log", "sesman.log", "xrdp.out"}) {
        QFile f(m_dir.filePath(QLatin1String(name)));
        if (f.open(QIODevice::ReadOnly))
            text += QString::fromLocal8Bit(f.readAll());
    }
    return text;
}

} // namespace RdpTestEnvironment
