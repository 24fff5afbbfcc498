#include "platform/IniFile.h"
#include "../support/FileBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace IniFile;
using TestSupport::readBytes;
using TestSupport::statOf;
using TestSupport::writeBytes;

static QString readText(const QString &section, const QString &key, const QString &file)
{
    QString out;
    const quint32 n = GetPrivateProfileStringA(section, key, QStringLiteral("DEF \t"), out, 255, file);
    return quint32(out.size()) == n ? out : QStringLiteral("<count %1 for %2 characters>").arg(n).arg(out.size());
}

const QByteArray kBefore("[A]\r\nk=old value\r\nother=keep\r\n");

class TestIniFile : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_dir;
    QString path(const QString &name = QStringLiteral("test.ini")) const { return m_dir->filePath(name); }

private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }

    // The file before (null: none), a read (value null) or write, the file after (null: refused), the key read then.
    void readAndWrite_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("read");
        const QString none; // a read
        const QByteArray same; // the file unchanged
        QTest::newRow("CR or LF only") << QByteArray("[S]\rk=v\nj=w\r") << "S" << "j" << none << same << "w";
        QTest::newRow("lines and names trimmed, indented comment") << QByteArray("  [  S  ] tail\r\n   ;k name=x\r\n \t k name = v  \t\r\n") << "S" << "k name" << none << same << "v";
        QTest::newRow("section up to last bracket") << QByteArray("[a]b]\r\nk=v\r\n") << "a]b" << "k" << none << same << "v";
        QTest::newRow("split at first equals") << QByteArray("[S]\r\nk=a=b\r\n") << "S" << "k" << none << same << "a=b";
        QTest::newRow("nameless section") << QByteArray("k=top\r\n[S]\r\nk=v\r\n") << "" << "k" << none << same << "top";
        QTest::newRow("first section counts, default cut") << QByteArray("[S]\r\na=1\r\n[s]\r\nk=2\r\n") << "S" << "k" << none << same << "DEF";
        QTest::newRow("replace keeps comments, blanks, order")
            << QByteArray("; head\r\n\r\n[Client]\r\n; note\r\ntxtServer=old\r\n\r\nSecurityPassword=\"x y\"\r\n") << "Client" << "txtServer" << "new"
            << QByteArray("; head\r\n\r\n[Client]\r\n; note\r\ntxtServer=new\r\n\r\nSecurityPassword=\"x y\"\r\n") << "new";
        QTest::newRow("original spelling kept") << QByteArray("[CLIENT]\r\n  TxtServer = old  \r\n") << "client" << "txtserver" << "new" << QByteArray("[CLIENT]\r\nTxtServer=new\r\n") << "new";
        QTest::newRow("new key at end of section, before the blank line")
            << QByteArray("[A]\r\na=1\r\n; c\r\n\r\n[B]\r\nb=2\r\n") << "A" << "n" << "v" << QByteArray("[A]\r\na=1\r\n; c\r\nn=v\r\n\r\n[B]\r\nb=2\r\n") << "v";
        QTest::newRow("new section at end") << QByteArray("[A]\r\na=1") << "B" << "n" << "v" << QByteArray("[A]\r\na=1\r\n[B]\r\nn=v\r\n") << "v";
        QTest::newRow("only the first key of a name") << QByteArray("[A]\r\nk=1\r\nk=2\r\n") << "A" << "K" << "3" << QByteArray("[A]\r\nk=3\r\nk=2\r\n") << "3";
        QTest::newRow("key without value gets one") << QByteArray("[A]\r\nk\r\n") << "A" << "k" << "" << QByteArray("[A]\r\nk=\r\n") << "";
        QTest::newRow("byte order mark stays first") << QByteArray("\xEF\xBB\xBFx=1\r\n") << "" << "x" << "2" << QByteArray("\xEF\xBB\xBFx=2\r\n") << "2";
        QTest::newRow("bytes that are no UTF-8 survive") << QByteArray("; \xFF\xFE odd\r\n[A]\r\nk=1\r\n") << "A" << "k" << QString::fromUtf8("Ü") << QByteArray("; \xFF\xFE odd\r\n[A]\r\nk=\xC3\x9C\r\n") << QString::fromUtf8("Ü");
        // Quoted where the reader would change the value, else as it stands.
        QTest::newRow("blanks and quotes kept in quotes") << QByteArray() << "A" << "k" << " \"x 'y'\" " << QByteArray("[A]\r\nk=\" \"x 'y'\" \"\r\n") << " \"x 'y'\" ";
        QTest::newRow("enclosing quotes kept") << QByteArray() << "A" << "k" << "'q'" << QByteArray("[A]\r\nk=\"'q'\"\r\n") << "'q'";
        QTest::newRow("tab at the end kept") << QByteArray() << "A" << "k" << "a\t" << QByteArray("[A]\r\nk=\"a\t\"\r\n") << "a\t";
        QTest::newRow("lone and inner quotes as they stand") << QByteArray() << "A" << "k" << "\"a b'" << QByteArray("[A]\r\nk=\"a b'\r\n") << "\"a b'";
        QTest::newRow("quoted line that reads as the value, untouched") << QByteArray("[A]\r\nk=\"abc\"\r\n") << "A" << "k" << "abc" << QByteArray("[A]\r\nk=\"abc\"\r\n") << "abc";
        QTest::newRow("case is a change") << QByteArray("[A]\r\nk = abc \n") << "A" << "k" << "ABC" << QByteArray("[A]\r\nk=ABC\r\n") << "ABC";
        // Refused: a name or value that would add lines.
        QTest::newRow("value LF") << QByteArray("[A]\r\nk=1\r\n") << "A" << "k" << "x\nSecurityPassword=" << same << "1";
        QTest::newRow("key LF") << QByteArray("[A]\r\nk=1\r\n") << "A" << "k\nj" << "1" << same << "DEF";
        QTest::newRow("key like a section") << QByteArray("[A]\r\nk=1\r\n") << "A" << "[B]" << "1" << same << "DEF";
        QTest::newRow("section LF") << QByteArray("[A]\r\nk=1\r\n") << "A]\n[B" << "k" << "1" << same << "DEF";
    }
    void readAndWrite()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (!before.isNull())
            writeBytes(path(), before);
        const ino_t inode = statOf(path()).st_ino;
        if (!value.isNull()) {
            QCOMPARE(WritePrivateProfileStringA(section, key, value, path()), !after.isNull());
            QCOMPARE(readBytes(path()), after.isNull() ? before : after);
            QCOMPARE(statOf(path()).st_ino == inode, after.isNull() || after == before);
        }
        QTEST(readText(section, key, path()), "read");
    }

    void readInt()
    {
        writeBytes(path(), "[S]\r\na= 12abc\r\nb=-5\r\nc=- 7\r\nd=0XffG\r\ne=-0x10\r\nf=\r\ng=4294967295\r\n");
        QString got;
        for (const char *key : {"a", "b", "c", "d", "e", "f", "g"})
            got += QString::number(GetPrivateProfileIntA(QStringLiteral("S"), QLatin1String(key), 77, path())) + u' ';
        QCOMPARE(got, QStringLiteral("12 -5 0 255 -16 77 -1 ")); // a blank after the sign stops, an empty value is the default
    }

    // Writes as installed, by "nobody", who may change rw/ but not ro/ (a program directory).
    void writeWhereInstalled_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("written");
        QTest::addColumn<bool>("replaced"); // by a new file (the atomic write)
        QTest::addColumn<bool>("taken"); // the writer owns the new file, in the old one's group and mode
        QTest::newRow("group-writable file, read-only directory") << "ro/Client.cfg" << "ro/Client.cfg" << "v" << true << false << false;
        QTest::newRow("link into a read-only directory") << "ro/link.cfg" << "ro/Client.cfg" << "v" << true << false << false;
        QTest::newRow("link into a writable directory") << "ro/link-rw.cfg" << "rw/own.cfg" << "v" << true << true << false;
        QTest::newRow("link to a missing file") << "ro/link-new.cfg" << "rw/new.cfg" << "v" << true << true << false;
        QTest::newRow("another user's file, writable directory") << "rw/foreign.cfg" << "rw/foreign.cfg" << "v" << true << false << false;
        QTest::newRow("no room to grow, read-only directory") << "ro/Client.cfg" << "ro/Client.cfg" << "a longer value" << false << false << false;
        QTest::newRow("unwritable file, read-only directory") << "ro/locked.cfg" << "ro/locked.cfg" << "v" << false << false << false;
        QTest::newRow("unwritable file, writable directory") << "rw/locked.cfg" << "rw/locked.cfg" << "v" << false << false << false;
        // The group's setgid directory: root's file of the group is replaced by the member's.
        QTest::newRow("group's directory, root's file") << "sg/Client.cfg" << "sg/Client.cfg" << "v" << true << true << true;
        QTest::newRow("group's directory, owner not in the group") << "sg/daemon.cfg" << "sg/daemon.cfg" << "v" << true << false << false;
        QTest::newRow("group's directory, owner may do more") << "sg/more.cfg" << "sg/more.cfg" << "v" << true << false << false;
    }
    void writeWhereInstalled()
    {
        QFETCH(QString, name);
        QFETCH(QString, target);
        QFETCH(QString, value);
        QFETCH(bool, written);
        if (::geteuid() != 0)
            QSKIP("needs root, to give files their owners and to write as nobody");
        const uid_t uid = 65534, gid = 65534; // nobody, nogroup
        const auto make = [&](const char *file, mode_t mode, uid_t owner = 0, gid_t group = 0) {
            const QByteArray p = QFile::encodeName(path(QLatin1String(file)));
            QVERIFY(QByteArray(file).endsWith('/') ? ::mkdir(p.constData(), mode) == 0 : (writeBytes(path(QLatin1String(file)), kBefore), true));
            QVERIFY(::chmod(p.constData(), mode) == 0 && ::chown(p.constData(), owner, group) == 0);
        };
        QCOMPARE(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755), 0);
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), path(QStringLiteral("writer")))); // where nobody may run it
        make("ro/", 0755), make("ro/Client.cfg", 0664, 0, gid), make("ro/locked.cfg", 0644);
        make("rw/", 0755, uid, gid), make("rw/own.cfg", 0660, uid, gid), make("rw/locked.cfg", 0644), make("rw/foreign.cfg", 0666);
        make("sg/", 02775, 0, gid), make("sg/Client.cfg", 0660, 0, gid), make("sg/daemon.cfg", 0660, 1, gid), make("sg/more.cfg", 0760, 0, gid);
        for (const auto &[link, to] : {std::pair{"ro/link.cfg", "Client.cfg"}, {"ro/link-rw.cfg", "../rw/own.cfg"}, {"ro/link-new.cfg", "../rw/new.cfg"}})
            QVERIFY(QFile::link(QLatin1String(to), path(QLatin1String(link))));
        if (QTest::currentTestFailed())
            return;
        const auto entries = [&] {
            uint n = 0;
            for (const char *dir : {"ro", "rw", "sg"})
                n += QDir(path(QLatin1String(dir)), {}, QDir::NoSort, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).count();
            return n;
        };
        const uint entriesBefore = entries();
        const bool existed = QFileInfo::exists(path(target));
        const struct stat before = statOf(path(target));

        QProcess writer;
        writer.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid), QStringLiteral("--clear-groups"),
                                                path(QStringLiteral("writer")), QStringLiteral("--ini-put"), path(name), value});
        QVERIFY(writer.waitForFinished(30000) && writer.exitStatus() == QProcess::NormalExit);
        QCOMPARE(writer.readAllStandardError(), QByteArray());
        QCOMPARE(writer.exitCode(), written ? 0 : 1);
        const QByteArray line = "[A]\r\nk=" + value.toUtf8() + "\r\n";
        QCOMPARE(readBytes(path(target)), !written ? kBefore : existed ? line + "other=keep\r\n" : line);
        QCOMPARE(QFileInfo(path(name)).isSymLink(), name != target);
        const struct stat after = statOf(path(target));
        if (existed)
            QTEST(after.st_ino != before.st_ino, "replaced");
        QFETCH(bool, taken);
        QVERIFY(existed ? after.st_uid == (taken ? uid : before.st_uid) && after.st_gid == before.st_gid && after.st_mode == before.st_mode
                        : after.st_uid == uid && (after.st_mode & 07777) == 0600);
        QCOMPARE(entries(), entriesBefore + (existed ? 0 : 1)); // no temporary file left behind
    }
};

int main(int argc, char **argv)
{
    // The child: a write on a full disk (no file may grow past kBefore).
    if (argc == 4 && qstrcmp(argv[1], "--ini-put") == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit full{rlim_t(kBefore.size()), rlim_t(kBefore.size())};
        ::setrlimit(RLIMIT_FSIZE, &full);
        return WritePrivateProfileStringA(QStringLiteral("A"), QStringLiteral("k"), QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    QCoreApplication app(argc, argv);
    TestIniFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_IniFile.moc"
