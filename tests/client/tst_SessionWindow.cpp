#include "client/Forms.h"
#include "client/clsDeviceChange.h"
#include "client/frmClient.h"
#include "client/frmMsRdpClient.h"
#include "settings/modGlobClientVar.h"

#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include <QTest>

using namespace modGlobClientVar;

namespace {

RecordingSessionControl *recorder(frmMsRdpClient *form) { return qobject_cast<RecordingSessionControl *>(form->msts); }

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
        m_main = &TestSupport::LoadPanel(*m_dir, {"AutoConnect=0"});
    }

    void cleanupTestCase() { TestSupport::UnloadForms(); }

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
        // One control, the factory's, named as the window knows it, and the watcher attached.
        QCOMPARE(form->findChildren<SessionControl *>(), QList<SessionControl *>{form->msts});
        QCOMPARE(form->msts->objectName(), QStringLiteral("msts"));
        QCOMPARE(RecordingSessionControl::instances(), QList<RecordingSessionControl *>{recorder(form)});
        QCOMPARE(modDeviceChange::MonitorFromWindow(form), form->DeviceChange.get());
        QVERIFY(form->DeviceChange);
    }

    void unloadDetachesAndClearsTheFlags()
    {
        frmMsRdpClient form;
        form.Form_Load();
        gRdpStarted = gRdpConnected = true;
        form.Form_Unload();
        QVERIFY(!form.property(clsDeviceChange::MarkerProperty).isValid());
        QVERIFY(!gRdpStarted && !gRdpConnected);
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
        QTest::newRow("by the server") << 2 << true;
        QTest::newRow("attempt failed") << 0x204 << false;
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
        QVERIFY(!form->isVisible() && m_main->isVisible());
        QVERIFY(!gRdpConnected && !gRdpStarted);
        QCOMPARE(Forms::MsRdpClient(), form); // stays loaded; the next connection replaces it
    }

    // However the window is asked to close, a running session ends through the control and
    // its end brings the main window back; a window without a session goes back at once.
    void closeRequest()
    {
        frmMsRdpClient *form = session();
        RecordingSessionControl *control = recorder(form);
        gRdpStarted = true;
        m_main->hide();
        form->show();
        QVERIFY(!form->close());
        QVERIFY(control->callNames().contains(QStringLiteral("Disconnect")) && form->isVisible());
        control->raiseDisconnected(1);
        QVERIFY(!form->isVisible() && m_main->isVisible() && !gRdpStarted);

        m_main->hide();
        form->show();
        control->calls.clear();
        QVERIFY(!form->close());
        QVERIFY(!control->callNames().contains(QStringLiteral("Disconnect")));
        QVERIFY(!form->isVisible() && m_main->isVisible());
    }

    void deviceChangeReachesTheControl_data()
    {
        QTest::addColumn<quint32>("wParam");
        QTest::addColumn<bool>("notified");
        QTest::newRow("arrival") << 0x8000u << true;
        QTest::newRow("removal complete") << 0x8004u << true;
        QTest::newRow("query remove") << 0x8001u << false;
    }

    void deviceChangeReachesTheControl()
    {
        QFETCH(quint32, wParam);
        QFETCH(bool, notified);
        modDeviceChange::DeviceChangeProc(session(), clsDeviceChange::WM_DEVICECHANGE, wParam, 4711);
        QCOMPARE(notifications(recorder(session())),
                 (notified ? QList<QVariantList>{QVariantList{wParam, 4711}} : QList<QVariantList>{}));
    }

    void refusedNotificationIsIgnored()
    {
        RecordingSessionControl *control = recorder(session());
        control->notifyError = 40006; // no session connected
        modDeviceChange::DeviceChangeProc(session(), clsDeviceChange::WM_DEVICECHANGE, 0x8000, 1);
        control->notifyError = 0;
        modDeviceChange::DeviceChangeProc(session(), clsDeviceChange::WM_DEVICECHANGE, 0x8004, 1);
        QCOMPARE(notifications(control).size(), 2);
        QVERIFY(!session()->isVisible() && !gRdpStarted);
    }
};

QTEST_MAIN(tst_SessionWindow)
#include "tst_SessionWindow.moc"
