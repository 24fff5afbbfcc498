#include "../support/RecordingSessionControl.h"
#include "../support/TestSupport.h"
#include "../support/FileBytes.h"

#include "client/Forms.h"
#include "client/frmClient.h"
#include "platform/Registry.h"
#include "serverlink/SocketControl.h"
#include "shell/frmClientTrayIcon.h"
#include "startup/modGlobClientVar.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

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

// Every check box by key: the fifteen options, "Use Password" and "Connect to Server".
const QStringList kBoxKeys = kClientKeys.mid(6, 16) << QStringLiteral("chkUserPass");

CheckBox *box(frmClient &f, const QString &key)
{
    return key == u"AutoConnect" ? f.chkAutoConnect : f.findChild<CheckBox *>(key);
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

private:
    std::unique_ptr<TestSupport::ProgramDir> dir;
    std::unique_ptr<TestSupport::MsgBoxRecorder> boxes;

    // The program directory redirects the machine's autostart directory into itself.
    static QString autostartDir() { return Registry::AutostartDirectory(Registry::HKEY_LOCAL_MACHINE); }
    static QString autostartEntry() { return autostartDir() + QStringLiteral("/ClientStart.desktop"); }
    static frmClient &load() { return Forms::LoadClient(); }
    void writeCfg(const QStringList &client) const
    {
        dir->write(QStringLiteral("Client.cfg"), QStringList{QStringLiteral("[Client]")} + client);
    }

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
        QDir(autostartDir()).removeRecursively();
    }

    void cleanup()
    {
        delete frmClientTrayIcon::Instance();
        Forms::UnloadClient();
        Forms::UnloadMsRdpClient();
        // Loading and saving never show a message, and close every key they open.
        QCOMPARE(boxes->texts(), QStringList());
        boxes.reset();
        if (QFileInfo::exists(gClientCfgFile))
            QFile::setPermissions(gClientCfgFile, QFile::ReadOwner | QFile::WriteOwner);
        dir.reset();
        QCOMPARE(Registry::OpenHandleCount(), 0);
    }

    void withoutClientCfg()
    {
        frmClient &f = load();
        for (QLineEdit *t : {f.txtServer, f.txtPort, f.txtUserName, f.txtPassword})
            QCOMPARE(t->text(), QStringLiteral("0"));
        QCOMPARE(f.cboResolution->currentText(), QStringLiteral("Full-Screen"));
        QCOMPARE(gStartConnectLifeCnt, 3);
        QCOMPARE(gStartLifeCnt, 45);
        // Boxes that were checked are cleared by the missing keys.
        for (const QString &k : kBoxKeys)
            box(f, k)->setValue(1);
        f.cboResolution->setCurrentIndex(4);
        f.ReadConfigurationFromFile();
        for (const QString &k : kBoxKeys)
            QVERIFY2(box(f, k)->Value() == 0, qPrintable(k));
        QCOMPARE(f.cboResolution->currentIndex(), 0);
        QVERIFY(!QFileInfo::exists(gClientCfgFile));
    }

    // A box starts checked; what the file says under its key decides whether it changes.
    void checkBoxValues_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("2") << "2" << 2;
        QTest::newRow("5") << "5" << 1;
        QTest::newRow("-1") << "-1" << 1;
        QTest::newRow("word") << "yes" << 1;
        QTest::newRow("empty") << "" << 1;
        QTest::newRow("huge") << "99999999" << 1;
        QTest::newRow("fraction rounds") << "0.4" << 0;
    }
    void checkBoxValues()
    {
        QFETCH(QString, stored);
        QFETCH(int, expected);
        const QStringList keys{QStringLiteral("chkRedirectDrives"), QStringLiteral("chkUserPass"), QStringLiteral("AutoConnect")};
        frmClient &f = load();
        QStringList content;
        for (const QString &k : keys) {
            box(f, k)->setValue(1);
            content << k + u'=' + stored;
        }
        writeCfg(content);
        f.ReadConfigurationFromFile();
        for (const QString &k : keys)
            QVERIFY2(box(f, k)->Value() == expected, qPrintable(k));
    }

    void resolutionValues_data()
    {
        QTest::addColumn<QString>("stored"); // null: no key
        QTest::addColumn<int>("expected");
        QTest::newRow("3") << "3" << 3;
        QTest::newRow("6, the last") << "6" << 6;
        QTest::newRow("7 is outside") << "7" << 2;
        QTest::newRow("-1 clears") << "-1" << -1;
        QTest::newRow("-2 is outside") << "-2" << 2;
        QTest::newRow("word") << "big" << 2;
        QTest::newRow("missing is 0") << QString() << 0;
    }
    void resolutionValues()
    {
        QFETCH(QString, stored);
        QFETCH(int, expected);
        frmClient &f = load();
        f.cboResolution->setCurrentIndex(2);
        writeCfg(stored.isNull() ? QStringList() : QStringList{QStringLiteral("cboResolution=") + stored});
        f.ReadConfigurationFromFile();
        QCOMPARE(f.cboResolution->currentIndex(), expected);
    }

    void countValues_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expected"); // 45: both counts keep their start values
        QTest::newRow("60") << "60" << 60;
        QTest::newRow("0 keeps") << "0" << 45;
        QTest::newRow("-5 keeps") << "-5" << 45;
        QTest::newRow("word keeps") << "often" << 45;
        QTest::newRow("empty keeps") << "" << 45;
        QTest::newRow("fraction ties to even") << "60.5" << 60;
        QTest::newRow("fraction rounds") << "61.6" << 62;
        QTest::newRow("too large keeps") << "3000000000" << 45;
    }
    void countValues()
    {
        QFETCH(QString, stored);
        QFETCH(int, expected);
        writeCfg({QStringLiteral("StartLifeCnt=") + stored, QStringLiteral("StartConnectLifeCnt=") + stored});
        load();
        QCOMPARE(gStartLifeCnt, expected);
        QCOMPARE(gStartConnectLifeCnt, expected == 45 ? 3 : expected);
    }

    void userCfg_data()
    {
        QTest::addColumn<QStringList>("content"); // empty: no User.cfg
        QTest::addColumn<QString>("process");
        QTest::addColumn<int>("maxTry");
        QTest::addColumn<int>("tryCnt");
        const QString s = QStringLiteral("[UserConfig]");
        QTest::newRow("no User.cfg") << QStringList() << "" << 50 << 3;
        QTest::newRow("empty section") << QStringList{s} << "" << 50 << 3;
        QTest::newRow("process name taken") << QStringList{s, QStringLiteral("UserProcessName=/usr/local/bin/recover")}
                                            << "/usr/local/bin/recover" << 50 << 3;
        QTest::newRow("process 0 ignored") << QStringList{s, QStringLiteral("UserProcessName=0")} << "" << 50 << 3;
        QTest::newRow("process -1 ignored") << QStringList{s, QStringLiteral("UserProcessName=-1")} << "" << 50 << 3;
        QTest::newRow("process 7 taken") << QStringList{s, QStringLiteral("UserProcessName=7")} << "7" << 50 << 3;
        QTest::newRow("try 80 lowered to 50") << QStringList{s, QStringLiteral("TryConnectActionCnt=80")} << "" << 50 << 50;
        QTest::newRow("max 2 alone leaves try") << QStringList{s, QStringLiteral("MaxTryConnectActionCnt=2")} << "" << 2 << 3;
        QTest::newRow("both") << QStringList{s, QStringLiteral("MaxTryConnectActionCnt=10"), QStringLiteral("TryConnectActionCnt=7")}
                              << "" << 10 << 7;
        QTest::newRow("max word keeps 50") << QStringList{s, QStringLiteral("MaxTryConnectActionCnt=many")} << "" << 50 << 3;
        QTest::newRow("try word still lowered")
            << QStringList{s, QStringLiteral("MaxTryConnectActionCnt=2"), QStringLiteral("TryConnectActionCnt=x")} << "" << 2 << 2;
        QTest::newRow("empty try leaves both")
            << QStringList{s, QStringLiteral("MaxTryConnectActionCnt=2"), QStringLiteral("TryConnectActionCnt=")} << "" << 2 << 3;
    }
    void userCfg()
    {
        QFETCH(QStringList, content);
        QFETCH(QString, process);
        QFETCH(int, maxTry);
        QFETCH(int, tryCnt);
        if (!content.isEmpty())
            dir->write(QStringLiteral("User.cfg"), content);
        load();
        QCOMPARE(gUserProcessName, process);
        QCOMPARE(gMaxTryConnectActionCnt, maxTry);
        QCOMPARE(gTryConnectActionCnt, tryCnt);
        // The program never writes User.cfg.
        QCOMPARE(QFileInfo::exists(gUserCfgFile), !content.isEmpty());
    }

    void setDefaultThenSaveWritesTheTable()
    {
        frmClientTrayIcon::Load();
        QPointer<frmClient> f = Forms::Client();
        QVERIFY(f);
        for (const QString &k : kBoxKeys)
            if (k != u"AutoConnect")
                box(*f, k)->setValue(1);
        f->cmdSetDefault->click();
        QVERIFY(!QFileInfo::exists(gClientCfgFile)); // Set Default alone writes nothing
        f->cmdSave->click();
        QStringList expected{QStringLiteral("[Client]"), QStringLiteral("txtServer=SERVERNAME"),
                             QStringLiteral("txtPort=12559"), QStringLiteral("txtUserName=Username"),
                             QStringLiteral("txtPassword=Password"), QStringLiteral("chkUserPass=1"),
                             QStringLiteral("cboResolution=0")};
        for (const QString &k : kClientKeys.mid(6, 16))
            expected << k + QStringLiteral("=0");
        expected << QStringLiteral("StartConnectLifeCnt=3") << QStringLiteral("StartLifeCnt=45");
        QCOMPARE(lines(gClientCfgFile), expected);
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(gClientCfgFile).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u); // it holds the password

        // The window is rebuilt from the file just written.
        QTRY_VERIFY(f.isNull());
        frmClient *g = Forms::Client();
        QVERIFY(g);
        QCOMPARE(g->txtServer->text(), QStringLiteral("SERVERNAME"));
        QCOMPARE(g->chkUserPass->Value(), 1);
        QCOMPARE(g->chkRedirectDrives->Value(), 0);
        QVERIFY(!QFileInfo::exists(autostartEntry()));
    }

    void saveAndLoadRoundTrip()
    {
        frmClient *f = &load();
        f->txtServer->setText(QStringLiteral("10.1.2.3"));
        f->txtPort->setText(QStringLiteral("4000"));
        f->txtUserName->setText(QStringLiteral("Müller"));
        f->txtPassword->setText(QStringLiteral("s3cr=t;x"));
        f->chkUserPass->setValue(2);
        f->cboResolution->setCurrentIndex(5);
        f->chkDISABLE_THEMING->setValue(1);
        f->chkRedirectSmartCards->setValue(2);
        gStartConnectLifeCnt = 7;
        gStartLifeCnt = 90;
        f->WriteConfigurationToFile();

        gStartConnectLifeCnt = 3;
        gStartLifeCnt = 45;
        Forms::UnloadClient();
        f = &load();
        QCOMPARE(f->txtServer->text(), QStringLiteral("10.1.2.3"));
        QCOMPARE(f->txtPort->text(), QStringLiteral("4000"));
        QCOMPARE(f->txtUserName->text(), QStringLiteral("Müller"));
        QCOMPARE(f->txtPassword->text(), QStringLiteral("s3cr=t;x"));
        QCOMPARE(f->chkUserPass->Value(), 2);
        QCOMPARE(f->cboResolution->currentIndex(), 5);
        QCOMPARE(f->chkDISABLE_THEMING->Value(), 1);
        QCOMPARE(f->chkRedirectSmartCards->Value(), 2);
        QCOMPARE(f->chkDISABLE_WALLPAPER->Value(), 0);
        QCOMPARE(gStartConnectLifeCnt, 7);
        QCOMPARE(gStartLifeCnt, 90);
    }

    void saveKeepsOtherKeys()
    {
        dir->write(QStringLiteral("Client.cfg"), {QStringLiteral("; panel 4"), QStringLiteral("[Client]"),
                                                 QStringLiteral("SecurityPassword=Zq9#x"), QStringLiteral("txtServer=a"),
                                                 QString(), QStringLiteral("[Other]"), QStringLiteral("k=v")});
        frmClientTrayIcon::Load();
        for (int round = 0; round < 3; ++round) {
            QPointer<frmClient> f = Forms::Client();
            QVERIFY(f);
            f->txtServer->setText(QStringLiteral("server%1").arg(round));
            f->cmdSave->click();
            QTRY_VERIFY(f.isNull());
        }
        const QStringList l = lines(gClientCfgFile);
        QCOMPARE(l.mid(0, 4), (QStringList{QStringLiteral("; panel 4"), QStringLiteral("[Client]"),
                                           QStringLiteral("SecurityPassword=Zq9#x"), QStringLiteral("txtServer=server2")}));
        QCOMPARE(l.count(QStringLiteral("SecurityPassword=Zq9#x")), 1);
        QCOMPARE(l.mid(l.size() - 3), (QStringList{QString(), QStringLiteral("[Other]"), QStringLiteral("k=v")}));
        QCOMPARE(l.size(), 1 + 1 + 1 + 24 + 3);
    }

    void readOnlyClientCfgIsNotChanged()
    {
        writeCfg({QStringLiteral("txtServer=old")});
        QVERIFY(QFile::setPermissions(gClientCfgFile, QFile::ReadOwner));
        const QByteArray before = readBytes(gClientCfgFile);
        frmClientTrayIcon::Load();
        QPointer<frmClient> f = Forms::Client();
        f->txtServer->setText(QStringLiteral("new"));
        f->cmdSave_Click();
        QTRY_VERIFY(f.isNull());
        QCOMPARE(readBytes(gClientCfgFile), before);
        QCOMPARE(Forms::Client()->txtServer->text(), QStringLiteral("old"));
    }

    void saveSetsAndRemovesAutostartEntry()
    {
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        frmClientTrayIcon::Load();
        QPointer<frmClient> f = Forms::Client();
        f->txtServer->setText(QStringLiteral("127.0.0.1"));
        f->txtPort->setText(QString::number(peer.serverPort()));
        f->chkAutoConnect->setValue(1);
        f->timControl->start();
        f->cmdSave->click();
        QVERIFY(!f->timControl->isActive());
        const QString command = QCoreApplication::applicationDirPath() + u'/'
            + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QCOMPARE(QString::fromUtf8(readBytes(autostartEntry())),
                 QStringLiteral("[Desktop Entry]\nType=Application\nName=ClientStart\nExec=") + command + u'\n');
        QTRY_VERIFY(f.isNull());

        // The rebuilt window starts in operator mode and opens the side link to the peer.
        f = Forms::Client();
        QVERIFY(f);
        QCOMPARE(f->chkAutoConnect->Value(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingConnections(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(f->Winsock->State(), qint32(SocketControl::sckConnected), 10000);
        QTcpSocket *serverSide = peer.nextPendingConnection();
        QVERIFY(serverSide);

        // Cleared: the entry goes, the open side link is closed at once.
        f->chkAutoConnect->setValue(0);
        f->cmdSave_Click();
        QVERIFY(!QFileInfo::exists(autostartEntry()));
        QCOMPARE(f->Winsock->State(), qint32(SocketControl::sckClosed));
        QCOMPARE(f->PanelText(1), QStringLiteral("Not connected"));
        QVERIFY(!f->timControl->isActive());
        QTRY_COMPARE(serverSide->state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(f.isNull());
        QCOMPARE(Forms::Client()->chkAutoConnect->Value(), 0);
        // Saving again finds nothing to remove, and says nothing.
        Forms::Client()->cmdSave_Click();
        QVERIFY(!QFileInfo::exists(autostartEntry()));
    }

    void grayedAutoConnectRemovesEntryButKeepsLink()
    {
        QVERIFY(QDir().mkpath(autostartDir()));
        QFile old(autostartEntry());
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[Desktop Entry]\nType=Application\nName=ClientStart\nExec=/old\n");
        old.close();
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost));
        frmClient &f = load();
        QSignalSpy connected(f.Winsock, &SocketControl::Connected);
        f.Winsock->Connect(QStringLiteral("127.0.0.1"), peer.serverPort());
        QVERIFY(connected.wait(5000));
        f.setPanelText(1, QStringLiteral("before"));
        f.chkAutoConnect->setValue(2);
        f.cmdSave_Click();
        QVERIFY(!QFileInfo::exists(autostartEntry()));
        // Only a cleared box closes the link.
        QCOMPARE(f.Winsock->State(), qint32(SocketControl::sckConnected));
        QCOMPARE(f.PanelText(1), QStringLiteral("before"));
    }

    void autostartWithoutWriteAccessChangesNothing()
    {
        QVERIFY(QDir().mkpath(autostartDir()));
        QVERIFY(QFile::setPermissions(autostartDir(), QFile::ReadOwner | QFile::ExeOwner));
        frmClient &f = load();
        f.chkAutoConnect->setValue(1);
        f.cmdSave_Click();
        QVERIFY(QDir(autostartDir()).isEmpty());
        // The configuration is saved all the same.
        QVERIFY(lines(gClientCfgFile).contains(QStringLiteral("AutoConnect=1")));
        QFile::setPermissions(autostartDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

QTEST_MAIN(tst_ClientConfig)
#include "tst_ClientConfig.moc"
