#include "platform/Registry.h"
#include "../support/FileBytes.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Registry;
using TestSupport::readBytes;

static unsigned modeOf(const QString &path) { return TestSupport::statOf(path).st_mode & 07777; }

static LONG setString(HKEY key, const QString &name, const QByteArray &text, DWORD type = REG_SZ)
{
    const QByteArray data = type == REG_SZ ? text + '\0' : text;
    return RegSetValueEx(key, name, 0, type, reinterpret_cast<const quint8 *>(data.constData()), DWORD(data.size()));
}

class TestRegistry : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_dir;
    QString storeDir() const { return m_dir->filePath(QStringLiteral("registry")); }
    QString runDir(HKEY root) const { return m_dir->filePath(root == HKEY_LOCAL_MACHINE ? "xdg/autostart" : "home/autostart"); }
    QStringList files(const QString &dir) const { return QDir(dir).entryList(QDir::Files | QDir::Hidden); }
    static bool chmod(const QString &path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode) == 0; }

private slots:
    void init()
    {
        QVERIFY(m_dir.emplace().isValid());
        SetStoreDirectory(storeDir());
        SetAutostartDirectory(HKEY_LOCAL_MACHINE, runDir(HKEY_LOCAL_MACHINE));
        SetAutostartDirectory(HKEY_CURRENT_USER, runDir(HKEY_CURRENT_USER));
    }
    void cleanup()
    {
        QCOMPARE(OpenHandleCount(), 0); // every test closes what it opened
        chmod(runDir(HKEY_LOCAL_MACHINE), 0700), chmod(storeDir(), 0700);
    }

    // Access as asked for, names in any case, a buffer of exactly the size told; each handle closes once.
    void keysValuesAndHandles()
    {
        HKEY key = 0, other = 0;
        DWORD disposition = 0, size = 0;
        const QByteArray bytes("0123456789");
        QByteArray buffer(10, '\0');
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, QStringLiteral("Software\\Torvane\\Panel"), 0, QString(), 0, KEY_SET_VALUE, nullptr, &key, &disposition), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("Bin"), bytes, REG_BINARY), ERROR_SUCCESS);
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Bin"), nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
        QVERIFY(disposition == REG_CREATED_NEW_KEY && RegCloseKey(key) == ERROR_SUCCESS && RegCloseKey(key) == ERROR_INVALID_HANDLE);
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, QStringLiteral("software\\TORVANE\\panel"), 0, QString(), 0, KEY_QUERY_VALUE, nullptr, &key, &disposition), ERROR_SUCCESS);
        QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
        size = 10;
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("bin"), nullptr, nullptr, reinterpret_cast<quint8 *>(buffer.data()), &size), ERROR_SUCCESS);
        QVERIFY(buffer == bytes && size == 10);
        DWORD reserved = 0; // a buffer without its size, or the reserved argument, is refused
        QVERIFY(RegQueryValueEx(key, QStringLiteral("bin"), nullptr, nullptr, reinterpret_cast<quint8 *>(buffer.data()), nullptr) == ERROR_INVALID_PARAMETER
                && RegQueryValueEx(key, QStringLiteral("bin"), &reserved, nullptr, nullptr, &size) == ERROR_INVALID_PARAMETER);
        QCOMPARE(RegOpenKeyEx(key, QString(), 0, KEY_QUERY_VALUE, &other), ERROR_SUCCESS);
        QVERIFY(other != key && OpenHandleCount() == 2);
        HKEY same = 0; // no subkey: the same handle, if it is one
        QVERIFY(RegOpenKey(key, QString(), &same) == ERROR_SUCCESS && same == key && RegOpenKey(0x1234, QString(), &same) == ERROR_INVALID_HANDLE);
        QVERIFY(RegCloseKey(other) == ERROR_SUCCESS && RegCloseKey(key) == ERROR_SUCCESS);
    }

    // One file per root, the user's private; rewritten in place where only it may be written; a damaged one refused, kept.
    void storeFiles()
    {
        HKEY key = 0;
        for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            QCOMPARE(RegCreateKey(root, QStringLiteral("Software\\X"), &key), ERROR_SUCCESS);
            QVERIFY(setString(key, root == HKEY_CURRENT_USER ? "user" : "machine", "1") == ERROR_SUCCESS && RegCloseKey(key) == ERROR_SUCCESS);
        }
        QVERIFY(modeOf(StoreFile(HKEY_CURRENT_USER)) == 0600u && modeOf(StoreFile(HKEY_LOCAL_MACHINE)) == 0644u && modeOf(storeDir()) == 0700u);
        QVERIFY(!readBytes(StoreFile(HKEY_CURRENT_USER)).contains("machine") && chmod(storeDir(), 0555));
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, QStringLiteral("Software\\X"), &key), ERROR_SUCCESS);
        QVERIFY(setString(key, QStringLiteral("more"), "2") == ERROR_SUCCESS && RegCloseKey(key) == ERROR_SUCCESS);
        QVERIFY(readBytes(StoreFile(HKEY_CURRENT_USER)).contains("more") && files(storeDir()).size() == 2);
        QVERIFY(chmod(storeDir(), 0700));
        TestSupport::writeBytes(StoreFile(HKEY_CURRENT_USER), "{ not a store");
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Y"), &key), ERROR_BADDB);
        QCOMPARE(key, HKEY(0)); // no handle from a failed call
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, QStringLiteral("Software"), 0, KEY_QUERY_VALUE, &key), ERROR_BADDB);
        QCOMPARE(readBytes(StoreFile(HKEY_CURRENT_USER)), QByteArray("{ not a store"));
    }

    // A run key value is a desktop entry, only a program's path; a read-only autostart directory stays so, for root too.
    void runValueIsADesktopEntry_data()
    {
        QTest::addColumn<quint32>("root");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("tryExec"); // the path itself, as a desktop entry's string
        QTest::newRow("user, plain") << quint32(HKEY_CURRENT_USER) << "/opt/veskora/Veskora" << "/opt/veskora/Veskora" << "/opt/veskora/Veskora";
        QTest::newRow("blank quoted") << quint32(HKEY_LOCAL_MACHINE) << "/opt/My Panel/Veskora" << "\"/opt/My Panel/Veskora\"" << "/opt/My Panel/Veskora";
        QTest::newRow("dollar and backslash") << quint32(HKEY_LOCAL_MACHINE) << "/opt/a$b\\c/V" << "\"/opt/a\\\\$b\\\\\\\\c/V\"" << "/opt/a$b\\\\c/V";
        QTest::newRow("percent doubled") << quint32(HKEY_LOCAL_MACHINE) << "/opt/100%/V" << "/opt/100%%/V" << "/opt/100%/V";
        QTest::newRow("white space at an end quoted") << quint32(HKEY_CURRENT_USER) << "/opt/V\v" << "\"/opt/V\v\"" << "/opt/V\v";
    }
    void runValueIsADesktopEntry()
    {
        QFETCH(quint32, root);
        QFETCH(QString, value);
        QFETCH(QString, exec);
        QFETCH(QString, tryExec);
        HKEY key = 0;
        QCOMPARE(RegCreateKey(root, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("ClientStart"), value.toUtf8()), ERROR_SUCCESS);
        const QString entry = runDir(root) + QStringLiteral("/ClientStart.desktop");
        const QByteArray text = readBytes(entry);
        QCOMPARE(QString::fromUtf8(text), "[Desktop Entry]\nType=Application\nName=ClientStart\nTryExec=" + tryExec + "\nExec=" + exec + u'\n');
        QVERIFY(modeOf(entry) == 0644u && files(runDir(root)).size() == 1 && !QFileInfo::exists(StoreFile(root)));
        QByteArray data(256, '\0');
        DWORD type = 0, size = DWORD(data.size());
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("clientstart"), nullptr, &type, reinterpret_cast<quint8 *>(data.data()), &size), ERROR_SUCCESS);
        QCOMPARE(data.left(size), value.toUtf8() + '\0');
        for (const auto &[n, t, d] : {std::tuple{"../escape", REG_SZ, "/x"}, {"", REG_SZ, "/x"}, {"N", REG_DWORD, "\1\0\0\0"}, {"E", REG_SZ, ""}})
            QCOMPARE(setString(key, QString::fromLatin1(n), QByteArray(d, t == REG_SZ ? qsizetype(strlen(d)) : 4), t), ERROR_INVALID_PARAMETER);
        QVERIFY(RegDeleteValue(key, QStringLiteral("ClientStart")) == ERROR_SUCCESS && !QFileInfo::exists(entry));
        QCOMPARE(setString(key, QStringLiteral("ClientStart"), value.toUtf8()), ERROR_SUCCESS);
        QVERIFY(RegCloseKey(key) == ERROR_SUCCESS && chmod(runDir(root), 0505));
        QCOMPARE(RegCreateKey(root, RunKey, &key), ERROR_ACCESS_DENIED);
        QCOMPARE(RegOpenKey(root, RunKey, &key), ERROR_SUCCESS);
        QVERIFY(RegDeleteValue(key, QStringLiteral("ClientStart")) == ERROR_ACCESS_DENIED && setString(key, QStringLiteral("Other"), "/x") == ERROR_ACCESS_DENIED);
        QVERIFY(files(runDir(root)).size() == 1 && readBytes(entry) == text && RegCloseKey(key) == ERROR_SUCCESS);
        QVERIFY(!QFileInfo::exists(storeDir()));
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_Registry.moc"
