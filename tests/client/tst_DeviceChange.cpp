#include "client/clsDeviceChange.h"
#include "system/RemovableMedia.h"

#include "../support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

using RemovableMedia::MountEntry;
using TestSupport::TmpfsMount;
constexpr quint32 DC = clsDeviceChange::WM_DEVICECHANGE;

// The kernel's id of the mount at path; -1 when nothing is mounted there.
qint32 mountIdOf(const QString &path)
{
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    qint32 id = -1;
    for (const MountEntry &e : RemovableMedia::ParseMountInfo(f.readAll()))
        if (e.mountPoint == path)
            id = e.id; // the last one is on top
    return id;
}

} // namespace

class tst_DeviceChange : public QObject
{
    Q_OBJECT

    RemovableMedia::RemovableStorageRule m_savedRule;
    QTemporaryDir m_media; // the test's own place for removable storage
    QString m_root;

private slots:
    void initTestCase()
    {
        m_savedRule = RemovableMedia::Rule();
        m_root = QFileInfo(m_media.path()).canonicalFilePath();
    }

    void init()
    {
        // Only mounts below the test's directory count, whatever the machine has mounted.
        RemovableMedia::Rule().mountRoots = {m_root};
        RemovableMedia::Rule().sysDevBlock.clear();
    }

    void cleanupTestCase() { RemovableMedia::Rule() = m_savedRule; }

    void parseMountInfo_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<qint32>("id"); // 0: the line is skipped
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("mountPoint");
        QTest::newRow("escaped blank, tab, backslash")
            << QByteArray("90 27 8:33 / /media/My\\040Disk\\011A\\134B rw shared:7 master:2 - exfat /dev/sdc1 rw") << 90 << "8:33"
            << "/media/My Disk\tA\\B";
        QTest::newRow("no separator") << QByteArray("93 27 0:50 / /mnt/a rw tmpfs tmpfs rw") << 0 << "" << "";
    }

    void parseMountInfo()
    {
        QFETCH(QByteArray, line);
        QFETCH(qint32, id);
        const auto entries = RemovableMedia::ParseMountInfo(line + "\n\n");
        QCOMPARE(entries.size(), id ? 1 : 0);
        if (!id)
            return;
        QCOMPARE(entries.first().id, id);
        QTEST(QStringLiteral("%1:%2").arg(entries.first().major).arg(entries.first().minor), "device");
        QTEST(entries.first().mountPoint, "mountPoint");
    }

    void removableStorage_data()
    {
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("removable");
        QTest::newRow("below a media root") << "/media/op/STICK" << "0:40" << true;
        QTest::newRow("a name sharing the prefix") << "/mediaserver/x" << "0:40" << false;
        QTest::newRow("partition of a removable disk") << "/srv/a" << "8:17" << true;
        QTest::newRow("removable disk without partitions") << "/srv/b" << "8:32" << true;
        QTest::newRow("partition of a fixed disk") << "/srv/c" << "8:1" << false;
    }

    void removableStorage()
    {
        QFETCH(QString, mountPoint);
        QFETCH(QString, device);
        // A small sysfs of our own: dev/block links to device directories as the kernel's
        // do; a partition lives inside its disk and says so.
        QTemporaryDir sys;
        const QList<std::pair<QString, QByteArray>> files{{"devices/sda/removable", "0\n"},
                                                          {"devices/sda/sda1/partition", "1\n"},
                                                          {"devices/sdb/removable", "1\n"},
                                                          {"devices/sdb/sdb1/partition", "1\n"},
                                                          {"devices/sdc/removable", "1\n"}};
        for (const auto &[file, text] : files) {
            QDir().mkpath(QFileInfo(sys.filePath(file)).path());
            QFile f(sys.filePath(file));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
        }
        QDir().mkpath(sys.filePath("dev/block"));
        for (const auto &[target, name] : {std::pair{"sda/sda1", "8:1"}, {"sdb/sdb1", "8:17"}, {"sdc", "8:32"}})
            QVERIFY(QFile::link(sys.filePath(QStringLiteral("devices/") + target),
                                sys.filePath(QStringLiteral("dev/block/") + name)));

        RemovableMedia::RemovableStorageRule rule;
        rule.mountRoots = {QStringLiteral("/media"), QStringLiteral("/mnt")};
        rule.sysDevBlock = sys.filePath(QStringLiteral("dev/block"));
        MountEntry e;
        e.mountPoint = mountPoint;
        e.major = device.section(':', 0, 0).toUInt();
        e.minor = device.section(':', 1, 1).toUInt();
        QTEST(RemovableMedia::IsRemovableStorage(e, rule), "removable");
    }

    void attachOnceDetachRemovesTheMarker()
    {
        QWidget window, other;
        auto first = std::make_unique<clsDeviceChange>();
        clsDeviceChange second;
        QSignalSpy firstSpy(first.get(), &clsDeviceChange::DeviceChanged);
        QSignalSpy secondSpy(&second, &clsDeviceChange::DeviceChanged);
        first->SubClass(&window);
        QVERIFY(window.property(clsDeviceChange::MarkerProperty).isValid());

        // A second attach, by the same or another watcher, changes nothing; nor does a watcher
        // take a second window while it watches one.
        first->SubClass(&window);
        second.SubClass(&window);
        first->SubClass(&other);
        QCOMPARE(modDeviceChange::MonitorFromWindow(&window), first.get());
        QCOMPARE(modDeviceChange::MonitorFromWindow(&other), nullptr);
        modDeviceChange::DeviceChangeProc(&window, DC, 0x8000, 5);
        QCOMPARE(firstSpy.size(), 1);
        QCOMPARE(secondSpy.size(), 0);
        {
            // A refused watcher going away leaves the marker alone.
            clsDeviceChange refused;
            refused.SubClass(&window);
        }
        QCOMPARE(modDeviceChange::MonitorFromWindow(&window), first.get());

        first.reset();
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
        QCOMPARE(modDeviceChange::DeviceChangeProc(&window, DC, 0x8000, 1), 0);
        QCOMPARE(firstSpy.size(), 1);
    }

    void windowsThatCannotBeWatched()
    {
        clsDeviceChange watcher;
        watcher.SubClass(nullptr);
        QCOMPARE(watcher.hWndMonitored(), nullptr);
        QCOMPARE(modDeviceChange::DeviceChangeProc(nullptr, DC, 0x8000, 1), 0);
        QWidget foreign;
        foreign.setProperty(clsDeviceChange::MarkerProperty, 42); // a marker of another kind
        QCOMPARE(modDeviceChange::MonitorFromWindow(&foreign), nullptr);
        {
            QWidget gone;
            watcher.SubClass(&gone);
        }
        QCOMPARE(watcher.hWndMonitored(), nullptr); // and its end must not touch the window
    }

    void messages_data()
    {
        QTest::addColumn<quint32>("uMsg");
        QTest::addColumn<quint32>("wParam");
        QTest::addColumn<int>("events");
        QTest::newRow("arrival") << DC << 0x8000u << 1;
        QTest::newRow("removal complete") << DC << 0x8004u << 1;
        QTest::newRow("query remove 0x8001") << DC << 0x8001u << 0;
        QTest::newRow("another message with the arrival code") << 0x0218u << 0x8000u << 0;
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
        QCOMPARE(modDeviceChange::DeviceChangeProc(&window, uMsg, wParam, -123456), 0);
        QCOMPARE(spy.size(), events);
        if (events)
            QCOMPARE(spy.first(), (QVariantList{wParam, -123456}));
    }

    void realMountsBecomeMessages()
    {
        if (const QString why = TestSupport::TmpfsMount::refusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir elsewhere;
        TmpfsMount present(m_root + QStringLiteral("/PRESENT"));
        QVERIFY2(present.mounted(), qPrintable(present.error()));
        const qint32 presentId = mountIdOf(m_root + QStringLiteral("/PRESENT"));

        QWidget window;
        clsDeviceChange watcher;
        QSignalSpy spy(&watcher, &clsDeviceChange::DeviceChanged);
        watcher.SubClass(&window);

        // A mount outside the media directory comes first, so that a message it caused
        // would be there by the time the stick's arrives. A mount present at attach time
        // was not announced either.
        TmpfsMount other(elsewhere.filePath(QStringLiteral("disk")));
        TmpfsMount stick(m_root + QStringLiteral("/STICK"));
        QVERIFY2(other.mounted() && stick.mounted(), qPrintable(stick.error()));
        const qint32 id = mountIdOf(m_root + QStringLiteral("/STICK"));
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy, (QList<QVariantList>{{clsDeviceChange::DBT_DEVICEARRIVAL, id}}));

        QVERIFY(other.unmount() && stick.unmount() && present.unmount());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 5000);
        const QList<QVariantList> removals{spy.at(1), spy.at(2)};
        QVERIFY(removals.contains(QVariantList{clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, id}));
        QVERIFY(removals.contains(QVariantList{clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, presentId}));
    }

    void handlerMayEndTheWatch()
    {
        if (const QString why = TestSupport::TmpfsMount::refusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QWidget window;
        auto watcher = std::make_unique<clsDeviceChange>();
        int events = 0;
        connect(watcher.get(), &clsDeviceChange::DeviceChanged, this, [&] {
            ++events;
            watcher.reset(); // as an unloading window does
        });
        watcher->SubClass(&window);
        // The second arrival, in the same reading of the table or a later one, must not
        // reach the watcher that is gone.
        TmpfsMount a(m_root + QStringLiteral("/A")), b(m_root + QStringLiteral("/B"));
        QVERIFY(a.mounted() && b.mounted());
        QTRY_VERIFY_WITH_TIMEOUT(!watcher, 5000);
        QCOMPARE(events, 1);
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
    }
};

QTEST_MAIN(tst_DeviceChange)
#include "tst_DeviceChange.moc"
