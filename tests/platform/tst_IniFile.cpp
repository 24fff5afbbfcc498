#include "platform/IniFile.h"
#include "../support/FileBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace IniFile;

using TestSupport::readBytes;
using TestSupport::writeBytes;

namespace {

QString readText(const QString &section, const QString &key, const QString &file, const QString &def = QStringLiteral("DEF"))
{
    QString out;
    const quint32 n = GetPrivateProfileStringA(section, key, def, out, 255, file);
    return quint32(out.size()) == n ? out : QStringLiteral("<count %1 for %2 characters>").arg(n).arg(out.size());
}

struct stat statOf(const QString &path)
{
    struct stat st{};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

const QByteArray kBefore("[A]\r\nk=old value\r\nother=keep\r\n");

// The write of the installed-layout cases, in a child process when privileges are dropped.
// No file may grow past the size of kBefore, as on a disk that is full.
int putAsWriter(const QString &file, const QString &value)
{
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit full{rlim_t(kBefore.size()), limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &full);
    const bool written = WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), value, file);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return written ? 0 : 1;
}

// Child process for the kill test: rewrites one large key forever, says "ready" once.
int runWriter(const QString &file, int megabytes)
{
    const QString a(qsizetype(megabytes) * 1024 * 1024, u'A'), b(a.size(), u'B');
    for (quint64 i = 0;; ++i) {
        if (!WritePrivateProfileStringA(QStringLiteral("Client"), QStringLiteral("Big"), (i % 2) ? b : a, file))
            return 2;
        if (i == 0) {
            fputs("ready\n", stdout);
            fflush(stdout);
        }
    }
}

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_dir;
    QString path(const QString &name = QStringLiteral("test.ini")) const { return m_dir->filePath(name); }
    bool put(const QString &s, const QString &k, const QString &v, const QString &file) { return WritePrivateProfileStringA(s, k, v, file); }

    QTemporaryDir m_exeDir;
    QString m_exe; // this program where a user without privileges may run it

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            return;
        m_exe = m_exeDir.filePath(QStringLiteral("tst_IniFile"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), m_exe));
        QVERIFY(QFile::setPermissions(m_exeDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    }
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    void cleanup() { ::chmod(QFile::encodeName(path(QStringLiteral("ro"))).constData(), 0755); } // to be removed

    void readString_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("LF only") << QByteArray("[S]\nk=v\nj=w\n") << "S" << "j" << "w";
        QTest::newRow("CR only") << QByteArray("[S]\rk=v\rj=w\r") << "S" << "j" << "w";
        QTest::newRow("lines and names trimmed") << QByteArray("  [  S  ] tail\r\n \t k name = v  \t\r\n") << "S" << "k name" << "v";
        QTest::newRow("section up to last bracket") << QByteArray("[a]b]\r\nk=v\r\n") << "a]b" << "k" << "v";
        QTest::newRow("split at first equals") << QByteArray("[S]\r\nk=a=b\r\n") << "S" << "k" << "a=b";
        QTest::newRow("indented comment") << QByteArray("[S]\r\n   ;k=x\r\nk=v\r\n") << "S" << "k" << "v";
        QTest::newRow("nameless section") << QByteArray("k=top\r\n[S]\r\nk=v\r\n") << "" << "k" << "top";
        QTest::newRow("case") << QByteArray("[CLIENT]\r\nTxtServer=host\r\n") << "client" << "TXTSERVER" << "host";
        QTest::newRow("first key counts") << QByteArray("[S]\r\nk=1\r\nK=2\r\n") << "S" << "k" << "1";
        QTest::newRow("first section counts") << QByteArray("[S]\r\na=1\r\n[s]\r\nk=2\r\n") << "S" << "k" << "DEF";
        QTest::newRow("double quotes") << QByteArray("[S]\r\nk=\" a b \"\r\n") << "S" << "k" << " a b ";
        QTest::newRow("single quotes") << QByteArray("[S]\r\nk='x'\r\n") << "S" << "k" << "x";
        QTest::newRow("only one pair") << QByteArray("[S]\r\nk=\"\"x\"\"\r\n") << "S" << "k" << "\"x\"";
        QTest::newRow("mixed quotes stay") << QByteArray("[S]\r\nk=\"x'\r\n") << "S" << "k" << "\"x'";
        QTest::newRow("one quote stays") << QByteArray("[S]\r\nk=\"\r\n") << "S" << "k" << "\"";
        QTest::newRow("empty value is a value") << QByteArray("[S]\r\nk=\r\n") << "S" << "k" << "";
        QTest::newRow("UTF-8 with byte order mark") << QByteArray("\xEF\xBB\xBF[S]\r\nk=Grüße\r\n") << "S" << "k" << QString::fromUtf8("Grüße");
    }
    void readString()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeBytes(path(), content);
        QCOMPARE(readText(section, key, path()), expected);
    }

    // A value written reads back as ReadBack tells, blanks around it and enclosing quotes gone.
    void writtenValueReadsBack_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("kept") << "a \"b' c" << "a \"b' c";
        QTest::newRow("blanks around") << " \ta b  " << "a b";
        QTest::newRow("double quotes") << "\" x \"" << " x ";
        QTest::newRow("single quotes, blanks outside") << " 'x' " << "x";
        QTest::newRow("one pair only") << "''x''" << "'x'";
        QTest::newRow("lone quote") << "\"" << "\"";
    }
    void writtenValueReadsBack()
    {
        QFETCH(QString, value);
        QTEST(IniFile::ReadBack(value), "readBack");
        // A key beginning with the byte order mark character is a key like any other.
        for (const QString &key : {QStringLiteral("k"), QStringLiteral("\uFEFFk")}) {
            QVERIFY(IniFile::WritePrivateProfileStringA(QStringLiteral("S"), key, value, path()));
            QTEST(readText(QStringLiteral("S"), key, path()), "readBack");
        }
    }

    void defaultLosesTrailingBlanks()
    {
        QCOMPARE(readText(QStringLiteral("S"), QStringLiteral("k"), path(QStringLiteral("missing.ini")), QStringLiteral("  abc \t")), QStringLiteral("  abc"));
        writeBytes(path(), "[S]\r\n");
        QCOMPARE(readText(QStringLiteral("S"), QStringLiteral("k"), path(), QStringLiteral("  abc \t")), QStringLiteral("  abc"));
    }

    void longValueIsCut()
    {
        const QString value(300, u'x');
        QVERIFY(put(QStringLiteral("S"), QStringLiteral("k"), value + QStringLiteral("END"), path()));
        QString out;
        QCOMPARE(GetPrivateProfileStringA(QStringLiteral("S"), QStringLiteral("k"), QString(), out, 255, path()), 254u);
        QCOMPARE(out, QString(254, u'x'));
        QCOMPARE(GetPrivateProfileStringA(QStringLiteral("S"), QStringLiteral("none"), value, out, 255, path()), 254u);
        QCOMPARE(GetPrivateProfileStringA(QStringLiteral("S"), QStringLiteral("k"), QString(), out, 1, path()), 0u);
        QCOMPARE(out, QString());
        QVERIFY(readBytes(path()).contains(value.toLatin1() + "END\r\n"));
    }

    void readInt_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("expected");
        QTest::newRow("leading number") << QByteArray("k= 12abc") << 12;
        QTest::newRow("word") << QByteArray("k=abc") << 0;
        QTest::newRow("negative") << QByteArray("k=-5") << -5;
        QTest::newRow("blank after sign stops") << QByteArray("k=- 7") << 0;
        QTest::newRow("hex") << QByteArray("k=0XffG") << 255;
        QTest::newRow("negative hex") << QByteArray("k=-0x10") << -16;
        QTest::newRow("empty gives default") << QByteArray("k=") << 77;
        QTest::newRow("missing gives default") << QByteArray("j=1") << 77;
        QTest::newRow("32-bit wrap") << QByteArray("k=4294967295") << -1;
    }
    void readInt()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, expected);
        writeBytes(path(), "[S]\r\n" + line + "\r\n");
        QCOMPARE(GetPrivateProfileIntA(QStringLiteral("S"), QStringLiteral("k"), 77, path()), expected);
    }

    // The file before, the write, the exact file after.
    void writeRule_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("replace keeps comments, blanks, order")
            << QByteArray("; head\r\n\r\n[Client]\r\n; note\r\ntxtServer=old\r\n\r\nSecurityPassword=\"x y\"\r\n") << "Client" << "txtServer" << "new"
            << QByteArray("; head\r\n\r\n[Client]\r\n; note\r\ntxtServer=new\r\n\r\nSecurityPassword=\"x y\"\r\n");
        QTest::newRow("original spelling kept")
            << QByteArray("[CLIENT]\r\n  TxtServer = old  \r\n") << "client" << "txtserver" << "new" << QByteArray("[CLIENT]\r\nTxtServer=new\r\n");
        QTest::newRow("new key at end of section, before the blank line")
            << QByteArray("[A]\r\na=1\r\n; c\r\n\r\n[B]\r\nb=2\r\n") << "A" << "n" << "v" << QByteArray("[A]\r\na=1\r\n; c\r\nn=v\r\n\r\n[B]\r\nb=2\r\n");
        QTest::newRow("new section at end") << QByteArray("[A]\r\na=1\r\n") << "B" << "n" << "v" << QByteArray("[A]\r\na=1\r\n[B]\r\nn=v\r\n");
        QTest::newRow("LF lines stay LF") << QByteArray("[A]\na=1\nb=2\n") << "A" << "a" << "9" << QByteArray("[A]\na=9\r\nb=2\n");
        QTest::newRow("only the first key of a name") << QByteArray("[A]\r\nk=1\r\nk=2\r\n") << "A" << "K" << "3" << QByteArray("[A]\r\nk=3\r\nk=2\r\n");
        QTest::newRow("key without value gets one") << QByteArray("[A]\r\nk\r\n") << "A" << "k" << "" << QByteArray("[A]\r\nk=\r\n");
        QTest::newRow("nameless section") << QByteArray("x=1\r\n[A]\r\n") << "" << "y" << "2" << QByteArray("x=1\r\ny=2\r\n[A]\r\n");
        QTest::newRow("byte order mark stays first") << QByteArray("\xEF\xBB\xBFx=1\r\n") << "" << "x" << "2" << QByteArray("\xEF\xBB\xBFx=2\r\n");
        QTest::newRow("bytes that are no UTF-8 survive")
            << QByteArray("; \xFF\xFE odd\r\n[A]\r\nk=1\r\n") << "A" << "k" << QString::fromUtf8("Ü") << QByteArray("; \xFF\xFE odd\r\n[A]\r\nk=\xC3\x9C\r\n");
    }
    void writeRule()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        writeBytes(path(), before);
        QVERIFY(put(section, key, value, path()));
        QCOMPARE(readBytes(path()), after);
        QCOMPARE(readText(section, key, path()), value);
    }

    void newFileIsOwnerOnlyAndRewriteReplacesAtomically()
    {
        const QString file = path(QStringLiteral("Client.cfg"));
        QVERIFY(put(QStringLiteral("Client"), QStringLiteral("txtPassword"), QStringLiteral("secret"), file));
        QCOMPARE(readBytes(file), QByteArray("[Client]\r\ntxtPassword=secret\r\n"));
        QCOMPARE(statOf(file).st_mode & 07777, 0600u);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Client.cfg")});
        // A rewrite puts a new file in the old one's place and keeps its permissions.
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const ino_t before = statOf(file).st_ino;
        QVERIFY(put(QStringLiteral("Client"), QStringLiteral("txtPassword"), QStringLiteral("other"), file));
        QVERIFY(statOf(file).st_ino != before);
        QCOMPARE(statOf(file).st_mode & 07777, 0640u);
    }

    void unchangedValueTouchesNothing()
    {
        const QByteArray content("[A]\r\nk = abc \n");
        writeBytes(path(), content);
        const ino_t before = statOf(path()).st_ino;
        QVERIFY(put(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("abc"), path()));
        QCOMPARE(statOf(path()).st_ino, before);
        QCOMPARE(readBytes(path()), content);
        QVERIFY(put(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("ABC"), path())); // case is a change
        QCOMPARE(readBytes(path()), QByteArray("[A]\r\nk=ABC\r\n"));
    }

    void whatIsAFile()
    {
        QVERIFY(!put(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1"), m_dir->filePath(QStringLiteral("nodir/x.ini"))));
        QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("nodir"))));
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("sub.ini")));
        QCOMPARE(readText(QStringLiteral("A"), QStringLiteral("k"), path(QStringLiteral("sub.ini"))), QStringLiteral("DEF"));
        QVERIFY(!put(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1"), path(QStringLiteral("sub.ini"))));
    }

    // Writes as the panel is installed, by a user to whom permissions apply: "nobody" when the
    // tests run as root, else the tester. The writer may change rw/ but not ro/ (a program
    // directory); the links stand where the program looks for its files.
    void writeWhereInstalled_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("written");
        QTest::addColumn<bool>("replaced"); // by a new file (the atomic write)
        QTest::newRow("group-writable file, read-only directory") << "ro/Client.cfg" << "ro/Client.cfg" << "v" << true << false;
        QTest::newRow("link into a read-only directory") << "ro/link.cfg" << "ro/Client.cfg" << "v" << true << false;
        QTest::newRow("link into a writable directory") << "ro/link-rw.cfg" << "rw/own.cfg" << "v" << true << true;
        QTest::newRow("link to a missing file") << "ro/link-new.cfg" << "rw/new.cfg" << "v" << true << true;
        QTest::newRow("another user's file, writable directory") << "rw/foreign.cfg" << "rw/foreign.cfg" << "v" << true << false;
        QTest::newRow("no room to grow, read-only directory") << "ro/Client.cfg" << "ro/Client.cfg" << "a longer value" << false << false;
        QTest::newRow("unwritable file, read-only directory") << "ro/locked.cfg" << "ro/locked.cfg" << "v" << false << false;
        QTest::newRow("unwritable file, writable directory") << "rw/locked.cfg" << "rw/locked.cfg" << "v" << false << false;
    }
    void writeWhereInstalled()
    {
        QFETCH(QString, name);
        QFETCH(QString, target);
        QFETCH(QString, value);
        QFETCH(bool, written);
        QFETCH(bool, replaced);
        const bool root = ::geteuid() == 0;
        if (!root && name == QLatin1String("rw/foreign.cfg"))
            QSKIP("only root can give a file another owner");
        const passwd *nobody = ::getpwnam("nobody");
        const group *nogroup = ::getgrnam("nogroup");
        QVERIFY(nobody && nogroup);
        const uid_t uid = root ? nobody->pw_uid : ::geteuid();
        const gid_t gid = root ? nogroup->gr_gid : ::getegid();

        // Owned by root (or the tester) unless the writer is named.
        const auto make = [&](const char *file, mode_t mode, uid_t owner = 0, gid_t group = 0) {
            const QByteArray p = QFile::encodeName(path(QLatin1String(file)));
            if (QByteArray(file).endsWith('/'))
                QCOMPARE(::mkdir(p.constData(), mode), 0);
            else
                writeBytes(path(QLatin1String(file)), kBefore);
            QCOMPARE(::chmod(p.constData(), mode), 0);
            if (root)
                QCOMPARE(::chown(p.constData(), owner, group), 0);
        };
        QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
        make("ro/", 0755);
        make("rw/", 0755, uid, gid);
        make("ro/Client.cfg", 0664, 0, gid);
        make("ro/locked.cfg", root ? 0644 : 0444);
        make("rw/own.cfg", 0660, uid, gid);
        make("rw/locked.cfg", root ? 0644 : 0444);
        if (root)
            make("rw/foreign.cfg", 0666);
        QVERIFY(QFile::link(QStringLiteral("Client.cfg"), path(QStringLiteral("ro/link.cfg"))));
        QVERIFY(QFile::link(QStringLiteral("../rw/own.cfg"), path(QStringLiteral("ro/link-rw.cfg"))));
        QVERIFY(QFile::link(QStringLiteral("../rw/new.cfg"), path(QStringLiteral("ro/link-new.cfg"))));
        if (!root)
            QCOMPARE(::chmod(QFile::encodeName(path(QStringLiteral("ro"))).constData(), 0555), 0);
        if (QTest::currentTestFailed())
            return;
        const auto listing = [&] {
            QStringList all;
            QDirIterator it(m_dir->path(), QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext())
                all.append(QDir(m_dir->path()).relativeFilePath(it.next()));
            all.sort();
            return all;
        };
        QStringList entries = listing();
        const bool existed = QFileInfo::exists(path(target));
        const struct stat before = statOf(path(target));

        int result = -1;
        if (root) {
            QProcess writer;
            writer.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid), QStringLiteral("--clear-groups"),
                                                    m_exe, QStringLiteral("--ini-put"), path(name), value});
            QVERIFY(writer.waitForFinished(30000));
            QCOMPARE(writer.exitStatus(), QProcess::NormalExit);
            QCOMPARE(writer.readAllStandardError(), QByteArray());
            result = writer.exitCode();
        } else {
            result = putAsWriter(path(name), value);
        }

        QCOMPARE(result, written ? 0 : 1);
        const QByteArray line = "[A]\r\nk=" + value.toUtf8() + "\r\n";
        QCOMPARE(readBytes(path(target)), !written ? kBefore : existed ? line + "other=keep\r\n" : line);
        QCOMPARE(QFileInfo(path(name)).isSymLink(), name != target);
        const struct stat after = statOf(path(target));
        if (existed) {
            QCOMPARE(after.st_ino != before.st_ino, replaced);
            QCOMPARE(after.st_uid, before.st_uid);
            QCOMPARE(after.st_gid, before.st_gid);
            QCOMPARE(after.st_mode, before.st_mode);
        } else {
            entries.append(target);
            entries.sort();
            QCOMPARE(after.st_uid, uid);
            QCOMPARE(after.st_mode & 07777, 0600u);
        }
        QCOMPARE(listing(), entries); // no temporary file left behind
    }

    // A refused write leaves the file as it was: read-only (for root too, whose careless rename
    // in the writable directory would replace it), or a name or value that would add lines.
    void refusedWriteLeavesFileWhole_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("read-only, changed value") << true << "A" << "k" << "2";
        QTest::newRow("read-only, new key") << true << "A" << "n" << "2";
        QTest::newRow("value LF") << false << "A" << "k" << "x\nSecurityPassword=";
        QTest::newRow("key LF") << false << "A" << "k\nj" << "1";
        QTest::newRow("key like a section") << false << "A" << "[B]" << "1";
        QTest::newRow("section LF") << false << "A]\n[B" << "k" << "1";
    }
    void refusedWriteLeavesFileWhole()
    {
        QFETCH(bool, readOnly);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QByteArray content("[A]\r\nk=1\r\nSecurityPassword=p\r\n");
        writeBytes(path(), content);
        if (readOnly)
            QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const ino_t before = statOf(path()).st_ino;
        QVERIFY(!put(section, key, value, path()));
        QCOMPARE(readBytes(path()), content);
        QCOMPARE(statOf(path()).st_ino, before);
        QCOMPARE(statOf(path()).st_mode & 0222, readOnly ? 0u : 0200u);
    }

    // SIGKILL a real writer while it rewrites a large value: the file is always one whole
    // version. Repeats until a kill found a temporary file beside the target (mid-write).
    void killDuringWriteLeavesOldFileWhole()
    {
        const QString file = path(QStringLiteral("Client.cfg"));
        const QByteArray head("; settings\r\n[Client]\r\ntxtServer=host\r\n");
        const QByteArray tail("SecurityPassword=keep\r\n\r\n[Other]\r\nx=1\r\n");
        const int megabytes = 16;
        const qsizetype length = qsizetype(megabytes) * 1024 * 1024;
        const QByteArray versionA = head + "Big=" + QByteArray(length, 'A') + "\r\n" + tail;
        const QByteArray versionB = head + "Big=" + QByteArray(length, 'B') + "\r\n" + tail;
        writeBytes(file, head + "Big=small\r\n" + tail);
        const auto temporaries = [&] { return QDir(m_dir->path()).entryList({QStringLiteral("Client.cfg.*")}, QDir::Files | QDir::Hidden); };

        bool hitMidWrite = false;
        for (int attempt = 0; attempt < 10 && !hitMidWrite; ++attempt) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--ini-writer"), file, QString::number(megabytes)});
            QVERIFY(writer.waitForStarted(10000));
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT((said += writer.readAllStandardOutput()).contains("ready") || writer.state() == QProcess::NotRunning, 60000);
            QCOMPARE(writer.state(), QProcess::Running);
            QTRY_VERIFY_WITH_TIMEOUT(!temporaries().isEmpty(), 30000);
            ::kill(pid_t(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished(10000));
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
            const QByteArray now = readBytes(file);
            QVERIFY2(now == versionA || now == versionB, "the file is not one whole version");
            const QStringList left = temporaries();
            hitMidWrite = !left.isEmpty();
            for (const QString &t : left)
                QFile::remove(m_dir->filePath(t));
        }
        QVERIFY2(hitMidWrite, "no kill hit a write in progress");
        QCOMPARE(readText(QStringLiteral("Client"), QStringLiteral("SecurityPassword"), file), QStringLiteral("keep"));
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--ini-put") == 0)
        return putAsWriter(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && qstrcmp(argv[1], "--ini-writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    QCoreApplication app(argc, argv);
    TestIniFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_IniFile.moc"
