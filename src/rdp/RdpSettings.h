#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <cstdint>
#include <string>

struct rdp_settings;

// How often an established session that broke is made again before it ends.
constexpr int RdpReconnectTries = 20;

// What one session is started with; copied out of the control at Connect.
struct RdpSessionConfig
{
    std::string host;
    uint16_t port = 3389;
    std::string userName;
    std::string password; // wiped as soon as the library has its own copy
    uint32_t width = 800, height = 600;
    bool bitmapPersistence = false, compress = false;
    uint32_t performanceFlags = 0;
    bool redirectDrives = false, redirectPorts = false, redirectPrinters = false,
         redirectSmartCards = false, autoReconnect = false;
    int connectTimeLimitMs = 30000;
    std::string certificateDirectory;
    uint32_t keyboardLayout = 0x409;
    QList<QPair<QString, QString>> drives; // removable media at the start: name, mount point

    void wipePassword();
};

// The library's settings for a session: what the control was given, and everything the
// session must not have switched off explicitly (the library's defaults load channels that
// nobody asked for).
namespace RdpSettings {

bool apply(rdp_settings *settings, const RdpSessionConfig &config);
// Overwrites the library's copy of the password and forgets it.
void wipePassword(rdp_settings *settings);
// The serial and parallel ports of the machine as the session offers them to the server:
// (name, device path) pairs, COM1.. for serial ports, LPT1.. for printer ports.
QList<QPair<QString, QString>> portDevices(const QString &deviceDirectory = QStringLiteral("/dev"));

} // namespace RdpSettings
