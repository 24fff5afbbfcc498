#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <freerdp/channels/rdpdr.h>
#include <freerdp/freerdp.h>

#include <mutex>

// Removable-media drives of one session, handed to the server through the library's device
// redirection channel. The library announces drives only from its own mount-table watcher
// and only when the server's logged-on message passes its checks (xrdp's does not); here the
// drives are the ones the program's own watcher reports, loaded into the channel's device
// manager and announced and removed by this class as they come and go.
//
// Threads: the device manager is captured on the channel's thread; everything else runs on the
// session's worker thread, which also carries the channel's traffic.
class RdpDrives
{
public:
    using Drive = QPair<QString, QString>; // name as the server shows it, mount point

    explicit RdpDrives(rdpContext *context);
    ~RdpDrives();
    RdpDrives(const RdpDrives &) = delete;
    RdpDrives &operator=(const RdpDrives &) = delete;

    // Before the channels load: the entry through which the channel's device manager is seen.
    bool prepare(rdpSettings *settings);
    // Once connected: follows the channel's messages from the server.
    void attach(freerdp *instance);
    // The drives the session should have now; new ones are announced, gone ones removed.
    void setDrives(const QList<Drive> &drives);

private:
    struct Redirected
    {
        Drive drive;
        UINT32 id = 0; // the channel's device id; 0 until loaded
    };

    static UINT driveEntry(PDEVICE_SERVICE_ENTRY_POINTS entryPoints);
    static UINT registerDevice(DEVMAN *devman, DEVICE *device);
    static BOOL receive(freerdp *instance, UINT16 channelId, const BYTE *data, size_t size, UINT32 flags,
                        size_t totalSize);
    static RdpDrives *of(rdpContext *context);

    void serverMessage(const BYTE *data, size_t size);
    void update();
    void announce(Redirected &drive);
    void unload(const Redirected &drive);
    void send(const QByteArray &message);

    rdpContext *const m_context;
    freerdp *m_instance = nullptr;
    pReceiveChannelData m_forward = nullptr;
    std::mutex m_devmanMutex;
    DEVMAN *m_devman = nullptr;
    pcRegisterDevice m_register = nullptr;
    bool m_reloaded = false; // a new device manager: nothing of ours is loaded into it
    UINT16 m_serverMinor = 0;
    bool m_loggedOn = false;
    bool m_removeSupported = false;
    QList<Drive> m_wanted;
    QList<Redirected> m_redirected;
};
