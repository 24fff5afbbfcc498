#include "client/Forms.h"
#include "client/clsDeviceChange.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "startup/modGlobClientVar.h"
#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

using namespace modGlobClientVar;

namespace {

RecordingSessionControl *recorder(frmMsRdpClient *form)
{
    return qobject_cast<RecordingSessionControl *>(form->msts);
}

QList<QVariantList> notifications(const RecordingSessionControl *control)
{
    QList<QVariantList> n;
    for (const auto &c : control->calls)
        if (c.first == QLatin1String("NotifyRedirectDeviceChange"))
            n << c.second.toList();
    return n;
}

} // namespace

class tst_SessionWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    frmClient *m_main = nullptr;

    frmMsRdpClient *session() { return Forms::MsRdpClient(); }

private slots:
    void initTestCase()
    {
        frmClient::TimerIntervalMs = 3600 * 1000;
        RecordingSessionControl::install();
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        // Configuration mode: no side link.
        m_dir->write(QStringLiteral("Client.cfg"), {QStringLiteral("[Client]"), QStringLiteral("AutoConnect=0")});
        m_main = &Forms::LoadClient();
    }

    void cleanupTestCase()
    {
        Forms::UnloadClient();
        Forms::UnloadMsRdpClient();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void init()
    {
        RecordingSessionControl::install();
        Forms::UnloadMsRdpClient();
        Forms::LoadMsRdpClient();
        gRdpStarted = false;
        gRdpConnected = false;
    }

    void windowHostsOneControl()
    {
        frmMsRdpClient *form = session();
        QCOMPARE(form->windowTitle(), QStringLiteral("Veskora"));
        QVERIFY(!form->windowIcon().isNull());
        const auto controls = form->findChildren<SessionControl *>();
        QCOMPARE(controls.size(), 1);
        QCOMPARE(controls.first(), form->msts);
        QCOMPARE(form->msts->objectName(), QStringLiteral("msts"));
        QCOMPARE(form->findChild<SessionControl *>(QStringLiteral("msts")), form->msts);
        // The control is the factory's.
        QCOMPARE(RecordingSessionControl::last(), form->msts);
        QCOMPARE(RecordingSessionControl::instances().size(), 1);
    }

    void loadTakesTheNonScriptableInterface()
    {
        frmMsRdpClient *form = session();
        QVERIFY(form->mRdpNonScriptable);
        QCOMPARE(form->mRdpNonScriptable, form->msts->NonScriptable());
    }

    void loadAttachesTheWatcher()
    {
        frmMsRdpClient *form = session();
        QVERIFY(form->DeviceChange);
        QCOMPARE(form->DeviceChange->hWndMonitored(), form);
        QCOMPARE(modDeviceChange::MonitorFromWindow(form), form->DeviceChange.get());
        QVERIFY(form->property(clsDeviceChange::MarkerProperty).isValid());
    }

    void controlFillsTheWindow_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1024 x 768") << QSize(1024, 768);
        QTest::newRow("640 x 480") << QSize(640, 480);
        QTest::newRow("odd") << QSize(333, 217);
    }

    void controlFillsTheWindow()
    {
        QFETCH(QSize, size);
        frmMsRdpClient *form = session();
        form->show();
        form->resize(size);
        QTRY_COMPARE(form->msts->geometry(), QRect(QPoint(0, 0), size));
        form->hide();
    }

    void unloadDetachesAndClearsTheFlags_data()
    {
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("connected");
        QTest::newRow("not started") << false << false;
        QTest::newRow("started") << true << false;
        QTest::newRow("connected") << true << true;
    }

    void unloadDetachesAndClearsTheFlags()
    {
        QFETCH(bool, started);
        QFETCH(bool, connected);
        frmMsRdpClient form;
        form.Form_Load();
        QVERIFY(form.property(clsDeviceChange::MarkerProperty).isValid());
        gRdpStarted = started;
        gRdpConnected = connected;
        form.Form_Unload();
        QVERIFY(!form.DeviceChange);
        QVERIFY(!form.property(clsDeviceChange::MarkerProperty).isValid());
        QCOMPARE(modDeviceChange::MonitorFromWindow(&form), nullptr);
        QCOMPARE(gRdpStarted, false);
        QCOMPARE(gRdpConnected, false);
        // No message reaches the control any more.
        modDeviceChange::DeviceChangeProc(&form, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1);
        QVERIFY(notifications(recorder(&form)).isEmpty());
    }

    void reloadGivesAFreshControl()
    {
        RecordingSessionControl *first = recorder(session());
        QVERIFY(first);
        Forms::UnloadMsRdpClient();
        QCOMPARE(Forms::MsRdpClient(), nullptr);
        QCOMPARE(RecordingSessionControl::instances().value(0), nullptr); // destroyed with its window
        frmMsRdpClient &again = Forms::LoadMsRdpClient();
        QCOMPARE(RecordingSessionControl::instances().size(), 2);
        QCOMPARE(again.msts, RecordingSessionControl::last());
        QCOMPARE(again.mRdpNonScriptable, again.msts->NonScriptable());
        QCOMPARE(modDeviceChange::MonitorFromWindow(&again), again.DeviceChange.get());
    }

    void onConnected_data()
    {
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("connectedAfter");
        QTest::newRow("started here") << true << true;
        QTest::newRow("not started here") << false << false;
    }

    void onConnected()
    {
        QFETCH(bool, started);
        QFETCH(bool, connectedAfter);
        gRdpStarted = started;
        recorder(session())->raiseConnected();
        QCOMPARE(gRdpConnected, connectedAfter);
        QCOMPARE(gRdpStarted, started);
    }

    void onDisconnected_data()
    {
        QTest::addColumn<qint32>("reason");
        QTest::addColumn<bool>("connected");
        QTest::newRow("local user 1") << 1 << true;
        QTest::newRow("remote 2") << 2 << true;
        QTest::newRow("network 0x904") << 0x904 << true;
        QTest::newRow("attempt failed 0x204") << 0x204 << false;
        QTest::newRow("zero") << 0 << false;
        QTest::newRow("negative") << -1 << true;
    }

    void onDisconnected()
    {
        QFETCH(qint32, reason);
        QFETCH(bool, connected);
        frmMsRdpClient *form = session();
        RecordingSessionControl *control = recorder(form);
        gRdpStarted = true;
        gRdpConnected = connected;
        m_main->hide();
        form->show();
        control->show();
        QVERIFY(control->isVisible());
        control->calls.clear();

        control->raiseDisconnected(reason);

        QVERIFY(!form->isVisible());
        QVERIFY(control->isHidden());
        QCOMPARE(control->callNames(), QStringList{QStringLiteral("Visible")});
        QCOMPARE(control->lastValue(QStringLiteral("Visible")), QVariant(false));
        QCOMPARE(gRdpConnected, false);
        QCOMPARE(gRdpStarted, false);
        QVERIFY(m_main->isVisible());
        // The window stays loaded; the next connection replaces it.
        QCOMPARE(Forms::MsRdpClient(), form);
        QCOMPARE(form->msts, control);
    }

    void deviceChangeReachesTheControl_data()
    {
        QTest::addColumn<quint32>("wParam");
        QTest::addColumn<bool>("notified");
        QTest::newRow("arrival") << 0x8000u << true;
        QTest::newRow("removal complete") << 0x8004u << true;
        QTest::newRow("configuration changed") << 0x0007u << false;
        QTest::newRow("query remove") << 0x8001u << false;
        QTest::newRow("remove pending") << 0x8003u << false;
    }

    void deviceChangeReachesTheControl()
    {
        QFETCH(quint32, wParam);
        QFETCH(bool, notified);
        frmMsRdpClient *form = session();
        RecordingSessionControl *control = recorder(form);
        control->calls.clear();
        QCOMPARE(modDeviceChange::DeviceChangeProc(form, clsDeviceChange::WM_DEVICECHANGE, wParam, 4711), 0);
        const auto n = notifications(control);
        if (notified)
            QCOMPARE(n, (QList<QVariantList>{QVariantList{wParam, 4711}}));
        else
            QVERIFY(n.isEmpty());
    }

    void refusedNotificationIsIgnored()
    {
        frmMsRdpClient *form = session();
        RecordingSessionControl *control = recorder(form);
        control->notifyError = 40006;
        modDeviceChange::DeviceChangeProc(form, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1);
        modDeviceChange::DeviceChangeProc(form, clsDeviceChange::WM_DEVICECHANGE, 0x8004, 1);
        QCOMPARE(notifications(control).size(), 2);
        control->notifyError = 0;
        modDeviceChange::DeviceChangeProc(form, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 2);
        QCOMPARE(notifications(control).size(), 3);
        // Nothing else changed.
        QCOMPARE(gRdpStarted, false);
        QCOMPARE(gRdpConnected, false);
    }

    void mountedStorageReachesTheControl()
    {
        QTemporaryDir media;
        const QString root = QFileInfo(media.path()).canonicalFilePath();
        const QString stick = root + QStringLiteral("/STICK");
        QDir().mkpath(stick);
        const auto savedRule = modDeviceChange::Rule();
        modDeviceChange::Rule().mountRoots = {root};
        modDeviceChange::Rule().sysDevBlock.clear();
        const auto restore = qScopeGuard([&] {
            ::umount2(QFile::encodeName(stick).constData(), MNT_DETACH);
            modDeviceChange::Rule() = savedRule;
        });

        // A fresh window, so that its watcher reads the table with the rule above.
        Forms::UnloadMsRdpClient();
        RecordingSessionControl *control = recorder(&Forms::LoadMsRdpClient());
        if (::mount("tmpfs", QFile::encodeName(stick).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP(qPrintable(QStringLiteral("mounting a tmpfs is not permitted here (%1); needs root with CAP_SYS_ADMIN")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        QTRY_COMPARE_WITH_TIMEOUT(notifications(control).size(), 1, 5000);
        QCOMPARE(notifications(control).first().value(0).toUInt(), clsDeviceChange::DBT_DEVICEARRIVAL);
        const qint32 id = notifications(control).first().value(1).toInt();
        QVERIFY(id > 0);

        QCOMPARE(::umount2(QFile::encodeName(stick).constData(), 0), 0);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(control).size(), 2, 5000);
        QCOMPARE(notifications(control).at(1), (QVariantList{clsDeviceChange::DBT_DEVICEREMOVECOMPLETE, id}));
    }
};

QTEST_MAIN(tst_SessionWindow)
#include "tst_SessionWindow.moc"
