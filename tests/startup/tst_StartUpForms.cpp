// Main with the real tray form and main window: what the switches do to the windows.
#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"
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

    void run(const QString &line)
    {
        modStartClient::SetArgumentString(line);
        modStartClient::Main();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        m_boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        RecordingSessionControl::install();
        gNotMaximized = false;
        m_loads = 0;
        // The real tray form, with the configuration of an empty program directory.
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
        modStartClient::SetArgumentString(QString());
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        m_boxes.reset();
        m_dir.reset();
    }

    void windowSize_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("fullScreen");
        QTest::newRow("no switch") << QString() << true;
        QTest::newRow("/notmax /run keeps the design size") << "/notmax /run" << false;
        QTest::newRow("/RUN /NOTMAX is full-screen already") << "/RUN /NOTMAX" << true;
    }
    void windowSize()
    {
        QFETCH(QString, line);
        QFETCH(bool, fullScreen);
        run(line);
        QVERIFY(frmClientTrayIcon::Instance());
        QVERIFY(!frmClientTrayIcon::Instance()->isVisible());
        frmClient *client = Forms::Client();
        QVERIFY(client);
        QVERIFY(client->isVisible());
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        if (fullScreen)
            QCOMPARE(client->frameGeometry(), QRect(QPoint(0, 0), screen));
        else
            QVERIFY(client->width() < screen.width() && client->height() < screen.height());
        QVERIFY(m_boxes->calls.isEmpty());
    }

    void runTwiceLoadsOneTrayFormAndWindow()
    {
        run(QStringLiteral("/RUN /RUN"));
        QCOMPARE(m_loads, 2);
        QVERIFY(frmClientTrayIcon::Instance());
        int clients = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            clients += qobject_cast<frmClient *>(w) != nullptr;
        QCOMPARE(clients, 1);
        QCOMPARE(gStartLifeCnt, 45);
    }
};

QTEST_MAIN(tst_StartUpForms)
#include "tst_StartUpForms.moc"
