#include "client/clsDeviceChange.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using modDeviceChange::MountEntry;

// A tmpfs mounted for the length of a test, unmounted however the test ends.
class TmpfsMount
{
public:
    explicit TmpfsMount(const QString &dir) : m_dir(dir)
    {
        QDir().mkpath(dir);
        if (::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "size=1m") == 0)
            m_mounted = true;
        else
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~TmpfsMount() { unmount(); }
    bool unmount()
    {
        if (m_mounted && ::umount2(QFile::encodeName(m_dir).constData(), MNT_DETACH) == 0)
            m_mounted = false;
        return !m_mounted;
    }
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }

private:
    QString m_dir;
    bool m_mounted = false;
    QString m_error;
};

QByteArray mountTable()
{
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// The mount id the kernel gave the mount at path; -1 when it is not mounted.
qint32 mountIdOf(const QString &path)
{
    qint32 id = -1;
    for (const MountEntry &e : modDeviceChange::ParseMountInfo(mountTable()))
        if (e.mountPoint == path)
            id = e.id; // the last one is on top
    return id;
}

// Whether a test may mount at all here, and why not.
QString mountRefusal()
{
    QTemporaryDir probe;
    TmpfsMount m(probe.filePath(QStringLiteral("probe")));
    if (m.mounted())
        return {};
    return QStringLiteral("mounting a tmpfs is not permitted here (%1); needs root with CAP_SYS_ADMIN")
        .arg(m.error());
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

} // namespace

class tst_DeviceChange : public QObject
{
    Q_OBJECT

    modDeviceChange::RemovableStorageRule m_savedRule;

private slots:
    void initTestCase() { m_savedRule = modDeviceChange::Rule(); }
    void cleanup() { modDeviceChange::Rule() = m_savedRule; }

    // --- the mount table and which mounts count

    void parseMountInfo_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("parsed");
        QTest::addColumn<qint32>("id");
        QTest::addColumn<quint32>("major");
        QTest::addColumn<quint32>("minor");
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<QString>("fsType");
        QTest::addColumn<QString>("source");

        QTest::newRow("plain") << QByteArray("36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw")
                               << true << 36 << 98u << 0u << "/mnt/parent" << "ext3" << "/dev/root";
        QTest::newRow("no optional fields") << QByteArray("45 27 0:40 / /tmp/x rw,relatime - tmpfs tmpfs rw") << true
                                            << 45 << 0u << 40u << "/tmp/x" << "tmpfs" << "tmpfs";
        QTest::newRow("several optional fields")
            << QByteArray("81 27 8:17 / /media/op/STICK rw,nosuid shared:7 master:2 propagate_from:1 - vfat /dev/sdb1 rw")
            << true << 81 << 8u << 17u << "/media/op/STICK" << "vfat" << "/dev/sdb1";
        QTest::newRow("escaped blank, tab, backslash")
            << QByteArray("90 27 8:33 / /media/op/My\\040Disk\\011A\\134B rw - exfat /dev/sdc1 rw") << true << 90 << 8u
            << 33u << "/media/op/My Disk\tA\\B" << "exfat" << "/dev/sdc1";
        QTest::newRow("utf-8 name") << QByteArray("91 27 8:34 / /media/op/M\xc3\xbcller rw - vfat /dev/sdc2 rw") << true
                                    << 91 << 8u << 34u << QStringLiteral("/media/op/Müller") << "vfat" << "/dev/sdc2";
        QTest::newRow("backslash without octal digits")
            << QByteArray("92 27 0:50 / /mnt/a\\x rw - tmpfs tmpfs rw") << true << 92 << 0u << 50u << "/mnt/a\\x"
            << "tmpfs" << "tmpfs";
        QTest::newRow("no separator") << QByteArray("93 27 0:50 / /mnt/a rw tmpfs tmpfs rw") << false << 0 << 0u << 0u
                                      << "" << "" << "";
        QTest::newRow("id not a number") << QByteArray("x 27 0:50 / /mnt/a rw - tmpfs tmpfs rw") << false << 0 << 0u
                                         << 0u << "" << "" << "";
        QTest::newRow("device not major:minor") << QByteArray("94 27 050 / /mnt/a rw - tmpfs tmpfs rw") << false << 0
                                                << 0u << 0u << "" << "" << "";
        QTest::newRow("empty") << QByteArray() << false << 0 << 0u << 0u << "" << "" << "";
    }

    void parseMountInfo()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, parsed);
        const auto entries = modDeviceChange::ParseMountInfo(line + "\n");
        QCOMPARE(entries.size(), parsed ? 1 : 0);
        if (!parsed)
            return;
        QTEST(entries.first().id, "id");
        QTEST(entries.first().major, "major");
        QTEST(entries.first().minor, "minor");
        QTEST(entries.first().mountPoint, "mountPoint");
        QTEST(entries.first().fsType, "fsType");
        QTEST(entries.first().source, "source");
    }

    void parseTheRealTable()
    {
        const auto entries = modDeviceChange::ParseMountInfo(mountTable());
        QVERIFY(!entries.isEmpty());
        bool root = false;
        for (const auto &e : entries)
            root = root || e.mountPoint == QLatin1String("/");
        QVERIFY(root);
    }

    void removableByMountPoint_data()
    {
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<bool>("removable");
        QTest::newRow("below a root") << "/media/op/STICK" << true;
        QTest::newRow("directly below") << "/mnt/usb" << true;
        QTest::newRow("below the second root") << "/run/media/op/CARD" << true;
        QTest::newRow("the root itself") << "/media" << false;
        QTest::newRow("a name sharing the prefix") << "/mediaserver/data" << false;
        QTest::newRow("elsewhere") << "/home" << false;
        QTest::newRow("the system root") << "/" << false;
        QTest::newRow("not cleaned") << "/media/op/../op/X" << true;
    }

    void removableByMountPoint()
    {
        QFETCH(QString, mountPoint);
        QFETCH(bool, removable);
        modDeviceChange::RemovableStorageRule rule;
        rule.mountRoots = {QStringLiteral("/media"), QStringLiteral("/run/media"), QStringLiteral("/mnt")};
        rule.sysDevBlock.clear();
        MountEntry e;
        e.mountPoint = mountPoint;
        QCOMPARE(modDeviceChange::IsRemovableStorage(e, rule), removable);
    }

    void removableByBlockDevice_data()
    {
        QTest::addColumn<quint32>("major");
        QTest::addColumn<quint32>("minor");
        QTest::addColumn<bool>("removable");
        QTest::newRow("partition of a removable disk") << 8u << 17u << true;
        QTest::newRow("removable disk without partitions") << 8u << 32u << true;
        QTest::newRow("partition of a fixed disk") << 8u << 1u << false;
        QTest::newRow("fixed disk") << 8u << 0u << false;
        QTest::newRow("unknown device") << 8u << 99u << false;
        QTest::newRow("no block device (tmpfs)") << 0u << 40u << false;
    }

    void removableByBlockDevice()
    {
        QFETCH(quint32, major);
        QFETCH(quint32, minor);
        QFETCH(bool, removable);
        // A small sysfs of our own: /dev/block links to the device directories as the
        // kernel's do; a partition lives inside its disk and says so.
        QTemporaryDir sys;
        const QString devices = sys.filePath(QStringLiteral("devices"));
        writeFile(devices + "/sda/removable", "0\n");
        writeFile(devices + "/sda/sda1/partition", "1\n");
        writeFile(devices + "/sdb/removable", "1\n");
        writeFile(devices + "/sdb/sdb1/partition", "1\n");
        writeFile(devices + "/sdc/removable", "1\n");
        QDir().mkpath(sys.filePath(QStringLiteral("dev/block")));
        const auto link = [&](const char *target, const char *name) {
            QVERIFY(QFile::link(devices + "/" + target, sys.filePath(QStringLiteral("dev/block/") + name)));
        };
        link("sda", "8:0");
        link("sda/sda1", "8:1");
        link("sdb/sdb1", "8:17");
        link("sdc", "8:32");

        modDeviceChange::RemovableStorageRule rule;
        rule.mountRoots.clear();
        rule.sysDevBlock = sys.filePath(QStringLiteral("dev/block"));
        MountEntry e;
        e.major = major;
        e.minor = minor;
        e.mountPoint = QStringLiteral("/srv/somewhere");
        QCOMPARE(modDeviceChange::IsRemovableStorage(e, rule), removable);
    }

    // --- attaching and detaching

    void attachMarksTheWindow()
    {
        QWidget window;
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
        {
            clsDeviceChange watcher;
            QCOMPARE(watcher.hWndMonitored(), nullptr);
            watcher.SubClass(&window);
            QCOMPARE(watcher.hWndMonitored(), &window);
            QVERIFY(window.property(clsDeviceChange::MarkerProperty).isValid());
            QCOMPARE(modDeviceChange::MonitorFromWindow(&window), &watcher);
        }
        // Detached when the watcher goes.
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
        QCOMPARE(modDeviceChange::MonitorFromWindow(&window), nullptr);
    }

    void nullWindowIsLeftAlone()
    {
        clsDeviceChange watcher;
        watcher.SubClass(nullptr);
        QCOMPARE(watcher.hWndMonitored(), nullptr);
        QCOMPARE(modDeviceChange::MonitorFromWindow(nullptr), nullptr);
        QCOMPARE(modDeviceChange::DeviceChangeProc(nullptr, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1), 0);
    }

    void secondAttachChangesNothing()
    {
        QWidget window;
        clsDeviceChange first, second;
        QSignalSpy firstSpy(&first, &clsDeviceChange::DeviceChanged);
        QSignalSpy secondSpy(&second, &clsDeviceChange::DeviceChanged);
        first.SubClass(&window);
        first.SubClass(&window); // the same watcher again
        second.SubClass(&window);
        QCOMPARE(modDeviceChange::MonitorFromWindow(&window), &first);
        QCOMPARE(second.hWndMonitored(), nullptr);

        modDeviceChange::DeviceChangeProc(&window, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 5);
        QCOMPARE(firstSpy.size(), 1);
        QCOMPARE(secondSpy.size(), 0);
    }

    void refusedWatcherLeavingDoesNotUnmark()
    {
        QWidget window;
        clsDeviceChange first;
        first.SubClass(&window);
        {
            clsDeviceChange second;
            second.SubClass(&window);
        }
        QCOMPARE(modDeviceChange::MonitorFromWindow(&window), &first);
    }

    void detachingStopsDeliveryAndAllowsANewWatcher()
    {
        QWidget window;
        auto watcher = std::make_unique<clsDeviceChange>();
        QSignalSpy spy(watcher.get(), &clsDeviceChange::DeviceChanged);
        watcher->SubClass(&window);
        watcher.reset();
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
        QCOMPARE(modDeviceChange::DeviceChangeProc(&window, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1), 0);
        QCOMPARE(spy.size(), 0);

        clsDeviceChange next;
        QSignalSpy nextSpy(&next, &clsDeviceChange::DeviceChanged);
        next.SubClass(&window);
        QCOMPARE(modDeviceChange::MonitorFromWindow(&window), &next);
        modDeviceChange::DeviceChangeProc(&window, clsDeviceChange::WM_DEVICECHANGE, 0x8004, 2);
        QCOMPARE(nextSpy.size(), 1);
    }

    void windowGoingFirstIsHarmless()
    {
        clsDeviceChange watcher;
        {
            QWidget window;
            watcher.SubClass(&window);
        }
        QCOMPARE(watcher.hWndMonitored(), nullptr);
        // and the watcher's own end must not touch the vanished window
    }

    void markerOfAnotherKindIsNotAWatcher()
    {
        QWidget window;
        window.setProperty(clsDeviceChange::MarkerProperty, 42);
        QCOMPARE(modDeviceChange::MonitorFromWindow(&window), nullptr);
    }

    // --- messages

    void messages_data()
    {
        QTest::addColumn<quint32>("uMsg");
        QTest::addColumn<quint32>("wParam");
        QTest::addColumn<int>("events");
        const quint32 dc = clsDeviceChange::WM_DEVICECHANGE;
        QTest::newRow("arrival") << dc << 0x8000u << 1;
        QTest::newRow("removal complete") << dc << 0x8004u << 1;
        QTest::newRow("configuration changed 0x0007") << dc << 0x0007u << 0;
        QTest::newRow("query remove 0x8001") << dc << 0x8001u << 0;
        QTest::newRow("query remove failed 0x8002") << dc << 0x8002u << 0;
        QTest::newRow("remove pending 0x8003") << dc << 0x8003u << 0;
        QTest::newRow("type specific 0x8005") << dc << 0x8005u << 0;
        QTest::newRow("custom event 0x8006") << dc << 0x8006u << 0;
        QTest::newRow("query change config 0x0017") << dc << 0x0017u << 0;
        QTest::newRow("zero") << dc << 0u << 0;
        QTest::newRow("other message with arrival code") << 0x0010u << 0x8000u << 0;
        QTest::newRow("other message with removal code") << 0x0218u << 0x8004u << 0;
    }

    void messages()
    {
        QFETCH(quint32, uMsg);
        QFETCH(quint32, wParam);
        QFETCH(int, events);
        QWidget window;
        clsDeviceChange watcher;
        QSignalSpy spy(&watcher, &clsDeviceChange::DeviceChanged);
        watcher.SubClass(&window);
        const qint32 lParam = -123456;
        QCOMPARE(modDeviceChange::DeviceChangeProc(&window, uMsg, wParam, lParam), 0);
        QCOMPARE(spy.size(), events);
        if (events) {
            QCOMPARE(spy.first().at(0).value<quint32>(), wParam);
            QCOMPARE(spy.first().at(1).value<qint32>(), lParam);
        }
        // The watcher's own procedure behaves the same when called directly.
        spy.clear();
        QCOMPARE(watcher.WindowProc(&window, uMsg, wParam, 7), 0);
        QCOMPARE(spy.size(), events);
    }

    void messageToAnUnwatchedWindowRaisesNothing()
    {
        QWidget watched, other;
        clsDeviceChange watcher;
        QSignalSpy spy(&watcher, &clsDeviceChange::DeviceChanged);
        watcher.SubClass(&watched);
        QCOMPARE(modDeviceChange::DeviceChangeProc(&other, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1), 0);
        QCOMPARE(spy.size(), 0);
    }

    // --- the real system: mounts and unmounts

    void realMountsBecomeMessages()
    {
        if (const QString why = mountRefusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir media, elsewhere;
        modDeviceChange::Rule().mountRoots = {media.path()};
        modDeviceChange::Rule().sysDevBlock.clear();

        QWidget window;
        clsDeviceChange watcher;
        QSignalSpy spy(&watcher, &clsDeviceChange::DeviceChanged);
        watcher.SubClass(&window);

        // A mount outside the media directory is no removable storage; it comes first so
        // that any message it caused would be there by the time the next one arrives.
        TmpfsMount other(elsewhere.filePath(QStringLiteral("disk")));
        QVERIFY2(other.mounted(), qPrintable(other.error()));
        const QString stickDir = QFileInfo(media.path()).canonicalFilePath() + QStringLiteral("/STICK");
        TmpfsMount stick(stickDir);
        QVERIFY2(stick.mounted(), qPrintable(stick.error()));
        const qint32 id = mountIdOf(stickDir);
        QVERIFY(id > 0);

        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).value<quint32>(), clsDeviceChange::DBT_DEVICEARRIVAL);
        QCOMPARE(spy.at(0).at(1).value<qint32>(), id);

        QVERIFY(other.unmount());
        QVERIFY(stick.unmount());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 5000);
        QCOMPARE(spy.at(1).at(0).value<quint32>(), clsDeviceChange::DBT_DEVICEREMOVECOMPLETE);
        QCOMPARE(spy.at(1).at(1).value<qint32>(), id);
    }

    void mountsPresentAtAttachAreNotAnnounced()
    {
        if (const QString why = mountRefusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir media;
        const QString root = QFileInfo(media.path()).canonicalFilePath();
        modDeviceChange::Rule().mountRoots = {root};
        modDeviceChange::Rule().sysDevBlock.clear();
        TmpfsMount before(root + QStringLiteral("/BEFORE"));
        QVERIFY2(before.mounted(), qPrintable(before.error()));

        QWidget window;
        clsDeviceChange watcher;
        QSignalSpy spy(&watcher, &clsDeviceChange::DeviceChanged);
        watcher.SubClass(&window);

        TmpfsMount after(root + QStringLiteral("/AFTER"));
        QVERIFY2(after.mounted(), qPrintable(after.error()));
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(1).value<qint32>(), mountIdOf(root + QStringLiteral("/AFTER")));

        // Its removal is announced, although its arrival was not seen.
        const qint32 beforeId = mountIdOf(root + QStringLiteral("/BEFORE"));
        QVERIFY(before.unmount());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 5000);
        QCOMPARE(spy.at(1).at(0).value<quint32>(), clsDeviceChange::DBT_DEVICEREMOVECOMPLETE);
        QCOMPARE(spy.at(1).at(1).value<qint32>(), beforeId);
    }

    void detachedWatcherHearsNoMounts()
    {
        if (const QString why = mountRefusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir media;
        const QString root = QFileInfo(media.path()).canonicalFilePath();
        modDeviceChange::Rule().mountRoots = {root};
        modDeviceChange::Rule().sysDevBlock.clear();

        QWidget window, witnessWindow;
        auto watcher = std::make_unique<clsDeviceChange>();
        QSignalSpy spy(watcher.get(), &clsDeviceChange::DeviceChanged);
        watcher->SubClass(&window);
        watcher.reset();

        // A second watcher on another window tells us when the system has spoken.
        clsDeviceChange witness;
        QSignalSpy witnessSpy(&witness, &clsDeviceChange::DeviceChanged);
        witness.SubClass(&witnessWindow);
        TmpfsMount stick(root + QStringLiteral("/STICK"));
        QVERIFY2(stick.mounted(), qPrintable(stick.error()));
        QVERIFY(witnessSpy.wait(5000));
        QCOMPARE(spy.size(), 0);
    }

    void handlerMayEndTheWatch()
    {
        if (const QString why = mountRefusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir media;
        const QString root = QFileInfo(media.path()).canonicalFilePath();
        modDeviceChange::Rule().mountRoots = {root};
        modDeviceChange::Rule().sysDevBlock.clear();

        QWidget window;
        auto watcher = std::make_unique<clsDeviceChange>();
        int events = 0;
        connect(watcher.get(), &clsDeviceChange::DeviceChanged, this, [&] {
            ++events;
            watcher.reset(); // as an unloading window would
        });
        watcher->SubClass(&window);
        // A second arrival, in the same reading of the table or a later one, must not reach the
        // watcher that is gone.
        TmpfsMount a(root + QStringLiteral("/A"));
        TmpfsMount b(root + QStringLiteral("/B"));
        QVERIFY(a.mounted() && b.mounted());
        QTRY_VERIFY_WITH_TIMEOUT(!watcher, 5000);
        QCOMPARE(events, 1);
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
    }
};

QTEST_MAIN(tst_DeviceChange)
#include "tst_DeviceChange.moc"
