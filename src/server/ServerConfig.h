#pragma once

#include <QHostAddress>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

// One profile the server hands to panels: the panel keys it by its user name.
struct ServerProfile
{
    QString name; // of its section, [profile NAME]
    QString user;
    QString password;
    qint32 resolution = 0; // the panel's resolution list, 0 "Full-Screen" to 6

    bool operator==(const ServerProfile &other) const = default;
};

// What one panel is given: its profiles in order, and which of its requests to go down are granted.
struct PanelPolicy
{
    QList<ServerProfile> profiles;
    bool restart = false;
    bool turnOff = false;
};

// An IPv4 peer of a listener on "::" comes as ::ffff:a.b.c.d; this is a.b.c.d.
QHostAddress PlainAddress(const QHostAddress &address);

enum class LockMode { Exclusive, Shared };

// veskora-server's configuration file, read whole or not at all.
struct ServerConfig
{
    QHostAddress listen = QHostAddress::AnyIPv4;
    quint16 port = 12559;
    int interval = 15; // seconds between sign-of-life rounds
    LockMode mode = LockMode::Exclusive;
    qint32 version = 0; // announced to the panels
    QHostAddress dashboardAddress = QHostAddress::LocalHost;
    quint16 dashboardPort = 8765; // 0: no dashboard
    QString tokenFile = QStringLiteral("/etc/veskora-server/token");
    QString token;     // read from tokenFile while the dashboard is on
    int releaseAfter = 30; // seconds without a session after which a holder lets the lock go
    int maxLinks = 5000;
    int maxLinksPerAddress = 64;

    // Whether a panel's address may hold a link; all when nothing is listed.
    bool allows(const QHostAddress &address) const;
    // The first [panel PATTERN] whose pattern matches the name or the address, else [panel default].
    PanelPolicy policyFor(const QString &name, const QHostAddress &address) const;

    struct AddressRule
    {
        QPair<QHostAddress, int> subnet{QHostAddress(), -1}; // a CIDR, or
        QRegularExpression pattern;                            // the address text with * and ?
    };
    struct PanelRule
    {
        QRegularExpression pattern; // invalid for [panel default]
        PanelPolicy policy;
    };
    QList<AddressRule> allow;
    QList<PanelRule> panels;
    std::optional<PanelPolicy> defaultPanel;
};

namespace ServerConfigFile {

inline const QString DefaultPath = QStringLiteral("/etc/veskora-server/server.conf");

// Reads the file; on a fault false and the reason as "FILE:LINE: reason" (no line where the
// fault is the file itself).
bool Load(const QString &path, ServerConfig &config, QString &error);

} // namespace ServerConfigFile
