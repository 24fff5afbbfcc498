// The side link's byte stream cut into frames, however it arrives.
#include "serverlink/FrameStream.h"
#include "serverlink/modSocketCmd.h"

#include <QtTest>

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

class tst_FrameStream : public QObject
{
    Q_OBJECT

private slots:
    void chunkingDoesNotMatter_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("frames and garbage") << QByteArray("garbage\r\n#@ ##@@ #@" + kLife + "x@" + kIdent + "@#" + kUser + "#")
                                            << texts({kLife, kIdent, kUser});
        QTest::newRow("markers only") << QByteArray("@##@@#@#@##@") << QStringList{"@##@", "@##@"};
        // Cut off in a key, after a key, in a value, after "#", after "##"; "@#" inside values.
        QTest::newRow("cut-off frames")
            << QByteArray("@#cm" + kLife + "@#cmd:" + kLife + "@#cmd:2##Argument:0" + kLife + "@#cmd:8#" + kLife
                          + "@#cmd:8##" + kIdent + "@#cmd:6##Password:@#a@#b:" + kUser)
            << texts({kLife, kLife, kLife, kLife, kIdent, kUser});
        const QByteArray atHash = "@#cmd:8##ClientName:@#x@#y##Connnect:True###@";
        QTest::newRow("values holding @# are kept, #@ breaks a frame")
            << QByteArray(atHash + "@#cmd:8##ClientName:a#@b###@" + kLife) << texts({atHash, kLife});
        QTest::newRow("second start inside a value is content") << QByteArray("@#cmd:2@#x###@") << QStringList{"@#cmd:2@#x###@"};
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
            QVERIFY(modSocketCmd::HasFrameStart(frame) && modSocketCmd::HasFrameEnd(frame));
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
            pieces += s.append(stream.mid(cut));
            QCOMPARE(pieces, expected);
        }
    }

    void heldBack_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qsizetype>("pending");
        QTest::newRow("end markers only") << QByteArray("#@ #@ ") << qsizetype(0);
        QTest::newRow("trailing @ kept") << QByteArray("abc@") << qsizetype(1);
        QTest::newRow("start kept") << QByteArray("abc@#cm") << qsizetype(4);
    }
    void heldBack()
    {
        QFETCH(QByteArray, bytes);
        FrameStream s;
        QVERIFY(s.append(bytes).isEmpty());
        QTEST(s.pending(), "pending");
    }

    void frameLengthLimit()
    {
        const QByteArray head = "@#cmd:2##Argument:0##Pad:";
        const QByteArray longest = head + QByteArray(FrameStream::MaxFrame - head.size() - 4, 'p') + "###@";
        FrameStream s;
        QCOMPARE(s.append(longest), texts({longest}));
        QVERIFY(s.append("@#x" + longest.mid(2)).isEmpty()); // one byte too long
        // Too long even when it arrives whole; what follows is kept.
        const QByteArray big = "@#cmd:2##Argument:" + QByteArray(FrameStream::MaxFrame, '1') + "###@";
        QCOMPARE(s.append(big + kLife), texts({kLife}));
        QCOMPARE(s.pending(), qsizetype(1));
    }

    void latin1BytesAndClear()
    {
        FrameStream s;
        QCOMPARE(s.append("@#ClientName:K\xdc" "CHE\xff###@"), QStringList{QStringLiteral("@#ClientName:K\u00dcCHE\u00ff###@")});
        s.append("@#cmd:2##");
        s.clear();
        QVERIFY(s.append("Argument:0###@").isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_FrameStream)
#include "tst_FrameStream.moc"
