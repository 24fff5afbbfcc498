#include "rdp/RdpSession.h"

#include "rdp/RdpCertificate.h"
#include "rdp/RdpDisconnectReason.h"
#include "rdp/RdpDrives.h"
#include "rdp/RdpFrame.h"

#include "platform/Logging.h"

#include <freerdp/channels/channels.h>
#include <freerdp/client.h>
#include <freerdp/client/cmdline.h>
#include <freerdp/client/rdpgfx.h>
#include <freerdp/codecs.h>
#include <freerdp/event.h>
#include <freerdp/freerdp.h>
#include <freerdp/gdi/gdi.h>
#include <freerdp/gdi/gfx.h>
#include <freerdp/graphics.h>
#include <freerdp/primitives.h>
#include <winpr/synch.h>
#include <winpr/wlog.h>

#include <cstring>
#include <utility>

namespace {

struct VeskoraContext
{
    rdpClientContext common;
    RdpSession *session;
};

} // namespace

struct RdpSession::Callbacks
{
    static RdpSession *of(rdpContext *context) { return reinterpret_cast<VeskoraContext *>(context)->session; }

    static BOOL clientNew(freerdp *instance, rdpContext *)
    {
        instance->PreConnect = preConnect;
        instance->PostConnect = postConnect;
        instance->PostDisconnect = postDisconnect;
        instance->Authenticate = authenticate;
        instance->VerifyX509Certificate = verifyCertificate;
        return TRUE;
    }
    static BOOL preConnect(freerdp *instance) { return of(instance->context)->onPreConnect(instance->context); }
    static BOOL postConnect(freerdp *instance) { return of(instance->context)->onPostConnect(instance->context); }
    static void postDisconnect(freerdp *instance)
    {
        PubSub_UnsubscribeChannelConnected(instance->context->pubSub, channelConnected);
        PubSub_UnsubscribeChannelDisconnected(instance->context->pubSub, channelDisconnected);
        gdi_free(instance);
    }
    // No prompt: a kiosk has nobody to answer it; what was given is all there is.
    static BOOL authenticate(freerdp *, char **, char **, char **) { return FALSE; }
    static int verifyCertificate(freerdp *instance, const BYTE *pem, size_t length, const char *, UINT16, DWORD)
    {
        return of(instance->context)->onVerifyCertificate(instance->context, pem, length);
    }
    static BOOL beginPaint(rdpContext *context)
    {
        HGDI_WND hwnd = context->gdi->primary->hdc->hwnd;
        hwnd->invalid->null = TRUE;
        hwnd->ninvalid = 0;
        return TRUE;
    }
    static BOOL endPaint(rdpContext *context)
    {
        const HGDI_RGN invalid = context->gdi->primary->hdc->hwnd->invalid;
        if (!invalid->null)
            of(context)->publish(context, QRect(invalid->x, invalid->y, invalid->w, invalid->h));
        return TRUE;
    }
    static BOOL desktopResize(rdpContext *context) { return of(context)->onDesktopResize(context); }
    static BOOL receiveChannelData(freerdp *instance, UINT16 channelId, const BYTE *data, size_t size, UINT32 flags,
                                   size_t totalSize)
    {
        of(instance->context)->onChannelData(instance, channelId);
        return freerdp_channels_data(instance, channelId, data, size, flags, totalSize);
    }
    // The graphics pipeline draws nothing unless the drawing code is attached to it.
    static void channelConnected(void *ctx, ChannelConnectedEventArgs *e)
    {
        auto *context = static_cast<rdpContext *>(ctx);
        if (strcmp(e->name, RDPGFX_DVC_CHANNEL_NAME) == 0 && context->gdi)
            gdi_graphics_pipeline_init(context->gdi, static_cast<RdpgfxClientContext *>(e->pInterface));
    }
    static void channelDisconnected(void *ctx, ChannelDisconnectedEventArgs *e)
    {
        auto *context = static_cast<rdpContext *>(ctx);
        if (strcmp(e->name, RDPGFX_DVC_CHANNEL_NAME) == 0 && context->gdi)
            gdi_graphics_pipeline_uninit(context->gdi, static_cast<RdpgfxClientContext *>(e->pInterface));
    }
};

void RdpSession::warmUp()
{
    // Left to detect the best picture routines, the library times them against each other once
    // per process (about 0.3 s, which the first connect would wait for); with no graphics card
    // routines in it, that only ever chooses the processor's own, which it is told to take.
    static std::once_flag once;
    std::call_once(once, [] {
        primitives_set_hints(PRIMITIVES_ONLY_CPU);
        primitives_get();
    });
}

RdpSession::RdpSession(RdpFrame &frame, RdpSessionConfig config)
    : m_frame(frame), m_config(std::move(config)), m_connection(m_config)
{
    m_wakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

RdpSession::~RdpSession()
{
    requestStop();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wakeEvent)
        CloseHandle(m_wakeEvent);
    m_config.wipePassword();
}

void RdpSession::start()
{
    m_thread = std::thread([this] { run(); });
}

void RdpSession::requestStop()
{
    m_connection.stop();
    if (m_wakeEvent)
        SetEvent(m_wakeEvent);
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
    m_connection.answer(accept);
}

void RdpSession::run()
{
    emit ended(runSession());
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
    entry.ClientNew = Callbacks::clientNew;
    rdpContext *context = freerdp_client_context_new(&entry);
    if (!context)
        return ReasonConnectFailed;
    reinterpret_cast<VeskoraContext *>(context)->session = this;
    freerdp *instance = context->instance;
    if (m_config.redirectDrives) {
        m_drives = std::make_unique<RdpDrives>(context);
        m_drives->setDrives(m_config.drives);
    }

    const bool configured = RdpSettings::apply(context->settings, m_config);
    m_config.wipePassword();
    qCInfo(lcSession, "connecting to %s port %u", m_config.host.c_str(), unsigned(m_config.port));
    qint32 reason = configured ? m_connection.connect(instance) : ReasonConnectFailed;
    if (!reason) {
        if (!m_config.autoReconnect)
            RdpSettings::wipePassword(context->settings);
        qCInfo(lcSession, "connected to %s port %u", m_config.host.c_str(), unsigned(m_config.port));
        emit connected();
        reason = runEventLoop(context);
    }
    qCInfo(lcSession, "session ended: reason %d, library error 0x%08x", int(reason),
           unsigned(freerdp_get_last_error(context)));

    m_connection.close();
    RdpSettings::wipePassword(context->settings);
    freerdp_disconnect(instance);
    freerdp_client_context_free(context);
    m_drives.reset();
    return reason;
}

qint32 RdpSession::runEventLoop(rdpContext *context)
{
    freerdp *instance = context->instance;
    while (true) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        DWORD count = freerdp_get_event_handles(context, handles, MAXIMUM_WAIT_OBJECTS - 1);
        if (count == 0)
            return ReasonServerEnded;
        handles[count++] = m_wakeEvent;
        if (WaitForMultipleObjects(count, handles, FALSE, INFINITE) == WAIT_FAILED)
            return ReasonServerEnded;
        if (m_connection.stopped())
            return ReasonLocal;
        ResetEvent(m_wakeEvent);
        processDrives();
        processInput(context);
        if (freerdp_check_event_handles(context) && !freerdp_shall_disconnect(instance))
            continue;
        if (m_connection.stopped())
            return ReasonLocal;
        if (channelFailedAlone(context))
            continue;
        // A session the server ended on purpose tells why; a broken connection does not.
        const bool serverEnded = freerdp_error_info(instance) != ERRINFO_SUCCESS;
        if (m_config.autoReconnect && !serverEnded) {
            emit reconnecting();
            if (m_connection.reconnect(instance)) {
                emit connected();
                continue;
            }
        }
        return m_connection.stopped() ? ReasonLocal : ReasonServerEnded;
    }
}

bool RdpSession::channelFailedAlone(rdpContext *context)
{
    // A channel that fails costs its own service, not the session: the library would otherwise
    // report every later check as failed (its error stays set), and the session would be made
    // again and again. The sound channel of a session made again after the server went away
    // fails so now and then.
    HANDLE error = getChannelErrorEventHandle(context);
    if (freerdp_shall_disconnect(context->instance) || freerdp_get_last_error(context) != FREERDP_ERROR_SUCCESS
        || WaitForSingleObject(error, 0) != WAIT_OBJECT_0)
        return false;
    qCInfo(lcSession, "channel error %u (%s); the session goes on", getChannelError(context),
           getChannelErrorDescription(context));
    ResetEvent(error);
    return true;
}

void RdpSession::processInput(rdpContext *context)
{
    std::deque<RdpInputEvent> events;
    {
        std::lock_guard lock(m_inputMutex);
        events.swap(m_input);
    }
    rdpInput *input = context->input;
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

void RdpSession::processDrives()
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

bool RdpSession::onPreConnect(rdpContext *context)
{
    PubSub_SubscribeChannelConnected(context->pubSub, Callbacks::channelConnected);
    PubSub_SubscribeChannelDisconnected(context->pubSub, Callbacks::channelDisconnected);
    if (m_drives && !m_drives->prepare(context->settings))
        return false;
    return freerdp_client_load_addins(context->channels, context->settings);
}

bool RdpSession::onPostConnect(rdpContext *context)
{
    freerdp *instance = context->instance;
    if (!gdi_init(instance, PIXEL_FORMAT_BGRX32))
        return false;
    // The server's pointer shapes are not shown. The library's stand-in for a pointer of the
    // client's own copies its prototype over each new pointer, and so loses the masks just read
    // into it (some 3 KB a shape, each session); without it they stay, and go with the pointer.
    rdpPointer pointer = *context->graphics->Pointer_Prototype;
    pointer.New = nullptr;
    graphics_register_pointer(context->graphics, &pointer);
    dropUnusedDecoders(context);
    instance->update->BeginPaint = Callbacks::beginPaint;
    instance->update->EndPaint = Callbacks::endPaint;
    instance->update->DesktopResize = Callbacks::desktopResize;
    m_openedChannels.clear();
    if (lcSession().isInfoEnabled())
        instance->ReceiveChannelData = Callbacks::receiveChannelData;
    if (m_drives)
        m_drives->attach(instance);
    rdpGdi *gdi = context->gdi;
    // The library does not clear the buffer; what the server has not painted yet is black.
    memset(gdi->primary_buffer, 0, size_t(gdi->stride) * gdi->height);
    publish(context, QRect(0, 0, gdi->width, gdi->height));
    return true;
}

void RdpSession::dropUnusedDecoders(rdpContext *context)
{
    // The library prepares every decoder it has. Without the graphics pipeline and without
    // RemoteFX announced the server sends bitmaps, which the planar and interleaved decoders
    // take: H.264 (an FFmpeg decoder), RemoteFX and progressive (with a pool of four threads
    // each) and ClearCodec would only hold memory. Progressive, ClearCodec and H.264 serve the
    // graphics pipeline alone; stray RemoteFX surface bits find no decoder and are refused.
    const rdpSettings *s = context->settings;
    rdpCodecs *codecs = context->codecs;
    if (freerdp_settings_get_bool(s, FreeRDP_SupportGraphicsPipeline) || freerdp_settings_get_bool(s, FreeRDP_RemoteFxCodec))
        return;
    h264_context_free(std::exchange(codecs->h264, nullptr));
    rfx_context_free(std::exchange(codecs->rfx, nullptr));
    progressive_context_free(std::exchange(codecs->progressive, nullptr));
    clear_context_free(std::exchange(codecs->clear, nullptr));
}

bool RdpSession::onDesktopResize(rdpContext *context)
{
    rdpGdi *gdi = context->gdi;
    rdpSettings *s = context->settings;
    if (!gdi_resize(gdi, freerdp_settings_get_uint32(s, FreeRDP_DesktopWidth),
                    freerdp_settings_get_uint32(s, FreeRDP_DesktopHeight)))
        return false;
    memset(gdi->primary_buffer, 0, size_t(gdi->stride) * gdi->height);
    publish(context, QRect(0, 0, gdi->width, gdi->height));
    emit resized(QSize(gdi->width, gdi->height));
    return true;
}

void RdpSession::onChannelData(freerdp *instance, quint16 channelId)
{
    if (m_openedChannels.contains(channelId))
        return;
    m_openedChannels.insert(channelId);
    qCInfo(lcSession, "channel %s opened by the server", freerdp_channels_get_name_by_id(instance, channelId));
}

void RdpSession::publish(rdpContext *context, const QRect &rect)
{
    const rdpGdi *gdi = context->gdi;
    if (gdi && gdi->primary_buffer
        && m_frame.write(gdi->primary_buffer, gdi->stride, QSize(gdi->width, gdi->height), rect))
        emit frameChanged();
}

int RdpSession::onVerifyCertificate(rdpContext *context, const BYTE *pem, size_t length)
{
    rdpSettings *settings = context->settings;
    m_connection.socketInUse(settings);
    // The library only sees the socket it was handed, so the store is kept here under the
    // name and port the operator gave.
    const RdpCertificate::Verdict verdict = RdpCertificate::Check(settings, m_config.host, m_config.port, pem, length);
    bool taken = verdict.kind != RdpCertificate::Verdict::Unreadable;
    // A remembered certificate has changed: the operator decides, in the control.
    if (verdict.kind == RdpCertificate::Verdict::Changed)
        taken = m_connection.ask([&] {
            emit certificateChanged(QString::fromStdString(verdict.remembered), QString::fromStdString(verdict.fingerprint));
        }) && RdpCertificate::Replace(settings, m_config.host, m_config.port, verdict);
    m_connection.certificateChecked(taken);
    return taken ? 1 : 0;
}
