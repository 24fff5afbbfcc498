// A fleet on one daemon: veskora-server as its own process, and simulated panels in this one speaking
// the protocol over loopback. Measures how soon each panel is identified and has its profiles, that
// every sign of life is answered, the server's memory and idle CPU, and how fast /api/panels answers.
//
//   bench_fleet [--panels N] [--interval SECONDS] [--idle SECONDS]

#include "../tests/support/SimulatedPanel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString field(qint64 pid, const char *file, const QString &key)
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(file));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key.toLatin1()))
            return QString::fromLatin1(line.mid(key.size())).simplified();
    return {};
}

// User and system time of the process, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    stat.open(QIODevice::ReadOnly);
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
    return fields.value(12).toLongLong() + fields.value(13).toLongLong(); // utime, stime after the name
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int panelCount = 2000, interval = 15, idleSeconds = 30;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--panels")
            panelCount = args[i + 1].toInt();
        else if (args[i] == u"--interval")
            interval = args[i + 1].toInt();
        else if (args[i] == u"--idle")
            idleSeconds = args[i + 1].toInt();
    }
    // Every panel is a file descriptor here as on the server.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    QTemporaryDir dir;
    const quint16 port = freePort(), dashboard = freePort();
    {
        QFile token(dir.filePath("token"));
        token.open(QIODevice::WriteOnly);
        token.write("bench-token\n");
        QFile config(dir.filePath("server.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringList{"[server]", "listen = 127.0.0.1", QStringLiteral("port = %1").arg(port), QStringLiteral("interval = %1").arg(interval),
                                 QStringLiteral("dashboard = 127.0.0.1:%1").arg(dashboard), "token-file = " + token.fileName(),
                                 QStringLiteral("max-links = %1").arg(panelCount + 100), QStringLiteral("max-links-per-address = %1").arg(panelCount + 100),
                                 "[profile op1]", "user = op1", "password = pw1", "resolution = 3",
                                 "[profile op2]", "user = op2", "password = pw2", "[panel default]", "profiles = op1, op2"}
                         .join(u'\n').toUtf8());
    }
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(VESKORA_SERVER), {"--config", dir.filePath("server.conf")});
    QTcpSocket probe;
    if (!QTest::qWaitFor([&] {
            if (probe.state() == QAbstractSocket::UnconnectedState)
                probe.connectToHost(QHostAddress::LocalHost, dashboard);
            return probe.state() == QAbstractSocket::ConnectedState;
        }, 10000)) {
        std::fprintf(stderr, "bench_fleet: the server did not start\n");
        return 1;
    }
    probe.abort();
    const qint64 pid = server.processId();

    // Every panel connects at once, as a fleet does when the server starts.
    std::vector<std::unique_ptr<SimulatedPanel>> panels;
    std::vector<double> ready(panelCount, -1);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < panelCount; ++i) {
        auto &p = panels.emplace_back(std::make_unique<SimulatedPanel>(QStringLiteral("P%1").arg(i, 4, 10, QLatin1Char('0'))));
        p->keepFrames = false;
        const qint64 started = clock.nsecsElapsed();
        QObject::connect(p.get(), &SimulatedPanel::received, p.get(), [&, i, started](qint32 cmd) {
            if (cmd == Number(SideLinkCommand::RemoteStatus) && ready[i] < 0)
                ready[i] = double(clock.nsecsElapsed() - started) / 1e6;
        });
        p->connectTo(port);
    }
    const bool allReady = QTest::qWaitFor([&] { return std::none_of(ready.begin(), ready.end(), [](double ms) { return ms < 0; }); }, 60000);
    const double allReadyMs = double(clock.elapsed());
    std::printf("panels: %d on one server, sign of life every %d s\n", panelCount, interval);
    std::printf("identified, profiles and status: median %.1f ms, slowest %.1f ms, all %d within %.0f ms%s (target 5000 ms)\n",
                median(ready), *std::max_element(ready.begin(), ready.end()), int(std::count_if(ready.begin(), ready.end(), [](double ms) { return ms >= 0; })),
                allReadyMs, allReady ? "" : " (NOT ALL)");

    // Idle: the panels only answer the server's rounds.
    std::vector<int> asked(panelCount);
    for (int i = 0; i < panelCount; ++i)
        asked[i] = panels[i]->count(SideLinkCommand::SignOfLifeRequest);
    const qint64 ticksBefore = cpuTicks(pid);
    QElapsedTimer idle;
    idle.start();
    QTest::qWait(idleSeconds * 1000);
    const double cpu = double(cpuTicks(pid) - ticksBefore) / double(::sysconf(_SC_CLK_TCK)) / (double(idle.elapsed()) / 1000.0) * 100.0;
    int rounds = INT_MAX;
    for (int i = 0; i < panelCount; ++i)
        rounds = std::min(rounds, panels[i]->count(SideLinkCommand::SignOfLifeRequest) - asked[i]);
    std::printf("idle CPU: %.2f %% of a core over %d s, %d rounds of signs of life (target 2 %%)\n", cpu, idleSeconds, rounds);
    std::printf("server memory: resident %s, peak %s (target 64 MB)\n", qPrintable(field(pid, "status", "VmRSS:")), qPrintable(field(pid, "status", "VmHWM:")));

    // The server's view, read through its API, and how fast it answers.
    QNetworkAccessManager network;
    std::vector<double> times;
    QJsonArray list;
    qint64 bytes = 0;
    for (int n = 0; n < 20; ++n) {
        QElapsedTimer request;
        request.start();
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/panels").arg(dashboard)))));
        (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 10000);
        times.push_back(double(request.nsecsElapsed()) / 1e6);
        const QByteArray body = reply->readAll();
        bytes = body.size();
        list = QJsonDocument::fromJson(body).array();
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int answered = int(std::count_if(list.begin(), list.end(), [&](const QJsonValue &panel) {
        const qint64 seen = QDateTime::fromString(panel[QStringLiteral("last_seen")].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
        return panel[QStringLiteral("link")].toString() == u"up" && !panel[QStringLiteral("rtt_ms")].isNull() && now - seen <= (interval + 2) * 1000;
    }));
    std::printf("every sign of life answered: %d of %d panels up with an answer within the last round\n", answered, panelCount);
    std::printf("/api/panels: median %.1f ms, slowest %.1f ms over %zu requests of %lld bytes (target 100 ms)\n",
                median(times), *std::max_element(times.begin(), times.end()), times.size(), static_cast<long long>(bytes));

    panels.clear();
    server.terminate();
    server.waitForFinished(10000);
    return allReady && answered == panelCount ? 0 : 1;
}
