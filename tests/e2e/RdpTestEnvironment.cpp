#include "RdpTestEnvironment.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QtEndian>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <X11/Xlib.h>

namespace RdpTestEnvironment {

QString missingPrograms()
{
    QStringList missing;
    for (const char *name : {"Xvfb", "freerdp-shadow-cli", "winpr-hash", "xsetroot"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            missing << QString::fromLatin1(name);
    return missing.join(QStringLiteral(", "));
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
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
    while (!listening()) {
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

bool Server::listening() const
{
    // The kernel's table of TCP sockets: address:port in state LISTEN (0A); the address is
    // shown as the bytes of the network-order value, read as a number of this machine.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const quint32 address = qToBigEndian(QHostAddress(m_bind).toIPv4Address());
    const QByteArray local = QByteArray::number(address, 16).toUpper().rightJustified(8, '0') + ':'
        + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f.at(1) == local && f.at(3) == "0A")
            return true;
    }
    return false;
}

Probe::Probe(const QString &display) : m_display(XOpenDisplay(display.toLatin1().constData())) {}

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

} // namespace RdpTestEnvironment
