#include "rdp/RdpSettings.h"

#include "rdp/RdpLibraryOverrides.h"

#include <QDir>
#include <QFile>

#include <freerdp/client/cmdline.h>
#include <freerdp/settings.h>

#include <algorithm>

void RdpSessionConfig::wipePassword()
{
    volatile char *p = password.data();
    for (size_t i = 0; i < password.size(); ++i)
        p[i] = 0;
    password.clear();
    password.shrink_to_fit();
}

namespace RdpSettings {

bool apply(rdpSettings *s, const RdpSessionConfig &config)
{
    bool ok = true;
    auto setBool = [&](size_t id, bool value) { ok = freerdp_settings_set_bool(s, id, value ? TRUE : FALSE) && ok; };
    auto setU32 = [&](size_t id, UINT32 value) { ok = freerdp_settings_set_uint32(s, id, value) && ok; };
    auto setString = [&](size_t id, const std::string &value) {
        ok = freerdp_settings_set_string(s, id, value.empty() ? nullptr : value.c_str()) && ok;
    };

    setString(FreeRDP_Username, config.userName);
    setString(FreeRDP_Domain, std::string());
    if (!config.password.empty())
        setString(FreeRDP_Password, config.password);
    setU32(FreeRDP_DesktopWidth, config.width);
    setU32(FreeRDP_DesktopHeight, config.height);
    setU32(FreeRDP_ColorDepth, 32);
    setBool(FreeRDP_SoftwareGdi, true);
    setU32(FreeRDP_KeyboardLayout, config.keyboardLayout);
    setString(FreeRDP_ConfigPath, config.certificateDirectory);

    // Without a password the server asks for the credentials itself, which needs a session
    // first: network-level authentication would only fail.
    setBool(FreeRDP_NlaSecurity, !config.password.empty());
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
    setBool(FreeRDP_BitmapCachePersistEnabled, config.bitmapPersistence);
    setBool(FreeRDP_CompressionEnabled, config.compress);
    ok = RdpLibraryOverrides::setPerformanceFlags(s, config.performanceFlags) && ok;

    setBool(FreeRDP_AutoReconnectionEnabled, config.autoReconnect);
    setU32(FreeRDP_AutoReconnectMaxRetries, RdpReconnectTries);

    // The server's sound plays here, through the desktop's sound server where one runs (the
    // library tries PulseAudio first, which PipeWire also serves, then ALSA, and plays into
    // nothing where there is no sound device at all).
    setBool(FreeRDP_AudioPlayback, true);

    // Everything the session must not have is switched off here, not left to defaults.
    setBool(FreeRDP_RedirectClipboard, false);
    setBool(FreeRDP_AudioCapture, false);
    setBool(FreeRDP_RemoteConsoleAudio, false);
    setBool(FreeRDP_RedirectHomeDrive, false);
    setBool(FreeRDP_RedirectDrives, false); // the session's removable-media device stands for it
    setBool(FreeRDP_RedirectSerialPorts, config.redirectPorts);
    setBool(FreeRDP_RedirectParallelPorts, config.redirectPorts);
    setBool(FreeRDP_RedirectPrinters, config.redirectPrinters);
    setBool(FreeRDP_RedirectSmartCards, config.redirectSmartCards);
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

    if (config.redirectPorts) {
        for (const auto &port : portDevices()) {
            QByteArray type = port.first.startsWith(QLatin1String("COM")) ? "serial" : "parallel";
            QByteArray name = port.first.toLatin1(), path = QFile::encodeName(port.second);
            char *params[] = {type.data(), name.data(), path.data()};
            ok = freerdp_client_add_device_channel(s, 3, params) && ok;
        }
    }

    const bool devices = config.redirectDrives || config.redirectPorts || config.redirectPrinters
        || config.redirectSmartCards;
    setBool(FreeRDP_DeviceRedirection, devices);
    return ok;
}

void wipePassword(rdpSettings *s)
{
    if (const char *p = freerdp_settings_get_string(s, FreeRDP_Password)) {
        volatile char *w = const_cast<char *>(p);
        for (size_t i = 0; w[i]; ++i)
            w[i] = 0;
        freerdp_settings_set_string(s, FreeRDP_Password, nullptr);
    }
}

QList<QPair<QString, QString>> portDevices(const QString &deviceDirectory)
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

} // namespace RdpSettings
