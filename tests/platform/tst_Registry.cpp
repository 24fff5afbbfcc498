#include "platform/Registry.h"
#include "../support/FileBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Registry;

using TestSupport::readBytes;

namespace {

unsigned modeOf(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

LONG setString(HKEY key, const QString &name, const QByteArray &text)
{
    const QByteArray data = text + '\0';
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const quint8 *>(data.constData()), DWORD(data.size()));
}

// The two-step read callers use: size first, then the data.
LONG queryTwoStep(HKEY key, const QString &name, QByteArray &data, DWORD &type)
{
    quint8 probe = 0;
    DWORD size = 0;
    LONG r = RegQueryValueEx(key, name, nullptr, &type, &probe, &size);
    data.clear();
    if (r == ERROR_MORE_DATA) {
        data.resize(qsizetype(size));
        r = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<quint8 *>(data.data()), &size);
    }
    return r;
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

    QTemporaryDir *m_dir = nullptr;
    QString storeDir() const { return m_dir->filePath(QStringLiteral("registry")); }
    QString machineRun() const { return m_dir->filePath(QStringLiteral("xdg/autostart")); }
    QString userRun() const { return m_dir->filePath(QStringLiteral("home/.config/autostart")); }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        SetStoreDirectory(storeDir());
        SetAutostartDirectory(HKEY_LOCAL_MACHINE, machineRun());
        SetAutostartDirectory(HKEY_CURRENT_USER, userRun());
    }
    void cleanup()
    {
        QCOMPARE(OpenHandleCount(), 0); // every test closes what it opened
        QFile::setPermissions(machineRun(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        delete m_dir;
    }

    void createAndOpenExisting()
    {
        HKEY key = 0;
        DWORD disposition = 0;
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, QStringLiteral("Software\\Torvane\\Panel"), 0, QString(), 0,
                                KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, &key, &disposition), ERROR_SUCCESS);
        QCOMPARE(disposition, REG_CREATED_NEW_KEY);
        QCOMPARE(setString(key, QStringLiteral("Name"), "value"), ERROR_SUCCESS);
        DWORD size = 0; // opened for setting only
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Name"), nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_INVALID_HANDLE);
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, QStringLiteral("software\\TORVANE\\panel"), 0, QString(), 0, KEY_SET_VALUE,
                                nullptr, &key, &disposition), ERROR_SUCCESS);
        QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
    }

    void queryShapes()
    {
        HKEY key = 0;
        QCOMPARE(RegCreateKey(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Test"), &key), ERROR_SUCCESS);
        const quint8 bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        QCOMPARE(RegSetValueEx(key, QStringLiteral("Bin"), 0, REG_BINARY, bytes, 10), ERROR_SUCCESS);
        DWORD type = 0, size = 0;
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Bin"), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        QCOMPARE(size, 10u);
        QCOMPARE(type, REG_BINARY);
        quint8 small[4] = {0, 0, 0, 0};
        size = 4;
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Bin"), nullptr, nullptr, small, &size), ERROR_MORE_DATA);
        QCOMPARE(size, 10u);
        QCOMPARE(small[0], quint8(0));
        quint8 big[16] = {};
        size = 16;
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Bin"), nullptr, nullptr, big, &size), ERROR_SUCCESS);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(big), qsizetype(size)), QByteArray(reinterpret_cast<const char *>(bytes), 10));
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Bin"), nullptr, nullptr, big, nullptr), ERROR_INVALID_PARAMETER);
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("None"), nullptr, nullptr, big, &size), ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegSetValueEx(key, QStringLiteral("Empty"), 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
        size = 0;
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Empty"), nullptr, &type, small, &size), ERROR_SUCCESS);
        QCOMPARE(size, 0u);
        QCOMPARE(RegDeleteValue(key, QStringLiteral("BIN")), ERROR_SUCCESS);
        QCOMPARE(RegDeleteValue(key, QStringLiteral("Bin")), ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegFlushKey(key), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
    }

    void errorsOfMissingThings()
    {
        HKEY key = 0;
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, QStringLiteral("Software\\Nothing"), 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
        QCOMPARE(key, 0u);
        QCOMPARE(RegOpenKeyEx(HKEY_PERFORMANCE_DATA, QStringLiteral("x"), 0, KEY_QUERY_VALUE, &key), ERROR_INVALID_HANDLE);
        QCOMPARE(RegSetValueEx(0x1234, QStringLiteral("x"), 0, REG_SZ, nullptr, 0), ERROR_INVALID_HANDLE);
        // The keys above the Run key exist on every system.
        QCOMPARE(RegOpenKeyEx(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Microsoft\\Windows"), 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
    }

    void onePrivateFilePerRoot()
    {
        HKEY key = 0;
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, QStringLiteral("Software\\X"), &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("user"), "1"), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(RegOpenKeyEx(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\X"), 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegCreateKey(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\X"), &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("machine"), "1"), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(modeOf(StoreFile(HKEY_CURRENT_USER)), 0600u);
        QCOMPARE(modeOf(StoreFile(HKEY_LOCAL_MACHINE)), 0644u);
        QVERIFY(!readBytes(StoreFile(HKEY_CURRENT_USER)).contains("machine"));
        QCOMPARE(QDir(storeDir()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void damagedStoreIsNotOverwritten()
    {
        QVERIFY(QDir().mkpath(storeDir()));
        QFile f(StoreFile(HKEY_CURRENT_USER));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("{ not a store") == 13);
        f.close();
        HKEY key = 0;
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, QStringLiteral("Software\\X"), &key), ERROR_BADDB);
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, QStringLiteral("Software"), 0, KEY_QUERY_VALUE, &key), ERROR_BADDB);
        QCOMPARE(readBytes(f.fileName()), QByteArray("{ not a store"));
    }

    void runValueIsADesktopEntry_data()
    {
        QTest::addColumn<quint32>("root");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("exec");
        QTest::newRow("user, plain") << quint32(HKEY_CURRENT_USER) << "/opt/veskora/Veskora" << "/opt/veskora/Veskora";
        QTest::newRow("blank quoted") << quint32(HKEY_LOCAL_MACHINE) << "/opt/My Panel/Veskora" << "\"/opt/My Panel/Veskora\"";
        QTest::newRow("dollar and backslash") << quint32(HKEY_LOCAL_MACHINE) << "/opt/a$b\\c/V" << "\"/opt/a\\\\$b\\\\\\\\c/V\"";
        QTest::newRow("percent doubled") << quint32(HKEY_LOCAL_MACHINE) << "/opt/100%/V" << "/opt/100%%/V";
        QTest::newRow("white space at an end quoted") << quint32(HKEY_CURRENT_USER) << "/opt/V\v" << "\"/opt/V\v\"";
    }
    void runValueIsADesktopEntry()
    {
        QFETCH(quint32, root);
        QFETCH(QString, value);
        QFETCH(QString, exec);
        const QString dir = root == HKEY_LOCAL_MACHINE ? machineRun() : userRun();
        HKEY key = 0;
        QCOMPARE(RegCreateKey(root, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("ClientStart"), value.toUtf8()), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        const QString entry = dir + QStringLiteral("/ClientStart.desktop");
        QCOMPARE(QString::fromUtf8(readBytes(entry)), QStringLiteral("[Desktop Entry]\nType=Application\nName=ClientStart\nExec=") + exec + u'\n');
        QCOMPARE(modeOf(entry), 0644u);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QVERIFY(!QFileInfo::exists(StoreFile(root))); // not in the store as well

        QCOMPARE(RegOpenKeyEx(root, RunKey.toLower(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
        QByteArray data;
        DWORD type = 0;
        QCOMPARE(queryTwoStep(key, QStringLiteral("clientstart"), data, type), ERROR_SUCCESS);
        QCOMPARE(type, REG_SZ);
        QCOMPARE(data, value.toUtf8() + '\0');
        QCOMPARE(RegDeleteValue(key, QStringLiteral("ClientStart")), ERROR_SUCCESS);
        QVERIFY(!QFileInfo::exists(entry));
        QCOMPARE(RegDeleteValue(key, QStringLiteral("ClientStart")), ERROR_FILE_NOT_FOUND);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
    }

    void runKeyWithoutWriteAccess()
    {
        QVERIFY(QDir().mkpath(machineRun()));
        HKEY key = 0;
        QCOMPARE(RegCreateKey(HKEY_LOCAL_MACHINE, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("ClientStart"), "/opt/v/Veskora"), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        const QByteArray entry = readBytes(machineRun() + QStringLiteral("/ClientStart.desktop"));
        QVERIFY(QFile::setPermissions(machineRun(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
        QCOMPARE(RegCreateKey(HKEY_LOCAL_MACHINE, RunKey, &key), ERROR_ACCESS_DENIED);
        QCOMPARE(RegOpenKey(HKEY_LOCAL_MACHINE, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(RegDeleteValue(key, QStringLiteral("ClientStart")), ERROR_ACCESS_DENIED);
        QCOMPARE(setString(key, QStringLiteral("Other"), "/x"), ERROR_ACCESS_DENIED);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(readBytes(machineRun() + QStringLiteral("/ClientStart.desktop")), entry);
        QCOMPARE(QDir(machineRun()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void runKeyRefusesWhatCannotStart_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("path in the name") << "../escape" << quint32(REG_SZ) << QByteArray("/x");
        QTest::newRow("no name") << "" << quint32(REG_SZ) << QByteArray("/x");
        QTest::newRow("number") << "N" << quint32(REG_DWORD) << QByteArray("\1\0\0\0", 4);
        QTest::newRow("empty command") << "E" << quint32(REG_SZ) << QByteArray("\0", 1);
    }
    void runKeyRefusesWhatCannotStart()
    {
        QFETCH(QString, name);
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        HKEY key = 0;
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(RegSetValueEx(key, name, 0, type, reinterpret_cast<const quint8 *>(data.constData()), DWORD(data.size())), ERROR_INVALID_PARAMETER);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
        QVERIFY(!QFileInfo::exists(userRun()) || QDir(userRun()).isEmpty());
    }

    void execQuotingRoundTrips()
    {
        const QString path = QStringLiteral("/a b\t\"'\\><~|&;$*?#()`%/c");
        QCOMPARE(PathFromDesktopExec(DesktopExecForPath(path)), path);
    }

    void handleCount()
    {
        HKEY a = 0, b = 0, same = 0;
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, QStringLiteral("A"), &a), ERROR_SUCCESS);
        QCOMPARE(RegOpenKeyEx(a, QString(), 0, KEY_QUERY_VALUE, &b), ERROR_SUCCESS); // a new handle
        QCOMPARE(RegOpenKey(a, QString(), &same), ERROR_SUCCESS); // the same handle
        QVERIFY(a != b && same == a);
        QCOMPARE(OpenHandleCount(), 2);
        QCOMPARE(RegCloseKey(a), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(b), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS); // predefined roots are not counted
        QCOMPARE(OpenHandleCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_Registry.moc"
