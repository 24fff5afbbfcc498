// Side-link frame rates: building and parsing frames, and the stream cutter's throughput,
// for whole frames in large blocks and for the worst case of one byte per arrival.

#include "serverlink/FrameStream.h"
#include "serverlink/modSocketCmd.h"

#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

namespace {

volatile qint64 gSink = 0; // keeps results alive

void sink(qint64 v)
{
    gSink = gSink + v;
}

double seconds(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

void report(const char *what, double value, const char *unit)
{
    std::printf("%-48s %14.0f %s\n", what, value, unit);
}

void buildRate()
{
    constexpr int n = 2'000'000;
    QElapsedTimer t;
    t.start();
    QString frame;
    for (int i = 0; i < n; ++i) {
        modSocketCmd::BuildCommandFrame({2 + i % 12, i}, frame);
        sink(frame.size());
    }
    report("BuildCommandFrame", n / seconds(t), "frames/s");

    t.restart();
    for (int i = 0; i < n; ++i) {
        modSocketCmd::BuildClientNameFrame({5, -2146463630}, frame, QStringLiteral("PANEL01"));
        sink(frame.size());
    }
    report("BuildClientNameFrame", n / seconds(t), "frames/s");
}

void parseRate()
{
    constexpr int n = 2'000'000;
    const QString command = QStringLiteral("@#cmd:2##Argument:0###@");
    const QString user =
        QStringLiteral("@#cmd:6##Argument:1##NrOfUsers:5##Username:operator##Password:secret##Resolution:2###@");
    const QString status = QStringLiteral("@#cmd:8##Argument:1##ClientName:PANEL02##Connnect:True###@");

    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        sink(modSocketCmd::ParseCommandFrame(command).Cmd);
    report("ParseCommandFrame", n / seconds(t), "frames/s");

    t.restart();
    RemoteUserData data;
    for (int i = 0; i < n; ++i)
        sink(modSocketCmd::ParseUserFrame(user, data) ? data.NrOfUsers : 0);
    report("ParseUserFrame", n / seconds(t), "frames/s");

    t.restart();
    RemoteConnectData connect;
    for (int i = 0; i < n; ++i)
        sink(modSocketCmd::ParseConnectFrame(status, connect) ? 1 : 0);
    report("ParseConnectFrame", n / seconds(t), "frames/s");
}

// A stream of typical frames with a little garbage between some of them.
QByteArray sampleStream(qsizetype bytes)
{
    const QByteArray frames[] = {
        "@#cmd:2##Argument:0###@",
        "@#cmd:6##Argument:1##NrOfUsers:5##Username:operator##Password:secret##Resolution:2###@",
        "junk\r\n",
        "@#cmd:8##Argument:1##ClientName:PANEL02##Connnect:True###@",
    };
    QByteArray out;
    out.reserve(bytes + 128);
    for (int i = 0; out.size() < bytes; ++i)
        out += frames[i % 4];
    return out;
}

void cutterThroughput(const char *what, const QByteArray &stream, qsizetype chunk, int repeat)
{
    QElapsedTimer t;
    t.start();
    qint64 frames = 0;
    for (int r = 0; r < repeat; ++r) {
        FrameStream s;
        for (qsizetype at = 0; at < stream.size(); at += chunk)
            frames += s.append(stream.mid(at, chunk)).size();
    }
    const double secs = seconds(t);
    sink(frames);
    report(what, double(stream.size()) * repeat / secs / 1e6, "MB/s");
    std::printf("%-48s %14.0f frames/s\n", "", double(frames) / secs);
}

} // namespace

int main()
{
    buildRate();
    parseRate();

    const QByteArray stream = sampleStream(16 * 1024 * 1024);
    cutterThroughput("FrameStream, 64 KiB arrivals", stream, 64 * 1024, 4);
    cutterThroughput("FrameStream, 1 KiB arrivals", stream, 1024, 2);
    cutterThroughput("FrameStream, 1-byte arrivals", stream.left(2 * 1024 * 1024), 1, 1);

    // A frame whose end never comes, fed in small pieces: the cutter must stay linear.
    QByteArray endless = "@#cmd:6##Argument:1##Username:";
    endless += QByteArray(8 * 1024 * 1024, 'x');
    cutterThroughput("FrameStream, endless frame in 100-byte arrivals", endless, 100, 1);
    return gSink == -1;
}
