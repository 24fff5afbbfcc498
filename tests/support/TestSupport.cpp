#include "TestSupport.h"

#include "platform/Registry.h"
#include "settings/modGlobClientVar.h"

#include <QDir>

#include <sys/mount.h>

namespace TestSupport {
// Empty root: the stores back where the program keeps them.
static void setStores(const QString &root)
{
    const auto in = [&](const char *name) { return root.isEmpty() ? root : root + u'/' + QLatin1String(name); };
    Registry::SetStoreDirectory(in("registry"));
    Registry::SetAutostartDirectory(Registry::HKEY_LOCAL_MACHINE, in("autostart-system"));
    Registry::SetAutostartDirectory(Registry::HKEY_CURRENT_USER, in("autostart-user"));
}

ProgramDir::ProgramDir()
{
    modGlobClientVar::gClientCfgFile = file(QStringLiteral("Client.cfg"));
    modGlobClientVar::gUserCfgFile = file(QStringLiteral("User.cfg"));
    setStores(m_dir.path());
}

ProgramDir::~ProgramDir() { setStores({}); }

void ProgramDir::write(const QString &name, const QStringList &lines) const
{
    writeBytes(file(name), lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
}

LoopbackServer::LoopbackServer(quint16 port, const QHostAddress &address)
{
    server.listen(address, port);
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            peers << socket;
            received.clear();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { received += socket == peer() ? socket->readAll() : QByteArray(); });
        }
    });
}

void LoopbackServer::send(const QByteArray &bytes) { peer()->write(bytes), peer()->flush(); }

quint16 refusingPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

TmpfsMount::TmpfsMount(const QString &dir) : m_dir(QFile::encodeName(dir))
{
    QDir().mkpath(dir);
    m_mounted = ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, "size=1m") == 0;
    m_error = m_mounted ? QString() : qt_error_string();
}

bool TmpfsMount::unmount() { return !(m_mounted = m_mounted && ::umount2(m_dir.constData(), MNT_DETACH) != 0); }

QString TmpfsMount::refusal()
{
    QTemporaryDir probe;
    TmpfsMount m(probe.filePath(QStringLiteral("probe")));
    return m.mounted() ? QString() : QStringLiteral("mounting a tmpfs is not permitted here (%1); needs root with CAP_SYS_ADMIN").arg(m.error());
}
} // namespace TestSupport
