#include "rdp/RdpDrives.h"

#include <QFile>
#include <QtEndian>

#include <freerdp/addin.h>
#include <freerdp/client/channels.h>
#include <freerdp/settings.h>
#include <winpr/collections.h>
#include <winpr/stream.h>
#include <winpr/wtsapi.h>

#include <cstring>
#include <map>

namespace {

// The device in the settings that stands for all removable media: loading it hands us the
// channel's device manager.
const char *const kMediaPath = "<removable media>";
const char *const kChannel = "rdpdr";

std::mutex g_sessionsMutex;
std::map<rdpContext *, RdpDrives *> g_sessions;

// The device being loaded on this thread by RdpDrives::announce, and the manager's own register.
thread_local DEVICE *t_loaded = nullptr;
thread_local pcRegisterDevice t_register = nullptr;

PDEVICE_SERVICE_ENTRY libraryDriveEntry()
{
    return reinterpret_cast<PDEVICE_SERVICE_ENTRY>(
        freerdp_channels_load_static_addin_entry("drive", nullptr, "DeviceServiceEntry", 0));
}

void put16(QByteArray &out, quint16 v)
{
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&v), 2);
}

void put32(QByteArray &out, quint32 v)
{
    v = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&v), 4);
}

QByteArray header(quint16 packetId)
{
    QByteArray out;
    put16(out, RDPDR_CTYP_CORE);
    put16(out, packetId);
    return out;
}

} // namespace

// Every drive the library loads comes through here; the media device only hands over the
// device manager, the rest are the drives this class loads itself.
UINT RdpDrives::driveEntry(PDEVICE_SERVICE_ENTRY_POINTS entryPoints)
{
    const auto *device = reinterpret_cast<const RDPDR_DRIVE *>(entryPoints->device);
    if (!device || !device->Path || strcmp(device->Path, kMediaPath) != 0) {
        PDEVICE_SERVICE_ENTRY entry = libraryDriveEntry();
        return entry ? entry(entryPoints) : ERROR_INTERNAL_ERROR;
    }
    std::lock_guard sessions(g_sessionsMutex);
    if (RdpDrives *self = of(entryPoints->rdpcontext)) {
        std::lock_guard lock(self->m_devmanMutex);
        // A reconnect brings a new channel: what was loaded into the old one is gone with it.
        if (self->m_devman && self->m_devman != entryPoints->devman)
            self->m_reloaded = true;
        self->m_devman = entryPoints->devman;
        self->m_register = entryPoints->RegisterDevice;
    }
    return CHANNEL_RC_OK;
}

UINT RdpDrives::registerDevice(DEVMAN *devman, DEVICE *device)
{
    const UINT rc = t_register ? t_register(devman, device) : ERROR_INTERNAL_ERROR;
    if (rc == CHANNEL_RC_OK)
        t_loaded = device;
    return rc;
}

RdpDrives *RdpDrives::of(rdpContext *context)
{
    const auto it = g_sessions.find(context);
    return it == g_sessions.end() ? nullptr : it->second;
}

BOOL RdpDrives::receive(freerdp *instance, UINT16 channelId, const BYTE *data, size_t size, UINT32 flags,
                        size_t totalSize)
{
    RdpDrives *self = nullptr;
    {
        std::lock_guard sessions(g_sessionsMutex);
        self = of(instance->context);
    }
    if (!self)
        return freerdp_channels_data(instance, channelId, data, size, flags, totalSize);
    const BOOL ok = self->m_forward(instance, channelId, data, size, flags, totalSize);
    // The channel's control messages are small: each comes whole, in one first chunk.
    if (channelId == freerdp_channels_get_id_by_name(instance, kChannel) && (flags & CHANNEL_FLAG_FIRST))
        self->serverMessage(data, size);
    return ok;
}

RdpDrives::RdpDrives(rdpContext *context) : m_context(context)
{
    std::lock_guard sessions(g_sessionsMutex);
    g_sessions[context] = this;
}

RdpDrives::~RdpDrives()
{
    std::lock_guard sessions(g_sessionsMutex);
    g_sessions.erase(m_context);
}

bool RdpDrives::prepare(rdpSettings *settings)
{
    // The library asks its addin provider for the drive service of each drive it loads.
    freerdp_register_addin_provider(
        [](LPCSTR name, LPCSTR subsystem, LPCSTR type, DWORD flags) -> PVIRTUALCHANNELENTRY {
            if (name && type && !subsystem && strcmp(name, "drive") == 0 && strcmp(type, "DeviceServiceEntry") == 0)
                return reinterpret_cast<PVIRTUALCHANNELENTRY>(&RdpDrives::driveEntry);
            return freerdp_channels_load_static_addin_entry(name, subsystem, type, flags);
        },
        0);
    auto *media = static_cast<RDPDR_DRIVE *>(calloc(1, sizeof(RDPDR_DRIVE)));
    if (!media)
        return false;
    media->Type = RDPDR_DTYP_FILESYSTEM;
    media->Name = strdup("media");
    media->Path = strdup(kMediaPath);
    if (!media->Name || !media->Path || !freerdp_device_collection_add(settings, reinterpret_cast<RDPDR_DEVICE *>(media))) {
        free(media->Name);
        free(media->Path);
        free(media);
        return false;
    }
    return freerdp_settings_set_bool(settings, FreeRDP_DeviceRedirection, TRUE);
}

void RdpDrives::attach(freerdp *instance)
{
    m_instance = instance;
    m_forward = instance->ReceiveChannelData ? instance->ReceiveChannelData : freerdp_channels_data;
    instance->ReceiveChannelData = &RdpDrives::receive;
}

void RdpDrives::setDrives(const QList<Drive> &drives)
{
    m_wanted = drives;
    update();
}

void RdpDrives::serverMessage(const BYTE *data, size_t size)
{
    if (size < 4 || qFromLittleEndian<quint16>(data) != RDPDR_CTYP_CORE)
        return;
    switch (qFromLittleEndian<quint16>(data + 2)) {
    case PAKID_CORE_SERVER_ANNOUNCE:
        // The channel starts (again, as servers do after the logon): announce at the next logon.
        m_serverMinor = size >= 8 ? qFromLittleEndian<quint16>(data + 6) : 0;
        m_loggedOn = false;
        break;
    case PAKID_CORE_SERVER_CAPABILITY: {
        // Capability sets after the 8-byte head: type, length (with its head), version, data;
        // the general set's extendedPDU flags sit 20 bytes into its data.
        size_t at = 8;
        for (quint16 n = size >= 6 ? qFromLittleEndian<quint16>(data + 4) : 0; n > 0 && at + 8 <= size; --n) {
            const quint16 type = qFromLittleEndian<quint16>(data + at);
            const quint16 length = qFromLittleEndian<quint16>(data + at + 2);
            if (type == CAP_GENERAL_TYPE && at + 32 <= size)
                m_removeSupported = qFromLittleEndian<quint32>(data + at + 28) & RDPDR_DEVICE_REMOVE_PDUS;
            if (length < 8)
                break;
            at += length;
        }
        break;
    }
    case PAKID_CORE_CLIENTID_CONFIRM:
        // Servers of protocol 5.1 and before send no logged-on message: devices go now.
        if (m_serverMinor > 5)
            break;
        [[fallthrough]];
    case PAKID_CORE_USER_LOGGEDON:
        m_loggedOn = true;
        update();
        for (Redirected &r : m_redirected)
            announce(r);
        break;
    default:
        break;
    }
}

void RdpDrives::update()
{
    {
        std::lock_guard lock(m_devmanMutex);
        if (std::exchange(m_reloaded, false))
            for (Redirected &r : m_redirected)
                r.id = 0;
    }
    for (auto it = m_redirected.begin(); it != m_redirected.end();) {
        if (m_wanted.contains(it->drive)) {
            ++it;
            continue;
        }
        unload(*it);
        it = m_redirected.erase(it);
    }
    for (const Drive &d : std::as_const(m_wanted)) {
        if (std::none_of(m_redirected.cbegin(), m_redirected.cend(), [&d](const Redirected &r) { return r.drive == d; }))
            m_redirected.append({d, 0});
    }
    if (m_loggedOn)
        for (Redirected &r : m_redirected)
            if (!r.id)
                announce(r);
}

void RdpDrives::announce(Redirected &r)
{
    std::lock_guard lock(m_devmanMutex);
    if (!m_devman)
        return;
    if (!r.id) {
        PDEVICE_SERVICE_ENTRY entry = libraryDriveEntry();
        QByteArray name = r.drive.first.toUtf8(), path = QFile::encodeName(r.drive.second);
        RDPDR_DRIVE drive{};
        drive.Type = RDPDR_DTYP_FILESYSTEM;
        drive.Name = name.data();
        drive.Path = path.data();
        drive.automount = TRUE;
        DEVICE_SERVICE_ENTRY_POINTS entryPoints{};
        entryPoints.devman = m_devman;
        entryPoints.RegisterDevice = &RdpDrives::registerDevice;
        entryPoints.device = reinterpret_cast<RDPDR_DEVICE *>(&drive);
        entryPoints.rdpcontext = m_context;
        t_loaded = nullptr;
        t_register = m_register;
        if (!entry || entry(&entryPoints) != CHANNEL_RC_OK || !t_loaded)
            return;
        r.id = t_loaded->id;
    }
    // The server may have refused the device meanwhile, which unloads it.
    const auto *device = static_cast<const DEVICE *>(ListDictionary_GetItemValue(m_devman->devices, reinterpret_cast<void *>(size_t(r.id))));
    if (!device) {
        r.id = 0;
        return;
    }
    // Device list announce with this one device: type, id, 8-byte DOS name, data.
    QByteArray message = header(PAKID_CORE_DEVICELIST_ANNOUNCE);
    put32(message, 1);
    put32(message, device->type);
    put32(message, device->id);
    QByteArray dosName = QByteArray(device->name ? device->name : "").left(8).leftJustified(8, '\0');
    for (char &c : dosName)
        if (uchar(c) > 0x7F)
            c = '_';
    message.append(dosName);
    const size_t length = device->data ? Stream_GetPosition(device->data) : 0;
    put32(message, quint32(length));
    if (length)
        message.append(reinterpret_cast<const char *>(Stream_Buffer(device->data)), qsizetype(length));
    send(message);
}

void RdpDrives::unload(const Redirected &r)
{
    // A server that cannot take removals keeps the device; its requests then fail on the
    // missing mount instead of meeting an unknown device.
    if (!r.id || !m_loggedOn || !m_removeSupported)
        return;
    QByteArray message = header(PAKID_CORE_DEVICELIST_REMOVE);
    put32(message, 1);
    put32(message, r.id);
    send(message);
    std::lock_guard lock(m_devmanMutex);
    if (!m_devman)
        return;
    auto *device = static_cast<DEVICE *>(ListDictionary_Remove(m_devman->devices, reinterpret_cast<void *>(size_t(r.id))));
    if (device && device->Free)
        device->Free(device);
}

void RdpDrives::send(const QByteArray &message)
{
    if (m_instance && m_instance->SendChannelData)
        m_instance->SendChannelData(m_instance, freerdp_channels_get_id_by_name(m_instance, kChannel),
                                    reinterpret_cast<const BYTE *>(message.constData()), size_t(message.size()));
}
