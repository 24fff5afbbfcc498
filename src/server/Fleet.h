#pragma once

#include "server/LockPolicy.h"
#include "server/PanelLink.h"
#include "server/ServerConfig.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <memory>

class QTcpServer;

// The panels known by name, the lock and its holder, and the policy that grants or refuses
// what a panel asks. It accepts the links and hears from them through their signals; the faces
// read it and ask it to act, nothing else reaches a link.
class Fleet : public QObject
{
    Q_OBJECT

public:
    struct ServerState
    {
        LockMode mode = LockMode::Exclusive;
        bool locked = false;
        QString holder;
    };
    enum class Outcome { Sent, UnknownPanel, NotConnected, NoSuchProfile, Locked };

    explicit Fleet(QObject *parent = nullptr);
    ~Fleet() override;

    // Listens and steers as the configuration says. Taken again, it drops no link: panels
    // whose profiles changed get the new series, the lock follows the new mode. False, with
    // the running configuration kept, when its address cannot be listened on.
    bool apply(const ServerConfig &config, QString &error);
    const ServerConfig &config() const { return m_config; }
    quint16 port() const;

    // Every panel that identified itself, those whose link is down included, by name.
    QList<PanelInfo> panels() const;
    ServerState state() const;
    // The names of the panels with a link up.
    QStringList connectedNames() const;

    // The administrator's orders. Connect goes through the lock as a panel's own request does.
    Outcome orderConnect(const QString &name, qint32 profile);
    Outcome orderExit(const QString &name, qint32 mode);

signals:
    void panelChanged(const PanelInfo &panel);
    void serverChanged(const Fleet::ServerState &state);

private:
    bool listen(const ServerConfig &config, QString &error);
    void accept();
    void identified(PanelLink *link);
    void signOfLife(PanelLink *link);
    void connectionRequested(PanelLink *link, qint32 profile);
    void exitRequested(PanelLink *link, qint32 request);
    void closed(PanelLink *link);
    void round();
    // Grants a request of the link's panel; tells every panel when the holder changed.
    bool grant(PanelLink *link, qint32 profile, const char *by);
    void tellStatus(PanelLink *link);
    void tellEveryone();
    Outcome find(const QString &name, PanelLink *&link) const;

    ServerConfig m_config;
    std::unique_ptr<QTcpServer> m_listener;
    QTimer m_round;
    LockPolicy m_policy;
    QSet<PanelLink *> m_links;
    QHash<QString, PanelLink *> m_byName; // identified links, by name in upper case
    QHash<QString, PanelInfo> m_down;     // panels whose link is down, by name in upper case
    QHash<QHostAddress, int> m_perAddress;
    int m_refused = 0; // links refused since the last round
};
