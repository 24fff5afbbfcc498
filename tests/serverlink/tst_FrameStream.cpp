#include "serverlink/FrameStream.h"
#include "serverlink/modSocketCmd.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

const QByteArray kLife = "@#cmd:2##Argument:0###@";
const QByteArray kIdent = "@#cmd:4##Argument:120##ClientName:SRV###@";
const QByteArray kUser = "@#cmd:6##Argument:1##NrOfUsers:1##Username:op##Password:pw##Resolution:2###@";

// A loopback TCP connection feeding a FrameStream one arrival (readyRead) at a time.
class SocketPair
{
public:
    bool open()
    {
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            return false;
        m_client.connectToHost(QHostAddress::LocalHost, m_server.serverPort());
        if (!m_client.waitForConnected(5000) || !m_server.waitForNewConnection(5000))
            return false;
        m_peer.reset(m_server.nextPendingConnection());
        QObject::connect(m_peer.get(), &QTcpSocket::readyRead, [this] {
            const QByteArray bytes = m_peer->readAll();
            m_received += bytes.size();
            ++arrivals;
            frames += stream.append(bytes);
            maxPending = qMax(maxPending, stream.pending());
        });
        return true;
    }
    // Waits until everything sent has arrived, so the next send is an arrival of its own.
    bool send(const QByteArray &bytes)
    {
        m_sent += bytes.size();
        m_client.write(bytes);
        return QTest::qWaitFor([this] { return m_received == m_sent; }, 5000);
    }

    FrameStream stream;
    QStringList frames;
    int arrivals = 0;
    qsizetype maxPending = 0;

private:
    QTcpServer m_server;
    QTcpSocket m_client;
    std::unique_ptr<QTcpSocket> m_peer;
    qint64 m_sent = 0, m_received = 0;
};

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
    void overSocket_data()
    {
        QTest::addColumn<QList<QByteArray>>("sends");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("two frames in one arrival") << QList<QByteArray>{kLife + kIdent} << texts({kLife, kIdent});
        QTest::newRow("one frame in three arrivals") << QList<QByteArray>{kUser.left(10), kUser.mid(10, 30), kUser.mid(40)} << texts({kUser});
        QTest::newRow("garbage before") << QList<QByteArray>{"garbage\r\n#@ ##" + kLife} << texts({kLife});
        QTest::newRow("garbage between") << QList<QByteArray>{kLife + "junk#@@" + kIdent + "\n"} << texts({kLife, kIdent});
        QTest::newRow("garbage arrival between") << QList<QByteArray>{kLife, "noise without a start", kIdent} << texts({kLife, kIdent});
        QTest::newRow("end and next start together")
            << QList<QByteArray>{kLife.left(5), kLife.mid(5) + kIdent.left(3), kIdent.mid(3)} << texts({kLife, kIdent});
        QTest::newRow("start marker split") << QList<QByteArray>{"zz@", kLife.mid(1)} << texts({kLife});
        QTest::newRow("second start inside is content") << QList<QByteArray>{"@#cmd:2@#x###@"} << QStringList{QStringLiteral("@#cmd:2@#x###@")};
    }
    void overSocket()
    {
        QFETCH(QList<QByteArray>, sends);
        QFETCH(QStringList, expected);
        SocketPair link;
        QVERIFY(link.open());
        for (const QByteArray &bytes : sends)
            QVERIFY(link.send(bytes));
        QCOMPARE(link.frames, expected);
        QCOMPARE(link.arrivals, int(sends.size()));
        QVERIFY(link.stream.pending() <= 1); // at most a last '@', which may yet begin a frame
    }

    // A frame whose end never comes is dropped past the limit; the frames after it are found.
    void oversizedPartialOverSocket()
    {
        SocketPair link;
        QVERIFY(link.open());
        QVERIFY(link.send(kLife));
        QVERIFY(link.send("@#cmd:6##Argument:1##Username:"));
        const QByteArray filler(8 * 1024, 'x');
        for (qsizetype sent = 0; sent < FrameStream::MaxFrame + 16 * 1024; sent += filler.size())
            QVERIFY(link.send(filler));
        QVERIFY(link.send("###@" + kIdent));
        QCOMPARE(link.frames, texts({kLife, kIdent}));
        QVERIFY(link.maxPending <= FrameStream::MaxFrame);
    }

    void chunkingDoesNotMatter_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("frames and garbage") << QByteArray("@@ #@" + kLife + "x@" + kIdent + "@#" + kUser + "#")
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
        QTest::newRow("lost end before a frame") << QByteArray("@#cmd:2##Arg" + QByteArray(FrameStream::MaxFrame, 'y') + kLife) << texts({kLife});
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

    void garbageOnly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qsizetype>("pending");
        QTest::newRow("end markers only") << QByteArray("#@ #@ ") << qsizetype(0);
        QTest::newRow("trailing @ kept") << QByteArray("abc@") << qsizetype(1);
        QTest::newRow("start kept") << QByteArray("abc@#cm") << qsizetype(4);
    }
    void garbageOnly()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qsizetype, pending);
        FrameStream s;
        QVERIFY(s.append(bytes).isEmpty());
        QCOMPARE(s.pending(), pending);
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
