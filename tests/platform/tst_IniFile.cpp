#include "platform/IniFile.h"
#include "../support/FileBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <sys/stat.h>

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

private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }

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
        QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("sub.ini")));
        // A write through a symbolic link changes the target and keeps the link.
        writeBytes(path(QStringLiteral("real.ini")), "[A]\r\nk=1\r\n");
        QVERIFY(QFile::link(path(QStringLiteral("real.ini")), path(QStringLiteral("link.ini"))));
        QVERIFY(put(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"), path(QStringLiteral("link.ini"))));
        QVERIFY(QFileInfo(path(QStringLiteral("link.ini"))).isSymLink());
        QCOMPARE(readBytes(path(QStringLiteral("real.ini"))), QByteArray("[A]\r\nk=2\r\n"));
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
    if (argc == 4 && qstrcmp(argv[1], "--ini-writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    QCoreApplication app(argc, argv);
    TestIniFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_IniFile.moc"
