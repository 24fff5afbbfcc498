#include "client/Forms.h"
#include "client/clsDeviceChange.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "startup/modGlobClientVar.h"

#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include <QTest>

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

    void loadedWindow()
    {
        frmMsRdpClient *form = session();
        QCOMPARE(form->windowTitle(), QStringLiteral("Veskora"));
        QVERIFY(!form->windowIcon().isNull());
        // One control, the factory's, named as the window knows it.
        QCOMPARE(form->findChildren<SessionControl *>(), QList<SessionControl *>{form->msts});
        QCOMPARE(form->msts->objectName(), QStringLiteral("msts"));
        QCOMPARE(RecordingSessionControl::instances(), QList<RecordingSessionControl *>{recorder(form)});
        QCOMPARE(form->mRdpNonScriptable, form->msts->NonScriptable());
        // The device-change watcher is attached to the window.
        QVERIFY(form->DeviceChange);
        QCOMPARE(modDeviceChange::MonitorFromWindow(form), form->DeviceChange.get());
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
        gRdpStarted = started;
        gRdpConnected = connected;
        form.Form_Unload();
        QVERIFY(!form.property(clsDeviceChange::MarkerProperty).isValid());
        QCOMPARE(gRdpStarted, false);
        QCOMPARE(gRdpConnected, false);
        modDeviceChange::DeviceChangeProc(&form, clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1);
        QVERIFY(notifications(recorder(&form)).isEmpty());
    }

    void onConnected_data()
    {
        QTest::addColumn<bool>("started");
        QTest::newRow("started here") << true;
        QTest::newRow("not started here") << false;
    }

    void onConnected()
    {
        QFETCH(bool, started);
        gRdpStarted = started;
        recorder(session())->raiseConnected();
        // A connection that was not started here is not counted.
        QCOMPARE(gRdpConnected, started);
        QCOMPARE(gRdpStarted, started);
    }

    void onDisconnected_data()
    {
        QTest::addColumn<qint32>("reason");
        QTest::addColumn<bool>("connected");
        QTest::newRow("by the user") << 1 << true;
        QTest::newRow("by the server") << 2 << true;
        QTest::newRow("network lost") << 0x904 << true;
        QTest::newRow("attempt failed") << 0x204 << false;
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
        control->calls.clear();

        control->raiseDisconnected(reason);

        QCOMPARE(control->calls, (QList<RecordingSessionControl::Call>{{QStringLiteral("Visible"), false}}));
        QVERIFY(!form->isVisible());
        QCOMPARE(gRdpConnected, false);
        QCOMPARE(gRdpStarted, false);
        QVERIFY(m_main->isVisible());
        // The window stays loaded; the next connection replaces it.
        QCOMPARE(Forms::MsRdpClient(), form);
    }

    void deviceChangeReachesTheControl_data()
    {
        QTest::addColumn<quint32>("wParam");
        QTest::addColumn<bool>("notified");
        QTest::newRow("arrival") << 0x8000u << true;
        QTest::newRow("removal complete") << 0x8004u << true;
        QTest::newRow("configuration changed") << 0x0007u << false;
        QTest::newRow("query remove") << 0x8001u << false;
    }

    void deviceChangeReachesTheControl()
    {
        QFETCH(quint32, wParam);
        QFETCH(bool, notified);
        RecordingSessionControl *control = recorder(session());
        modDeviceChange::DeviceChangeProc(session(), clsDeviceChange::WM_DEVICECHANGE, wParam, 4711);
        const QList<QVariantList> expected =
            notified ? QList<QVariantList>{QVariantList{wParam, 4711}} : QList<QVariantList>{};
        QCOMPARE(notifications(control), expected);
    }

    void refusedNotificationIsIgnored()
    {
        RecordingSessionControl *control = recorder(session());
        control->notifyError = 40006; // no session connected
        modDeviceChange::DeviceChangeProc(session(), clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1);
        control->notifyError = 0;
        modDeviceChange::DeviceChangeProc(session(), clsDeviceChange::WM_DEVICECHANGE, 0x8004, 1);
        QCOMPARE(notifications(control).size(), 2);
        QVERIFY(!session()->isVisible());
        QCOMPARE(gRdpStarted, false);
    }
};

QTEST_MAIN(tst_SessionWindow)
#include "tst_SessionWindow.moc"
