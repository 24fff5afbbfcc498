// The client configuration: Client.cfg and User.cfg read into the window's holders and the
// globals, written back, and the autostart entry.
#include "platform/Registry.h"
#include "settings/ClientConfig.h"
#include "settings/modGlobClientVar.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

using namespace modGlobClientVar;
using TestSupport::readBytes;

namespace {

// The lines of a file, without their CR LF.
QStringList lines(const QString &path)
{
    QStringList out = QString::fromUtf8(readBytes(path)).split(QStringLiteral("\r\n"));
    if (!out.isEmpty() && out.back().isEmpty())
        out.removeLast();
    return out;
}

QStringList keysOf(ClientConfig::Holder holder)
{
    QStringList keys;
    for (const ClientConfig::Key &key : ClientConfig::Keys())
        if (key.holder == holder)
            keys << key.name;
    return keys;
}

} // namespace

class tst_ClientConfig : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;

    static QString entryPath()
    {
        return Registry::AutostartDirectory(Registry::HKEY_LOCAL_MACHINE) + QStringLiteral("/ClientStart.desktop");
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        gStartConnectLifeCnt = 3;
        gStartLifeCnt = 45;
        gUserProcessName.clear();
        gTryConnectActionCnt = 3;
        gMaxTryConnectActionCnt = 50;
    }

    void cleanup()
    {
        QFile::setPermissions(QFileInfo(entryPath()).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_dir.reset();
        QCOMPARE(Registry::OpenHandleCount(), 0);
    }

    // One text under every check box, the resolution and both counts: a holder takes it only
    // when it converts to a value the holder may take.
    void storedValues_data()
    {
        QTest::addColumn<QString>("stored"); // null: no Client.cfg
        QTest::addColumn<int>("box");        // -1: no value
        QTest::addColumn<int>("resolution"); // -2: no value
        QTest::addColumn<int>("count");      // 0: both counts keep 45 and 3
        QTest::newRow("no Client.cfg, all read as 0") << QString() << 0 << 0 << 0;
        QTest::newRow("0") << "0" << 0 << 0 << 0;
        QTest::newRow("2") << "2" << 2 << 2 << 2;
        QTest::newRow("6, the last resolution") << "6" << -1 << 6 << 6;
        QTest::newRow("7") << "7" << -1 << -2 << 7;
        QTest::newRow("-1 clears the resolution") << "-1" << -1 << -1 << 0;
        QTest::newRow("-2") << "-2" << -1 << -2 << 0;
        QTest::newRow("word") << "yes" << -1 << -2 << 0;
        QTest::newRow("empty") << "" << -1 << -2 << 0;
        QTest::newRow("beyond 32 bits") << "3000000000" << -1 << -2 << 0;
        QTest::newRow("fraction rounds") << "1.6" << 2 << 2 << 2;
        QTest::newRow("fraction ties to even") << "2.5" << 2 << 2 << 2;
    }
    void storedValues()
    {
        QFETCH(QString, stored);
        QFETCH(int, box);
        QFETCH(int, resolution);
        QFETCH(int, count);
        if (!stored.isNull()) {
            QStringList content{"[Client]", "txtPort=" + stored};
            for (const QString &k : keysOf(ClientConfig::Holder::CheckBox) + keysOf(ClientConfig::Holder::Count))
                content << k + u'=' + stored;
            m_dir->write(QStringLiteral("Client.cfg"), content << "cboResolution=" + stored);
        }
        ClientConfig config;
        config.Read();
        for (const QString &k : keysOf(ClientConfig::Holder::CheckBox))
            QVERIFY2(config.value(k) == (box < 0 ? QVariant() : QVariant(box)), qPrintable(k));
        QCOMPARE(config.value(QStringLiteral("cboResolution")), resolution < -1 ? QVariant() : QVariant(resolution));
        // Text is taken as it stands; a missing key reads as 0.
        QCOMPARE(config.value(QStringLiteral("txtPort")), QVariant(stored.isNull() ? QStringLiteral("0") : stored));
        QCOMPARE(config.value(QStringLiteral("txtServer")), QVariant(QStringLiteral("0")));
        QCOMPARE(gStartLifeCnt, count ? count : 45);
        QCOMPARE(gStartConnectLifeCnt, count ? count : 3);
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
        if (!content.isNull())
            m_dir->write(QStringLiteral("User.cfg"), QStringList{"[UserConfig]"} + content.split(u' '));
        ClientConfig().Read();
        QTEST(gUserProcessName, "process");
        QTEST(gMaxTryConnectActionCnt, "maxTry");
        QTEST(gTryConnectActionCnt, "tryCnt");
        QCOMPARE(QFileInfo::exists(gUserCfgFile), !content.isNull()); // never written
    }

    // The defaults as "Save" writes them: the 24 keys in their order, once each, after what
    // the file held; the other keys and sections stay as they were.
    void writeKeepsOtherKeys()
    {
        m_dir->write(QStringLiteral("Client.cfg"),
                     {"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "AutoConnect=1", "", "[Other]", "k=v"});
        ClientConfig::Defaults().Write();
        ClientConfig::Defaults().Write();
        QStringList expected{"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "AutoConnect=0", "txtServer=SERVERNAME",
                             "txtPort=12559", "txtUserName=Username", "txtPassword=Password", "chkUserPass=1",
                             "cboResolution=0"};
        for (const QString &k : keysOf(ClientConfig::Holder::CheckBox).mid(1, 15))
            expected << k + QStringLiteral("=0");
        expected << "StartConnectLifeCnt=3" << "StartLifeCnt=45" << "" << "[Other]" << "k=v";
        QCOMPARE(lines(gClientCfgFile), expected);
    }

    void roundTrip()
    {
        ClientConfig saved;
        const QStringList texts{"10.1.2.3", "4000", QStringLiteral("Müller"), "s3cr=t;x"};
        for (int i = 0; i < 4; ++i)
            saved.setValue(keysOf(ClientConfig::Holder::Text).at(i), texts.at(i));
        const QStringList boxes = keysOf(ClientConfig::Holder::CheckBox);
        for (qsizetype i = 0; i < boxes.size(); ++i)
            saved.setValue(boxes.at(i), int(i % 3));
        saved.setValue(QStringLiteral("cboResolution"), 5);
        gStartConnectLifeCnt = 7;
        gStartLifeCnt = 90;
        saved.Write();
        gStartConnectLifeCnt = 3;
        gStartLifeCnt = 45;
        ClientConfig read;
        read.Read();
        for (const ClientConfig::Key &key : ClientConfig::Keys())
            QVERIFY2(read.value(key.name) == saved.value(key.name), qPrintable(key.name));
        QCOMPARE(gStartConnectLifeCnt, 7);
        QCOMPARE(gStartLifeCnt, 90);
        // A file that cannot be written stays as it was.
        QVERIFY(QFile::setPermissions(gClientCfgFile, QFile::ReadOwner));
        const QByteArray before = readBytes(gClientCfgFile);
        ClientConfig::Defaults().Write();
        QCOMPARE(readBytes(gClientCfgFile), before);
    }

    void autostartEntry_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("writable");
        QTest::newRow("set") << true << true;
        QTest::newRow("removed") << false << true;
        QTest::newRow("set, autostart read-only") << true << false;
    }
    void autostartEntry()
    {
        QFETCH(bool, on);
        QFETCH(bool, writable);
        const QByteArray head("[Desktop Entry]\nType=Application\nName=ClientStart\nExec=");
        QVERIFY(QDir().mkpath(QFileInfo(entryPath()).path()));
        TestSupport::writeBytes(entryPath(), head + "/old\n");
        if (!writable)
            QVERIFY(QFile::setPermissions(QFileInfo(entryPath()).path(), QFile::ReadOwner | QFile::ExeOwner));
        ClientConfig::WriteAutostart(on);
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
        if (!writable)
            QCOMPARE(readBytes(entryPath()), head + "/old\n");
        else if (on)
            QCOMPARE(readBytes(entryPath()), head + program + '\n');
        else
            QVERIFY(!QFileInfo::exists(entryPath()));
    }
};

QTEST_GUILESS_MAIN(tst_ClientConfig)
#include "tst_ClientConfig.moc"
