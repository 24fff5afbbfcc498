#pragma once

#include <QImage>
#include <QRect>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class FreeRdpSessionControl;
class RdpDrives;
struct rdp_freerdp;

// What one session is started with; copied out of the control at Connect.
struct RdpSessionConfig
{
    std::string host;
    uint16_t port = 3389;
    std::string userName;
    std::string password; // wiped as soon as FreeRDP has its own copy
    uint32_t width = 800, height = 600;
    bool bitmapPersistence = false, compress = false;
    uint32_t performanceFlags = 0;
    bool redirectDrives = false, redirectPorts = false, redirectPrinters = false,
         redirectSmartCards = false, autoReconnect = false;
    int connectTimeLimitMs = 30000;
    std::string certificateDirectory;
    uint32_t keyboardLayout = 0x409;
    QList<QPair<QString, QString>> drives; // removable media at the start: name, mount point
};

// One input event for the session, queued from the user-interface thread.
struct RdpInputEvent
{
    enum Kind { Key, Mouse, ExtendedMouse, FocusIn } kind = Key;
    bool down = false;
    uint32_t code = 0;  // scan code (Key), pointer flags (Mouse, ExtendedMouse), lock states (FocusIn)
    uint16_t x = 0, y = 0;
};

// The worker side of the session control: one FreeRDP instance on its own thread. Created and
// destroyed on the user-interface thread; its destructor stops the worker and joins it.
class RdpSession
{
public:
    RdpSession(FreeRdpSessionControl *control, quint64 generation, RdpSessionConfig config);
    ~RdpSession();
    RdpSession(const RdpSession &) = delete;
    RdpSession &operator=(const RdpSession &) = delete;

    void start();
    // The serial and parallel ports of the machine as the session offers them to the server:
    // (name, device path) pairs, COM1.. for serial ports, LPT1.. for printer ports.
    static QList<QPair<QString, QString>> portDevices(const QString &deviceDirectory = QStringLiteral("/dev"));
    // Process-wide preparation that would otherwise slow the first connect.
    static void warmUp();
    // Ends the attempt or the session from outside: the worker reports ReasonLocal.
    void requestStop();
    void postInput(const RdpInputEvent &event);
    // The removable-media drives the session should have now (name, mount point).
    void postDrives(const QList<QPair<QString, QString>> &drives);
    // The operator's answer to a changed certificate (see FreeRdpSessionControl).
    void answerCertificate(bool accept);

    // The remote screen shared with the widget; guarded by screenMutex.
    mutable std::mutex screenMutex;
    QImage screen;
    QRect damaged;
    bool updatePosted = false;

    // FreeRDP callbacks (worker thread).
    bool onPreConnect(rdp_freerdp *instance);
    bool onPostConnect(rdp_freerdp *instance);
    void onPostDisconnect(rdp_freerdp *instance);
    bool onEndPaint(rdp_freerdp *instance);
    bool onDesktopResize(rdp_freerdp *instance);
    int onVerifyCertificate(rdp_freerdp *instance, const unsigned char *pem, size_t length);

private:
    void run();
    qint32 runSession();
    bool configure(rdp_freerdp *instance);
    // Resolves and connects the TCP socket; 0 or a disconnect reason.
    qint32 openSocket(int timeLimitMs, int &fd);
    // Runs one FreeRDP connect step under the time limit; the socket is shut down at the limit.
    bool withTimeLimit(int timeLimitMs, bool &timedOut, int (*step)(rdp_freerdp *));
    void abortConnection();
    void setGuard(int fd);
    qint32 classifyFailure(rdp_freerdp *instance) const;
    bool reconnect(rdp_freerdp *instance);
    void processInput(rdp_freerdp *instance);
    void processDrives(rdp_freerdp *instance);
    void wipeSettingsPassword(rdp_freerdp *instance);
    void publish(rdp_freerdp *instance, const QRect &rect);
    bool waitStop(int milliseconds);

    FreeRdpSessionControl *const m_control;
    const quint64 m_generation;
    RdpSessionConfig m_config;
    std::thread m_thread;

    // Guards m_instance and m_guardFd against the stop from the user-interface thread.
    std::mutex m_controlMutex;
    rdp_freerdp *m_instance = nullptr;
    int m_guardFd = -1;
    std::atomic<bool> m_stop{false};
    std::condition_variable m_stopCondition;
    std::mutex m_stopMutex;
    int m_wakePipe[2] = {-1, -1};
    void *m_wakeEvent = nullptr;

    std::mutex m_inputMutex;
    std::deque<RdpInputEvent> m_input;
    QList<QPair<QString, QString>> m_pendingDrives; // guarded by m_inputMutex
    bool m_drivesChanged = false;
    std::unique_ptr<RdpDrives> m_drives;

    std::atomic<bool> m_connected{false};
    bool m_certificateRefused = false;
    bool m_certificateChecked = false;
    // The connect time limit does not run while the operator is asked (guarded by m_stopMutex).
    enum class Answer { None, Pending, Accept, Refuse } m_answer = Answer::None;
};
