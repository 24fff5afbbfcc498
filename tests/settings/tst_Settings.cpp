// The settings files, and the client configuration read into the holders and globals and written back.
#include "platform/Registry.h"
#include "settings/ClientConfig.h"
#include "settings/modGlobClientVar.h"
#include "settings/modSettings.h"
#include "TestSupport.h"

#include <QFileInfo>

using namespace modGlobClientVar;
using namespace modSettings;
using TestSupport::readBytes;
using TestSupport::writeBytes;

class tst_Settings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    QString file(const QString &name = QStringLiteral("Client.cfg")) const { return m_dir->file(name); }

private slots:
    void init()
    {
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        gStartConnectLifeCnt = gTryConnectActionCnt = 3, gStartLifeCnt = 45, gMaxTryConnectActionCnt = 50;
        gUserProcessName.clear();
    }
    void cleanup() { m_dir.reset(); }

    // 1: an INI file, 0: none where one must exist; a hidden file is none.
    void rootHandle()
    {
        writeBytes(file(QStringLiteral("plain.ini")), "[A]\r\n");
        writeBytes(file(QStringLiteral(".hidden.ini")), "[A]\r\n");
        QCOMPARE(GetRootHandle(QStringLiteral("hklm"), true), quint32(Registry::HKEY_LOCAL_MACHINE));
        QVERIFY(GetRootHandle(file(QStringLiteral("missing.ini")), false) == 1 && GetRootHandle(file(QStringLiteral("plain.ini")), true) == 1);
        QCOMPARE(GetRootHandle(file(QStringLiteral(".hidden.ini")), true), 0u);
    }

    // One text under every check box, the resolution and both counts: a holder takes only what it may hold.
    void storedValues_data()
    {
        QTest::addColumn<QString>("stored"); // null: no Client.cfg
        QTest::addColumn<int>("box");        // -1: no value
        QTest::addColumn<int>("resolution"); // -2: no value
        QTest::addColumn<int>("count");      // 0: both counts keep 45 and 3
        QTest::newRow("no Client.cfg, all read as 0") << QString() << 0 << 0 << 0;
        QTest::newRow("2") << "2" << 2 << 2 << 2;
        QTest::newRow("6, the last resolution") << "6" << -1 << 6 << 6;
        QTest::newRow("7") << "7" << -1 << -2 << 7;
        QTest::newRow("-1 clears the resolution") << "-1" << -1 << -1 << 0;
        QTest::newRow("fraction ties to even") << "2.5" << 2 << 2 << 2;
    }
    void storedValues()
    {
        QFETCH(QString, stored);
        QFETCH(int, box);
        QFETCH(int, resolution);
        QFETCH(int, count);
        QStringList content{"[Client]", "txtPort=" + stored};
        for (const ClientConfig::Key &key : ClientConfig::Keys())
            if (key.holder != ClientConfig::Holder::Text)
                content << key.name + u'=' + stored;
        if (!stored.isNull())
            m_dir->write(QStringLiteral("Client.cfg"), content);
        ClientConfig config;
        config.Read();
        for (const ClientConfig::Key &k : ClientConfig::Keys())
            QVERIFY2(k.holder != ClientConfig::Holder::CheckBox || config.value(k.key) == (box < 0 ? QVariant() : QVariant(box)), qPrintable(k.name));
        QCOMPARE(config.value(ClientKey::cboResolution), resolution < -1 ? QVariant() : QVariant(resolution));
        QCOMPARE(config.value(ClientKey::txtPort).toString(), stored.isNull() ? QStringLiteral("0") : stored);
        QCOMPARE(gStartLifeCnt, count ? count : 45);
        QCOMPARE(gStartConnectLifeCnt, count ? count : 3);
    }

    void userCfg_data()
    {
        QTest::addColumn<QString>("content"); // lines of [UserConfig], blank-separated
        QTest::addColumn<QString>("loaded");  // process, maximum and count
        QTest::newRow("process name taken") << "UserProcessName=/opt/recover" << "/opt/recover|50|3";
        QTest::newRow("process 0 ignored") << "UserProcessName=0" << "|50|3";
        QTest::newRow("try 80 lowered to 50") << "TryConnectActionCnt=80" << "|50|50";
        QTest::newRow("max 2 alone leaves try") << "MaxTryConnectActionCnt=2" << "|2|3";
        QTest::newRow("try word still lowered") << "MaxTryConnectActionCnt=2 TryConnectActionCnt=x" << "|2|2";
    }
    void userCfg()
    {
        QFETCH(QString, content);
        m_dir->write(QStringLiteral("User.cfg"), QStringList{"[UserConfig]"} + content.split(u' '));
        ClientConfig().Read();
        QTEST(QStringLiteral("%1|%2|%3").arg(gUserProcessName).arg(gMaxTryConnectActionCnt).arg(gTryConnectActionCnt), "loaded");
    }

    // "Save" of "Set Default": the keys by their names in the file, in their order, once each; the other keys and sections stay.
    void saveKeepsTheRest()
    {
        m_dir->write(QStringLiteral("Client.cfg"), {"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "AutoConnect=1", "", "[Other]", "k=v"});
        ClientConfig::Defaults().Write();
        ClientConfig::Defaults().Write();
        QCOMPARE(QString::fromUtf8(readBytes(gClientCfgFile)).split(QStringLiteral("\r\n")),
                 (QStringList{"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "AutoConnect=0", "txtServer=SERVERNAME", "txtPort=12559",
                              "txtUserName=Username", "txtPassword=Password", "chkUserPass=1", "cboResolution=0", "chkDISABLE_WALLPAPER=0",
                              "chkDISABLE_FULLWINDOWDRAG=0", "chkDISABLE_MENUANIMATIONS=0", "chkDISABLE_THEMING=0", "chkENABLE_ENHANCED_GRAPHICS=0",
                              "chkDISABLE_CURSOR_SHADOW=0", "chkDISABLE_CURSORSETTINGS=0", "chkRedirectDrives=0", "chkRedirectPorts=0",
                              "chkRedirectPrinters=0", "chkRedirectSmartCards=0", "chkBitmap=0", "chkCompress=0", "chkDisplayConnectionBar=0",
                              "chkEnableAutoReconnect=0", "StartConnectLifeCnt=3", "StartLifeCnt=45", "", "[Other]", "k=v", ""}));
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_Settings.moc"
