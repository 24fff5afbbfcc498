#include "platform/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace IniFile;

namespace {

constexpr quint32 Size = 255;

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

QString readText(const QString &section, const QString &key, const QString &file, const QString &def = QStringLiteral("DEF"))
{
    QString out;
    const quint32 n = GetPrivateProfileStringA(section, key, def, out, Size, file);
    if (quint32(out.size()) != n)
        return QStringLiteral("<count %1 for %2 characters>").arg(n).arg(out.size());
    return out;
}

ino_t inodeOf(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

unsigned modeOf(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

// The writer a kill test runs as a child: rewrites one key of the file with a large value
// without end, alternating two letters, and says "ready" after the first complete write.
int runWriter(const QString &file, int megabytes)
{
    const qsizetype length = qsizetype(megabytes) * 1024 * 1024;
    const QString a(length, u'A');
    const QString b(length, u'B');
    bool announced = false;
    for (quint64 i = 0;; ++i) {
        if (!WritePrivateProfileStringA(QStringLiteral("Client"), QStringLiteral("Big"), (i % 2) ? b : a, file))
            return 2;
        if (!announced) {
            fputs("ready\n", stdout);
            fflush(stdout);
            announced = true;
        }
    }
}

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name = QStringLiteral("test.ini")) const { return m_dir.filePath(name); }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void cleanup()
    {
        const QStringList files = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
        for (const QString &f : files) {
            QFile::setPermissions(m_dir.filePath(f), QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(m_dir.filePath(f));
        }
    }

    // Each reading rule: the file's bytes, what is asked and what comes back.
    void readString_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        QTest::newRow("CR LF") << QByteArray("[S]\r\nk=v\r\n") << "S" << "k" << "v";
        QTest::newRow("LF only") << QByteArray("[S]\nk=v\nj=w\n") << "S" << "j" << "w";
        QTest::newRow("CR only") << QByteArray("[S]\rk=v\rj=w\r") << "S" << "j" << "w";
        QTest::newRow("no final line end") << QByteArray("[S]\r\nk=v") << "S" << "k" << "v";
        QTest::newRow("line trimmed") << QByteArray("  [S]  \r\n \t k = v  \t\r\n") << "S" << "k" << "v";
        QTest::newRow("section name trimmed") << QByteArray("[  S  ]\r\nk=v\r\n") << "S" << "k" << "v";
        QTest::newRow("section up to last bracket") << QByteArray("[a]b]\r\nk=v\r\n") << "a]b" << "k" << "v";
        QTest::newRow("text after bracket ignored") << QByteArray("[S] tail\r\nk=v\r\n") << "S" << "k" << "v";
        QTest::newRow("split at first equals") << QByteArray("[S]\r\nk=a=b\r\n") << "S" << "k" << "a=b";
        QTest::newRow("name right-trimmed, value left-trimmed")
            << QByteArray("[S]\r\nkey name   =   the value\r\n") << "S" << "key name" << "the value";
        QTest::newRow("comment is no key") << QByteArray("[S]\r\n;k=comment\r\nk=v\r\n") << "S" << "k" << "v";
        QTest::newRow("indented comment") << QByteArray("[S]\r\n   ;k=x\r\n") << "S" << "k" << "DEF";
        QTest::newRow("nameless section before the first")
            << QByteArray("k=top\r\n[S]\r\nk=v\r\n") << "" << "k" << "top";
        QTest::newRow("section not in nameless") << QByteArray("k=top\r\n[S]\r\n") << "S" << "k" << "DEF";
        QTest::newRow("section case") << QByteArray("[CLIENT]\r\nk=v\r\n") << "client" << "k" << "v";
        QTest::newRow("key case") << QByteArray("[S]\r\nTxtServer=host\r\n") << "S" << "TXTSERVER" << "host";
        QTest::newRow("first key counts") << QByteArray("[S]\r\nk=1\r\nK=2\r\n") << "S" << "k" << "1";
        QTest::newRow("first section counts")
            << QByteArray("[S]\r\na=1\r\n[T]\r\nk=t\r\n[s]\r\nk=2\r\n") << "S" << "k" << "DEF";
        QTest::newRow("key ends at next section") << QByteArray("[S]\r\n[T]\r\nk=t\r\n") << "S" << "k" << "DEF";
        QTest::newRow("double quotes") << QByteArray("[S]\r\nk=\" a b \"\r\n") << "S" << "k" << " a b ";
        QTest::newRow("single quotes") << QByteArray("[S]\r\nk='x'\r\n") << "S" << "k" << "x";
        QTest::newRow("only one pair") << QByteArray("[S]\r\nk=\"\"x\"\"\r\n") << "S" << "k" << "\"x\"";
        QTest::newRow("mixed quotes stay") << QByteArray("[S]\r\nk=\"x'\r\n") << "S" << "k" << "\"x'";
        QTest::newRow("one quote stays") << QByteArray("[S]\r\nk=\"\r\n") << "S" << "k" << "\"";
        QTest::newRow("two quotes give empty") << QByteArray("[S]\r\nk=\"\"\r\n") << "S" << "k" << "";
        QTest::newRow("empty value is a value") << QByteArray("[S]\r\nk=\r\n") << "S" << "k" << "";
        QTest::newRow("key without equals") << QByteArray("[S]\r\nk\r\n") << "S" << "k" << "DEF";
        QTest::newRow("missing key") << QByteArray("[S]\r\nj=v\r\n") << "S" << "k" << "DEF";
        QTest::newRow("missing section") << QByteArray("[T]\r\nk=v\r\n") << "S" << "k" << "DEF";
        QTest::newRow("bracket without close is a key") << QByteArray("[S]\r\n[k=v\r\n") << "S" << "[k" << "v";
        QTest::newRow("UTF-8") << QByteArray("[S]\r\nk=Grüße\r\n") << "S" << "k" << QString::fromUtf8("Grüße");
        QTest::newRow("UTF-8 byte order mark") << QByteArray("\xEF\xBB\xBF[S]\r\nk=v\r\n") << "S" << "k" << "v";
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

    void readStringDefault_data()
    {
        QTest::addColumn<QString>("def");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "0" << "0";
        QTest::newRow("trailing blanks cut") << "abc  \t" << "abc";
        QTest::newRow("leading blanks kept") << "  abc" << "  abc";
        QTest::newRow("empty") << "" << "";
    }
    void readStringDefault()
    {
        QFETCH(QString, def);
        QFETCH(QString, expected);
        QCOMPARE(readText(QStringLiteral("S"), QStringLiteral("k"), path(QStringLiteral("missing.ini")), def), expected);
        writeBytes(path(), "[S]\r\n");
        QCOMPARE(readText(QStringLiteral("S"), QStringLiteral("k"), path(), def), expected);
    }

    void longValueIsCut()
    {
        const QString value(300, u'x');
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("S"), QStringLiteral("k"), value + QStringLiteral("END"), path()));
        QString out;
        QCOMPARE(GetPrivateProfileStringA(QStringLiteral("S"), QStringLiteral("k"), QString(), out, 255, path()), 254u);
        QCOMPARE(out, QString(254, u'x'));
        // The default is cut the same way, and a buffer of one holds nothing.
        QCOMPARE(GetPrivateProfileStringA(QStringLiteral("S"), QStringLiteral("none"), value, out, 255, path()), 254u);
        QCOMPARE(GetPrivateProfileStringA(QStringLiteral("S"), QStringLiteral("k"), QString(), out, 1, path()), 0u);
        QCOMPARE(out, QString());
        // The whole value is still in the file.
        QVERIFY(readBytes(path()).contains(value.toLatin1() + "END\r\n"));
    }

    void readInt_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("expected");
        QTest::newRow("number") << QByteArray("k=42") << 42;
        QTest::newRow("leading number") << QByteArray("k=12abc") << 12;
        QTest::newRow("word") << QByteArray("k=abc") << 0;
        QTest::newRow("negative") << QByteArray("k=-5") << -5;
        QTest::newRow("plus") << QByteArray("k=+7") << 7;
        QTest::newRow("one sign only") << QByteArray("k=--7") << 0;
        QTest::newRow("blank after sign stops") << QByteArray("k=- 7") << 0;
        QTest::newRow("hex") << QByteArray("k=0x1F") << 31;
        QTest::newRow("hex upper") << QByteArray("k=0XffG") << 255;
        QTest::newRow("negative hex") << QByteArray("k=-0x10") << -16;
        QTest::newRow("fraction stops") << QByteArray("k=3.9") << 3;
        QTest::newRow("quoted") << QByteArray("k=\"15\"") << 15;
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

    void readIntMissingFile()
    {
        QCOMPARE(GetPrivateProfileIntA(QStringLiteral("S"), QStringLiteral("k"), -3, path(QStringLiteral("none.ini"))), -3);
    }

    // Each writing rule: the file before, the write, the exact file after.
    void write_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("replace keeps the rest")
            << QByteArray("; head\r\n\r\n[Client]\r\n; note\r\ntxtServer=old\r\n\r\nSecurityPassword=\"x y\"\r\n")
            << "Client" << "txtServer" << "new"
            << QByteArray("; head\r\n\r\n[Client]\r\n; note\r\ntxtServer=new\r\n\r\nSecurityPassword=\"x y\"\r\n");
        QTest::newRow("original spelling of the name kept")
            << QByteArray("[CLIENT]\r\n  TxtServer = old  \r\n") << "client" << "txtserver" << "new"
            << QByteArray("[CLIENT]\r\nTxtServer=new\r\n");
        QTest::newRow("new key at end of its section, before the blank line")
            << QByteArray("[A]\r\na=1\r\n; c\r\n\r\n[B]\r\nb=2\r\n") << "A" << "n" << "v"
            << QByteArray("[A]\r\na=1\r\n; c\r\nn=v\r\n\r\n[B]\r\nb=2\r\n");
        QTest::newRow("new key in last section")
            << QByteArray("[A]\r\na=1\r\n") << "A" << "n" << "v" << QByteArray("[A]\r\na=1\r\nn=v\r\n");
        QTest::newRow("new key after a line without end")
            << QByteArray("[A]\r\na=1") << "A" << "n" << "v" << QByteArray("[A]\r\na=1\r\nn=v\r\n");
        QTest::newRow("new section at end of file")
            << QByteArray("[A]\r\na=1\r\n") << "B" << "n" << "v" << QByteArray("[A]\r\na=1\r\n[B]\r\nn=v\r\n");
        QTest::newRow("LF lines stay LF")
            << QByteArray("[A]\na=1\nb=2\n") << "A" << "a" << "9" << QByteArray("[A]\na=9\r\nb=2\n");
        QTest::newRow("only the first key of a name")
            << QByteArray("[A]\r\nk=1\r\nk=2\r\n") << "A" << "K" << "3" << QByteArray("[A]\r\nk=3\r\nk=2\r\n");
        QTest::newRow("only the first section of a name")
            << QByteArray("[A]\r\n[B]\r\n[a]\r\nk=1\r\n") << "A" << "k" << "3"
            << QByteArray("[A]\r\nk=3\r\n[B]\r\n[a]\r\nk=1\r\n");
        QTest::newRow("empty value writes the key")
            << QByteArray("[A]\r\nk=1\r\n") << "A" << "k" << "" << QByteArray("[A]\r\nk=\r\n");
        QTest::newRow("key without value gets one")
            << QByteArray("[A]\r\nk\r\n") << "A" << "k" << "1" << QByteArray("[A]\r\nk=1\r\n");
        QTest::newRow("nameless section") << QByteArray("x=1\r\n[A]\r\n") << "" << "y" << "2"
                                          << QByteArray("x=1\r\ny=2\r\n[A]\r\n");
        QTest::newRow("byte order mark stays first")
            << QByteArray("\xEF\xBB\xBFx=1\r\n") << "" << "x" << "2" << QByteArray("\xEF\xBB\xBFx=2\r\n");
        QTest::newRow("bytes that are no UTF-8 survive")
            << QByteArray("; \xFF\xFE odd\r\n[A]\r\nk=1\r\n") << "A" << "k" << "2"
            << QByteArray("; \xFF\xFE odd\r\n[A]\r\nk=2\r\n");
        QTest::newRow("UTF-8 value") << QByteArray("[A]\r\n") << "A" << "k" << QString::fromUtf8("Übung")
                                     << QByteArray("[A]\r\nk=\xC3\x9C" "bung\r\n");
    }
    void write()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        writeBytes(path(), before);
        QVERIFY(WritePrivateProfileStringA(section, key, value, path()));
        QCOMPARE(readBytes(path()), after);
        QCOMPARE(readText(section, key, path()), value);
    }

    void writeCreatesFileForOwnerOnly()
    {
        const QString file = path(QStringLiteral("Client.cfg"));
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("Client"), QStringLiteral("txtPassword"), QStringLiteral("secret"), file));
        QCOMPARE(readBytes(file), QByteArray("[Client]\r\ntxtPassword=secret\r\n"));
        QCOMPARE(modeOf(file), 0600u);
        // Nothing but the file itself is left in the directory.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Client.cfg")});
    }

    void rewriteKeepsPermissionsOfExistingFile()
    {
        writeBytes(path(), "[A]\r\nk=1\r\n");
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"), path()));
        QCOMPARE(modeOf(path()), 0640u);
    }

    void writeIsAtomicReplace()
    {
        writeBytes(path(), "[A]\r\nk=1\r\n");
        const ino_t before = inodeOf(path());
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"), path()));
        QVERIFY(inodeOf(path()) != before); // a new file took the old one's place
    }

    void unchangedValueTouchesNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("value");
        QTest::newRow("same value") << QByteArray("[A]\r\nk = 1 \n") << "1";
        QTest::newRow("same empty value") << QByteArray("[A]\nk=") << "";
    }
    void unchangedValueTouchesNothing()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, value);
        writeBytes(path(), content);
        const ino_t before = inodeOf(path());
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), value, path()));
        QCOMPARE(inodeOf(path()), before);
        QCOMPARE(readBytes(path()), content);
        // A value that differs only in case is a change.
        writeBytes(path(), "[A]\r\nk=abc\r\n");
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("ABC"), path()));
        QCOMPARE(readBytes(path()), QByteArray("[A]\r\nk=ABC\r\n"));
    }

    void readOnlyFileIsUntouched()
    {
        const QByteArray content("[A]\r\nk=1\r\n");
        writeBytes(path(), content);
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const ino_t before = inodeOf(path());
        // Read-only even for root, who may write anything: the directory is writable, so a
        // careless rename would replace the file.
        QVERIFY(!WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"), path()));
        QVERIFY(!WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("n"), QStringLiteral("2"), path()));
        QCOMPARE(readBytes(path()), content);
        QCOMPARE(inodeOf(path()), before);
        QCOMPARE(modeOf(path()), 0444u);
        QCOMPARE(readText(QStringLiteral("A"), QStringLiteral("k"), path()), QStringLiteral("1"));
    }

    void missingDirectoryIsNotCreated()
    {
        const QString file = m_dir.filePath(QStringLiteral("nodir/x.ini"));
        QVERIFY(!WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1"), file));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("nodir"))));
    }

    void lineBreaksCannotInjectLines_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("value LF") << "A" << "k" << "x\nSecurityPassword=";
        QTest::newRow("value CR") << "A" << "k" << "x\r[B]";
        QTest::newRow("key LF") << "A" << "k\nj" << "1";
        QTest::newRow("key with equals") << "A" << "k=j" << "1";
        QTest::newRow("key like a section") << "A" << "[B]" << "1";
        QTest::newRow("key like a comment") << "A" << ";k" << "1";
        QTest::newRow("section LF") << "A]\n[B" << "k" << "1";
    }
    void lineBreaksCannotInjectLines()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QByteArray content("[A]\r\nk=1\r\nSecurityPassword=p\r\n");
        writeBytes(path(), content);
        QVERIFY(!WritePrivateProfileStringA(section, key, value, path()));
        QCOMPARE(readBytes(path()), content);
    }

    void hiddenFileIsAFileToTheEngine()
    {
        const QString file = path(QStringLiteral(".hidden.ini"));
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1"), file));
        QCOMPARE(readText(QStringLiteral("A"), QStringLiteral("k"), file), QStringLiteral("1"));
    }

    void directoryIsNoFile()
    {
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("sub.ini")));
        QCOMPARE(readText(QStringLiteral("A"), QStringLiteral("k"), path(QStringLiteral("sub.ini"))), QStringLiteral("DEF"));
        QVERIFY(!WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("1"), path(QStringLiteral("sub.ini"))));
        QVERIFY(QDir(m_dir.path()).rmdir(QStringLiteral("sub.ini")));
    }

    void writeThroughSymbolicLinkKeepsTheLink()
    {
        writeBytes(path(QStringLiteral("real.ini")), "[A]\r\nk=1\r\n");
        QVERIFY(QFile::link(path(QStringLiteral("real.ini")), path(QStringLiteral("link.ini"))));
        QVERIFY(WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2"), path(QStringLiteral("link.ini"))));
        QVERIFY(QFileInfo(path(QStringLiteral("link.ini"))).isSymLink());
        QCOMPARE(readBytes(path(QStringLiteral("real.ini"))), QByteArray("[A]\r\nk=2\r\n"));
    }

    // A real writer process, killed with SIGKILL while it replaces the file again and again
    // with a large value: whatever moment the kill hits, the file is one whole version,
    // every other line intact. The writer runs until at least one kill found a temporary
    // file beside the target, i.e. hit a write in progress.
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

        bool hitMidWrite = false;
        for (int attempt = 0; attempt < 10 && !hitMidWrite; ++attempt) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--ini-writer"), file, QString::number(megabytes)});
            QVERIFY(writer.waitForStarted(10000));
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT((said += writer.readAllStandardOutput()).contains("ready")
                                         || writer.state() == QProcess::NotRunning,
                                     60000);
            QCOMPARE(writer.state(), QProcess::Running);
            // Wait until a temporary file is being written beside the target, then kill.
            auto temporaries = [&] {
                return QDir(m_dir.path()).entryList({QStringLiteral("Client.cfg.*")}, QDir::Files | QDir::Hidden);
            };
            QTRY_VERIFY_WITH_TIMEOUT(!temporaries().isEmpty(), 30000);
            ::kill(pid_t(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished(10000));
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

            const QByteArray now = readBytes(file);
            QVERIFY2(now == versionA || now == versionB, "the file is not one whole version");
            const QStringList left = temporaries();
            hitMidWrite = !left.isEmpty();
            for (const QString &t : left)
                QFile::remove(m_dir.filePath(t));
        }
        QVERIFY2(hitMidWrite, "no kill hit a write in progress");
        // The surviving file is still a good settings file.
        QCOMPARE(readText(QStringLiteral("Client"), QStringLiteral("SecurityPassword"), file), QStringLiteral("keep"));
        QCOMPARE(readText(QStringLiteral("Other"), QStringLiteral("x"), file), QStringLiteral("1"));
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
