#include "rdp/RdpConnection.h"

#include "rdp/RdpDisconnectReason.h"
#include "rdp/RdpLibraryOverrides.h"
#include "rdp/RdpSettings.h"

#include <freerdp/error.h>
#include <freerdp/freerdp.h>
#include <freerdp/settings.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The negotiated security protocol "CredSSP" (network-level authentication) of the protocol.
constexpr UINT32 ProtocolHybrid = 0x00000002;

bool isAuthenticationError(UINT32 error)
{
    switch (error) {
    case FREERDP_ERROR_AUTHENTICATION_FAILED:
    case FREERDP_ERROR_CONNECT_LOGON_FAILURE:
    case FREERDP_ERROR_CONNECT_WRONG_PASSWORD:
    case FREERDP_ERROR_CONNECT_ACCESS_DENIED:
    case FREERDP_ERROR_CONNECT_ACCOUNT_RESTRICTION:
    case FREERDP_ERROR_CONNECT_ACCOUNT_LOCKED_OUT:
    case FREERDP_ERROR_CONNECT_ACCOUNT_EXPIRED:
    case FREERDP_ERROR_CONNECT_ACCOUNT_DISABLED:
    case FREERDP_ERROR_CONNECT_PASSWORD_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_CERTAINLY_EXPIRED:
    case FREERDP_ERROR_CONNECT_PASSWORD_MUST_CHANGE:
    case FREERDP_ERROR_CONNECT_LOGON_TYPE_NOT_GRANTED:
    case FREERDP_ERROR_CONNECT_NO_OR_MISSING_CREDENTIALS:
    case FREERDP_ERROR_INSUFFICIENT_PRIVILEGES:
    case FREERDP_ERROR_CONNECT_CLIENT_REVOKED:
        return true;
    default:
        return false;
    }
}

// Name lookup on a thread of its own: getaddrinfo cannot be interrupted, and a stop must not
// wait for the resolver's own time-outs.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
    addrinfo *result = nullptr;
    ~Lookup()
    {
        if (result)
            freeaddrinfo(result);
    }
};

} // namespace

RdpConnection::RdpConnection(const RdpSessionConfig &config)
    : m_host(config.host), m_port(config.port), m_timeLimitMs(config.connectTimeLimitMs)
{
    if (pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wakePipe[0] = m_wakePipe[1] = -1;
}

RdpConnection::~RdpConnection()
{
    setGuard(-1);
    for (int fd : m_wakePipe)
        if (fd >= 0)
            ::close(fd);
}

void RdpConnection::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_wakePipe[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = write(m_wakePipe[1], &c, 1);
    }
    abort();
}

bool RdpConnection::waitStop(int milliseconds)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stop.load(); });
}

void RdpConnection::setState(State state)
{
    {
        std::lock_guard lock(m_mutex);
        m_state = state;
    }
    m_changed.notify_all();
}

void RdpConnection::abort()
{
    std::lock_guard lock(m_mutex);
    // Shutting the duplicate down makes every blocked read and write of the connect sequence
    // fail at once.
    if (m_guardFd >= 0)
        shutdown(m_guardFd, SHUT_RDWR);
    // An established session ends through its own wake-up; aborting it would only log an
    // error for a normal end.
    if (m_instance && m_state != State::Connected && m_state != State::Reconnecting)
        freerdp_abort_connect(m_instance);
}

void RdpConnection::setGuard(int fd)
{
    std::lock_guard lock(m_mutex);
    if (m_guardFd >= 0)
        ::close(m_guardFd);
    m_guardFd = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (m_guardFd >= 0 && m_stop)
        shutdown(m_guardFd, SHUT_RDWR);
}

void RdpConnection::close()
{
    RdpLibraryOverrides::waitForServerOn(-1);
    {
        std::lock_guard lock(m_mutex);
        m_instance = nullptr;
    }
    setGuard(-1);
}

qint32 RdpConnection::connect(freerdp *instance)
{
    {
        std::lock_guard lock(m_mutex);
        m_instance = instance;
    }
    int fd = -1;
    const qint32 reason = m_stop ? ReasonLocal : openSocket(m_timeLimitMs, fd);
    if (reason || m_stop)
        return reason ? reason : ReasonLocal;
    handOver(instance, fd);
    bool timedOut = false;
    if (withTimeLimit(instance, timedOut, freerdp_connect)) {
        setState(State::Connected);
        return 0;
    }
    return m_stop ? ReasonLocal : timedOut ? ReasonTimedOut : classifyFailure(instance);
}

bool RdpConnection::reconnect(freerdp *instance)
{
    setState(State::Reconnecting);
    for (int attempt = 0; attempt < RdpReconnectTries; ++attempt) {
        if (waitStop(500))
            return false;
        int fd = -1;
        if (openSocket(std::min(m_timeLimitMs, 5000), fd) != 0)
            continue;
        handOver(instance, fd);
        bool timedOut = false;
        if (withTimeLimit(instance, timedOut, freerdp_reconnect)) {
            setState(State::Connected);
            return true;
        }
        if (m_stop)
            return false;
    }
    return false;
}

void RdpConnection::handOver(freerdp *instance, int fd)
{
    // The library takes "|" and a descriptor in place of the port as a connected socket.
    freerdp_settings_set_string(instance->context->settings, FreeRDP_ServerHostname, "|");
    freerdp_settings_set_uint32(instance->context->settings, FreeRDP_ServerPort, UINT32(fd));
    // Its waits for the server's next message on this thread end when that arrives. The
    // duplicate is watched: it is ours until close(), and a stop shuts it down, which ends the
    // wait too.
    RdpLibraryOverrides::waitForServerOn(m_guardFd);
}

void RdpConnection::socketInUse(rdpSettings *settings) const
{
    // What follows (network-level authentication) names the server by its real name. A connect
    // of the library's own after this point (its one retry after a broken transport) goes to
    // port 0 and fails at once.
    freerdp_settings_set_string(settings, FreeRDP_ServerHostname, m_host.c_str());
    freerdp_settings_set_uint32(settings, FreeRDP_ServerPort, 0);
}

bool RdpConnection::ask(const std::function<void()> &question)
{
    const State resume = m_state;
    setState(State::Asking);
    question();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stop || m_state != State::Asking; });
    m_answeredAt = std::chrono::steady_clock::now().time_since_epoch().count();
    const bool accepted = !m_stop && m_state == State::Accepted;
    m_state = resume;
    return accepted;
}

void RdpConnection::answer(bool accept)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Asking)
            m_state = accept ? State::Accepted : State::Refused;
    }
    m_changed.notify_all();
}

void RdpConnection::certificateChecked(bool taken)
{
    // A session being made again keeps its state; a refusal only fails that try.
    if (m_state != State::Reconnecting)
        setState(taken ? State::Verified : State::Refused);
}

qint32 RdpConnection::openSocket(int timeLimitMs, int &fd)
{
    fd = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    auto remainingMs = [&] {
        return int(std::max<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())
                                           .count()));
    };

    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host = m_host, port = std::to_string(m_port)] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ADDRCONFIG;
        addrinfo *result = nullptr;
        const int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
        std::lock_guard lock(lookup->mutex);
        lookup->status = status;
        lookup->result = result;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    {
        std::unique_lock lock(lookup->mutex);
        while (!lookup->finished && !m_stop && remainingMs() > 0)
            lookup->done.wait_for(lock, std::chrono::milliseconds(std::min(remainingMs(), 50)));
        if (m_stop)
            return ReasonLocal;
        if (!lookup->finished)
            return ReasonTimedOut;
        if (lookup->status != 0 || !lookup->result)
            return ReasonNameNotFound;
    }

    qint32 reason = ReasonConnectionRefused;
    // IPv4 first, as the library would, then the rest.
    for (int pass = 0; pass < 2 && fd < 0; ++pass) {
        for (addrinfo *a = lookup->result; a && fd < 0; a = a->ai_next) {
            if ((pass == 0) != (a->ai_family == AF_INET))
                continue;
            int s = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
            if (s < 0)
                continue;
            int rc = ::connect(s, a->ai_addr, a->ai_addrlen);
            if (rc != 0 && errno == EINPROGRESS) {
                pollfd p[2] = {{s, POLLOUT, 0}, {m_wakePipe[0], POLLIN, 0}};
                while (true) {
                    const int left = remainingMs();
                    if (left <= 0 || m_stop)
                        break;
                    const int n = poll(p, m_wakePipe[0] >= 0 ? 2 : 1, std::min(left, 100));
                    if (n < 0 && errno != EINTR)
                        break;
                    if (n > 0 && (p[0].revents & (POLLOUT | POLLERR | POLLHUP)))
                        break;
                }
                int error = 0;
                socklen_t len = sizeof(error);
                if (m_stop) {
                    reason = ReasonLocal;
                    rc = -1;
                } else if (!(p[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
                    reason = ReasonTimedOut;
                    rc = -1;
                } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) {
                    rc = 0;
                } else {
                    rc = -1;
                }
            }
            if (rc == 0) {
                fd = s;
            } else {
                ::close(s);
                if (reason == ReasonLocal || reason == ReasonTimedOut)
                    return reason;
            }
        }
    }
    if (fd < 0)
        return reason;

    // The library retries a failed connect once with the same descriptor number, long after it
    // has closed it: a high number is not handed out again meanwhile, so that retry fails
    // cleanly instead of talking to whatever file got the low number next.
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 512);
    if (high >= 0) {
        ::close(fd);
        fd = high;
    }
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof(one));
    int idle = 5, interval = 2, probes = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof(probes));
    // Data the server does not acknowledge for this long means the network is gone.
    unsigned int userTimeout = 15000;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof(userTimeout));
    setGuard(fd);
    return 0;
}

bool RdpConnection::withTimeLimit(freerdp *instance, bool &timedOut, BOOL (*step)(freerdp *))
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    timedOut = false;
    const auto limit = std::chrono::milliseconds(m_timeLimitMs);
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!finished.wait_until(lock, deadline, [&] { return done; })) {
            // The limit stands still while the operator is asked, and starts again, whole, once
            // the answer is in, however close to the end of a period that came.
            const auto now = std::chrono::steady_clock::now();
            const auto answered = std::chrono::steady_clock::time_point(
                std::chrono::steady_clock::duration(m_answeredAt.load()));
            if (m_state == State::Asking) {
                deadline = now + limit;
                continue;
            }
            if (answered + limit > now) {
                deadline = answered + limit;
                continue;
            }
            timedOut = true;
            lock.unlock();
            abort();
            break;
        }
    });
    const bool ok = step(instance) != FALSE;
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    watchdog.join();
    return ok && !timedOut && !m_stop;
}

qint32 RdpConnection::classifyFailure(freerdp *instance) const
{
    if (m_state == State::Refused)
        return ReasonCertificateRefused;
    const UINT32 error = freerdp_get_last_error(instance->context);
    if (isAuthenticationError(error))
        return ReasonAuthenticationFailed;
    if (error == FREERDP_ERROR_DNS_NAME_NOT_FOUND || error == FREERDP_ERROR_DNS_ERROR)
        return ReasonNameNotFound;
    // A server that drops the connection during network-level authentication has refused the
    // credentials: that is how a wrong password shows when the server says nothing more. The
    // library retries once after a transport failure and ends in its first state, so its state
    // tells nothing; what does is that TLS was up (the certificate was taken), NLA was
    // negotiated, and the connection broke before the session came up.
    const bool transportBroke = error == FREERDP_ERROR_CONNECT_TRANSPORT_FAILED || error == FREERDP_ERROR_CONNECT_FAILED;
    if (m_state == State::Verified && transportBroke
        && (freerdp_settings_get_uint32(instance->context->settings, FreeRDP_SelectedProtocol) & ProtocolHybrid))
        return ReasonAuthenticationFailed;
    return ReasonConnectFailed;
}
