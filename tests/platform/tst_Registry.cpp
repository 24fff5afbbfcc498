#include "platform/Registry.h"
#include "../support/FileBytes.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
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

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_dir;
    QString storeDir() const { return m_dir->filePath(QStringLiteral("registry")); }
    QString runDir(HKEY root) const { return m_dir->filePath(root == HKEY_LOCAL_MACHINE ? "xdg/autostart" : "home/autostart"); }
    QStringList files(const QString &dir) const { return QDir(dir).entryList(QDir::Files | QDir::Hidden); }

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
        ::chmod(QFile::encodeName(runDir(HKEY_LOCAL_MACHINE)).constData(), 0700);
        ::chmod(QFile::encodeName(storeDir()).constData(), 0700);
    }

    // Access as asked for, names without regard to case, a buffer of exactly the size
    // told; each handle closes once.
    void keysValuesAndHandles()
    {
        HKEY key = 0, other = 0;
        DWORD disposition = 0, size = 0;
        const quint8 bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        quint8 buffer[10] = {};
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, QStringLiteral("Software\\Torvane\\Panel"), 0, QString(), 0, KEY_SET_VALUE, nullptr, &key, &disposition), ERROR_SUCCESS);
        QCOMPARE(RegSetValueEx(key, QStringLiteral("Bin"), 0, REG_BINARY, bytes, 10), ERROR_SUCCESS);
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("Bin"), nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
        QVERIFY(disposition == REG_CREATED_NEW_KEY && RegCloseKey(key) == ERROR_SUCCESS && RegCloseKey(key) == ERROR_INVALID_HANDLE);
        QCOMPARE(RegCreateKeyEx(HKEY_CURRENT_USER, QStringLiteral("software\\TORVANE\\panel"), 0, QString(), 0, KEY_QUERY_VALUE, nullptr, &key, &disposition), ERROR_SUCCESS);
        QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
        size = 10;
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("bin"), nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), qsizetype(size)), QByteArray(reinterpret_cast<const char *>(bytes), 10));
        QCOMPARE(RegOpenKeyEx(key, QString(), 0, KEY_QUERY_VALUE, &other), ERROR_SUCCESS);
        QVERIFY(other != key && OpenHandleCount() == 2);
        QVERIFY(RegCloseKey(other) == ERROR_SUCCESS && RegCloseKey(key) == ERROR_SUCCESS);
    }

    // One file per root, the user's private; where only the file may be written, as
    // installed, it is rewritten in place. A damaged file is refused, never overwritten.
    void storeFiles()
    {
        HKEY key = 0;
        for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            QCOMPARE(RegCreateKey(root, QStringLiteral("Software\\X"), &key), ERROR_SUCCESS);
            QCOMPARE(setString(key, root == HKEY_CURRENT_USER ? "user" : "machine", "1"), ERROR_SUCCESS);
            QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        }
        QVERIFY(modeOf(StoreFile(HKEY_CURRENT_USER)) == 0600u && modeOf(StoreFile(HKEY_LOCAL_MACHINE)) == 0644u);
        QVERIFY(!readBytes(StoreFile(HKEY_CURRENT_USER)).contains("machine"));
        QCOMPARE(::chmod(QFile::encodeName(storeDir()).constData(), 0555), 0);
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, QStringLiteral("Software\\X"), &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("more"), "2"), ERROR_SUCCESS);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QVERIFY(readBytes(StoreFile(HKEY_CURRENT_USER)).contains("more"));
        QCOMPARE(files(storeDir()).size(), 2);

        QCOMPARE(::chmod(QFile::encodeName(storeDir()).constData(), 0700), 0);
        TestSupport::writeBytes(StoreFile(HKEY_CURRENT_USER), "{ not a store");
        QCOMPARE(RegCreateKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Y"), &key), ERROR_BADDB);
        QCOMPARE(RegOpenKeyEx(HKEY_CURRENT_USER, QStringLiteral("Software"), 0, KEY_QUERY_VALUE, &key), ERROR_BADDB);
        QCOMPARE(readBytes(StoreFile(HKEY_CURRENT_USER)), QByteArray("{ not a store"));
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
        HKEY key = 0;
        QCOMPARE(RegCreateKey(root, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("ClientStart"), value.toUtf8()), ERROR_SUCCESS);
        const QString entry = runDir(root) + QStringLiteral("/ClientStart.desktop");
        QCOMPARE(QString::fromUtf8(readBytes(entry)), "[Desktop Entry]\nType=Application\nName=ClientStart\nExec=" + exec + u'\n');
        QVERIFY(modeOf(entry) == 0644u && files(runDir(root)).size() == 1 && !QFileInfo::exists(StoreFile(root)));
        QByteArray data(256, '\0');
        DWORD type = 0, size = DWORD(data.size());
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("clientstart"), nullptr, &type, reinterpret_cast<quint8 *>(data.data()), &size), ERROR_SUCCESS);
        QCOMPARE(data.left(size), value.toUtf8() + '\0');
        QCOMPARE(RegDeleteValue(key, QStringLiteral("ClientStart")), ERROR_SUCCESS);
        QVERIFY(!QFileInfo::exists(entry));
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
    }

    // Only a string naming a program can start at login; an autostart directory marked
    // read-only stays so, for root too.
    void runKeyRefusals()
    {
        const QString dir = runDir(HKEY_LOCAL_MACHINE);
        HKEY key = 0;
        QCOMPARE(RegCreateKey(HKEY_LOCAL_MACHINE, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(setString(key, QStringLiteral("ClientStart"), "/opt/v/Veskora"), ERROR_SUCCESS);
        const QList<std::tuple<QString, DWORD, QByteArray>> refused{
            {"../escape", REG_SZ, "/x"}, {"", REG_SZ, "/x"}, {"N", REG_DWORD, QByteArray("\1\0\0\0", 4)}, {"E", REG_SZ, QByteArray("\0", 1)}};
        for (const auto &[name, type, data] : refused)
            QCOMPARE(RegSetValueEx(key, name, 0, type, reinterpret_cast<const quint8 *>(data.constData()), DWORD(data.size())), ERROR_INVALID_PARAMETER);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        const QByteArray entry = readBytes(dir + QStringLiteral("/ClientStart.desktop"));
        QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0505), 0);
        QCOMPARE(RegCreateKey(HKEY_LOCAL_MACHINE, RunKey, &key), ERROR_ACCESS_DENIED);
        QCOMPARE(RegOpenKey(HKEY_LOCAL_MACHINE, RunKey, &key), ERROR_SUCCESS);
        QCOMPARE(RegDeleteValue(key, QStringLiteral("ClientStart")), ERROR_ACCESS_DENIED);
        QCOMPARE(setString(key, QStringLiteral("Other"), "/x"), ERROR_ACCESS_DENIED);
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        QCOMPARE(files(dir), QStringList{QStringLiteral("ClientStart.desktop")});
        QCOMPARE(readBytes(dir + QStringLiteral("/ClientStart.desktop")), entry);
        QVERIFY(files(m_dir->path()).isEmpty() && !QFileInfo::exists(storeDir()));
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_Registry.moc"
