// The side-link frames, the stream they are cut from, and the version numbers they carry.
#include "platform/ErrorNumbers.h"
#include "serverlink/FrameStream.h"
#include "serverlink/VersionNumbers.h"
#include "serverlink/modSocketCmd.h"

#include "TestSupport.h"

using namespace modSocketCmd;
using TestSupport::errorOf;

namespace {

const QByteArray kLife = "@#cmd:2##Argument:0###@";
const QByteArray kIdent = "@#cmd:4##Argument:120##ClientName:SRV###@";
const QByteArray kUser = "@#cmd:6##Argument:1##NrOfUsers:1##Username:op##Password:pw##Resolution:2###@";

QStringList texts(std::initializer_list<QByteArray> frames)
{
    QStringList out;
    for (const QByteArray &f : frames)
        out << QString::fromLatin1(f);
    return out;
}

} // namespace

class tst_Frames : public QObject
{
    Q_OBJECT

private slots:
    void build_data()
    {
        QTest::addColumn<qint32>("cmd");
        QTest::addColumn<QString>("name"); // null: BuildCommandFrame; else BuildClientNameFrame
        QTest::addColumn<QByteArray>("expected"); // empty: the frame keeps what it held
        for (int cmd : {2, 3, 4, 7, 9, 10, 11, 12, 13})
            QTest::addRow("built %d", cmd) << cmd << QString() << "@#cmd:" + QByteArray::number(cmd) + "##Argument:-2147483648###@";
        for (int cmd : {5, 6, 8, 1, 14})
            QTest::addRow("not built %d", cmd) << cmd << QString() << QByteArray();
        QTest::newRow("client name, any command, Latin-1")
            << 0 << QStringLiteral("K\u00dcCHE") << QByteArray("@#cmd:0##Argument:-2147483648##ClientName:K\xdc" "CHE###@");
    }
    void build()
    {
        QFETCH(qint32, cmd);
        QFETCH(QString, name);
        QFETCH(QByteArray, expected);
        QString frame = QStringLiteral("previous text");
        const SocketCmd command{cmd, -2147483647 - 1};
        name.isNull() ? BuildCommandFrame(command, frame) : BuildClientNameFrame(command, frame, name);
        QCOMPARE(frame.toLatin1(), expected.isEmpty() ? QByteArray("previous text") : expected);
    }

    void parseCommandFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("parsed"); // cmd and argument, or the error raised
        const QList<int> none{0, 0}, mismatch{ErrorNumbers::TypeMismatch.number}, overflow{ErrorNumbers::Overflow.number};
        QTest::newRow("lowest") << "@#cmd:2##Argument:-5###@" << QList<int>{2, -5};
        QTest::newRow("highest") << "@#cmd:13##Argument:1###@" << QList<int>{13, 1};
        QTest::newRow("above range") << "@#cmd:14##Argument:0###@" << none;
        QTest::newRow("below range") << "@#cmd:1##Argument:0###@" << none;
        QTest::newRow("two frames in one block") << "@#cmd:2##Argument:0###@@#cmd:2##Argument:0###@" << none;
        QTest::newRow("blank before start") << " @#cmd:2##Argument:0###@" << none;
        QTest::newRow("last two missing") << "@#cmd:2##Argument:0###" << none;
        QTest::newRow("field order free, extra fields") << "@#Argument:3##cmd:8##Connnect:True###@" << QList<int>{8, 3};
        QTest::newRow("blanks around numbers") << "@#cmd: 5 ##Argument: -1###@" << QList<int>{5, -1};
        QTest::newRow("halves to even") << "@#cmd:3.5##Argument:2.5###@" << QList<int>{4, 2};
        QTest::newRow("first field wins") << "@#cmd:3##Argument:1##cmd:4##Argument:2###@" << QList<int>{3, 1};
        QTest::newRow("cmd not numeric") << "@#cmd:x##Argument:0###@" << mismatch;
        QTest::newRow("argument with letters") << "@#cmd:2##Argument:1a###@" << mismatch;
        QTest::newRow("argument empty") << "@#cmd:2##Argument:###@" << mismatch;
        QTest::newRow("argument missing") << "@#cmd:2###@" << mismatch;
        QTest::newRow("cmd beyond 32 bits") << "@#cmd:2147483648##Argument:0###@" << overflow;
    }
    void parseCommandFrame()
    {
        QFETCH(QString, text);
        SocketCmd c;
        const int error = errorOf([&] { c = ParseCommandFrame(text); });
        QTEST(error ? QList<int>({error}) : QList<int>({c.Cmd, c.Argument}), "parsed");
    }

    void getFieldValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // null: not found
        const QString user = QStringLiteral("@#cmd:6##Username:##Password:p w###@");
        QTest::newRow("empty value") << user << "Username:" << "";
        QTest::newRow("value with blank") << user << "Password:" << "p w";
        QTest::newRow("case-sensitive key") << user << "username:" << QString();
        QTest::newRow("no separator after key") << "@#cmd:2#@" << "cmd:" << QString();
        QTest::newRow("first occurrence, inside another") << "@#XUsername:a##Username:b###@" << "Username:" << "a";
        QTest::newRow("a single # is content") << "@#Password:a#b###@" << "Password:" << "a#b";
    }
    void getFieldValue()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QString out = QStringLiteral("stale");
        QCOMPARE(GetFieldValue(text, key, out), !value.isNull());
        QCOMPARE(out, value.isNull() ? QString() : value);
    }

    // The fields are read in order; a missing one stops there, a bad number raises, and text
    // that is not one whole frame leaves the record as it was.
    void parseUserFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("outcome"); // result or error, then the record afterwards
        QTest::newRow("order free, numbers converted")
            << "@#Resolution:2.5##Password:##Username:u##NrOfUsers: 2 ##Argument:0##cmd:6###@" << "1|2|u||2";
        QTest::newRow("password missing") << "@#cmd:6##Argument:1##NrOfUsers:2##Username:u##Resolution:x###@" << "0|2|u|me|4";
        QTest::newRow("not one frame") << "@#cmd:6##NrOfUsers:1##Username:a##Password:b##Resolution:1###@@#x###@" << "0|9|keep|me|4";
        QTest::newRow("argument missing") << "@#cmd:6##NrOfUsers:1##Username:u##Password:p##Resolution:1###@" << "13|9|keep|me|4";
        QTest::newRow("resolution not numeric")
            << "@#cmd:6##Argument:1##NrOfUsers:1##Username:u##Password:p##Resolution:hi###@" << "13|1|u|p|4";
    }
    void parseUserFrame()
    {
        QFETCH(QString, text);
        RemoteUserData d{9, QStringLiteral("keep"), QStringLiteral("me"), 4};
        bool parsed = false;
        const int error = errorOf([&] { parsed = ParseUserFrame(text, d); });
        QTEST(QStringLiteral("%1|%2|%3|%4|%5").arg(error ? error : int(parsed)).arg(d.NrOfUsers).arg(d.Username, d.Password).arg(d.Resolution),
              "outcome");
    }

    void parseConnectFrame_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("outcome"); // result or error, Connect, ClientName
        const QString head = QStringLiteral("@#cmd:8##Argument:1##");
        QTest::newRow("connected") << head + "ClientName:PANEL02##Connnect:True###@" << "1|1|PANEL02";
        QTest::newRow("lower-case true") << head + "ClientName:A##Connnect:true###@" << "1|0|A";
        QTest::newRow("true with blank") << head + "ClientName:A##Connnect:True ###@" << "1|0|A";
        QTest::newRow("two n is a missing field") << head + "ClientName:A##Connect:True###@" << "0|1|A";
        QTest::newRow("client name missing") << head + "Connnect:True###@" << "0|1|keep";
        QTest::newRow("not one frame") << " " + head + "ClientName:A##Connnect:False###@" << "0|1|keep";
        QTest::newRow("bad argument raises first") << "@#cmd:8##Argument:?##ClientName:A##Connnect:False###@" << "13|1|keep";
    }
    void parseConnectFrame()
    {
        QFETCH(QString, text);
        RemoteConnectData d{true, QStringLiteral("keep")};
        bool parsed = false;
        const int error = errorOf([&] { parsed = ParseConnectFrame(text, d); });
        QTEST(QStringLiteral("%1|%2|%3").arg(error ? error : int(parsed)).arg(int(d.Connect)).arg(d.ClientName), "outcome");
    }

    void versionNumbers_data()
    {
        QTest::addColumn<qint32>("v");
        QTest::addColumn<QString>("shown");
        QTest::newRow("1020018") << 1020018 << "01.20 Build: 18";
        QTest::newRow("2003045") << 2003045 << "02.03 Build: 45";
        QTest::newRow("1020600") << 1020600 << "01.20 Build: 600";
        QTest::newRow("major beyond 999 wraps") << 1234005006 << "234.05 Build: 6";
        QTest::newRow("negative") << -1020018 << "-01.-20 Build: -18";
        QTest::newRow("least number") << qint32(-2147483647 - 1) << "-147.-483 Build: -648";
    }
    void versionNumbers()
    {
        QFETCH(qint32, v);
        QTEST(VersionNumbers::ServerVersionText(v), "shown");
    }

    void panelVersionNumber()
    {
        QCOMPARE(VersionNumbers::PanelVersionNumber(1, 20, 18), -2146463630);
        const VersionNumbers::Parts back = VersionNumbers::DecodePanelVersion(-2146463630);
        QCOMPARE((QList<qint32>{back.major, back.minor, back.build}), (QList<qint32>{1, 20, 18}));
        // The minor version is multiplied in 16 bits.
        QCOMPARE(qint64(VersionNumbers::PanelVersionNumber(1, 32, 767)), -2147483648LL + 1032767);
        QCOMPARE(errorOf([] { VersionNumbers::PanelVersionNumber(1, 33, 0); }), ErrorNumbers::Overflow.number);
        QCOMPARE(errorOf([] { VersionNumbers::PanelVersionNumber(2148, 0, 0); }), ErrorNumbers::Overflow.number);
    }

    void chunkingDoesNotMatter_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("frames and garbage") << QByteArray("garbage\r\n#@ ##@@ #@" + kLife + "x@" + kIdent + "@#" + kUser + "#")
                                            << texts({kLife, kIdent, kUser});
        QTest::newRow("markers only") << QByteArray("@##@@#@#@##@") << QStringList{"@##@", "@##@"};
        // Cut off in a key, after a key, in a value, after "#", after "##"; "@#" inside values.
        QTest::newRow("cut-off frames") << QByteArray("@#cm" + kLife + "@#cmd:" + kLife + "@#cmd:2##Argument:0" + kLife + "@#cmd:8#"
                                                      + kLife + "@#cmd:8##" + kIdent + "@#cmd:6##Password:@#a@#b:" + kUser)
                                        << texts({kLife, kLife, kLife, kLife, kIdent, kUser});
        const QByteArray atHash = "@#cmd:8##ClientName:@#x@#y##Connnect:True###@";
        QTest::newRow("values holding @# are kept, #@ breaks a frame")
            << QByteArray(atHash + "@#cmd:8##ClientName:a#@b###@" + kLife) << texts({atHash, kLife});
        QTest::newRow("a second start in a value is content") << QByteArray("@#cmd:2@#x###@") << QStringList{"@#cmd:2@#x###@"};
        QTest::newRow("lost end before a frame") << QByteArray("@#cmd:2##Arg" + QByteArray(FrameStream::MaxFrame, 'y') + kLife)
                                                 << texts({kLife});
    }
    // All at once, byte by byte, and (short streams) cut in two at every position.
    void chunkingDoesNotMatter()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, expected);
        FrameStream whole;
        QCOMPARE(whole.append(stream), expected);
        for (const QString &frame : expected) // whole for the frame functions too
            QVERIFY(HasFrameStart(frame) && HasFrameEnd(frame));
        FrameStream bytewise;
        QStringList frames;
        for (char c : stream) {
            frames += bytewise.append(QByteArray(1, c));
            QVERIFY(bytewise.pending() <= FrameStream::MaxFrame);
        }
        QCOMPARE(frames, expected);
        for (qsizetype cut = 0; stream.size() < 1000 && cut <= stream.size(); ++cut) {
            FrameStream s;
            QStringList pieces = s.append(stream.left(cut));
            QCOMPARE(pieces + s.append(stream.mid(cut)), expected);
        }
    }

    // Held back: at most what may still begin a frame; a frame longer than the limit is
    // dropped, even whole, and what follows it kept.
    void heldBackAndLimit()
    {
        FrameStream s;
        QVERIFY(s.append("#@ #@ ").isEmpty() && s.pending() == 0);
        QVERIFY(s.append("abc@").isEmpty() && s.pending() == 1);
        QVERIFY(s.append("#cm").isEmpty() && s.pending() == 4);
        s.clear();
        QVERIFY(s.append("d:2##Argument:0###@").isEmpty());
        const QByteArray head = "@#cmd:2##Argument:0##Pad:";
        const QByteArray longest = head + QByteArray(FrameStream::MaxFrame - head.size() - 4, 'p') + "###@";
        QCOMPARE(s.append(longest), texts({longest}));
        QVERIFY(s.append("@#x" + longest.mid(2)).isEmpty()); // one byte too long
        const QByteArray big = "@#cmd:2##Argument:" + QByteArray(FrameStream::MaxFrame, '1') + "###@";
        QCOMPARE(s.append(big + kLife), texts({kLife}));
        QCOMPARE(s.append("@#ClientName:K\xdc" "CHE\xff###@"), QStringList{QStringLiteral("@#ClientName:K\u00dcCHE\u00ff###@")});
    }
};

QTEST_GUILESS_MAIN(tst_Frames)
#include "tst_Frames.moc"
