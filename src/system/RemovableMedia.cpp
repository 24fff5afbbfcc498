#include "system/RemovableMedia.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace RemovableMedia {

namespace {

const char *const kMountInfo = "/proc/self/mountinfo";

// Mount points carry octal escapes for blank, tab, line feed and backslash.
QString decodeField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = true;
            for (char d : digits)
                ok = ok && d >= '0' && d <= '7';
            if (ok) {
                out.append(char(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QString::fromUtf8(out);
}

QString readFirstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readLine()).trimmed();
}

bool blockDeviceRemovable(quint32 major, quint32 minor, const QString &sysDevBlock)
{
    if (major == 0 || sysDevBlock.isEmpty())
        return false;
    const QString device =
        QFileInfo(sysDevBlock + QStringLiteral("/%1:%2").arg(major).arg(minor)).canonicalFilePath();
    if (device.isEmpty())
        return false;
    QString disk = device;
    if (QFileInfo::exists(device + QStringLiteral("/partition")))
        disk = QFileInfo(device).path();
    return readFirstLine(disk + QStringLiteral("/removable")) == QLatin1String("1");
}

QString comparablePath(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

QList<MountEntry> removableOf(const QByteArray &table, const RemovableStorageRule &rule)
{
    QList<MountEntry> mounts;
    const QList<MountEntry> entries = ParseMountInfo(table);
    for (const MountEntry &e : entries)
        if (IsRemovableStorage(e, rule))
            mounts.append(e);
    return mounts;
}

bool containsId(const QList<MountEntry> &mounts, qint32 id)
{
    return std::any_of(mounts.cbegin(), mounts.cend(), [id](const MountEntry &m) { return m.id == id; });
}

} // namespace

QList<MountEntry> ParseMountInfo(const QByteArray &text)
{
    QList<MountEntry> entries;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point options [optional...] - type source ...
        if (fields.size() < 7)
            continue;
        const qsizetype dash = fields.indexOf(QByteArray("-"), 6);
        if (dash < 0)
            continue;
        MountEntry e;
        bool ok = false;
        e.id = fields.at(0).toInt(&ok);
        if (!ok)
            continue;
        const QList<QByteArray> dev = fields.at(2).split(':');
        if (dev.size() != 2)
            continue;
        bool okMajor = false, okMinor = false;
        e.major = dev.at(0).toUInt(&okMajor);
        e.minor = dev.at(1).toUInt(&okMinor);
        if (!okMajor || !okMinor)
            continue;
        e.mountPoint = decodeField(fields.at(4));
        if (dash + 1 < fields.size())
            e.fsType = decodeField(fields.at(dash + 1));
        if (dash + 2 < fields.size())
            e.source = decodeField(fields.at(dash + 2));
        entries.append(e);
    }
    return entries;
}

RemovableStorageRule &Rule()
{
    static RemovableStorageRule rule;
    return rule;
}

bool IsRemovableStorage(const MountEntry &entry, const RemovableStorageRule &rule)
{
    const QString mountPoint = QDir::cleanPath(entry.mountPoint);
    for (const QString &root : rule.mountRoots) {
        if (root.isEmpty())
            continue;
        QString prefix = comparablePath(root);
        if (!prefix.endsWith(QLatin1Char('/')))
            prefix += QLatin1Char('/');
        if (mountPoint.startsWith(prefix) && mountPoint.size() > prefix.size())
            return true;
    }
    return blockDeviceRemovable(entry.major, entry.minor, rule.sysDevBlock);
}

QList<MountEntry> Mounted()
{
    QFile table{QLatin1String(kMountInfo)};
    if (!table.open(QIODevice::ReadOnly))
        return {};
    return removableOf(table.readAll(), Rule());
}

Watcher::Watcher(QObject *parent) : QObject(parent), m_rule(Rule())
{
    m_fd = ::open(kMountInfo, O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    rescan();
    // Not a child: it may be in the middle of its own activation when the watch ends.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception);
    connect(m_notifier, &QSocketNotifier::activated, this, &Watcher::rescan);
}

Watcher::~Watcher()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
    }
    if (m_fd >= 0)
        ::close(m_fd);
}

void Watcher::rescan()
{
    QByteArray text;
    if (::lseek(m_fd, 0, SEEK_SET) < 0)
        return;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, n);
    }
    const QList<MountEntry> now = removableOf(text, m_rule);
    const QList<MountEntry> before = std::exchange(m_known, now);
    if (!m_notifier)
        return; // the first reading only sets what is known
    // A receiver may end the watch (and this object) while we report.
    const QPointer<Watcher> alive(this);
    for (const MountEntry &m : before)
        if (alive && !containsId(now, m.id))
            emit removed(m.id, m.mountPoint);
    for (const MountEntry &m : now)
        if (alive && !containsId(before, m.id))
            emit arrived(m.id, m.mountPoint);
}

} // namespace RemovableMedia
