#include "../support/FileBytes.h"
#include "../support/Panel.h"
#include "../support/RecordingSessionControl.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "platform/Registry.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"
#include "shell/frmClientTrayIcon.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace modGlobClientVar;
using TestSupport::readBytes;

namespace {

// The keys of section "Client" in table order.
const QStringList kClientKeys = QStringLiteral(
    "txtServer txtPort txtUserName txtPassword chkUserPass cboResolution chkDISABLE_WALLPAPER "
    "chkDISABLE_FULLWINDOWDRAG chkDISABLE_MENUANIMATIONS chkDISABLE_THEMING chkENABLE_ENHANCED_GRAPHICS "
    "chkDISABLE_CURSOR_SHADOW chkDISABLE_CURSORSETTINGS chkRedirectDrives chkRedirectPorts chkRedirectPrinters "
    "chkRedirectSmartCards chkBitmap chkCompress chkDisplayConnectionBar chkEnableAutoReconnect AutoConnect "
    "StartConnectLifeCnt StartLifeCnt").split(u' ');

// Every check box by key: the fifteen options, "Connect to Server" and "Use Password".
const QStringList kBoxKeys = kClientKeys.mid(6, 16) << QStringLiteral("chkUserPass");

CheckBox *box(frmClient &f, const QString &key)
{
    return key == u"AutoConnect" ? f.chkAutoConnect : f.findChild<CheckBox *>(key);
}

// Everything section "Client" holds, as the window and the globals show it.
QStringList held(frmClient &f)
{
    QStringList v{f.txtServer->text(), f.txtPort->text(), f.txtUserName->text(), f.txtPassword->text(),
                  QString::number(f.cboResolution->currentIndex()), QString::number(gStartConnectLifeCnt),
                  QString::number(gStartLifeCnt)};
    for (const QString &k : kBoxKeys)
        v << k + u'=' + QString::number(box(f, k)->Value());
    return v;
}

// The lines of a file, without their CR LF.
QStringList lines(const QString &path)
{
    QStringList out = QString::fromUtf8(readBytes(path)).split(QStringLiteral("\r\n"));
    if (!out.isEmpty() && out.back().isEmpty())
        out.removeLast();
    return out;
}

} // namespace

class tst_ClientConfig : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;

    // The program directory redirects the machine's autostart directory into itself.
    static QString autostartDir() { return Registry::AutostartDirectory(Registry::HKEY_LOCAL_MACHINE); }
    static QString autostartEntry() { return autostartDir() + QStringLiteral("/ClientStart.desktop"); }
    static frmClient &load() { return Forms::LoadClient(); }
    void writeCfg(const QStringList &client) const { dir->write("Client.cfg", QStringList{"[Client]"} + client); }

private slots:
    void init()
    {
        RecordingSessionControl::install();
        dir = std::make_unique<TestSupport::ProgramDir>();
        boxes = std::make_unique<TestSupport::MsgBoxRecorder>();
        gStartConnectLifeCnt = 3;
        gStartLifeCnt = 45;
        gUserProcessName.clear();
        gTryConnectActionCnt = 3;
        gMaxTryConnectActionCnt = 50;
        gNotMaximized = true;
    }

    void cleanup()
    {
        delete frmClientTrayIcon::Instance();
        Forms::UnloadClient();
        Forms::UnloadMsRdpClient();
        // Loading and saving never show a message, and close every key they open.
        QCOMPARE(boxes->texts(), QStringList());
        boxes.reset();
        QFile::setPermissions(gClientCfgFile, QFile::ReadOwner | QFile::WriteOwner);
        QFile::setPermissions(autostartDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        dir.reset();
        QCOMPARE(Registry::OpenHandleCount(), 0);
    }

    // One text under every check box, the resolution and both counts, read into a window loaded
    // without Client.cfg. Each holder starts as set below and keeps that value unless the text
    // converts to one it may take.
    void storedValues_data()
    {
        QTest::addColumn<QString>("stored"); // null: still no Client.cfg
        QTest::addColumn<int>("box");        // starts 1
        QTest::addColumn<int>("resolution"); // starts 4
        QTest::addColumn<int>("count");      // 0: both counts keep 45 and 3
        QTest::newRow("no Client.cfg") << QString() << 0 << 0 << 0;
        QTest::newRow("0") << "0" << 0 << 0 << 0;
        QTest::newRow("2") << "2" << 2 << 2 << 2;
        QTest::newRow("6, the last resolution") << "6" << 1 << 6 << 6;
        QTest::newRow("7") << "7" << 1 << 4 << 7;
        QTest::newRow("-1 clears the resolution") << "-1" << 1 << -1 << 0;
        QTest::newRow("-2") << "-2" << 1 << 4 << 0;
        QTest::newRow("word") << "yes" << 1 << 4 << 0;
        QTest::newRow("empty") << "" << 1 << 4 << 0;
        QTest::newRow("beyond 32 bits") << "3000000000" << 1 << 4 << 0;
        QTest::newRow("fraction rounds") << "1.6" << 2 << 2 << 2;
        QTest::newRow("fraction ties to even") << "2.5" << 2 << 2 << 2;
    }
    void storedValues()
    {
        QFETCH(QString, stored);
        QFETCH(int, box);
        QFETCH(int, resolution);
        QFETCH(int, count);
        frmClient &f = load();
        for (QLineEdit *t : {f.txtServer, f.txtPort, f.txtUserName, f.txtPassword})
            QCOMPARE(t->text(), QStringLiteral("0"));
        QCOMPARE(f.cboResolution->currentText(), QStringLiteral("Full-Screen"));
        f.cboResolution->setCurrentIndex(4);
        QStringList content;
        for (const QString &k : kBoxKeys + QStringList{"cboResolution", "StartLifeCnt", "StartConnectLifeCnt"})
            content << k + u'=' + stored;
        for (const QString &k : kBoxKeys)
            ::box(f, k)->setValue(1);
        if (!stored.isNull())
            writeCfg(content);
        f.ReadConfigurationFromFile();
        for (const QString &k : kBoxKeys)
            QVERIFY2(::box(f, k)->Value() == box, qPrintable(k));
        QCOMPARE(f.cboResolution->currentIndex(), resolution);
        QCOMPARE(gStartLifeCnt, count ? count : 45);
        QCOMPARE(gStartConnectLifeCnt, count ? count : 3);
        QCOMPARE(QFileInfo::exists(gClientCfgFile), !stored.isNull());
    }

    void userCfg_data()
    {
        QTest::addColumn<QString>("content"); // the lines of [UserConfig], blank-separated; null: no User.cfg
        QTest::addColumn<QString>("process");
        QTest::addColumn<int>("maxTry");
        QTest::addColumn<int>("tryCnt");
        QTest::newRow("no User.cfg") << QString() << "" << 50 << 3;
        QTest::newRow("process name taken") << "UserProcessName=/opt/recover" << "/opt/recover" << 50 << 3;
        QTest::newRow("process 0 ignored") << "UserProcessName=0" << "" << 50 << 3;
        QTest::newRow("process -1 ignored") << "UserProcessName=-1" << "" << 50 << 3;
        QTest::newRow("process 7 taken") << "UserProcessName=7" << "7" << 50 << 3;
        QTest::newRow("try 80 lowered to 50") << "TryConnectActionCnt=80" << "" << 50 << 50;
        QTest::newRow("max 2 alone leaves try") << "MaxTryConnectActionCnt=2" << "" << 2 << 3;
        QTest::newRow("both") << "MaxTryConnectActionCnt=10 TryConnectActionCnt=7" << "" << 10 << 7;
        QTest::newRow("max word keeps 50") << "MaxTryConnectActionCnt=many" << "" << 50 << 3;
        QTest::newRow("try word still lowered") << "MaxTryConnectActionCnt=2 TryConnectActionCnt=x" << "" << 2 << 2;
        QTest::newRow("empty try leaves both") << "MaxTryConnectActionCnt=2 TryConnectActionCnt=" << "" << 2 << 3;
    }
    void userCfg()
    {
        QFETCH(QString, content);
        QFETCH(QString, process);
        QFETCH(int, maxTry);
        QFETCH(int, tryCnt);
        if (!content.isNull())
            dir->write(QStringLiteral("User.cfg"), QStringList{"[UserConfig]"} + content.split(u' '));
        load();
        QCOMPARE(gUserProcessName, process);
        QCOMPARE(gMaxTryConnectActionCnt, maxTry);
        QCOMPARE(gTryConnectActionCnt, tryCnt);
        // The program never writes User.cfg.
        QCOMPARE(QFileInfo::exists(gUserCfgFile), !content.isNull());
    }

    void setDefaultThenSaveWritesTheTable()
    {
        frmClientTrayIcon::Load();
        frmClient *f = Forms::Client();
        QVERIFY(f);
        for (const QString &k : kBoxKeys)
            box(*f, k)->setValue(1);
        f->cmdSetDefault->click();
        QVERIFY(!QFileInfo::exists(gClientCfgFile)); // Set Default alone writes nothing
        f->cmdSave->click();
        QStringList expected{"[Client]", "txtServer=SERVERNAME", "txtPort=12559", "txtUserName=Username",
                             "txtPassword=Password", "chkUserPass=1", "cboResolution=0"};
        for (const QString &k : kClientKeys.mid(6, 16))
            expected << k + QStringLiteral("=0");
        QCOMPARE(lines(gClientCfgFile), expected << "StartConnectLifeCnt=3" << "StartLifeCnt=45");
    }

    void saveAndLoadRoundTrip()
    {
        frmClient *f = &load();
        f->txtServer->setText(QStringLiteral("10.1.2.3"));
        f->txtPort->setText(QStringLiteral("4000"));
        f->txtUserName->setText(QStringLiteral("Müller"));
        f->txtPassword->setText(QStringLiteral("s3cr=t;x"));
        f->cboResolution->setCurrentIndex(5);
        for (qsizetype i = 0; i < kBoxKeys.size(); ++i)
            box(*f, kBoxKeys.at(i))->setValue(int(i % 3));
        gStartConnectLifeCnt = 7;
        gStartLifeCnt = 90;
        const QStringList saved = held(*f);
        f->WriteConfigurationToFile();

        gStartConnectLifeCnt = 3;
        gStartLifeCnt = 45;
        Forms::UnloadClient();
        QCOMPARE(held(load()), saved);
    }

    // Repeated saves keep what the window does not own; a save to a read-only file changes nothing.
    void saveKeepsOtherKeysAndReadOnlyFile()
    {
        dir->write(QStringLiteral("Client.cfg"),
                   {"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "txtServer=a", "", "[Other]", "k=v"});
        frmClientTrayIcon::Load();
        for (int round = 0; round < 4; ++round) {
            QPointer<frmClient> f = Forms::Client();
            QVERIFY(f);
            if (round == 3)
                QVERIFY(QFile::setPermissions(gClientCfgFile, QFile::ReadOwner));
            const QByteArray before = readBytes(gClientCfgFile);
            f->txtServer->setText(QStringLiteral("server%1").arg(round));
            f->cmdSave->click();
            QTRY_VERIFY(f.isNull());
            if (round == 3)
                QCOMPARE(readBytes(gClientCfgFile), before);
        }
        const QStringList l = lines(gClientCfgFile);
        QCOMPARE(l.mid(0, 4), (QStringList{"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "txtServer=server2"}));
        QCOMPARE(l.mid(l.size() - 3), (QStringList{"", "[Other]", "k=v"}));
        QCOMPARE(l.size(), 1 + 1 + 1 + 24 + 3); // the password once, the window's keys once each
        // The window is rebuilt from the file as it stands.
        QCOMPARE(Forms::Client()->txtServer->text(), QStringLiteral("server2"));
    }

    // An earlier entry and an open side link meet a save; only a cleared box closes the link.
    void saveSetsOrRemovesAutostartEntry_data()
    {
        QTest::addColumn<int>("connect"); // "Connect to Server"
        QTest::addColumn<bool>("writable");
        QTest::newRow("checked") << 1 << true;
        QTest::newRow("grayed") << 2 << true;
        QTest::newRow("cleared") << 0 << true;
        QTest::newRow("checked, autostart read-only") << 1 << false;
    }
    void saveSetsOrRemovesAutostartEntry()
    {
        QFETCH(int, connect);
        QFETCH(bool, writable);
        const QByteArray head("[Desktop Entry]\nType=Application\nName=ClientStart\nExec=");
        QVERIFY(QDir().mkpath(autostartDir()));
        TestSupport::writeBytes(autostartEntry(), head + "/old\n");
        if (!writable)
            QVERIFY(QFile::setPermissions(autostartDir(), QFile::ReadOwner | QFile::ExeOwner));
        TestSupport::LoopbackServer peer;
        frmClient &f = load();
        f.Winsock->Connect(QStringLiteral("127.0.0.1"), peer.port());
        QTRY_COMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        f.setPanelText(1, QStringLiteral("before"));
        f.chkAutoConnect->setValue(connect);
        f.timControl->start();

        f.cmdSave_Click();
        QVERIFY(!f.timControl->isActive());
        QVERIFY(lines(gClientCfgFile).contains(QStringLiteral("AutoConnect=%1").arg(connect)));
        const QString command = QCoreApplication::applicationDirPath() + u'/'
            + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        if (!writable)
            QCOMPARE(readBytes(autostartEntry()), head + "/old\n");
        else if (connect == 1)
            QCOMPARE(QString::fromUtf8(readBytes(autostartEntry())), QString::fromUtf8(head) + command + u'\n');
        else
            QVERIFY(!QFileInfo::exists(autostartEntry()));
        QCOMPARE(f.Winsock->State(), qint32(connect ? SocketControl::sckConnected : SocketControl::sckClosed));
        QCOMPARE(f.PanelText(1), connect ? QStringLiteral("before") : QStringLiteral("Not connected"));
        if (!connect)
            QTRY_VERIFY(peer.peer() && peer.peer()->state() == QAbstractSocket::UnconnectedState);
    }
};

QTEST_MAIN(tst_ClientConfig)
#include "tst_ClientConfig.moc"
