#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;

// Removable storage as the mount table shows it: one parser, one rule for what counts as
// removable, one watcher. The device-change messages of the session window and the drives the
// session hands to the server both come from here.
namespace RemovableMedia {

// One line of the mount table (/proc/self/mountinfo).
struct MountEntry
{
    qint32 id = 0;
    quint32 major = 0;
    quint32 minor = 0;
    QString mountPoint; // escapes decoded
    QString fsType;
    QString source;
};
QList<MountEntry> ParseMountInfo(const QByteArray &text);

// Which mounts count as removable storage: a mount strictly below one of the mount roots
// (where desktops and operators put media), or a file system on a block device that the
// kernel marks removable (sysDevBlock/<major>:<minor>, its "removable" file or that of the
// disk holding the partition).
struct RemovableStorageRule
{
    QStringList mountRoots{QStringLiteral("/media"), QStringLiteral("/run/media"), QStringLiteral("/mnt")};
    QString sysDevBlock = QStringLiteral("/sys/dev/block");
};
// The rule in force; tests point it at directories of their own.
RemovableStorageRule &Rule();
bool IsRemovableStorage(const MountEntry &entry, const RemovableStorageRule &rule = Rule());

// The removable storage mounted now, in the order of the mount table.
QList<MountEntry> Mounted();

// Reports removable storage that is mounted (arrived) or unmounted (removed) while it lives.
// The kernel flags an open /proc/self/mountinfo whenever a mount appears or goes, which works
// without udevd; each flag makes it read the table again and compare.
class Watcher : public QObject
{
    Q_OBJECT

public:
    explicit Watcher(QObject *parent = nullptr);
    ~Watcher() override;

signals:
    // The kernel's mount id and the mount point; removals come before arrivals of one reading.
    void arrived(qint32 id, const QString &mountPoint);
    void removed(qint32 id, const QString &mountPoint);

private:
    void rescan();

    const RemovableStorageRule m_rule; // as it was when the watch began
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QList<MountEntry> m_known;
};

} // namespace RemovableMedia
