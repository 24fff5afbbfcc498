// Main with the real tray form and main window: what the switches do to the windows.
#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "shell/frmClientTrayIcon.h"
#include "startup/modGlobClientVar.h"
#include "startup/modStartClient.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

using namespace modGlobClientVar;

class tst_StartUpForms : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> m_boxes;
    int m_loads = 0;

    static QSize screenSize() { return QGuiApplication::primaryScreen()->geometry().size(); }

private slots:
    void init()
    {
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        RecordingSessionControl::install();
        gNotMaximized = false;
        m_loads = 0;
        // The real tray form, reading its configuration from an empty program directory
        // rather than from the one beside the test.
        modStartClient::SetTrayLoader([this] {
            ++m_loads;
            gClientCfgFile = m_dir->file(QStringLiteral("Client.cfg"));
            gUserCfgFile = m_dir->file(QStringLiteral("User.cfg"));
            frmClientTrayIcon::Load();
        });
    }
    void cleanup()
    {
        Forms::UnloadMsRdpClient();
        Forms::UnloadClient();
        delete frmClientTrayIcon::Instance();
        modStartClient::SetTrayLoader({});
        modStartClient::SetArgumentString(std::nullopt);
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        m_boxes.reset();
        m_dir.reset();
    }

    void noSwitchShowsTheFullScreenWindow()
    {
        modStartClient::SetArgumentString(QString());
        modStartClient::Main();
        QVERIFY(frmClientTrayIcon::Instance());
        QVERIFY(!frmClientTrayIcon::Instance()->isVisible());
        frmClient *client = Forms::Client();
        QVERIFY(client);
        QVERIFY(client->isVisible());
        QCOMPARE(client->size(), screenSize());
        QVERIFY(m_boxes->calls.isEmpty());
    }

    void notMaxThenRunKeepsTheDesignSize()
    {
        modStartClient::SetArgumentString(QStringLiteral("/notmax /run"));
        modStartClient::Main();
        frmClient *client = Forms::Client();
        QVERIFY(client);
        QVERIFY(client->isVisible());
        QVERIFY(client->width() < screenSize().width());
        QVERIFY(client->height() < screenSize().height());
    }

    void runThenNotMaxIsFullScreenAlready()
    {
        modStartClient::SetArgumentString(QStringLiteral("/RUN /NOTMAX"));
        modStartClient::Main();
        QVERIFY(Forms::Client());
        QCOMPARE(Forms::Client()->size(), screenSize());
        QVERIFY(gNotMaximized);
    }

    void runTwiceLoadsOneTrayForm()
    {
        modStartClient::SetArgumentString(QStringLiteral("/RUN /RUN"));
        modStartClient::Main();
        QCOMPARE(m_loads, 2);
        frmClientTrayIcon *tray = frmClientTrayIcon::Instance();
        QVERIFY(tray);
        const QList<QWidget *> clients = [] {
            QList<QWidget *> found;
            for (QWidget *w : QApplication::topLevelWidgets())
                if (qobject_cast<frmClient *>(w))
                    found << w;
            return found;
        }();
        QCOMPARE(clients.size(), 1);
        QCOMPARE(gStartLifeCnt, 45);
    }

    void unknownThenRunShowsUsageBeforeTheWindow()
    {
        bool windowAtUsage = true;
        MsgBox::SetHandler([&](const MsgBox::Call &) { windowAtUsage = Forms::Client() != nullptr; });
        modStartClient::SetArgumentString(QStringLiteral("/X /RUN"));
        modStartClient::Main();
        MsgBox::SetHandler({});
        QVERIFY(!windowAtUsage);
        QVERIFY(Forms::Client());
    }

    void usageAloneStartsNothing()
    {
        modStartClient::SetArgumentString(QStringLiteral("/?"));
        modStartClient::Main();
        QCOMPARE(m_boxes->calls.size(), 1);
        QVERIFY(!frmClientTrayIcon::Instance());
        QVERIFY(!Forms::Client());
    }
};

QTEST_MAIN(tst_StartUpForms)
#include "tst_StartUpForms.moc"
