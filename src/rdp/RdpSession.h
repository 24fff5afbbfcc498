#pragma once

#include "rdp/RdpConnection.h"
#include "rdp/RdpSettings.h"

#include <QObject>
#include <QRect>
#include <QSet>

#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class RdpDrives;
class RdpFrame;
struct rdp_context;
struct rdp_freerdp;

// One input event for the session, queued from the user-interface thread.
struct RdpInputEvent
{
    enum Kind { Key, Mouse, ExtendedMouse, FocusIn } kind = Key;
    bool down = false;
    uint32_t code = 0;  // scan code (Key), pointer flags (Mouse, ExtendedMouse), lock states (FocusIn)
    uint16_t x = 0, y = 0;
};

// The worker side of the session control: one library instance on a thread of its own, from
// the connection to its end. Created and destroyed on the user-interface thread; its
// destructor stops the worker and joins it. It tells what happens through its signals, sent
// from the worker (connect them queued); ended() is the last of them. What the server draws
// goes into the frame, which must outlive the session.
class RdpSession : public QObject
{
    Q_OBJECT

public:
    RdpSession(RdpFrame &frame, RdpSessionConfig config);
    ~RdpSession() override;

    void start();
    // Process-wide preparation that would otherwise slow the first connect.
    static void warmUp();
    // Ends the attempt or the session from outside: it ends with ReasonLocal.
    void requestStop();
    void postInput(const RdpInputEvent &event);
    // The removable-media drives the session should have now (name, mount point).
    void postDrives(const QList<QPair<QString, QString>> &drives);
    // The operator's answer to certificateChanged().
    void answerCertificate(bool accept);

signals:
    // Established, and again after each time it was made again.
    void connected();
    // It broke and is being made again.
    void reconnecting();
    void ended(qint32 reason);
    // The frame has changed (one signal until the widget has taken the damage).
    void frameChanged();
    void resized(QSize size);
    // A remembered certificate has changed: the operator is to answer (answerCertificate).
    void certificateChanged(const QString &remembered, const QString &presented);

private:
    struct Callbacks; // the library's calls into the session

    void run();
    qint32 runSession();
    qint32 runEventLoop(rdp_context *context);
    void processInput(rdp_context *context);
    bool channelFailedAlone(rdp_context *context);
    void processDrives();
    void publish(rdp_context *context, const QRect &rect);
    bool onPreConnect(rdp_context *context);
    bool onPostConnect(rdp_context *context);
    static void dropUnusedDecoders(rdp_context *context);
    bool onDesktopResize(rdp_context *context);
    // The first data on each channel is noted in the diagnostics: the channels the server uses.
    void onChannelData(rdp_freerdp *instance, quint16 channelId);
    int onVerifyCertificate(rdp_context *context, const unsigned char *pem, size_t length);

    RdpFrame &m_frame;
    RdpSessionConfig m_config;
    RdpConnection m_connection;
    std::thread m_thread;
    void *m_wakeEvent = nullptr; // wakes the event loop for input, drives and the stop

    std::mutex m_inputMutex;
    std::deque<RdpInputEvent> m_input;
    QList<QPair<QString, QString>> m_pendingDrives; // guarded by m_inputMutex
    bool m_drivesChanged = false;
    std::unique_ptr<RdpDrives> m_drives;
    QSet<quint16> m_openedChannels; // worker thread only
};
