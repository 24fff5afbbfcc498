#include "TestSupport.h"

#include "platform/Registry.h"
#include "settings/modGlobClientVar.h"

#include <QDir>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace TestSupport {

ProgramDir::ProgramDir()
{
    modGlobClientVar::gClientCfgFile = m_dir.filePath(QStringLiteral("Client.cfg"));
    modGlobClientVar::gUserCfgFile = m_dir.filePath(QStringLiteral("User.cfg"));
    Registry::SetStoreDirectory(m_dir.filePath(QStringLiteral("registry")));
    Registry::SetAutostartDirectory(Registry::HKEY_LOCAL_MACHINE, m_dir.filePath(QStringLiteral("autostart-system")));
    Registry::SetAutostartDirectory(Registry::HKEY_CURRENT_USER, m_dir.filePath(QStringLiteral("autostart-user")));
}

ProgramDir::~ProgramDir()
{
    Registry::SetStoreDirectory({});
    Registry::SetAutostartDirectory(Registry::HKEY_LOCAL_MACHINE, {});
    Registry::SetAutostartDirectory(Registry::HKEY_CURRENT_USER, {});
}

void ProgramDir::write(const QString &name, const QStringList &lines) const
{
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
}

LoopbackServer::LoopbackServer(quint16 port, const QHostAddress &address)
{
    server.listen(address, port);
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            peers << socket;
            received.clear();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                if (socket == peer())
                    received += socket->readAll();
            });
        }
    });
}

void LoopbackServer::send(const QByteArray &bytes)
{
    peer()->write(bytes);
    peer()->flush();
}

quint16 refusingPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

TmpfsMount::TmpfsMount(const QString &dir) : m_dir(QFile::encodeName(dir))
{
    QDir().mkpath(dir);
    m_mounted = ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, "size=1m") == 0;
    if (!m_mounted)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
}

bool TmpfsMount::unmount()
{
    return !(m_mounted = m_mounted && ::umount2(m_dir.constData(), MNT_DETACH) != 0);
}

QString TmpfsMount::refusal()
{
    QTemporaryDir probe;
    TmpfsMount m(probe.filePath(QStringLiteral("probe")));
    return m.mounted() ? QString()
                       : QStringLiteral("mounting a tmpfs is not permitted here (%1); needs root with CAP_SYS_ADMIN")
                             .arg(m.error());
}

} // namespace TestSupport
