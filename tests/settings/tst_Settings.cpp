// The settings files, and the client configuration read into the holders and globals and written back.
#include "platform/Registry.h"
#include "settings/ClientConfig.h"
#include "settings/modGlobClientVar.h"
#include "settings/modSettings.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

using namespace modGlobClientVar;
using namespace modSettings;
using TestSupport::readBytes;
using TestSupport::statOf;
using TestSupport::writeBytes;

namespace {

// One of two configurations to save, every key different between them.
ClientConfig configuration(int which)
{
    ClientConfig config;
    for (const ClientConfig::Key &key : ClientConfig::Keys())
        config.setValue(key.key, key.holder == ClientConfig::Holder::Text ? QVariant(QStringLiteral(" %1 \"%2\"").arg(which).arg(key.name))
                                                                           : QVariant(which + (key.holder == ClientConfig::Holder::Resolution)));
    gStartConnectLifeCnt = 3 + which, gStartLifeCnt = 45 + which;
    return config;
}

const QStringList kOtherLines{"; panel 4", "[Client]", "SecurityPassword=\" kept \"", "", "[Other]", "k=v"};

bool setOwner(const QString &path, gid_t group, mode_t mode)
{
    return ::chown(QFile::encodeName(path).constData(), 0, group) == 0 && ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

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

    // Whatever a text field holds reads back exactly after "Save"; a line break, which no line holds, leaves its old value.
    void textFieldsRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        for (const char *text : {" lead", "trail ", "\t a b  ", "\"x\"", " 'y' ", "\"\"z\"\"", "\"", "'", "", "[a]=;b", "Grüße ✓", "a\r\nb"})
            QTest::addRow("[%s]", QByteArray(text).replace("\r\n", "CR LF").constData()) << QString::fromUtf8(text);
    }
    void textFieldsRoundTrip()
    {
        QFETCH(QString, text);
        m_dir->write(QStringLiteral("Client.cfg"), {"[Client]", "SecurityPassword=\" kept \"", "txtServer=\"old\"", "txtPort=old", "txtUserName=old", "txtPassword=old"});
        ClientConfig saved = ClientConfig::Defaults(), read;
        for (const ClientConfig::Key &key : ClientConfig::Keys())
            saved.setValue(key.key, key.holder == ClientConfig::Holder::Text ? QVariant(text) : saved.value(key.key));
        saved.Write();
        read.Read();
        for (const ClientConfig::Key &key : ClientConfig::Keys())
            QCOMPARE(read.value(key.key), text.contains(u'\n') && key.holder == ClientConfig::Holder::Text ? QVariant("old") : saved.value(key.key));
        QVERIFY(readBytes(gClientCfgFile).startsWith("[Client]\r\nSecurityPassword=\" kept \"\r\n"));
    }

    // A member of the group saves into the group's setgid directory. A writer killed at random moments of a few hundred
    // Saves leaves one whole configuration, never a mixture of two, and no temporary file others may read.
    void saveAsGroupMember()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to make an account and a group and to write as that account");
        const QString name = QStringLiteral("vskcfg%1").arg(QRandomGenerator::global()->bounded(100000, 999999));
        const auto removeAccount = qScopeGuard([&] { QProcess::execute("userdel", {name}), QProcess::execute("groupdel", {name}); });
        QVERIFY(QProcess::execute("groupadd", {name}) == 0 && QProcess::execute("useradd", {"-M", "-N", "-g", name, "-s", "/usr/sbin/nologin", name}) == 0);
        const struct passwd member = *::getpwnam(name.toLatin1().constData());
        QByteArray whole[2]; // the file after a Save of either configuration, made here as root
        m_dir->write(QStringLiteral("Client.cfg"), kOtherLines);
        for (int which : {0, 1})
            configuration(which).Write(), whole[which] = readBytes(gClientCfgFile);
        // The test program where the member may run it, and the file it saves into.
        QTemporaryDir top;
        const QString writer = top.filePath("writer"), dir = top.filePath("etc"), file = dir + "/Client.cfg";
        QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0 && QFile::copy(QCoreApplication::applicationFilePath(), writer));
        QVERIFY(QDir().mkdir(dir) && setOwner(dir, member.pw_gid, 02775));
        writeBytes(file, kOtherLines.join("\r\n").toUtf8() + "\r\n");
        QVERIFY(setOwner(file, member.pw_gid, 0660));
        const auto temporaries = [&] { return QDir(dir).entryList(QDir::Files | QDir::Hidden).filter(".tmp-"); };

        int saves = 0, kills = 0, cutOff = 0;
        for (; saves < 300; ++kills) {
            QProcess p;
            p.start("setpriv", {QStringLiteral("--reuid=%1").arg(member.pw_uid), QStringLiteral("--regid=%1").arg(member.pw_gid), "--clear-groups",
                                writer, "--save", file});
            // The moment of the kill: a random point after a random number of Saves (none waits for anything here).
            qsizetype seen = 0;
            for (const int wanted = QRandomGenerator::global()->bounded(1, 10); seen < wanted; seen += p.readAll().count('\n'))
                QVERIFY(p.waitForReadyRead(30000));
            QThread::usleep(QRandomGenerator::global()->bounded(3000));
            ::kill(pid_t(p.processId()), SIGKILL);
            QVERIFY(p.waitForFinished(30000));
            saves += int(seen + p.readAll().count('\n'));
            const QByteArray now = readBytes(file);
            QVERIFY2(now == whole[0] || now == whole[1], qPrintable(QStringLiteral("kill %1: not one whole configuration").arg(kills)));
            for (const QString &left : temporaries()) {
                QCOMPARE(statOf(dir + u'/' + left).st_mode & 07, 0u); // never readable by others
                QVERIFY(QFile::remove(dir + u'/' + left));
                ++cutOff;
            }
        }
        qInfo("%d Saves, %d kills, %d of them cut a write off", saves, kills, cutOff);
        QVERIFY2(cutOff > 0, "no kill hit a write in progress");
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

int main(int argc, char *argv[])
{
    // The writer: Saves configuration 0, 1, 0, ... into the file till it is killed.
    if (argc == 3 && qstrcmp(argv[1], "--save") == 0) {
        gClientCfgFile = QString::fromLocal8Bit(argv[2]);
        for (int i = 0;; ++i) {
            configuration(i % 2).Write();
            fputs("saved\n", stdout), fflush(stdout);
        }
    }
    QCoreApplication app(argc, argv);
    tst_Settings test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Settings.moc"
