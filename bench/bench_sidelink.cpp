// How fast the panel answers the server's sign-of-life requests over loopback: the latency of
// one request at a time (median and 99th percentile) and the rate it sustains when the server
// keeps many requests in flight, with every answer counted so that no frame goes missing.
//
//   bench_sidelink [--requests N] [--burst N] [--window N]
//
// The whole main window runs headless in this process, as in the panel; a QTcpServer on
// 127.0.0.1 plays the companion program.

#include "client/Forms.h"
#include "client/frmClient.h"
#include "serverlink/SocketControl.h"
#include "settings/modGlobClientVar.h"

#include "../tests/support/RecordingSessionControl.h"
#include "../tests/support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

const QByteArray kRequest = "@#cmd:2##Argument:0###@";
const QByteArray kAnswer = "@#cmd:3##Argument:0###@";

bool waitFor(const std::function<bool()> &done, qint64 timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

int intOption(int argc, char **argv, const char *name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::max(1, std::atoi(argv[i + 1]));
    return fallback;
}

double percentile(std::vector<qint64> sorted, double p)
{
    const size_t index = std::min(sorted.size() - 1, static_cast<size_t>(p * (sorted.size() - 1) + 0.5));
    return sorted[index] / 1000.0; // microseconds
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int requests = intOption(argc, argv, "--requests", 5000);
    const int burst = intOption(argc, argv, "--burst", 100000);
    const int window = intOption(argc, argv, "--window", 256);

    using namespace modGlobClientVar;
    frmClient::TimerIntervalMs = 3600 * 1000; // no supervisor ticks during the run
    gStartLifeCnt = 45;
    gStartConnectLifeCnt = 3;
    gTryConnectActionCnt = 3;
    RecordingSessionControl::install();
    TestSupport::ProgramDir dir;

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QTcpSocket *peer = nullptr;
    QByteArray received;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        peer = server.nextPendingConnection();
        peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(peer, &QTcpSocket::readyRead, [&] { received += peer->readAll(); });
    });

    dir.write(QStringLiteral("Client.cfg"),
              {QStringLiteral("[Client]"), QStringLiteral("txtServer=127.0.0.1"),
               QStringLiteral("txtPort=%1").arg(server.serverPort()), QStringLiteral("chkUserPass=1"),
               QStringLiteral("AutoConnect=1"), QStringLiteral("StartLifeCnt=45")});
    frmClient &form = Forms::LoadClient();
    if (!waitFor([&] { return peer && form.findChild<SocketControl *>(QStringLiteral("Winsock"))->State() == SocketControl::sckConnected; }, 10000)) {
        std::fprintf(stderr, "the panel did not connect\n");
        return 1;
    }

    // 1. One request at a time.
    std::vector<qint64> latencies;
    latencies.reserve(requests);
    QElapsedTimer clock;
    for (int i = 0; i < requests; ++i) {
        received.clear();
        clock.start();
        peer->write(kRequest);
        peer->flush();
        if (!waitFor([&] { return received.size() >= kAnswer.size(); }, 5000) || received != kAnswer) {
            std::fprintf(stderr, "request %d: no or wrong answer\n", i);
            return 1;
        }
        latencies.push_back(clock.nsecsElapsed());
    }
    std::sort(latencies.begin(), latencies.end());

    // 2. Many in flight: up to `window` requests outstanding, written back to back so that
    // they arrive coalesced and split at any byte; every answer must come back, whole.
    received.clear();
    qint64 sent = 0;
    clock.start();
    const bool complete = waitFor(
        [&] {
            const qint64 answered = received.size() / kAnswer.size();
            if (sent < burst && sent - answered < window) {
                const qint64 batch = std::min<qint64>(burst - sent, window - (sent - answered));
                peer->write(kRequest.repeated(batch));
                sent += batch;
            }
            return answered >= burst;
        },
        120000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const bool intact = received == kAnswer.repeated(burst);

    std::printf("side-link sign of life, panel answer over loopback\n");
    std::printf("  one at a time: %d requests, median %.1f us, 99th percentile %.1f us, max %.1f us\n", requests,
                percentile(latencies, 0.5), percentile(latencies, 0.99), latencies.back() / 1000.0);
    std::printf("  in flight (window %d): %d requests in %.3f s = %.0f answers/s, %s\n", window, burst, seconds,
                burst / seconds, complete && intact ? "every answer received intact" : "ANSWERS LOST OR DAMAGED");
    Forms::UnloadClient();
    return complete && intact ? 0 : 1;
}
