#include "rdp/RdpSession.h"

#include "rdp/FreeRdpSessionControl.h"
#include "rdp/RdpCertificate.h"
#include "rdp/RdpDrives.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>

#include <freerdp/channels/channels.h>
#include <freerdp/client.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/client/rdpgfx.h>
#include <freerdp/error.h>
#include <freerdp/event.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/gdi/gfx.h>
#include <freerdp/primitives.h>
#include <freerdp/settings.h>
#include <winpr/synch.h>
#include <winpr/wlog.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// FreeRDP 2 rebuilds the Client Info performance flags from six of its own booleans right
// before it writes the PDU, which drops every bit it has no boolean for (0x10 enhanced graphics,
// 0x20 cursor shadow, 0x40 cursor settings). The library calls this function through its PLT,
// so the definition here takes its place in this process: it derives the bits the booleans
// stand for, as the library does, and keeps every other bit of the value that was set.
extern "C" __attribute__((visibility("default"))) void freerdp_performance_flags_make(rdpSettings *settings)
{
    constexpr UINT32 booleanBits = PERF_ENABLE_FONT_SMOOTHING | PERF_ENABLE_DESKTOP_COMPOSITION
        | PERF_DISABLE_WALLPAPER | PERF_DISABLE_FULLWINDOWDRAG | PERF_DISABLE_MENUANIMATIONS
        | PERF_DISABLE_THEMING;
    UINT32 flags = freerdp_settings_get_uint32(settings, FreeRDP_PerformanceFlags) & ~booleanBits;
    if (freerdp_settings_get_bool(settings, FreeRDP_AllowFontSmoothing))
        flags |= PERF_ENABLE_FONT_SMOOTHING;
    if (freerdp_settings_get_bool(settings, FreeRDP_AllowDesktopComposition))
        flags |= PERF_ENABLE_DESKTOP_COMPOSITION;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableWallpaper))
        flags |= PERF_DISABLE_WALLPAPER;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableFullWindowDrag))
        flags |= PERF_DISABLE_FULLWINDOWDRAG;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableMenuAnims))
        flags |= PERF_DISABLE_MENUANIMATIONS;
    if (freerdp_settings_get_bool(settings, FreeRDP_DisableThemes))
        flags |= PERF_DISABLE_THEMING;
    freerdp_settings_set_uint32(settings, FreeRDP_PerformanceFlags, flags);
}

namespace {

// The negotiated security protocol "CredSSP" (network-level authentication) of the protocol.
constexpr UINT32 ProtocolHybrid = 0x00000002;

struct VeskoraContext
{
    rdpClientContext common;
    RdpSession *session;
};

RdpSession *sessionOf(freerdp *instance)
{
    return reinterpret_cast<VeskoraContext *>(instance->context)->session;
}

BOOL cbPreConnect(freerdp *instance)
{
    return sessionOf(instance)->onPreConnect(instance);
}
BOOL cbPostConnect(freerdp *instance)
{
    return sessionOf(instance)->onPostConnect(instance);
}
void cbPostDisconnect(freerdp *instance)
{
    sessionOf(instance)->onPostDisconnect(instance);
}
// No prompt: a kiosk has nobody to answer it; what was given is all there is.
BOOL cbAuthenticate(freerdp *, char **, char **, char **)
{
    return FALSE;
}
int cbVerifyCertificate(freerdp *instance, const BYTE *pem, size_t length, const char *, UINT16, DWORD)
{
    return sessionOf(instance)->onVerifyCertificate(instance, pem, length);
}
BOOL cbBeginPaint(rdpContext *context)
{
    HGDI_WND hwnd = context->gdi->primary->hdc->hwnd;
    hwnd->invalid->null = TRUE;
    hwnd->ninvalid = 0;
    return TRUE;
}
BOOL cbEndPaint(rdpContext *context)
{
    return sessionOf(context->instance)->onEndPaint(context->instance);
}
BOOL cbDesktopResize(rdpContext *context)
{
    return sessionOf(context->instance)->onDesktopResize(context->instance);
}
void cbChannelConnected(void *ctx, ChannelConnectedEventArgs *e)
{
    auto *context = static_cast<rdpContext *>(ctx);
    if (strcmp(e->name, RDPGFX_DVC_CHANNEL_NAME) == 0 && context->gdi)
        gdi_graphics_pipeline_init(context->gdi, static_cast<RdpgfxClientContext *>(e->pInterface));
}
void cbChannelDisconnected(void *ctx, ChannelDisconnectedEventArgs *e)
{
    auto *context = static_cast<rdpContext *>(ctx);
    if (strcmp(e->name, RDPGFX_DVC_CHANNEL_NAME) == 0 && context->gdi)
        gdi_graphics_pipeline_uninit(context->gdi, static_cast<RdpgfxClientContext *>(e->pInterface));
}

BOOL cbClientNew(freerdp *instance, rdpContext *)
{
    instance->PreConnect = cbPreConnect;
    instance->PostConnect = cbPostConnect;
    instance->PostDisconnect = cbPostDisconnect;
    instance->Authenticate = cbAuthenticate;
    instance->VerifyX509Certificate = cbVerifyCertificate;
    return TRUE;
}

void wipe(std::string &s)
{
    volatile char *p = s.data();
    for (size_t i = 0; i < s.size(); ++i)
        p[i] = 0;
    s.clear();
    s.shrink_to_fit();
}

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

void RdpSession::warmUp()
{
    // The codecs time themselves once per process (about 0.3 s); done early, on a thread of its
    // own, the first connect does not wait for it.
    static std::once_flag once;
    std::call_once(once, [] { std::thread([] { primitives_get(); }).detach(); });
}

RdpSession::RdpSession(FreeRdpSessionControl *control, quint64 generation, RdpSessionConfig config)
    : m_control(control), m_generation(generation), m_config(std::move(config))
{
    if (pipe2(m_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wakePipe[0] = m_wakePipe[1] = -1;
    m_wakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

RdpSession::~RdpSession()
{
    requestStop();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wakeEvent)
        CloseHandle(m_wakeEvent);
    for (int fd : m_wakePipe)
        if (fd >= 0)
            close(fd);
    wipe(m_config.password);
}

void RdpSession::start()
{
    m_thread = std::thread([this] { run(); });
}

void RdpSession::requestStop()
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stop = true;
    }
    m_stopCondition.notify_all();
    if (m_wakePipe[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = write(m_wakePipe[1], &c, 1);
    }
    if (m_wakeEvent)
        SetEvent(m_wakeEvent);
    abortConnection();
}

void RdpSession::abortConnection()
{
    std::lock_guard lock(m_controlMutex);
    // The duplicate refers to the same socket as FreeRDP's descriptor: shutting it down makes
    // every blocked read and write of the connect sequence fail at once, and the descriptor
    // number itself stays ours, so it can never name another file.
    if (m_guardFd >= 0)
        shutdown(m_guardFd, SHUT_RDWR);
    // An established session ends through the wake-up event; aborting it would only log an
    // error for a normal end.
    if (m_instance && !m_connected)
        freerdp_abort_connect(m_instance);
}

void RdpSession::setGuard(int fd)
{
    std::lock_guard lock(m_controlMutex);
    if (m_guardFd >= 0)
        close(m_guardFd);
    m_guardFd = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (m_guardFd >= 0 && m_stop)
        shutdown(m_guardFd, SHUT_RDWR);
}

void RdpSession::postInput(const RdpInputEvent &event)
{
    {
        std::lock_guard lock(m_inputMutex);
        // Pointer moves only matter at their latest position.
        if (event.kind == RdpInputEvent::Mouse && event.code == PTR_FLAGS_MOVE && !m_input.empty()
            && m_input.back().kind == RdpInputEvent::Mouse && m_input.back().code == PTR_FLAGS_MOVE)
            m_input.back() = event;
        else
            m_input.push_back(event);
    }
    if (m_wakeEvent)
        SetEvent(m_wakeEvent);
}

void RdpSession::postDrives(const QList<QPair<QString, QString>> &drives)
{
    {
        std::lock_guard lock(m_inputMutex);
        m_pendingDrives = drives;
        m_drivesChanged = true;
    }
    if (m_wakeEvent)
        SetEvent(m_wakeEvent);
}

void RdpSession::answerCertificate(bool accept)
{
    {
        std::lock_guard lock(m_stopMutex);
        if (m_answer == Answer::Pending)
            m_answer = accept ? Answer::Accept : Answer::Refuse;
    }
    m_stopCondition.notify_all();
}

bool RdpSession::waitStop(int milliseconds)
{
    std::unique_lock lock(m_stopMutex);
    return m_stopCondition.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_stop.load(); });
}

void RdpSession::run()
{
    const qint32 reason = runSession();
    FreeRdpSessionControl *control = m_control;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        control, [control, generation, reason] { control->sessionEnded(generation, reason); },
        Qt::QueuedConnection);
}

qint32 RdpSession::runSession()
{
    static std::once_flag processInit;
    std::call_once(processInit, [] {
        if (qEnvironmentVariableIsEmpty("WLOG_LEVEL"))
            WLog_SetLogLevel(WLog_GetRoot(), WLOG_WARN);
        // The library checks the certificate against the socket's stand-in name and warns of a
        // mismatch on every connect; the decision is made by the store here, so that warning
        // only misleads.
        WLog_SetLogLevel(WLog_Get("com.freerdp.crypto"), WLOG_FATAL);
    });

    RDP_CLIENT_ENTRY_POINTS entry{};
    entry.Size = sizeof(entry);
    entry.Version = RDP_CLIENT_INTERFACE_VERSION;
    entry.ContextSize = sizeof(VeskoraContext);
    entry.ClientNew = cbClientNew;
    rdpContext *context = freerdp_client_context_new(&entry);
    if (!context)
        return FreeRdpSessionControl::ReasonConnectFailed;
    reinterpret_cast<VeskoraContext *>(context)->session = this;
    freerdp *instance = context->instance;
    if (m_config.redirectDrives) {
        m_drives = std::make_unique<RdpDrives>(context);
        m_drives->setDrives(m_config.drives);
    }

    qint32 reason = 0;
    if (!configure(instance))
        reason = FreeRdpSessionControl::ReasonConnectFailed;
    wipe(m_config.password);

    {
        std::lock_guard lock(m_controlMutex);
        m_instance = instance;
    }

    int fd = -1;
    if (!reason && !m_stop)
        reason = openSocket(m_config.connectTimeLimitMs, fd);
    if (!reason && !m_stop) {
        freerdp_settings_set_string(context->settings, FreeRDP_ServerHostname, "|");
        freerdp_settings_set_uint32(context->settings, FreeRDP_ServerPort, UINT32(fd));
        bool timedOut = false;
        if (withTimeLimit(m_config.connectTimeLimitMs, timedOut, freerdp_connect)) {
            m_connected = true;
        } else {
            reason = m_stop ? FreeRdpSessionControl::ReasonLocal
                : timedOut  ? FreeRdpSessionControl::ReasonTimedOut
                            : classifyFailure(instance);
        }
    }
    if (m_stop && !reason)
        reason = FreeRdpSessionControl::ReasonLocal;

    if (m_connected && !reason) {
        if (!m_config.autoReconnect)
            wipeSettingsPassword(instance);
        FreeRdpSessionControl *control = m_control;
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            control, [control, generation] { control->sessionConnected(generation); }, Qt::QueuedConnection);

        while (!reason) {
            HANDLE handles[MAXIMUM_WAIT_OBJECTS];
            DWORD count = freerdp_get_event_handles(context, handles, MAXIMUM_WAIT_OBJECTS - 1);
            if (count == 0) {
                reason = FreeRdpSessionControl::ReasonServerEnded;
                break;
            }
            handles[count++] = m_wakeEvent;
            if (WaitForMultipleObjects(count, handles, FALSE, INFINITE) == WAIT_FAILED) {
                reason = FreeRdpSessionControl::ReasonServerEnded;
                break;
            }
            if (m_stop) {
                reason = FreeRdpSessionControl::ReasonLocal;
                break;
            }
            ResetEvent(m_wakeEvent);
            processDrives(instance);
            processInput(instance);
            if (!freerdp_check_event_handles(context) || freerdp_shall_disconnect(instance)) {
                if (m_stop) {
                    reason = FreeRdpSessionControl::ReasonLocal;
                    break;
                }
                // A session the server ended on purpose tells why; a broken connection does not.
                const bool serverEnded = freerdp_error_info(instance) != ERRINFO_SUCCESS;
                if (m_config.autoReconnect && !serverEnded && reconnect(instance))
                    continue;
                reason = m_stop ? FreeRdpSessionControl::ReasonLocal : FreeRdpSessionControl::ReasonServerEnded;
            }
        }
    }

    {
        std::lock_guard lock(m_controlMutex);
        m_instance = nullptr;
    }
    wipeSettingsPassword(instance);
    freerdp_disconnect(instance);
    freerdp_client_context_free(context);
    m_drives.reset();
    setGuard(-1);
    return reason;
}

bool RdpSession::configure(freerdp *instance)
{
    rdpSettings *s = instance->context->settings;
    bool ok = true;
    auto setBool = [&](size_t id, bool value) { ok = freerdp_settings_set_bool(s, id, value ? TRUE : FALSE) && ok; };
    auto setU32 = [&](size_t id, UINT32 value) { ok = freerdp_settings_set_uint32(s, id, value) && ok; };
    auto setString = [&](size_t id, const std::string &value) {
        ok = freerdp_settings_set_string(s, id, value.empty() ? nullptr : value.c_str()) && ok;
    };

    setString(FreeRDP_Username, m_config.userName);
    setString(FreeRDP_Domain, std::string());
    if (!m_config.password.empty())
        setString(FreeRDP_Password, m_config.password);
    setU32(FreeRDP_DesktopWidth, m_config.width);
    setU32(FreeRDP_DesktopHeight, m_config.height);
    setU32(FreeRDP_ColorDepth, 32);
    setBool(FreeRDP_SoftwareGdi, true);
    setU32(FreeRDP_KeyboardLayout, m_config.keyboardLayout);
    setString(FreeRDP_ConfigPath, m_config.certificateDirectory);

    // Without a password the server asks for the credentials itself, which needs a session
    // first: network-level authentication would only fail.
    setBool(FreeRDP_NlaSecurity, !m_config.password.empty());
    setBool(FreeRDP_TlsSecurity, true);
    setBool(FreeRDP_RdpSecurity, true);
    setU32(FreeRDP_SelectedProtocol, 0);
    setBool(FreeRDP_IgnoreCertificate, false);
    setBool(FreeRDP_ExternalCertificateManagement, true);
    setBool(FreeRDP_AutoAcceptCertificate, false);
    setBool(FreeRDP_AutoDenyCertificate, false);

    // Text drawn by the server with cached glyphs (xrdp's log-on screen sends them whether
    // announced or not, and the library ends a session on an unannounced order).
    setU32(FreeRDP_GlyphSupportLevel, GLYPH_SUPPORT_FULL);
    setBool(FreeRDP_BitmapCacheEnabled, true);
    setBool(FreeRDP_BitmapCachePersistEnabled, m_config.bitmapPersistence);
    setBool(FreeRDP_CompressionEnabled, m_config.compress);
    setU32(FreeRDP_PerformanceFlags, m_config.performanceFlags);
    freerdp_performance_flags_split(s);

    setBool(FreeRDP_AutoReconnectionEnabled, m_config.autoReconnect);
    setU32(FreeRDP_AutoReconnectMaxRetries, FreeRdpSessionControl::AutoReconnectTries);

    // Everything the session must not have is switched off here, not left to defaults.
    setBool(FreeRDP_RedirectClipboard, false);
    setBool(FreeRDP_AudioPlayback, false);
    setBool(FreeRDP_AudioCapture, false);
    setBool(FreeRDP_RemoteConsoleAudio, false);
    setBool(FreeRDP_RedirectHomeDrive, false);
    setBool(FreeRDP_RedirectDrives, false); // the hot-plug device below stands for it
    setBool(FreeRDP_RedirectSerialPorts, m_config.redirectPorts);
    setBool(FreeRDP_RedirectParallelPorts, m_config.redirectPorts);
    setBool(FreeRDP_RedirectPrinters, m_config.redirectPrinters);
    setBool(FreeRDP_RedirectSmartCards, m_config.redirectSmartCards);
    setBool(FreeRDP_SupportGraphicsPipeline, false);
    setBool(FreeRDP_SupportDisplayControl, false);
    setBool(FreeRDP_SupportDynamicChannels, false);
    setBool(FreeRDP_SupportEchoChannel, false);
    setBool(FreeRDP_SupportSSHAgentChannel, false);
    setBool(FreeRDP_MultiTouchInput, false);
    setBool(FreeRDP_RemoteApplicationMode, false);
    setBool(FreeRDP_EncomspVirtualChannel, false);
    setBool(FreeRDP_RemdeskVirtualChannel, false);
    setBool(FreeRDP_NetworkAutoDetect, false);
    setBool(FreeRDP_SupportHeartbeatPdu, false);
    setBool(FreeRDP_SupportMultitransport, false);
    setBool(FreeRDP_GatewayEnabled, false);

    if (m_config.redirectPorts) {
        for (const auto &port : portDevices()) {
            QByteArray type = port.first.startsWith(QLatin1String("COM")) ? "serial" : "parallel";
            QByteArray name = port.first.toLatin1(), path = QFile::encodeName(port.second);
            char *params[] = {type.data(), name.data(), path.data()};
            ok = freerdp_client_add_device_channel(s, 3, params) && ok;
        }
    }

    const bool devices = m_config.redirectDrives || m_config.redirectPorts || m_config.redirectPrinters
        || m_config.redirectSmartCards;
    setBool(FreeRDP_DeviceRedirection, devices);
    return ok;
}

QList<QPair<QString, QString>> RdpSession::portDevices(const QString &deviceDirectory)
{
    QList<QPair<QString, QString>> result;
    const QDir dir(deviceDirectory);
    auto list = [&](const QStringList &patterns) {
        QStringList names = dir.entryList(patterns, QDir::System | QDir::Files, QDir::Name);
        // ttyS10 after ttyS9
        std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        return names;
    };
    // The first four on-board serial ports (the kernel always lists more than there are), then
    // USB serial adapters; every printer port.
    int com = 0;
    for (const QString &name : list({QStringLiteral("ttyS[0-3]")}) + list({QStringLiteral("ttyUSB*")})
             + list({QStringLiteral("ttyACM*")}))
        result.append({QStringLiteral("COM%1").arg(++com), dir.filePath(name)});
    int lpt = 0;
    for (const QString &name : list({QStringLiteral("lp[0-9]*")}))
        result.append({QStringLiteral("LPT%1").arg(++lpt), dir.filePath(name)});
    return result;
}

qint32 RdpSession::openSocket(int timeLimitMs, int &fd)
{
    fd = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    auto remainingMs = [&] {
        return int(std::max<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())
                                           .count()));
    };

    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host = m_config.host, port = std::to_string(m_config.port)] {
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
            return FreeRdpSessionControl::ReasonLocal;
        if (!lookup->finished)
            return FreeRdpSessionControl::ReasonTimedOut;
        if (lookup->status != 0 || !lookup->result)
            return FreeRdpSessionControl::ReasonNameNotFound;
    }

    qint32 reason = FreeRdpSessionControl::ReasonConnectionRefused;
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
                    reason = FreeRdpSessionControl::ReasonLocal;
                    rc = -1;
                } else if (!(p[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
                    reason = FreeRdpSessionControl::ReasonTimedOut;
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
                close(s);
                if (reason == FreeRdpSessionControl::ReasonLocal || reason == FreeRdpSessionControl::ReasonTimedOut)
                    return reason;
            }
        }
    }
    if (fd < 0)
        return reason;

    // FreeRDP retries a failed connect once with the same descriptor number, long after it has
    // closed it: a high number is not handed out again meanwhile, so that retry fails cleanly
    // instead of talking to whatever file got the low number next.
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 512);
    if (high >= 0) {
        close(fd);
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

bool RdpSession::withTimeLimit(int timeLimitMs, bool &timedOut, BOOL (*step)(freerdp *))
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    timedOut = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(timeLimitMs), [&] { return done; })) {
            // The limit starts again once the operator has answered.
            std::lock_guard asking(m_stopMutex);
            if (m_answer == Answer::Pending)
                continue;
            timedOut = true;
            lock.unlock();
            abortConnection();
            break;
        }
    });
    const bool ok = step(m_instance) != FALSE;
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    watchdog.join();
    return ok && !timedOut && !m_stop;
}

qint32 RdpSession::classifyFailure(freerdp *instance) const
{
    if (m_certificateRefused)
        return FreeRdpSessionControl::ReasonCertificateRefused;
    const UINT32 error = freerdp_get_last_error(instance->context);
    if (isAuthenticationError(error))
        return FreeRdpSessionControl::ReasonAuthenticationFailed;
    if (error == FREERDP_ERROR_DNS_NAME_NOT_FOUND || error == FREERDP_ERROR_DNS_ERROR)
        return FreeRdpSessionControl::ReasonNameNotFound;
    // A server that drops the connection during network-level authentication has refused the
    // credentials: that is how a wrong password shows when the server says nothing more. The
    // library retries once after a transport failure and ends in its first state, so the state
    // tells nothing; what does is that TLS was up (the certificate was checked), NLA was
    // negotiated, and the connection broke before the session came up.
    const bool transportBroke = error == FREERDP_ERROR_CONNECT_TRANSPORT_FAILED || error == FREERDP_ERROR_CONNECT_FAILED;
    if (m_certificateChecked && transportBroke
        && (freerdp_settings_get_uint32(instance->context->settings, FreeRDP_SelectedProtocol) & ProtocolHybrid))
        return FreeRdpSessionControl::ReasonAuthenticationFailed;
    return FreeRdpSessionControl::ReasonConnectFailed;
}

bool RdpSession::reconnect(freerdp *instance)
{
    for (int attempt = 0; attempt < FreeRdpSessionControl::AutoReconnectTries; ++attempt) {
        if (waitStop(500))
            return false;
        int fd = -1;
        if (openSocket(std::min(m_config.connectTimeLimitMs, 5000), fd) != 0)
            continue;
        freerdp_settings_set_string(instance->context->settings, FreeRDP_ServerHostname, "|");
        freerdp_settings_set_uint32(instance->context->settings, FreeRDP_ServerPort, UINT32(fd));
        bool timedOut = false;
        if (withTimeLimit(m_config.connectTimeLimitMs, timedOut, freerdp_reconnect))
            return true;
        if (m_stop)
            return false;
    }
    return false;
}

void RdpSession::processInput(freerdp *instance)
{
    std::deque<RdpInputEvent> events;
    {
        std::lock_guard lock(m_inputMutex);
        events.swap(m_input);
    }
    rdpInput *input = instance->context->input;
    for (const RdpInputEvent &e : events) {
        switch (e.kind) {
        case RdpInputEvent::Key:
            freerdp_input_send_keyboard_event_ex(input, e.down ? TRUE : FALSE, e.code);
            break;
        case RdpInputEvent::Mouse:
            freerdp_input_send_mouse_event(input, UINT16(e.code), e.x, e.y);
            break;
        case RdpInputEvent::ExtendedMouse:
            freerdp_input_send_extended_mouse_event(input, UINT16(e.code), e.x, e.y);
            break;
        case RdpInputEvent::FocusIn:
            freerdp_input_send_focus_in_event(input, UINT16(e.code));
            break;
        }
    }
}

void RdpSession::processDrives(freerdp *)
{
    QList<QPair<QString, QString>> drives;
    {
        std::lock_guard lock(m_inputMutex);
        if (!std::exchange(m_drivesChanged, false))
            return;
        drives = m_pendingDrives;
    }
    if (m_drives)
        m_drives->setDrives(drives);
}

void RdpSession::wipeSettingsPassword(freerdp *instance)
{
    rdpSettings *s = instance->context->settings;
    if (const char *p = freerdp_settings_get_string(s, FreeRDP_Password)) {
        volatile char *w = const_cast<char *>(p);
        for (size_t i = 0; w[i]; ++i)
            w[i] = 0;
        freerdp_settings_set_string(s, FreeRDP_Password, nullptr);
    }
}

bool RdpSession::onPreConnect(freerdp *instance)
{
    rdpContext *context = instance->context;
    PubSub_SubscribeChannelConnected(context->pubSub, cbChannelConnected);
    PubSub_SubscribeChannelDisconnected(context->pubSub, cbChannelDisconnected);
    if (m_drives && !m_drives->prepare(context->settings))
        return false;
    if (!freerdp_client_load_addins(context->channels, context->settings))
        return false;
    // The loader adds a sound channel to every device redirection; this session plays no sound.
    freerdp_settings_set_bool(context->settings, FreeRDP_AudioPlayback, FALSE);
    return true;
}

bool RdpSession::onPostConnect(freerdp *instance)
{
    if (!gdi_init(instance, PIXEL_FORMAT_BGRX32))
        return false;
    instance->update->BeginPaint = cbBeginPaint;
    instance->update->EndPaint = cbEndPaint;
    instance->update->DesktopResize = cbDesktopResize;
    if (m_drives)
        m_drives->attach(instance);
    rdpGdi *gdi = instance->context->gdi;
    // The library does not clear the buffer; what the server has not painted yet is black.
    memset(gdi->primary_buffer, 0, size_t(gdi->stride) * gdi->height);
    publish(instance, QRect(0, 0, gdi->width, gdi->height));
    return true;
}

void RdpSession::onPostDisconnect(freerdp *instance)
{
    PubSub_UnsubscribeChannelConnected(instance->context->pubSub, cbChannelConnected);
    PubSub_UnsubscribeChannelDisconnected(instance->context->pubSub, cbChannelDisconnected);
    gdi_free(instance);
}

bool RdpSession::onEndPaint(freerdp *instance)
{
    rdpGdi *gdi = instance->context->gdi;
    HGDI_RGN invalid = gdi->primary->hdc->hwnd->invalid;
    if (invalid->null)
        return true;
    publish(instance, QRect(invalid->x, invalid->y, invalid->w, invalid->h));
    return true;
}

bool RdpSession::onDesktopResize(freerdp *instance)
{
    rdpGdi *gdi = instance->context->gdi;
    rdpSettings *s = instance->context->settings;
    if (!gdi_resize(gdi, freerdp_settings_get_uint32(s, FreeRDP_DesktopWidth),
                    freerdp_settings_get_uint32(s, FreeRDP_DesktopHeight)))
        return false;
    memset(gdi->primary_buffer, 0, size_t(gdi->stride) * gdi->height);
    publish(instance, QRect(0, 0, gdi->width, gdi->height));
    const QSize size(gdi->width, gdi->height);
    FreeRdpSessionControl *control = m_control;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        control, [control, generation, size] { control->sessionResized(generation, size); }, Qt::QueuedConnection);
    return true;
}

void RdpSession::publish(freerdp *instance, const QRect &rect)
{
    rdpGdi *gdi = instance->context->gdi;
    if (!gdi || !gdi->primary_buffer)
        return;
    bool post = false;
    {
        std::lock_guard lock(screenMutex);
        QRect r = rect;
        if (screen.width() != gdi->width || screen.height() != gdi->height) {
            screen = QImage(gdi->width, gdi->height, QImage::Format_RGB32);
            r = screen.rect();
        }
        r &= screen.rect();
        if (r.isEmpty())
            return;
        const int bytes = r.width() * 4;
        for (int y = r.top(); y <= r.bottom(); ++y)
            memcpy(screen.scanLine(y) + r.left() * 4, gdi->primary_buffer + size_t(y) * gdi->stride + r.left() * 4, bytes);
        damaged |= r;
        post = !updatePosted;
        updatePosted = true;
    }
    if (post) {
        FreeRdpSessionControl *control = m_control;
        const quint64 generation = m_generation;
        QMetaObject::invokeMethod(
            control, [control, generation] { control->sessionScreenChanged(generation, QRect()); },
            Qt::QueuedConnection);
    }
}

int RdpSession::onVerifyCertificate(freerdp *instance, const BYTE *pem, size_t length)
{
    rdpSettings *settings = instance->context->settings;
    m_certificateChecked = true;
    // The socket is in use from here on; what follows (network-level authentication) names
    // the server by its real name. A connect of the library's own after this point (its one
    // retry after a broken transport) goes to port 0 and fails at once.
    freerdp_settings_set_string(settings, FreeRDP_ServerHostname, m_config.host.c_str());
    freerdp_settings_set_uint32(settings, FreeRDP_ServerPort, 0);

    // The library only sees the socket it was handed, so the store is kept here under the
    // name and port the operator gave.
    const RdpCertificate::Verdict verdict = RdpCertificate::Check(settings, m_config.host, m_config.port, pem, length);
    switch (verdict.kind) {
    case RdpCertificate::Verdict::Trusted:
    case RdpCertificate::Verdict::Known:
    case RdpCertificate::Verdict::New:
        return 1;
    case RdpCertificate::Verdict::Changed:
        break;
    case RdpCertificate::Verdict::Unreadable:
        m_certificateRefused = true;
        return 0;
    }
    // A remembered certificate has changed: the operator decides, in the control.
    {
        std::lock_guard lock(m_stopMutex);
        m_answer = Answer::Pending;
    }
    FreeRdpSessionControl *control = m_control;
    const quint64 generation = m_generation;
    const QString remembered = QString::fromStdString(verdict.remembered);
    const QString presented = QString::fromStdString(verdict.fingerprint);
    QMetaObject::invokeMethod(
        control, [=] { control->sessionCertificateChanged(generation, remembered, presented); }, Qt::QueuedConnection);
    bool accepted = false;
    {
        std::unique_lock lock(m_stopMutex);
        m_stopCondition.wait(lock, [this] { return m_stop || m_answer != Answer::Pending; });
        accepted = !m_stop && m_answer == Answer::Accept;
        m_answer = Answer::None;
    }
    if (accepted && RdpCertificate::Replace(settings, m_config.host, m_config.port, verdict))
        return 1;
    m_certificateRefused = true;
    return 0;
}
