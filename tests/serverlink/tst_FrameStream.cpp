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

// A real TCP connection on loopback: bytes written on one side reach a FrameStream on the
// other, one arrival (readyRead) at a time.
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

    // Sends bytes and waits until all of them have arrived on the other side, so the next
    // send becomes an arrival of its own.
    bool send(const QByteArray &bytes)
    {
        m_sent += bytes.size();
        m_client.write(bytes);
        m_client.flush();
        QElapsedTimer timer;
        timer.start();
        while (m_received < m_sent && timer.elapsed() < 5000)
            QTest::qWait(5);
        return m_received == m_sent;
    }

    FrameStream stream;
    QStringList frames;
    int arrivals = 0;
    qsizetype maxPending = 0;

private:
    QTcpServer m_server;
    QTcpSocket m_client;
    std::unique_ptr<QTcpSocket> m_peer;
    qint64 m_sent = 0;
    qint64 m_received = 0;
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
    void overSocket_data();
    void overSocket();
    void framesParse();
    void oversizedPartialOverSocket();

    void chunkingDoesNotMatter_data();
    void chunkingDoesNotMatter();
    void garbageOnly_data();
    void garbageOnly();
    void oversizedFrameInOneArrival();
    void longestFrameAccepted();
    void endMarkerSplitAcrossArrivals();
    void latin1Bytes();
    void clear();
};

void tst_FrameStream::overSocket_data()
{
    QTest::addColumn<QList<QByteArray>>("sends");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one frame") << QList<QByteArray>{kLife} << texts({kLife});
    QTest::newRow("two frames in one arrival") << QList<QByteArray>{kLife + kIdent} << texts({kLife, kIdent});
    QTest::newRow("one frame in three arrivals")
        << QList<QByteArray>{kUser.left(10), kUser.mid(10, 30), kUser.mid(40)} << texts({kUser});
    QTest::newRow("garbage before") << QList<QByteArray>{"garbage\r\n#@ ##" + kLife} << texts({kLife});
    QTest::newRow("garbage between") << QList<QByteArray>{kLife + "junk#@@" + kIdent + "\n"} << texts({kLife, kIdent});
    QTest::newRow("garbage arrival between frames")
        << QList<QByteArray>{kLife, "noise without a start", kIdent} << texts({kLife, kIdent});
    QTest::newRow("frame end and next start in one arrival")
        << QList<QByteArray>{kLife.left(5), kLife.mid(5) + kIdent.left(3), kIdent.mid(3)} << texts({kLife, kIdent});
    QTest::newRow("start marker split") << QList<QByteArray>{"zz@", kLife.mid(1)} << texts({kLife});
    QTest::newRow("three frames, last split")
        << QList<QByteArray>{kLife + kIdent + kUser.left(20), kUser.mid(20)} << texts({kLife, kIdent, kUser});
    QTest::newRow("a second start inside a frame is content")
        << QList<QByteArray>{"@#cmd:2@#x###@"} << QStringList{QStringLiteral("@#cmd:2@#x###@")};
}

void tst_FrameStream::overSocket()
{
    QFETCH(QList<QByteArray>, sends);
    QFETCH(QStringList, expected);

    SocketPair link;
    QVERIFY(link.open());
    for (const QByteArray &bytes : sends)
        QVERIFY(link.send(bytes));
    QCOMPARE(link.frames, expected);
    QCOMPARE(link.arrivals, int(sends.size()));
    QCOMPARE(link.stream.pending(), qsizetype(0));
}

void tst_FrameStream::framesParse()
{
    // Every frame handed on is one whole frame for the parser, however it arrived.
    SocketPair link;
    QVERIFY(link.open());
    QVERIFY(link.send("garbage" + kLife + kUser.left(7)));
    QVERIFY(link.send(kUser.mid(7) + kLife.left(1)));
    QVERIFY(link.send(kLife.mid(1)));
    QCOMPARE(link.frames.size(), 3);
    for (const QString &frame : std::as_const(link.frames)) {
        QVERIFY(modSocketCmd::HasFrameStart(frame));
        QVERIFY(modSocketCmd::HasFrameEnd(frame));
    }
    QCOMPARE(modSocketCmd::ParseCommandFrame(link.frames.at(0)).Cmd, 2);
    RemoteUserData user;
    QVERIFY(modSocketCmd::ParseUserFrame(link.frames.at(1), user));
    QCOMPARE(user.Username, QStringLiteral("op"));
    QCOMPARE(modSocketCmd::ParseCommandFrame(link.frames.at(2)).Cmd, 2);
}

void tst_FrameStream::oversizedPartialOverSocket()
{
    // A frame whose end never comes: it is dropped once it passes the limit, the buffer stays
    // bounded, and the frames after it are found again.
    SocketPair link;
    QVERIFY(link.open());
    QVERIFY(link.send(kLife));
    QVERIFY(link.send("@#cmd:6##Argument:1##Username:"));
    const QByteArray filler(8 * 1024, 'x');
    for (qsizetype sent = 0; sent < FrameStream::MaxFrame + 16 * 1024; sent += filler.size())
        QVERIFY(link.send(filler));
    QVERIFY(link.stream.pending() <= FrameStream::MaxFrame);
    QVERIFY(link.send("###@" + kIdent));
    QCOMPARE(link.frames, texts({kLife, kIdent}));
    QVERIFY(link.maxPending <= FrameStream::MaxFrame);
}

void tst_FrameStream::chunkingDoesNotMatter_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("frames and garbage") << QByteArray("@@ #@" + kLife + "x@" + kIdent + "@#" + kUser + "#")
                                        << texts({kLife, kIdent, "@#" + kUser});
    QTest::newRow("markers only") << QByteArray("@##@@#@#@##@") << QStringList{"@##@", "@#@#@"};
    QTest::newRow("hashes and ats") << QByteArray("###@@@##@@@#") << QStringList{"@##@"};
    QTest::newRow("lost end before a frame")
        << QByteArray("@#cmd:2##Arg" + QByteArray(FrameStream::MaxFrame, 'y') + kLife) << texts({kLife});
}

void tst_FrameStream::chunkingDoesNotMatter()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, expected);

    // All at once, byte by byte, and in every pair of pieces (for short streams).
    {
        FrameStream s;
        QCOMPARE(s.append(stream), expected);
    }
    {
        FrameStream s;
        QStringList frames;
        for (char c : stream) {
            frames += s.append(QByteArray(1, c));
            QVERIFY(s.pending() <= FrameStream::MaxFrame);
        }
        QCOMPARE(frames, expected);
    }
    if (stream.size() < 1000) {
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            FrameStream s;
            QStringList frames = s.append(stream.left(cut));
            frames += s.append(stream.mid(cut));
            QCOMPARE(frames, expected);
        }
    }
}

void tst_FrameStream::garbageOnly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("pending");

    QTest::newRow("no marker") << QByteArray("hello world") << qsizetype(0);
    QTest::newRow("end markers only") << QByteArray("#@ #@ ") << qsizetype(0);
    QTest::newRow("trailing @ kept") << QByteArray("abc@") << qsizetype(1);
    QTest::newRow("start kept") << QByteArray("abc@#cm") << qsizetype(4);
    QTest::newRow("empty") << QByteArray() << qsizetype(0);
}

void tst_FrameStream::garbageOnly()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, pending);
    FrameStream s;
    QVERIFY(s.append(bytes).isEmpty());
    QCOMPARE(s.pending(), pending);
}

void tst_FrameStream::oversizedFrameInOneArrival()
{
    // A frame longer than the limit is dropped even when it arrives whole, as it would be
    // when it arrived in pieces; what follows it is kept.
    FrameStream s;
    const QByteArray big = "@#cmd:2##Argument:" + QByteArray(FrameStream::MaxFrame, '1') + "###@";
    QCOMPARE(s.append(big + kLife), texts({kLife}));
    QCOMPARE(s.pending(), qsizetype(0));
}

void tst_FrameStream::longestFrameAccepted()
{
    const QByteArray head = "@#cmd:2##Argument:0##Pad:";
    const QByteArray tail = "###@";
    const QByteArray longest = head + QByteArray(FrameStream::MaxFrame - head.size() - tail.size(), 'p') + tail;
    QCOMPARE(longest.size(), FrameStream::MaxFrame);

    FrameStream whole;
    QCOMPARE(whole.append(longest), texts({longest}));

    FrameStream pieces;
    QStringList frames;
    for (qsizetype at = 0; at < longest.size(); at += 1000)
        frames += pieces.append(longest.mid(at, 1000));
    QCOMPARE(frames, texts({longest}));

    FrameStream tooLong;
    QVERIFY(tooLong.append("@#x" + longest.mid(2)).isEmpty());
}

void tst_FrameStream::endMarkerSplitAcrossArrivals()
{
    FrameStream s;
    QVERIFY(s.append(kLife.chopped(1)).isEmpty());
    QCOMPARE(s.pending(), kLife.size() - 1);
    QCOMPARE(s.append("@"), texts({kLife}));
    QCOMPARE(s.pending(), qsizetype(0));
}

void tst_FrameStream::latin1Bytes()
{
    FrameStream s;
    const QStringList frames = s.append("@#ClientName:K\xdc" "CHE\xff###@");
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first(), QStringLiteral("@#ClientName:K\u00dcCHE\u00ff###@"));
}

void tst_FrameStream::clear()
{
    FrameStream s;
    s.append("@#cmd:2##");
    s.clear();
    QCOMPARE(s.pending(), qsizetype(0));
    QVERIFY(s.append("Argument:0###@").isEmpty());
}

QTEST_GUILESS_MAIN(tst_FrameStream)
#include "tst_FrameStream.moc"
