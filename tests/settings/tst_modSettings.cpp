#include "settings/modSettings.h"

#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace modSettings;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// The raw value as the store holds it; type 0xFFFF when there is none.
QByteArray rawValue(Registry::HKEY root, const QString &subKey, const QString &name, Registry::DWORD &type)
{
    type = 0xFFFF;
    Registry::HKEY key = 0;
    if (Registry::RegOpenKeyEx(root, subKey, 0, Registry::KEY_QUERY_VALUE, &key) != 0)
        return QByteArray();
    QByteArray data(64, '\0');
    Registry::DWORD size = 64;
    Registry::DWORD t = 0;
    if (Registry::RegQueryValueEx(key, name, nullptr, &t, reinterpret_cast<quint8 *>(data.data()), &size) == 0) {
        type = t;
        data.resize(qsizetype(size));
    } else {
        data.clear();
    }
    Registry::RegCloseKey(key);
    return data;
}

void storeRaw(Registry::HKEY root, const QString &subKey, const QString &name, Registry::DWORD type, const QByteArray &data)
{
    Registry::HKEY key = 0;
    QCOMPARE(Registry::RegCreateKey(root, subKey, &key), 0);
    QCOMPARE(Registry::RegSetValueEx(key, name, 0, type, reinterpret_cast<const quint8 *>(data.constData()),
                                     Registry::DWORD(data.size())),
             0);
    QCOMPARE(Registry::RegCloseKey(key), 0);
}

const QString Sub = QStringLiteral("Software\\Torvane\\Veskora");

} // namespace

class TestModSettings : public QObject
{
    Q_OBJECT

private:
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
        QCOMPARE(Registry::OpenHandleCount(), 0); // nothing left open, whatever happened
        QVERIFY(QDir(m_dir.path()).removeRecursively() && QDir().mkpath(m_dir.path()));
    }

    void rootHandle_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("mustExist");
        QTest::addColumn<quint32>("handle");
        QTest::newRow("HKCU") << "HKCU" << true << 0x80000001u;
        QTest::newRow("hklm lower case") << "hklm" << true << 0x80000002u;
        QTest::newRow("HKCR") << "HKCR" << true << 0x80000000u;
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
        if (root.startsWith(u'@'))
            root = file(root.mid(1));
        QCOMPARE(GetRootHandle(root, mustExist), handle);
    }

    void iniRead_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("def");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("S value") << QByteArray("[Client]\r\nk=host\r\n") << "S" << QVariant(0) << QVariant(QStringLiteral("host"));
        QTest::newRow("S missing key gives default text") << QByteArray("[Client]\r\n") << "S" << QVariant(0) << QVariant(QStringLiteral("0"));
        QTest::newRow("S empty value is no default") << QByteArray("[Client]\r\nk=\r\n") << "S" << QVariant(0) << QVariant(QString());
        QTest::newRow("S 300 characters") << QByteArray("[Client]\r\nk=" + QByteArray(300, 'z') + "\r\n") << "S" << QVariant(0)
                                          << QVariant(QString(254, u'z'));
        QTest::newRow("D leading number") << QByteArray("[Client]\r\nk=12abc\r\n") << "D" << QVariant(5) << QVariant(qint32(12));
        QTest::newRow("D word") << QByteArray("[Client]\r\nk=abc\r\n") << "D" << QVariant(5) << QVariant(qint32(0));
        QTest::newRow("D missing is 0, not the default") << QByteArray("[Client]\r\n") << "D" << QVariant(5) << QVariant(qint32(0));
        QTest::newRow("B as integer") << QByteArray("[Client]\r\nk=-1\r\n") << "B" << QVariant(false) << QVariant(qint32(-1));
    }
    void iniRead()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, type);
        QFETCH(QVariant, def);
        QFETCH(QVariant, expected);
        writeBytes(file(), content);
        QVariant value = QStringLiteral("garbage");
        QCOMPARE(ReadSetting(file(), QStringLiteral("Client"), QStringLiteral("k"), type, def, value), 0);
        QCOMPARE(value.typeId(), expected.typeId());
        QCOMPARE(value, expected);
    }

    void iniReadWithoutFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "none.cfg";
        QTest::newRow("HKPD") << "HKPD";
    }
    void iniReadWithoutFile()
    {
        QFETCH(QString, name);
        const QString root = name == u"HKPD" ? name : file(name);
        QVariant value;
        QCOMPARE(ReadSetting(root, QStringLiteral("Client"), QStringLiteral("k"), QStringLiteral("S"), QVariant(0), value), 99);
        QCOMPARE(value.typeId(), int(QMetaType::Int));
        QCOMPARE(value.toInt(), 0);
    }

    void iniWrite()
    {
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("txtServer"), QStringLiteral("S"), QStringLiteral("host")), 0);
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("chkUserPass"), QStringLiteral("s"), QVariant(qint16(1))), 0);
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("StartLifeCnt"), QStringLiteral("S"), QVariant(qint32(45))), 0);
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("txtPassword"), QStringLiteral("S"), QString()), 0);
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("Null"), QStringLiteral("S"), QVariant()), 0);
        QCOMPARE(readBytes(file()), QByteArray("[Client]\r\ntxtServer=host\r\nchkUserPass=1\r\nStartLifeCnt=45\r\n"
                                               "txtPassword=\r\nNull=\r\n"));
        // The empty value exists: read back as "", not as the default.
        QVariant value;
        QCOMPARE(ReadSetting(file(), QStringLiteral("Client"), QStringLiteral("txtPassword"), QStringLiteral("S"), QVariant(0), value), 0);
        QCOMPARE(value, QVariant(QString()));
    }

    void iniWriteOfOtherLettersDoesNothing_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("B") << "B";
        QTest::newRow("other") << "Q";
    }
    void iniWriteOfOtherLettersDoesNothing()
    {
        QFETCH(QString, type);
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("k"), type, QVariant(1)), 99);
        QVERIFY(!QFileInfo::exists(file()));
        writeBytes(file(), "[Client]\r\nk=5\r\n");
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("k"), type, QVariant(1)), 99);
        QCOMPARE(readBytes(file()), QByteArray("[Client]\r\nk=5\r\n"));
    }

    void iniWriteFailureReportsSuccess()
    {
        writeBytes(file(), "[Client]\r\nk=5\r\n");
        QVERIFY(QFile::setPermissions(file(), QFile::ReadOwner | QFile::ReadGroup));
        QCOMPARE(WriteSetting(file(), QStringLiteral("Client"), QStringLiteral("k"), QStringLiteral("S"), QStringLiteral("6")), 0);
        QCOMPARE(readBytes(file()), QByteArray("[Client]\r\nk=5\r\n"));
        QCOMPARE(WriteSetting(m_dir.filePath(QStringLiteral("no/dir.cfg")), QStringLiteral("Client"), QStringLiteral("k"),
                              QStringLiteral("S"), QStringLiteral("6")),
                 0);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("no"))));
    }

    void hiddenFileIsStillWritten()
    {
        const QString hidden = file(QStringLiteral(".Client.cfg"));
        QCOMPARE(WriteSetting(hidden, QStringLiteral("Client"), QStringLiteral("k"), QStringLiteral("S"), QStringLiteral("v")), 0);
        QCOMPARE(readBytes(hidden), QByteArray("[Client]\r\nk=v\r\n"));
        QVariant value;
        QCOMPARE(ReadSetting(hidden, QStringLiteral("Client"), QStringLiteral("k"), QStringLiteral("S"), QVariant(0), value), 99);
        QCOMPARE(value, QVariant(0));
    }

    // --- the registry branch

    void registryBooleanTrueIsFFFF()
    {
        QCOMPARE(WriteSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("Flag"), QStringLiteral("B"), QVariant(true)), 0);
        Registry::DWORD type = 0;
        QCOMPARE(rawValue(Registry::HKEY_CURRENT_USER, Sub, QStringLiteral("Flag"), type), QByteArray("\xFF\xFF", 2));
        QCOMPARE(type, Registry::REG_BINARY);
        QVariant value;
        QCOMPARE(ReadSetting(QStringLiteral("hkcu"), Sub, QStringLiteral("Flag"), QStringLiteral("b"), QVariant(false), value), 0);
        QCOMPARE(value, QVariant(true));

        QCOMPARE(WriteSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("Flag"), QStringLiteral("B"), QStringLiteral("False")), 0);
        QCOMPARE(rawValue(Registry::HKEY_CURRENT_USER, Sub, QStringLiteral("Flag"), type), QByteArray("\0\0", 2));
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("Flag"), QStringLiteral("B"), QVariant(true), value), 0);
        QCOMPARE(value, QVariant(false));
    }

    void registryDword_data()
    {
        QTest::addColumn<QVariant>("written");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<qint32>("status");
        QTest::newRow("-1") << QVariant(-1) << QByteArray("\xFF\xFF\xFF\xFF", 4) << 0;
        QTest::newRow("-32768 widened with sign") << QVariant(-32768) << QByteArray("\0\x80\xFF\xFF", 4) << 0;
        QTest::newRow("text 12") << QVariant(QStringLiteral("12")) << QByteArray("\x0C\0\0\0", 4) << 0;
        QTest::newRow("32768 stores nothing") << QVariant(32768) << QByteArray() << qint32(Registry::ERROR_INVALID_DATA);
        QTest::newRow("a word stores nothing") << QVariant(QStringLiteral("many")) << QByteArray() << qint32(Registry::ERROR_INVALID_DATA);
    }
    void registryDword()
    {
        QFETCH(QVariant, written);
        QFETCH(QByteArray, stored);
        QFETCH(qint32, status);
        QCOMPARE(WriteSetting(QStringLiteral("HKLM"), Sub, QStringLiteral("Count"), QStringLiteral("D"), written), status);
        Registry::DWORD type = 0;
        QCOMPARE(rawValue(Registry::HKEY_LOCAL_MACHINE, Sub, QStringLiteral("Count"), type), stored);
        if (!stored.isEmpty()) {
            QCOMPARE(type, Registry::REG_DWORD);
            QVariant value;
            QCOMPARE(ReadSetting(QStringLiteral("HKLM"), Sub, QStringLiteral("Count"), QStringLiteral("D"), QVariant(0), value), 0);
            QCOMPARE(value, QVariant(written.toInt()));
        } else {
            QCOMPARE(type, 0xFFFFu);
        }
    }

    void registryString()
    {
        QCOMPARE(WriteSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("Server"), QStringLiteral("S"), QStringLiteral("Grüße")), 0);
        Registry::DWORD type = 0;
        QCOMPARE(rawValue(Registry::HKEY_CURRENT_USER, Sub, QStringLiteral("Server"), type),
                 QString::fromUtf8("Grüße").toUtf8() + '\0');
        QCOMPARE(type, Registry::REG_SZ);
        QVariant value;
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("server"), QStringLiteral("S"), QVariant(0), value), 0);
        QCOMPARE(value, QVariant(QString::fromUtf8("Grüße")));
    }

    void registryReadErrors_data()
    {
        QTest::addColumn<quint32>("storedType");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("letter");
        QTest::addColumn<qint32>("status");
        QTest::newRow("D from 10 bytes") << quint32(Registry::REG_BINARY) << QByteArray(10, '\1') << "D" << 234;
        QTest::newRow("B from a DWORD") << quint32(Registry::REG_DWORD) << QByteArray("\1\0\0\0", 4) << "B" << 234;
        QTest::newRow("S from zero bytes") << quint32(Registry::REG_SZ) << QByteArray() << "S" << 0;
        QTest::newRow("other letter reads nothing") << quint32(Registry::REG_SZ) << QByteArray("x\0", 2) << "Z" << 0;
    }
    void registryReadErrors()
    {
        QFETCH(quint32, storedType);
        QFETCH(QByteArray, stored);
        QFETCH(QString, letter);
        QFETCH(qint32, status);
        storeRaw(Registry::HKEY_CURRENT_USER, Sub, QStringLiteral("V"), storedType, stored);
        QVariant value;
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("V"), letter, QStringLiteral("def"), value), status);
        QCOMPARE(value, QVariant(QStringLiteral("def")));
    }

    void registryMissing()
    {
        QVariant value;
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), QStringLiteral("Software\\None"), QStringLiteral("V"), QStringLiteral("S"), 7, value), 2);
        QCOMPARE(value, QVariant(7));
        storeRaw(Registry::HKEY_CURRENT_USER, Sub, QStringLiteral("Other"), Registry::REG_SZ, QByteArray("x\0", 2));
        QCOMPARE(ReadSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("None"), QStringLiteral("D"), 7, value), 2);
        QCOMPARE(value, QVariant(7));
    }

    void registryOtherLetterWritesNothing()
    {
        QCOMPARE(WriteSetting(QStringLiteral("HKCU"), Sub, QStringLiteral("Q"), QStringLiteral("Q"), QStringLiteral("x")), 0);
        Registry::DWORD type = 0;
        QCOMPARE(rawValue(Registry::HKEY_CURRENT_USER, Sub, QStringLiteral("Q"), type), QByteArray());
        QCOMPARE(type, 0xFFFFu);
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
        QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner);
    }
};

QTEST_GUILESS_MAIN(TestModSettings)
#include "tst_modSettings.moc"
