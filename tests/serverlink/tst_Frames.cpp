// The side-link frames, the stream they are cut from, and the version numbers they carry.
#include "platform/ErrorNumbers.h"
#include "serverlink/FrameStream.h"
#include "serverlink/VersionNumbers.h"
#include "serverlink/modSocketCmd.h"
#include "TestSupport.h"

using namespace modSocketCmd;
using TestSupport::errorOf;
const QByteArray kLife = "@#cmd:2##Argument:0###@";
const QByteArray kIdent = "@#cmd:4##Argument:120##ClientName:SRV###@";
const QByteArray kUser = "@#cmd:6##Argument:1##NrOfUsers:1##Username:op##Password:pw##Resolution:2###@";

static QStringList texts(std::initializer_list<QByteArray> frames) { return QString::fromLatin1(QList<QByteArray>(frames).join('\n')).split(u'\n'); }

class tst_Frames : public QObject
{
    Q_OBJECT

private slots:
    // Fields read in order, a missing one stops there, a bad number raises; not one whole frame: no change.
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("outcome"); // result or error, then the record afterwards
        QTest::newRow("lowest") << "@#cmd:2##Argument:-5###@" << "2|-5";
        QTest::newRow("highest") << "@#cmd:13##Argument:1###@" << "13|1";
        QTest::newRow("above range") << "@#cmd:14##Argument:0###@" << "0|0";
        QTest::newRow("two frames in one block") << "@#cmd:2##Argument:0###@@#cmd:2##Argument:0###@" << "0|0";
        QTest::newRow("argument missing") << "@#cmd:2###@" << "13";
        QTest::newRow("profile, order free") << "@#Resolution:2.5##Password:a#b##Username:u##NrOfUsers: 2 ##Argument:0##cmd:6###@" << "1|2|u|a#b|2";
        QTest::newRow("profile, password missing") << "@#cmd:6##Argument:1##NrOfUsers:2##Username:u##Resolution:x###@" << "0|2|u|me|4";
        QTest::newRow("profile, argument missing") << "@#cmd:6##NrOfUsers:1##Username:u##Password:p##Resolution:1###@" << "13|9|keep|me|4";
        QTest::newRow("status, connected") << "@#Argument:1##cmd:8##ClientName:PANEL02##Connnect:True###@" << "1|1|PANEL02";
        QTest::newRow("status, two n") << "@#cmd:8##Argument:1##ClientName:A##Connect:True###@" << "0|1|A";
        QTest::newRow("status, bad argument raises first") << "@#cmd:8##Argument:?##ClientName:A##Connnect:False###@" << "13|1|keep";
    }
    void parse()
    {
        QFETCH(QString, text);
        const bool profile = text.contains(QLatin1String("cmd:6")), status = text.contains(QLatin1String("cmd:8"));
        RemoteUserData u{9, QStringLiteral("keep"), QStringLiteral("me"), 4};
        RemoteConnectData c{true, QStringLiteral("keep")};
        SocketCmd cmd;
        bool parsed = false;
        const int error = errorOf([&] {
            if (profile)
                parsed = ParseUserFrame(text, u);
            else if (status)
                parsed = ParseConnectFrame(text, c);
            else
                cmd = ParseCommandFrame(text);
        });
        QString outcome = QString::number(error ? error : profile || status ? int(parsed) : cmd.Cmd);
        if (profile)
            outcome += QStringLiteral("|%1|%2|%3|%4").arg(u.NrOfUsers).arg(u.Username, u.Password).arg(u.Resolution);
        else if (status)
            outcome += QStringLiteral("|%1|%2").arg(int(c.Connect)).arg(c.ClientName);
        else if (!error)
            outcome += QStringLiteral("|%1").arg(cmd.Argument);
        QTEST(outcome, "outcome");
    }

    // A command frame for 2 to 4, 7 and 9 to 13 only, any other leaves the frame as it was; a name frame for any.
    void build_data()
    {
        QTest::addColumn<qint32>("cmd");
        for (qint32 cmd = -1; cmd <= 14; ++cmd)
            QTest::addRow("%d", cmd) << cmd;
    }
    void build()
    {
        QFETCH(qint32, cmd);
        QString frame = QStringLiteral("kept"), named = frame;
        BuildCommandFrame({cmd, -7}, frame), BuildClientNameFrame({cmd, -7}, named, QStringLiteral("P"));
        const QString built = QStringLiteral("@#cmd:%1##Argument:-7##").arg(cmd);
        const bool plain = QList<qint32>({2, 3, 4, 7, 9, 10, 11, 12, 13}).contains(cmd);
        QCOMPARE(frame, plain ? built + "#@" : QStringLiteral("kept"));
        QCOMPARE(named, built + "ClientName:P###@");
    }

    void versionNumbers()
    {
        QCOMPARE(VersionNumbers::ServerVersionText(1020600), QStringLiteral("01.20 Build: 600"));
        QCOMPARE(VersionNumbers::ServerVersionText(1234005006), QStringLiteral("234.05 Build: 6"));
        QCOMPARE(VersionNumbers::PanelVersionNumber(1, 20, 18), -2146463630);
        QCOMPARE(qint64(VersionNumbers::PanelVersionNumber(1, 32, 767)), -2147483648LL + 1032767); // minor * 1000 in 16 bits
        QCOMPARE(errorOf([] { VersionNumbers::PanelVersionNumber(1, 33, 0); }), ErrorNumbers::Overflow.number);
    }

    void chunkingDoesNotMatter_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("expected");
        // A stray "@#" before a frame: its '#' and the frame's '@' make the end marker.
        QTest::newRow("frames and garbage") << QByteArray("garbage\r\n#@ ##@@ #@" + kLife + "x@" + kIdent + "@#" + kUser + "#")
                                            << texts({kLife, kIdent, "@#@", kUser});
        // Cut off in a key, after a key, in a value: gone; after "#" or "##" the next frame's '@' ends them.
        QTest::newRow("cut-off frames") << QByteArray("@#cm" + kLife + "@#cmd:" + kLife + "@#cmd:2##Argument:0" + kLife + "@#cmd:8#"
                                                      + kLife + "@#cmd:8##" + kIdent + "@#cmd:6##Password:@#a@#b:" + kUser)
                                        << texts({kLife, kLife, kLife, "@#cmd:8#@", kLife, "@#cmd:8##@", kIdent, kUser});
        QTest::newRow("short of its last bytes") << QByteArray(kIdent.chopped(1) + kLife + kLife.chopped(2) + kLife)
                                                 << texts({kIdent, kLife, "@#cmd:2##Argument:0##@", kLife});
        const QByteArray atHash = "@#cmd:8##ClientName:@#x@#y##Connnect:True###@";
        QTest::newRow("@# in a value kept, #@ ends a frame anywhere")
            << QByteArray(atHash + "@#cmd:8##ClientName:a#@b###@" + "@#cmd:2##Argument:0#@" + "@#cmd:2##Argument:0##x#@" + "@#k#@")
            << texts({atHash, "@#cmd:8##ClientName:a#@", "@#cmd:2##Argument:0#@", "@#cmd:2##Argument:0##x#@", "@#k#@"});
        QTest::newRow("lost end before a frame") << QByteArray("@#cmd:2##Arg" + QByteArray(FrameStream::MaxFrame, 'y') + kLife)
                                                 << texts({kLife});
    }
    // All at once, byte by byte, and (short streams) cut in two at every position.
    void chunkingDoesNotMatter()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, expected);
        QCOMPARE(FrameStream().append(stream), expected);
        FrameStream bytewise;
        QStringList frames;
        for (char c : stream) {
            frames += bytewise.append(QByteArray(1, c));
            QVERIFY(bytewise.pending() <= FrameStream::MaxFrame);
        }
        QCOMPARE(frames, expected);
        for (qsizetype cut = 0; stream.size() < 1000 && cut <= stream.size(); ++cut) {
            FrameStream s;
            const QStringList first = s.append(stream.left(cut));
            QCOMPARE(first + s.append(stream.mid(cut)), expected);
        }
    }

    // Held back: what may still begin a frame; a frame over the limit is dropped, what follows kept.
    void heldBackAndLimit()
    {
        FrameStream s;
        QVERIFY(s.append("abc@").isEmpty() && s.pending() == 1);
        const QByteArray head = "@#cmd:2##Argument:0##Pad:", longest = head + QByteArray(FrameStream::MaxFrame - head.size() - 4, 'p') + "###@";
        QCOMPARE(s.append(longest.mid(1)), texts({longest}));
        QVERIFY(s.append("@#x" + longest.mid(2)).isEmpty()); // one byte too long
        QCOMPARE(s.append(longest + kLife), texts({longest, kLife}));
        QCOMPARE(s.append("@#ClientName:K\xdc" "CHE\xff###@"), QStringList{QStringLiteral("@#ClientName:K\u00dcCHE\u00ff###@")});
    }
};

QTEST_GUILESS_MAIN(tst_Frames)
#include "tst_Frames.moc"
