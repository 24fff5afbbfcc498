#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct rdp_freerdp;
struct rdp_settings;
struct RdpSessionConfig;

// The connection of one session to its server, made on the session's worker thread. The
// server's name is looked up and the TCP connection made here, under the connect time limit
// and open to a stop from any thread; the connected socket is handed to the library, whose
// connect sequence runs on it under the same limit. A duplicate of the socket is kept: shutting
// it down ends a stalled connect (a peer that accepts and never answers) at once, and the
// descriptor number stays ours, so it can never name another file.
class RdpConnection
{
public:
    // Where the session stands. Written by the worker, but for the operator's answer.
    enum class State {
        Connecting,   // name lookup, TCP connect, the protocol up to the server's certificate
        Asking,       // a changed certificate waits for the operator's answer
        Accepted,     // the operator has accepted it; the worker has yet to take the answer
        Verified,     // the certificate is taken: authentication and the rest of the connect
        Refused,      // the certificate is not taken: the attempt fails
        Connected,    // the session is established
        Reconnecting, // it broke and is being made again
    };

    explicit RdpConnection(const RdpSessionConfig &config);
    ~RdpConnection();
    RdpConnection(const RdpConnection &) = delete;
    RdpConnection &operator=(const RdpConnection &) = delete;

    State state() const { return m_state; }

    // Any thread: ends the attempt under way and every wait; the session then ends.
    void stop();
    bool stopped() const { return m_stop; }

    // Worker: connects the library's instance to the server; 0 or a disconnect reason.
    qint32 connect(rdp_freerdp *instance);
    // Worker: makes a broken session again (a few tries); true once it is back.
    bool reconnect(rdp_freerdp *instance);
    // Worker: the library has taken the socket; from here on it names the server by its name.
    void socketInUse(rdp_settings *settings) const;
    // Worker: the operator is asked (by the given call) about a changed certificate; the time
    // limit stands still until the answer. True when accepted.
    bool ask(const std::function<void()> &question);
    // Worker: the server's certificate is taken or not.
    void certificateChecked(bool taken);
    // Worker: the library is done with the instance; the socket goes.
    void close();

    // User-interface thread: the operator's answer to the question.
    void answer(bool accept);

private:
    // Waits that long for a stop; true once stopped.
    bool waitStop(int milliseconds);
    // Resolves and connects the TCP socket; 0 or a disconnect reason.
    qint32 openSocket(int timeLimitMs, int &fd);
    void handOver(rdp_freerdp *instance, int fd);
    // Runs one connect step of the library under the time limit; the socket is shut down at the limit.
    bool withTimeLimit(rdp_freerdp *instance, bool &timedOut, int (*step)(rdp_freerdp *));
    void abort();
    void setGuard(int fd);
    void setState(State state);
    qint32 classifyFailure(rdp_freerdp *instance) const;

    const std::string m_host;
    const uint16_t m_port;
    const int m_timeLimitMs;

    // Guards the state's changes, the stop, the instance and the guard socket.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<State> m_state{State::Connecting};
    std::atomic<bool> m_stop{false};
    // When the operator's answer came (the steady clock's count), for the connect time limit.
    std::atomic<std::chrono::steady_clock::rep> m_answeredAt{std::chrono::steady_clock::time_point::min().time_since_epoch().count()};
    rdp_freerdp *m_instance = nullptr;
    int m_guardFd = -1;
    int m_wakePipe[2] = {-1, -1}; // wakes the TCP connect's wait on a stop
};
