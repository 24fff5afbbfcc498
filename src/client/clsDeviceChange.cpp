#include "client/clsDeviceChange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSocketNotifier>
#include <QVariant>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>

// The system's source of device-change messages: the mount table. The kernel flags an open
// /proc/self/mountinfo with POLLPRI/POLLERR whenever a mount appears or goes, which works
// without udevd; each flag makes us re-read the table and compare its removable storage
// with the last reading.
class MountTableWatcher
{
public:
    using Deliver = std::function<void(quint32 wParam, qint32 lParam)>;

    explicit MountTableWatcher(Deliver deliver)
        : m_deliver(std::move(deliver)), m_rule(modDeviceChange::Rule())
    {
        m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        m_known = removableMounts();
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { rescan(); });
    }

    ~MountTableWatcher()
    {
        *m_alive = false;
        if (m_notifier) {
            m_notifier->setEnabled(false);
            // We may be inside its own activation; let it finish first.
            m_notifier->deleteLater();
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }

    MountTableWatcher(const MountTableWatcher &) = delete;
    MountTableWatcher &operator=(const MountTableWatcher &) = delete;

private:
    QByteArray readTable() const
    {
        QByteArray text;
        if (::lseek(m_fd, 0, SEEK_SET) < 0)
            return text;
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            text.append(buffer, n);
        }
        return text;
    }

    QMap<qint32, QString> removableMounts() const
    {
        QMap<qint32, QString> mounts;
        const auto entries = modDeviceChange::ParseMountInfo(readTable());
        for (const auto &e : entries)
            if (modDeviceChange::IsRemovableStorage(e, m_rule))
                mounts.insert(e.id, e.mountPoint);
        return mounts;
    }

    void rescan()
    {
        const QMap<qint32, QString> now = removableMounts();
        QList<QPair<quint32, qint32>> messages;
        for (auto it = m_known.cbegin(); it != m_known.cend(); ++it)
            if (!now.contains(it.key()))
                messages.append({clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, it.key()});
        for (auto it = now.cbegin(); it != now.cend(); ++it)
            if (!m_known.contains(it.key()))
                messages.append({clsDeviceChange::DBT_DEVICEARRIVAL, it.key()});
        m_known = now;
        // A handler may end the watch (and this object) while we deliver.
        const auto alive = m_alive;
        for (const auto &m : messages) {
            if (!*alive)
                return;
            m_deliver(m.first, m.second);
        }
    }

    Deliver m_deliver;
    const modDeviceChange::RemovableStorageRule m_rule; // as it was when the watch began
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QMap<qint32, QString> m_known;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

clsDeviceChange::clsDeviceChange() = default;

clsDeviceChange::~clsDeviceChange()
{
    UnSubClass();
}

void clsDeviceChange::SubClass(QWidget *hWnd)
{
    // One window per watcher, one watcher per window.
    if (!hWnd || m_hWndMonitored)
        return;
    if (modDeviceChange::MonitorFromWindow(hWnd))
        return;
    hWnd->setProperty(MarkerProperty, QVariant::fromValue(QPointer<QObject>(this)));
    if (modDeviceChange::MonitorFromWindow(hWnd) != this)
        return;
    m_hWndMonitored = hWnd;
    m_source = std::make_unique<MountTableWatcher>([this](quint32 wParam, qint32 lParam) {
        if (QWidget *w = m_hWndMonitored.data())
            modDeviceChange::DeviceChangeProc(w, WM_DEVICECHANGE, wParam, lParam);
    });
}

qint32 clsDeviceChange::WindowProc(QWidget *hWnd, quint32 uMsg, quint32 wParam, qint32 lParam)
{
    Q_UNUSED(hWnd);
    if (uMsg == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE))
        emit DeviceChanged(wParam, lParam);
    // A Qt window has no earlier window procedure to pass the message to; 0 is its answer.
    return 0;
}

void clsDeviceChange::UnSubClass()
{
    // Stop the messages first: once the marker is gone none may arrive.
    m_source.reset();
    QWidget *w = m_hWndMonitored.data();
    if (!w)
        return;
    if (modDeviceChange::MonitorFromWindow(w) == this)
        w->setProperty(MarkerProperty, QVariant());
    m_hWndMonitored = nullptr;
}

namespace modDeviceChange {

qint32 DeviceChangeProc(QWidget *hWnd, quint32 uMsg, quint32 wParam, qint32 lParam)
{
    clsDeviceChange *monitor = MonitorFromWindow(hWnd);
    if (!monitor)
        return 0;
    return monitor->WindowProc(hWnd, uMsg, wParam, lParam);
}

clsDeviceChange *MonitorFromWindow(QWidget *hWnd)
{
    if (!hWnd)
        return nullptr;
    const QVariant marker = hWnd->property(clsDeviceChange::MarkerProperty);
    if (!marker.canConvert<QPointer<QObject>>())
        return nullptr;
    return qobject_cast<clsDeviceChange *>(marker.value<QPointer<QObject>>().data());
}

namespace {

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

} // namespace modDeviceChange
