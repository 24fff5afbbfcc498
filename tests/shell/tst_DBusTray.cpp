// The tray form on a StatusNotifierItem host over D-Bus, as on KDE Plasma, GNOME's AppIndicator,
// XFCE and LXQt: a private session bus with a watcher, the host played here, an X server of its own.
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"

#include "DialogScript.h"
#include "Panel.h"
#include "RdpTestEnvironment.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QThread>

using namespace modGlobClientVar;
using TestSupport::child;

// The host's watcher: a host is there, items register. In a thread of its own: Qt asks it with blocking calls.
class Watcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
public:
    bool isHostRegistered() const { return true; }
signals:
    void registered(const QString &service);
public slots:
    void RegisterStatusNotifierItem(const QString &service) { emit registered(service); }
};

class tst_DBusTray : public QObject
{
    Q_OBJECT

    QThread m_thread;
    Watcher m_watcher;
    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    QString m_item; // the service of the icon registered last

private slots:
    void initTestCase()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher"));
        QVERIFY(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &m_watcher, QDBusConnection::ExportAllContents)
                && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        connect(&m_watcher, &Watcher::registered, this, [this](const QString &service) { m_item = service; });
        m_watcher.moveToThread(&m_thread), m_thread.start();
    }
    void cleanupTestCase() { m_thread.quit(), m_thread.wait(); }
    void init()
    {
        m_dir = std::make_unique<TestSupport::ProgramDir>(), m_item.clear();
        RecordingSessionControl::install();
        gSecurityEnabled = gNotMaximized = true;
        frmClientTrayIcon::Load();
    }
    void cleanup()
    {
        TestSupport::UnloadForms();
        delete frmClientTrayIcon::Instance();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // What the host's calls do: Activate (a click) what a double click does, ContextMenu the menu.
    void activations_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("shown"); // the main window, the session window minimised, or neither
        QTest::addColumn<QString>("outcome");
        QTest::newRow("click, main window hidden") << "Activate" << "" << "configuration";
        QTest::newRow("click, session minimised") << "Activate" << "session" << "session restored";
        QTest::newRow("menu") << "ContextMenu" << "main" << "menu";
    }
    void activations()
    {
        QFETCH(QString, method);
        QFETCH(QString, shown);
        QPointer<frmClient> client = Forms::Client();
        frmMsRdpClient *session = Forms::MsRdpClient();
        client->setVisible(shown == u"main");
        if (shown == u"session")
            session->msts->Connect(), session->showMinimized(); // a session runs there
        QTRY_VERIFY(!m_item.isEmpty());
        DialogScript script;
        script.answerPrompt(true).start();
        QDBusMessage call = QDBusMessage::createMethodCall(m_item, QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.kde.StatusNotifierItem"), method);
        const QDBusPendingCall reply = QDBusConnection::sessionBus().asyncCall(call << 5 << 5);
        bool handled = false; // once the click's handling has begun, and its prompt is gone
        QTRY_VERIFY(reply.isFinished() && QMetaObject::invokeMethod(this, [&] { handled = true; }, Qt::QueuedConnection));
        QTRY_VERIFY(handled && !frmEnterPassword::Instance());
        QMenu *menu = frmClientTrayIcon::Instance()->findChild<QMenu *>(QStringLiteral("mnuTrayMenu"));
        const bool configuration = !client && Forms::Client()->isVisible() && child(Forms::Client(), "fraConfig")->isVisible();
        QStringList seen{configuration ? "configuration" : "", shown == u"session" && !session->isMinimized() ? "session restored" : "",
                         menu->isVisible() ? "menu" : ""};
        seen.removeAll(QString());
        QTEST(seen.join(u','), "outcome");
        QCOMPARE(script.finished(), configuration); // the prompt came only there
    }
};

int main(int argc, char *argv[])
{
    RdpTestEnvironment::Display display;
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!bus.waitForReadyRead(10000))
        qFatal("dbus-daemon is missing (scripts/install-deps installs it)");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DISPLAY", display.name().toLatin1());
    QApplication app(argc, argv);
    tst_DBusTray test;
    const int failed = QTest::qExec(&test, argc, argv);
    bus.kill(), bus.waitForFinished();
    return failed;
}

#include "tst_DBusTray.moc"
