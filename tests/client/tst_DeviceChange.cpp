// Removable media coming and going become device-change messages.
#include "client/clsDeviceChange.h"
#include "system/RemovableMedia.h"

#include "TestSupport.h"

#include <QSignalSpy>

using RemovableMedia::MountEntry;
using TestSupport::TmpfsMount;

namespace {

// The kernel's id of the mount at path; -1 when nothing is mounted there.
qint32 mountIdOf(const QString &path)
{
    qint32 id = -1;
    for (const MountEntry &e : RemovableMedia::ParseMountInfo(TestSupport::readBytes(QStringLiteral("/proc/self/mountinfo"))))
        if (e.mountPoint == path)
            id = e.id; // the last one is on top
    return id;
}

} // namespace

class tst_DeviceChange : public QObject
{
    Q_OBJECT

    QTemporaryDir m_media; // the test's own place for removable storage
    QString m_root;

private slots:
    void initTestCase()
    {
        m_root = QFileInfo(m_media.path()).canonicalFilePath();
        // Only mounts below the test's directory count, whatever the machine has mounted.
        RemovableMedia::Rule().mountRoots = {m_root};
        RemovableMedia::Rule().sysDevBlock.clear();
    }

    void parseMountInfo()
    {
        const auto entries = RemovableMedia::ParseMountInfo(
            "90 27 8:33 / /media/My\\040Disk\\011A\\134B rw shared:7 master:2 - exfat /dev/sdc1 rw\n"
            "93 27 0:50 / /mnt/a rw tmpfs tmpfs rw\n\n"); // no separator: skipped
        QCOMPARE(entries.size(), 1);
        const MountEntry &e = entries.first();
        QCOMPARE(QStringLiteral("%1 %2:%3 %4").arg(e.id).arg(e.major).arg(e.minor).arg(e.mountPoint),
                 QStringLiteral("90 8:33 /media/My Disk\tA\\B"));
    }

    void realMountsBecomeMessages()
    {
        if (const QString why = TmpfsMount::refusal(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir elsewhere;
        TmpfsMount present(m_root + QStringLiteral("/PRESENT"));
        QVERIFY2(present.mounted(), qPrintable(present.error()));
        const qint32 presentId = mountIdOf(m_root + QStringLiteral("/PRESENT"));
        QWidget window;
        auto watcher = std::make_unique<clsDeviceChange>();
        QSignalSpy spy(watcher.get(), &clsDeviceChange::DeviceChanged);
        watcher->SubClass(&window);
        // A mount outside the media directory comes first: a message of its own would arrive first.
        TmpfsMount other(elsewhere.filePath(QStringLiteral("disk")));
        TmpfsMount stick(m_root + QStringLiteral("/STICK"));
        QVERIFY2(other.mounted() && stick.mounted(), qPrintable(stick.error()));
        const qint32 id = mountIdOf(m_root + QStringLiteral("/STICK"));
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy, (QList<QVariantList>{{clsDeviceChange::DBT_DEVICEARRIVAL, id}}));
        QVERIFY(other.unmount() && stick.unmount() && present.unmount());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 5000);
        QVERIFY(spy.contains(QVariantList{clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, id}));
        QVERIFY(spy.contains(QVariantList{clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, presentId}));

        // A handler may end the watch: a second arrival must not reach the watcher that is gone.
        connect(watcher.get(), &clsDeviceChange::DeviceChanged, this, [&] { watcher.reset(); });
        TmpfsMount a(m_root + QStringLiteral("/A")), b(m_root + QStringLiteral("/B"));
        QVERIFY(a.mounted() && b.mounted());
        QTRY_VERIFY_WITH_TIMEOUT(!watcher, 5000);
        QCOMPARE(spy.size(), 4);
        QVERIFY(!window.property(clsDeviceChange::MarkerProperty).isValid());
    }
};

QTEST_MAIN(tst_DeviceChange)
#include "tst_DeviceChange.moc"
