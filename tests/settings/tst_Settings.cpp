// The settings accessor (INI files and the registry store behind one pair of calls), the
// client configuration read into the window's holders and the globals and written back, the
// autostart entry, and the user profiles.
#include "platform/ErrorNumbers.h"
#include "platform/Registry.h"
#include "settings/ClientConfig.h"
#include "settings/clsUsersConfig.h"
#include "settings/modGlobClientVar.h"
#include "settings/modSettings.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

using namespace modGlobClientVar;
using namespace modSettings;
using TestSupport::readBytes;
using TestSupport::writeBytes;

namespace {

const QString Sub = QStringLiteral("Software\\Torvane\\Veskora"), Client = QStringLiteral("Client"), K = QStringLiteral("k");

// The raw value as the store holds it, and its type; type 0xFFFF when there is none.
QByteArray rawValue(const QString &name, Registry::DWORD &type)
{
    Registry::HKEY key = 0;
    QByteArray data(64, '\0');
    Registry::DWORD size = 64;
    type = 0xFFFF;
    if (Registry::RegOpenKeyEx(Registry::HKEY_CURRENT_USER, Sub, 0, Registry::KEY_QUERY_VALUE, &key) == 0
        && Registry::RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<quint8 *>(data.data()), &size) != 0)
        type = 0xFFFF;
    Registry::RegCloseKey(key);
    return type == 0xFFFF ? QByteArray() : data.left(qsizetype(size));
}

// The lines of a file, without their CR LF.
QStringList lines(const QString &path)
{
    QStringList out = QString::fromUtf8(readBytes(path)).split(QStringLiteral("\r\n"));
    out.removeAll(QString());
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

class tst_Settings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestSupport::ProgramDir> m_dir;
    QString file(const QString &name = QStringLiteral("Client.cfg")) const { return m_dir->file(name); }
    static QString entryPath() { return Registry::AutostartDirectory(Registry::HKEY_LOCAL_MACHINE) + QStringLiteral("/ClientStart.desktop"); }

private slots:
    void init()
    {
        m_dir = std::make_unique<TestSupport::ProgramDir>();
        gStartConnectLifeCnt = gTryConnectActionCnt = 3;
        gStartLifeCnt = 45;
        gMaxTryConnectActionCnt = 50;
        gUserProcessName.clear();
    }
    void cleanup()
    {
        QCOMPARE(Registry::OpenHandleCount(), 0); // every path closes what it opened
        QFile::setPermissions(QFileInfo(entryPath()).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_dir.reset();
    }

    void rootHandle_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("mustExist");
        QTest::addColumn<quint32>("handle");
        QTest::newRow("HKCU") << "HKCU" << true << 0x80000001u;
        QTest::newRow("hklm lower case") << "hklm" << true << 0x80000002u;
        QTest::newRow("HKPD is a missing file") << "HKPD" << true << 0u;
        QTest::newRow("HKPD may be a new file") << "HKPD" << false << 1u;
        QTest::newRow("missing file, must exist") << "@missing.ini" << true << 0u;
        QTest::newRow("missing file, may be new") << "@missing.ini" << false << 1u;
        QTest::newRow("existing file") << "@plain.ini" << true << 1u;
        QTest::newRow("hidden file") << "@.hidden.ini" << true << 0u;
        QTest::newRow("directory") << "@dir.ini" << true << 0u;
    }
    void rootHandle()
    {
        QFETCH(QString, root);
        QFETCH(bool, mustExist);
        writeBytes(file(QStringLiteral("plain.ini")), "[A]\r\n");
        writeBytes(file(QStringLiteral(".hidden.ini")), "[A]\r\n");
        QDir(m_dir->path()).mkdir(QStringLiteral("dir.ini"));
        QTEST(GetRootHandle(root.startsWith(u'@') ? file(root.mid(1)) : root, mustExist), "handle");
    }

    void iniRead_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("def");
        QTest::addColumn<qint32>("status");
        QTest::addColumn<QVariant>("expected");
        const QVariant zero(0);
        const QByteArray head = "[Client]\r\n";
        QTest::newRow("S value") << head + "k=host\r\n" << "s" << zero << 0 << QVariant(QStringLiteral("host"));
        QTest::newRow("S missing key gives default text") << head << "S" << zero << 0 << QVariant(QStringLiteral("0"));
        QTest::newRow("S empty value is no default") << head + "k=\r\n" << "S" << zero << 0 << QVariant(QString());
        QTest::newRow("S 300 characters") << head + "k=" + QByteArray(300, 'z') + "\r\n" << "S" << zero << 0 << QVariant(QString(254, u'z'));
        QTest::newRow("D leading number") << head + "k=12abc\r\n" << "D" << QVariant(5) << 0 << QVariant(qint32(12));
        QTest::newRow("D missing is 0, not the default") << head << "D" << QVariant(5) << 0 << QVariant(qint32(0));
        QTest::newRow("B as integer") << head + "k=-1\r\n" << "B" << QVariant(false) << 0 << QVariant(qint32(-1));
        QTest::newRow("no file: default unchanged in kind") << QByteArray() << "S" << zero << 99 << zero;
        QTest::newRow("hidden file: as if missing") << head + "k=v\r\n" << "S" << zero << 99 << zero;
    }
    void iniRead()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, type);
        QFETCH(QVariant, def);
        QFETCH(QVariant, expected);
        const QString path = file(QTest::currentDataTag()[0] == 'h' ? QStringLiteral(".Client.cfg") : QStringLiteral("Client.cfg"));
        if (!content.isEmpty())
            writeBytes(path, content);
        QVariant value = QStringLiteral("garbage");
        QTEST(ReadSetting(path, Client, K, type, def, value), "status");
        QCOMPARE(value.typeId(), expected.typeId());
        QCOMPARE(value, expected);
    }

    // Only text goes to a file, the key is never deleted; a write that fails reports success
    // and changes nothing.
    void iniWrite()
    {
        for (const auto &[key, value] : {std::pair{"txtServer", QVariant(QStringLiteral("host"))}, {"chkUserPass", QVariant(qint16(1))},
                                         {"txtPassword", QVariant(QString())}, {"Null", QVariant()}})
            QCOMPARE(WriteSetting(file(), Client, QLatin1String(key), QStringLiteral("s"), value), 0);
        QCOMPARE(readBytes(file()), QByteArray("[Client]\r\ntxtServer=host\r\nchkUserPass=1\r\ntxtPassword=\r\nNull=\r\n"));
        for (const QString &type : {QStringLiteral("B"), QStringLiteral("Q")}) {
            QCOMPARE(WriteSetting(file(QStringLiteral("new.cfg")), Client, K, type, QVariant(1)), 99);
            QCOMPARE(WriteSetting(file(), Client, QStringLiteral("txtServer"), type, QVariant(1)), 99);
        }
        QVERIFY(!QFileInfo::exists(file(QStringLiteral("new.cfg"))) && readBytes(file()).contains("txtServer=host\r\n"));
        QVERIFY(QFile::setPermissions(file(), QFile::ReadOwner));
        QCOMPARE(WriteSetting(file(), Client, K, QStringLiteral("S"), QStringLiteral("6")), 0);
        QCOMPARE(WriteSetting(file(QStringLiteral("no/dir.cfg")), Client, K, QStringLiteral("S"), QStringLiteral("6")), 0);
        QVERIFY(!readBytes(file()).contains("k=6") && !QFileInfo::exists(file(QStringLiteral("no"))));
    }

    void registryWriteAndRead_data()
    {
        QTest::addColumn<QString>("letter");
        QTest::addColumn<QVariant>("written");
        QTest::addColumn<qint32>("status");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QVariant>("readBack");
        const qint32 invalid = qint32(Registry::ERROR_INVALID_DATA);
        const quint32 none = 0xFFFF, binary = Registry::REG_BINARY, dword = Registry::REG_DWORD;
        QTest::newRow("B True") << "B" << QVariant(true) << 0 << binary << QByteArray("\xFF\xFF", 2) << QVariant(true);
        QTest::newRow("B False text") << "b" << QVariant(QStringLiteral("False")) << 0 << binary << QByteArray("\0\0", 2) << QVariant(false);
        QTest::newRow("D -1") << "D" << QVariant(-1) << 0 << dword << QByteArray("\xFF\xFF\xFF\xFF", 4) << QVariant(-1);
        QTest::newRow("D -32768 widened with sign") << "D" << QVariant(-32768) << 0 << dword << QByteArray("\0\x80\xFF\xFF", 4) << QVariant(-32768);
        QTest::newRow("D text 12") << "D" << QVariant(QStringLiteral("12")) << 0 << dword << QByteArray("\x0C\0\0\0", 4) << QVariant(12);
        QTest::newRow("D 32768 stores nothing") << "D" << QVariant(32768) << invalid << none << QByteArray() << QVariant();
        QTest::newRow("D word stores nothing") << "D" << QVariant(QStringLiteral("many")) << invalid << none << QByteArray() << QVariant();
        QTest::newRow("S UTF-8 with terminator") << "S" << QVariant(QStringLiteral("Grüße")) << 0 << quint32(Registry::REG_SZ)
                                                 << QStringLiteral("Grüße").toUtf8() + '\0' << QVariant(QStringLiteral("Grüße"));
        QTest::newRow("other letter writes nothing") << "Q" << QVariant(QStringLiteral("x")) << 0 << none << QByteArray() << QVariant();
    }
    void registryWriteAndRead()
    {
        QFETCH(QString, letter);
        QFETCH(QVariant, written);
        QFETCH(QVariant, readBack);
        QTEST(WriteSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("V"), letter, written), "status");
        Registry::DWORD type = 0;
        QTEST(rawValue(QStringLiteral("V"), type), "stored");
        QTEST(quint32(type), "type");
        QVariant value;
        if (readBack.isValid())
            QCOMPARE(ReadSetting(QStringLiteral("hkcu"), Sub, QStringLiteral("v"), letter, QVariant(0), value), 0);
        QCOMPARE(value, readBack);
    }

    void registryReadErrors_data()
    {
        QTest::addColumn<quint32>("storedType");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<qint32>("status");
        QTest::newRow("D from 10 bytes") << quint32(Registry::REG_BINARY) << QByteArray(10, '\1') << "V" << "D" << 234;
        QTest::newRow("B from a DWORD") << quint32(Registry::REG_DWORD) << QByteArray("\1\0\0\0", 4) << "V" << "B" << 234;
        QTest::newRow("S from zero bytes") << quint32(Registry::REG_SZ) << QByteArray() << "V" << "S" << 0;
        QTest::newRow("other letter reads nothing") << quint32(Registry::REG_SZ) << QByteArray("x\0", 2) << "V" << "Z" << 0;
        QTest::newRow("missing value") << quint32(Registry::REG_SZ) << QByteArray("x\0", 2) << "None" << "D" << 2;
    }
    void registryReadErrors()
    {
        QFETCH(quint32, storedType);
        QFETCH(QByteArray, stored);
        QFETCH(QString, name);
        QFETCH(QString, letter);
        Registry::HKEY key = 0;
        QCOMPARE(Registry::RegCreateKey(Registry::HKEY_CURRENT_USER, Sub, &key), 0);
        QCOMPARE(Registry::RegSetValueEx(key, QStringLiteral("V"), 0, storedType, reinterpret_cast<const quint8 *>(stored.constData()),
                                         Registry::DWORD(stored.size())), 0);
        Registry::RegCloseKey(key);
        QVariant value;
        QTEST(ReadSetting(QStringLiteral("HKCU"), Sub, name, letter, QStringLiteral("def"), value), "status");
        QCOMPARE(value, QVariant(QStringLiteral("def")));
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), QStringLiteral("Software\\None"), name, letter, QStringLiteral("def"), value), 2);
        // Without write access: error 5, nothing changed.
        QVERIFY(QFile::setPermissions(Registry::StoreFile(Registry::HKEY_CURRENT_USER), QFile::ReadOwner));
        QCOMPARE(WriteSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("V"), QStringLiteral("S"), QStringLiteral("2")), 5);
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("V"), QStringLiteral("Z"), 0, value), 0);
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
        QStringList content{"[Client]", "txtPort=" + stored, "cboResolution=" + stored};
        for (const QString &k : keysOf(ClientConfig::Holder::CheckBox) + keysOf(ClientConfig::Holder::Count))
            content << k + u'=' + stored;
        if (!stored.isNull())
            m_dir->write(QStringLiteral("Client.cfg"), content);
        ClientConfig config;
        config.Read();
        for (const QString &k : keysOf(ClientConfig::Holder::CheckBox))
            QVERIFY2(config.value(k) == (box < 0 ? QVariant() : QVariant(box)), qPrintable(k));
        QCOMPARE(config.value(QStringLiteral("cboResolution")), resolution < -1 ? QVariant() : QVariant(resolution));
        // Text is taken as it stands; a missing key reads as 0.
        QCOMPARE(config.value(QStringLiteral("txtPort")).toString() + config.value(QStringLiteral("txtServer")).toString(),
                 (stored.isNull() ? QStringLiteral("0") : stored) + u'0');
        QCOMPARE(gStartLifeCnt, count ? count : 45);
        QCOMPARE(gStartConnectLifeCnt, count ? count : 3);
    }

    void userCfg_data()
    {
        QTest::addColumn<QString>("content"); // the lines of [UserConfig], blank-separated; null: no User.cfg
        QTest::addColumn<QString>("loaded");  // process, maximum and count
        QTest::newRow("no User.cfg") << QString() << "|50|3";
        QTest::newRow("process name taken") << "UserProcessName=/opt/recover" << "/opt/recover|50|3";
        QTest::newRow("process 0 ignored") << "UserProcessName=0" << "|50|3";
        QTest::newRow("process -1 ignored") << "UserProcessName=-1" << "|50|3";
        QTest::newRow("process 7 taken") << "UserProcessName=7" << "7|50|3";
        QTest::newRow("try 80 lowered to 50") << "TryConnectActionCnt=80" << "|50|50";
        QTest::newRow("max 2 alone leaves try") << "MaxTryConnectActionCnt=2" << "|2|3";
        QTest::newRow("both") << "MaxTryConnectActionCnt=10 TryConnectActionCnt=7" << "|10|7";
        QTest::newRow("max word keeps 50") << "MaxTryConnectActionCnt=many" << "|50|3";
        QTest::newRow("try word still lowered") << "MaxTryConnectActionCnt=2 TryConnectActionCnt=x" << "|2|2";
        QTest::newRow("empty try leaves both") << "MaxTryConnectActionCnt=2 TryConnectActionCnt=" << "|2|3";
    }
    void userCfg()
    {
        QFETCH(QString, content);
        if (!content.isNull())
            m_dir->write(QStringLiteral("User.cfg"), QStringList{"[UserConfig]"} + content.split(u' '));
        ClientConfig().Read();
        QTEST(QStringLiteral("%1|%2|%3").arg(gUserProcessName).arg(gMaxTryConnectActionCnt).arg(gTryConnectActionCnt), "loaded");
        QCOMPARE(QFileInfo::exists(gUserCfgFile), !content.isNull()); // never written
    }

    // "Save" writes the 24 keys in their order, once each, after what the file held; the
    // other keys and sections stay as they were. What it wrote reads back whole.
    void writeAndReadBack()
    {
        m_dir->write(QStringLiteral("Client.cfg"), {"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "AutoConnect=1", "", "[Other]", "k=v"});
        ClientConfig::Defaults().Write();
        ClientConfig::Defaults().Write();
        QStringList expected{"; panel 4", "[Client]", "SecurityPassword=Zq9#x", "AutoConnect=0", "txtServer=SERVERNAME",
                             "txtPort=12559", "txtUserName=Username", "txtPassword=Password", "chkUserPass=1", "cboResolution=0"};
        for (const QString &k : keysOf(ClientConfig::Holder::CheckBox).mid(1, 15))
            expected << k + QStringLiteral("=0");
        QCOMPARE(lines(gClientCfgFile), expected << "StartConnectLifeCnt=3" << "StartLifeCnt=45" << "[Other]" << "k=v");

        ClientConfig saved;
        for (const QString &k : keysOf(ClientConfig::Holder::Text))
            saved.setValue(k, k.endsWith(u"Name") ? QStringLiteral("Müller") : QStringLiteral("s3cr=t;x"));
        const QStringList boxes = keysOf(ClientConfig::Holder::CheckBox);
        for (qsizetype i = 0; i < boxes.size(); ++i)
            saved.setValue(boxes.at(i), int(i % 3));
        saved.setValue(QStringLiteral("cboResolution"), 5);
        gStartConnectLifeCnt = 7;
        saved.Write();
        gStartConnectLifeCnt = 3;
        ClientConfig read;
        read.Read();
        for (const ClientConfig::Key &key : ClientConfig::Keys())
            QVERIFY2(read.value(key.name) == saved.value(key.name), qPrintable(key.name));
        QCOMPARE(gStartConnectLifeCnt, 7);
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
        writeBytes(entryPath(), head + "/old\n");
        if (!writable)
            QVERIFY(QFile::setPermissions(QFileInfo(entryPath()).path(), QFile::ReadOwner | QFile::ExeOwner));
        ClientConfig::WriteAutostart(on);
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
        QCOMPARE(readBytes(entryPath()), !writable ? head + "/old\n" : on ? head + program + '\n' : QByteArray());
    }

    // The user profiles: keyed without regard to case, in insertion order, positions from 1.
    void userProfiles()
    {
        clsUsersConfig c;
        for (const char *name : {"zoe", "1", "Admin", "aDmIn"}) {
            auto p = std::make_shared<clsUserConfig>();
            p->setUsername(QLatin1String(name));
            QCOMPARE(c.Add(p, p->Username()), p); // handed back, held or not
        }
        QStringList names;
        for (const auto &p : c)
            names << p->Username();
        QCOMPARE(names, (QStringList{"zoe", "1", "Admin"}));
        QCOMPARE(c.Item(2.0)->Username(), QStringLiteral("1"));
        QCOMPARE(c.Item(QStringLiteral("1"))->Username(), QStringLiteral("1")); // a key, not a position
        QCOMPARE(c.Item(QStringLiteral("ADMIN"))->Username(), QStringLiteral("Admin"));
        using TestSupport::errorOf;
        QCOMPARE(errorOf([] { clsUsersConfig().Item(1); }), ErrorNumbers::SubscriptOutOfRange.number);
        for (const QVariant &missing : {QVariant(0), QVariant(4)})
            QCOMPARE(errorOf([&] { c.Item(missing); }), ErrorNumbers::SubscriptOutOfRange.number);
        QCOMPARE(errorOf([&] { c.Item(QVariant(qint64(1) << 33)); }), ErrorNumbers::Overflow.number);
        QCOMPARE(errorOf([&] { c.Item(QStringLiteral("x")); }), ErrorNumbers::InvalidCall.number);
        QCOMPARE(errorOf([&] { c.Item(QVariant()); }), ErrorNumbers::TypeMismatch.number);
    }
};

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_Settings.moc"
