// The settings accessor: INI files and the registry store behind one pair of calls.
#include "platform/Registry.h"
#include "settings/modSettings.h"

#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

using namespace modSettings;

using TestSupport::readBytes;
using TestSupport::writeBytes;

namespace {

const QString Sub = QStringLiteral("Software\\Torvane\\Veskora");
const QString Client = QStringLiteral("Client");
const QString K = QStringLiteral("k");

// The raw value as the store holds it; type 0xFFFF when there is none.
QByteArray rawValue(Registry::HKEY root, const QString &name, Registry::DWORD &type)
{
    type = 0xFFFF;
    Registry::HKEY key = 0;
    QByteArray data(64, '\0');
    Registry::DWORD size = 64, t = 0;
    if (Registry::RegOpenKeyEx(root, Sub, 0, Registry::KEY_QUERY_VALUE, &key) != 0)
        return {};
    if (Registry::RegQueryValueEx(key, name, nullptr, &t, reinterpret_cast<quint8 *>(data.data()), &size) == 0)
        type = t;
    Registry::RegCloseKey(key);
    return type == 0xFFFF ? QByteArray() : data.left(qsizetype(size));
}

void storeRaw(const QString &name, Registry::DWORD type, const QByteArray &data)
{
    Registry::HKEY key = 0;
    QCOMPARE(Registry::RegCreateKey(Registry::HKEY_CURRENT_USER, Sub, &key), 0);
    QCOMPARE(Registry::RegSetValueEx(key, name, 0, type, reinterpret_cast<const quint8 *>(data.constData()), Registry::DWORD(data.size())), 0);
    QCOMPARE(Registry::RegCloseKey(key), 0);
}

} // namespace

class TestModSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file(const QString &name = QStringLiteral("Client.cfg")) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Registry::SetStoreDirectory(m_dir.filePath(QStringLiteral("registry")));
        Registry::SetAutostartDirectory(Registry::HKEY_LOCAL_MACHINE, m_dir.filePath(QStringLiteral("autostart-m")));
        Registry::SetAutostartDirectory(Registry::HKEY_CURRENT_USER, m_dir.filePath(QStringLiteral("autostart-u")));
    }
    void cleanup()
    {
        QCOMPARE(Registry::OpenHandleCount(), 0); // every path closes what it opened
        QVERIFY(QDir(m_dir.path()).removeRecursively() && QDir().mkpath(m_dir.path()));
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
        QFETCH(quint32, handle);
        writeBytes(file(QStringLiteral("plain.ini")), "[A]\r\n");
        writeBytes(file(QStringLiteral(".hidden.ini")), "[A]\r\n");
        QDir(m_dir.path()).mkdir(QStringLiteral("dir.ini"));
        QCOMPARE(GetRootHandle(root.startsWith(u'@') ? file(root.mid(1)) : root, mustExist), handle);
    }

    void iniRead_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("def");
        QTest::addColumn<qint32>("status");
        QTest::addColumn<QVariant>("expected");
        const QVariant zero(0);
        QTest::newRow("S value") << QByteArray("[Client]\r\nk=host\r\n") << "s" << zero << 0 << QVariant(QStringLiteral("host"));
        QTest::newRow("S missing key gives default text") << QByteArray("[Client]\r\n") << "S" << zero << 0 << QVariant(QStringLiteral("0"));
        QTest::newRow("S empty value is no default") << QByteArray("[Client]\r\nk=\r\n") << "S" << zero << 0 << QVariant(QString());
        QTest::newRow("S 300 characters") << QByteArray("[Client]\r\nk=" + QByteArray(300, 'z') + "\r\n") << "S" << zero << 0 << QVariant(QString(254, u'z'));
        QTest::newRow("D leading number") << QByteArray("[Client]\r\nk=12abc\r\n") << "D" << QVariant(5) << 0 << QVariant(qint32(12));
        QTest::newRow("D missing is 0, not the default") << QByteArray("[Client]\r\n") << "D" << QVariant(5) << 0 << QVariant(qint32(0));
        QTest::newRow("B as integer") << QByteArray("[Client]\r\nk=-1\r\n") << "B" << QVariant(false) << 0 << QVariant(qint32(-1));
        QTest::newRow("no file: default unchanged in kind") << QByteArray() << "S" << zero << 99 << zero;
    }
    void iniRead()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, type);
        QFETCH(QVariant, def);
        QFETCH(qint32, status);
        QFETCH(QVariant, expected);
        if (!content.isEmpty())
            writeBytes(file(), content);
        QVariant value = QStringLiteral("garbage");
        QCOMPARE(ReadSetting(file(), Client, K, type, def, value), status);
        QCOMPARE(value.typeId(), expected.typeId());
        QCOMPARE(value, expected);
    }

    void iniWrite()
    {
        QCOMPARE(WriteSetting(file(), Client, QStringLiteral("txtServer"), QStringLiteral("S"), QStringLiteral("host")), 0);
        QCOMPARE(WriteSetting(file(), Client, QStringLiteral("chkUserPass"), QStringLiteral("s"), QVariant(qint16(1))), 0);
        QCOMPARE(WriteSetting(file(), Client, QStringLiteral("txtPassword"), QStringLiteral("S"), QString()), 0);
        QCOMPARE(WriteSetting(file(), Client, QStringLiteral("Null"), QStringLiteral("S"), QVariant()), 0);
        QCOMPARE(readBytes(file()), QByteArray("[Client]\r\ntxtServer=host\r\nchkUserPass=1\r\ntxtPassword=\r\nNull=\r\n"));
        QVariant value; // the empty value exists: read back as "", not as the default
        QCOMPARE(ReadSetting(file(), Client, QStringLiteral("txtPassword"), QStringLiteral("S"), QVariant(0), value), 0);
        QCOMPARE(value, QVariant(QString()));
        for (const QString &type : {QStringLiteral("B"), QStringLiteral("Q")}) { // only text goes to a file
            QCOMPARE(WriteSetting(file(QStringLiteral("new.cfg")), Client, K, type, QVariant(1)), 99);
            QVERIFY(!QFileInfo::exists(file(QStringLiteral("new.cfg"))));
            QCOMPARE(WriteSetting(file(), Client, QStringLiteral("txtServer"), type, QVariant(1)), 99);
            QVERIFY(readBytes(file()).contains("txtServer=host\r\n"));
        }
    }

    // A write that fails reports success, and changes nothing; a hidden file is written but
    // never read.
    void iniWriteFailureAndHiddenFile()
    {
        writeBytes(file(), "[Client]\r\nk=5\r\n");
        QVERIFY(QFile::setPermissions(file(), QFile::ReadOwner | QFile::ReadGroup));
        QCOMPARE(WriteSetting(file(), Client, K, QStringLiteral("S"), QStringLiteral("6")), 0);
        QCOMPARE(readBytes(file()), QByteArray("[Client]\r\nk=5\r\n"));
        QCOMPARE(WriteSetting(m_dir.filePath(QStringLiteral("no/dir.cfg")), Client, K, QStringLiteral("S"), QStringLiteral("6")), 0);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("no"))));
        const QString hidden = file(QStringLiteral(".Client.cfg"));
        QCOMPARE(WriteSetting(hidden, Client, K, QStringLiteral("S"), QStringLiteral("v")), 0);
        QCOMPARE(readBytes(hidden), QByteArray("[Client]\r\nk=v\r\n"));
        QVariant value;
        QCOMPARE(ReadSetting(hidden, Client, K, QStringLiteral("S"), QVariant(0), value), 99);
        QCOMPARE(value, QVariant(0));
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
        QTest::newRow("B True") << "B" << QVariant(true) << 0 << quint32(Registry::REG_BINARY) << QByteArray("\xFF\xFF", 2) << QVariant(true);
        QTest::newRow("B False text") << "b" << QVariant(QStringLiteral("False")) << 0 << quint32(Registry::REG_BINARY) << QByteArray("\0\0", 2) << QVariant(false);
        QTest::newRow("D -1") << "D" << QVariant(-1) << 0 << quint32(Registry::REG_DWORD) << QByteArray("\xFF\xFF\xFF\xFF", 4) << QVariant(-1);
        QTest::newRow("D -32768 widened with sign") << "D" << QVariant(-32768) << 0 << quint32(Registry::REG_DWORD) << QByteArray("\0\x80\xFF\xFF", 4) << QVariant(-32768);
        QTest::newRow("D text 12") << "D" << QVariant(QStringLiteral("12")) << 0 << quint32(Registry::REG_DWORD) << QByteArray("\x0C\0\0\0", 4) << QVariant(12);
        QTest::newRow("D 32768 stores nothing") << "D" << QVariant(32768) << invalid << 0xFFFFu << QByteArray() << QVariant();
        QTest::newRow("D word stores nothing") << "D" << QVariant(QStringLiteral("many")) << invalid << 0xFFFFu << QByteArray() << QVariant();
        QTest::newRow("S UTF-8 with terminator") << "S" << QVariant(QStringLiteral("Grüße")) << 0 << quint32(Registry::REG_SZ)
                                                 << QStringLiteral("Grüße").toUtf8() + '\0' << QVariant(QStringLiteral("Grüße"));
        QTest::newRow("other letter writes nothing") << "Q" << QVariant(QStringLiteral("x")) << 0 << 0xFFFFu << QByteArray() << QVariant();
    }
    void registryWriteAndRead()
    {
        QFETCH(QString, letter);
        QFETCH(QVariant, written);
        QFETCH(qint32, status);
        QFETCH(quint32, type);
        QFETCH(QByteArray, stored);
        QFETCH(QVariant, readBack);
        QCOMPARE(WriteSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("V"), letter, written), status);
        Registry::DWORD storedType = 0;
        QCOMPARE(rawValue(Registry::HKEY_CURRENT_USER, QStringLiteral("V"), storedType), stored);
        QCOMPARE(storedType, type);
        if (readBack.isValid()) {
            QVariant value;
            QCOMPARE(ReadSetting(QStringLiteral("hkcu"), Sub, QStringLiteral("v"), letter, QVariant(0), value), 0);
            QCOMPARE(value, readBack);
        }
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
        QFETCH(qint32, status);
        storeRaw(QStringLiteral("V"), storedType, stored);
        QVariant value;
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), Sub, name, letter, QStringLiteral("def"), value), status);
        QCOMPARE(value, QVariant(QStringLiteral("def")));
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), QStringLiteral("Software\\None"), name, letter, QStringLiteral("def"), value), 2);
    }

    void registryWithoutWriteAccess()
    {
        QCOMPARE(WriteSetting(QStringLiteral("HKLM"), Sub, QStringLiteral("V"), QStringLiteral("S"), QStringLiteral("1")), 0);
        const QString store = Registry::StoreFile(Registry::HKEY_LOCAL_MACHINE);
        const QByteArray before = readBytes(store);
        QVERIFY(QFile::setPermissions(store, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QCOMPARE(WriteSetting(QStringLiteral("HKLM"), Sub, QStringLiteral("V"), QStringLiteral("S"), QStringLiteral("2")), 5);
        QCOMPARE(readBytes(store), before);
        QVariant value;
        QCOMPARE(ReadSetting(QStringLiteral("HKLM"), Sub, QStringLiteral("V"), QStringLiteral("S"), 0, value), 0);
        QCOMPARE(value, QVariant(QStringLiteral("1")));
    }
};

QTEST_GUILESS_MAIN(TestModSettings)
#include "tst_modSettings.moc"
