#include "server/Fleet.h"

#include "server/ServerLog.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {

QString key(const QString &name) { return name.toUpper(); }

} // namespace

Fleet::Fleet(QObject *parent) : QObject(parent)
{
    connect(&m_round, &QTimer::timeout, this, &Fleet::round);
}

Fleet::~Fleet()
{
    // The links are children; none may call back into a fleet half gone.
    for (PanelLink *link : std::as_const(m_links))
        link->disconnect(this);
}

bool Fleet::listen(const ServerConfig &config, QString &error)
{
    if (m_listener && config.listen == m_config.listen && config.port == m_config.port)
        return true;
    auto listener = std::make_unique<QTcpServer>();
    // A fleet connects at once when the server starts; the system's queue takes the burst.
    listener->setListenBacklogSize(1024);
    if (!listener->listen(config.listen, config.port)) {
        error = QStringLiteral("cannot listen for panels on %1 port %2: %3").arg(config.listen.toString()).arg(config.port).arg(listener->errorString());
        return false;
    }
    connect(listener.get(), &QTcpServer::newConnection, this, &Fleet::accept);
    m_listener = std::move(listener);
    qCInfo(lcServer).noquote() << QStringLiteral("listening for panels on %1 port %2").arg(config.listen.toString()).arg(m_listener->serverPort());
    return true;
}

bool Fleet::apply(const ServerConfig &config, QString &error)
{
    if (!listen(config, error))
        return false;
    m_config = config;
    m_policy.setMode(config.mode);
    m_policy.setReleaseAfter(qint64(config.releaseAfter) * 1000);
    if (!m_round.isActive() || m_round.interval() != config.interval * 1000)
        m_round.start(config.interval * 1000);
    for (PanelLink *link : m_links.values()) {
        if (!config.allows(link->address())) {
            link->close(QStringLiteral("its address is no longer allowed"));
            continue;
        }
        link->setServerVersion(config.version);
        if (!link->name().isEmpty())
            link->setPolicy(config.policyFor(link->name(), link->address()));
    }
    tellEveryone();
    emit serverChanged(state());
    return true;
}

quint16 Fleet::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

QList<PanelInfo> Fleet::panels() const
{
    // By the names in upper case, which the tables are keyed by anyway.
    std::vector<std::pair<QString, const PanelInfo *>> order;
    order.reserve(m_down.size() + m_byName.size());
    for (auto it = m_down.begin(); it != m_down.end(); ++it)
        order.emplace_back(it.key(), &it.value());
    for (auto it = m_byName.begin(); it != m_byName.end(); ++it)
        order.emplace_back(it.key(), &it.value()->info());
    std::sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<PanelInfo> all;
    all.reserve(qsizetype(order.size()));
    for (const auto &[name, info] : order)
        all.append(*info);
    return all;
}

Fleet::ServerState Fleet::state() const
{
    return {m_policy.mode(), m_policy.locked(), m_policy.holder()};
}

QStringList Fleet::connectedNames() const
{
    QStringList names;
    for (const PanelLink *link : m_byName)
        names.append(link->name());
    names.sort(Qt::CaseInsensitive);
    return names;
}

void Fleet::accept()
{
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        const QHostAddress address = PlainAddress(socket->peerAddress());
        const char *refusal = !m_config.allows(address)                                  ? "not in the allow list"
                              : m_links.size() >= m_config.maxLinks                          ? "the server has as many links as it takes"
                              : m_perAddress.value(address) >= m_config.maxLinksPerAddress ? "its address has as many links as it may"
                                                                                             : nullptr;
        if (refusal) {
            qCInfo(lcLink).noquote() << "link from" << address.toString() << "refused:" << refusal;
            ++m_refused;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *link = new PanelLink(socket, m_config.version, this);
        connect(link, &PanelLink::identified, this, &Fleet::identified);
        connect(link, &PanelLink::signOfLife, this, &Fleet::signOfLife);
        connect(link, &PanelLink::connectionRequested, this, &Fleet::connectionRequested);
        connect(link, &PanelLink::exitRequested, this, &Fleet::exitRequested);
        connect(link, &PanelLink::closed, this, &Fleet::closed);
        m_links.insert(link);
        ++m_perAddress[address];
        qCInfo(lcLink).noquote() << "link from" << address.toString();
        link->start();
    }
}

void Fleet::identified(PanelLink *link)
{
    // A panel that identifies itself again under another name leaves the old one.
    for (auto it = m_byName.begin(); it != m_byName.end(); ++it)
        if (it.value() == link && it.key() != key(link->name())) {
            m_byName.erase(it);
            break;
        }
    PanelLink *&slot = m_byName[key(link->name())];
    PanelLink *previous = std::exchange(slot, link);
    // The panel came back before its old link was found dead.
    if (previous && previous != link)
        previous->close(QStringLiteral("the panel opened a new link"));
    m_down.remove(key(link->name()));
    const PanelInfo info = link->info();
    qCInfo(lcFleet).noquote() << QStringLiteral("panel %1 at %2, version %3").arg(info.name, info.address, info.version);
    link->setPolicy(m_config.policyFor(link->name(), link->address()));
    tellStatus(link);
    emit panelChanged(link->info());
}

void Fleet::signOfLife(PanelLink *link)
{
    m_policy.signOfLife(link->name(), link->session(), SteadyClock::ms());
    emit panelChanged(link->info());
}

bool Fleet::grant(PanelLink *link, qint32 profile, const char *by)
{
    const QString before = m_policy.holder();
    if (!m_policy.request(link->name(), SteadyClock::ms())) {
        qCInfo(lcFleet).noquote() << QStringLiteral("%1 to connect %2 refused: %3 holds the server").arg(by, link->name(), m_policy.holder());
        return false;
    }
    qCInfo(lcFleet).noquote() << QStringLiteral("%1 to connect %2 with profile %3 granted").arg(by, link->name()).arg(profile);
    link->orderConnect(profile);
    if (m_policy.holder() != before) {
        tellEveryone();
        emit serverChanged(state());
    }
    emit panelChanged(link->info());
    return true;
}

void Fleet::connectionRequested(PanelLink *link, qint32 profile)
{
    if (profile < 1 || profile > link->policy().profiles.size()) {
        qCInfo(lcFleet).noquote() << QStringLiteral("request of %1 to connect refused: it has no profile %2").arg(link->name()).arg(profile);
        return;
    }
    grant(link, profile, "request");
}

void Fleet::exitRequested(PanelLink *link, qint32 request)
{
    const bool restart = request == 1, turnOff = request == 3;
    if ((restart && link->policy().restart) || (turnOff && link->policy().turnOff)) {
        qCInfo(lcFleet).noquote() << QStringLiteral("request of %1 to %2 granted").arg(link->name(), restart ? u"restart" : u"turn off");
        link->orderExit(request);
        return;
    }
    qCInfo(lcFleet).noquote() << QStringLiteral("request %1 of %2 to go down not granted").arg(request).arg(link->name());
}

void Fleet::closed(PanelLink *link)
{
    m_links.remove(link);
    if (--m_perAddress[link->address()] <= 0)
        m_perAddress.remove(link->address());
    const QString name = key(link->name());
    if (!name.isEmpty() && m_byName.value(name) == link) {
        m_byName.remove(name);
        m_policy.signOfLife(link->name(), 0, SteadyClock::ms());
        const PanelInfo info = link->info();
        m_down.insert(name, info);
        // Names come from the panels: what is remembered of those gone stays bounded.
        if (m_down.size() > m_config.maxLinks) {
            const auto oldest = std::min_element(m_down.begin(), m_down.end(),
                                                 [](const PanelInfo &a, const PanelInfo &b) { return a.lastSeen < b.lastSeen; });
            m_down.erase(oldest);
        }
        qCInfo(lcFleet).noquote() << QStringLiteral("panel %1 left").arg(info.name);
        emit panelChanged(info);
    }
    link->deleteLater();
}

void Fleet::round()
{
    if (m_policy.expire(SteadyClock::ms())) {
        qCInfo(lcFleet) << "the server is free again";
        tellEveryone();
        emit serverChanged(state());
    }
    if (m_refused > 0) {
        qCWarning(lcServer) << "refused" << m_refused << "links (allow list or link limits)";
        m_refused = 0;
    }
    // Panels close a link silent for 45 s; the server closes one that stopped answering.
    const qint64 silence = qMax(3 * m_config.interval, 15) * 1000;
    for (PanelLink *link : m_links.values())
        link->round(silence);
}

void Fleet::tellStatus(PanelLink *link)
{
    RemoteConnectData client;
    const qint32 argument = m_policy.statusFor(link->name(), client);
    link->setStatus(argument, client);
}

void Fleet::tellEveryone()
{
    for (PanelLink *link : std::as_const(m_byName))
        tellStatus(link);
}

Fleet::Outcome Fleet::find(const QString &name, PanelLink *&link) const
{
    link = m_byName.value(key(name));
    if (link)
        return Outcome::Sent;
    return m_down.contains(key(name)) ? Outcome::NotConnected : Outcome::UnknownPanel;
}

Fleet::Outcome Fleet::orderConnect(const QString &name, qint32 profile)
{
    PanelLink *link = nullptr;
    if (const Outcome found = find(name, link); found != Outcome::Sent)
        return found;
    if (profile < 1 || profile > link->policy().profiles.size())
        return Outcome::NoSuchProfile;
    return grant(link, profile, "order") ? Outcome::Sent : Outcome::Locked;
}

Fleet::Outcome Fleet::orderExit(const QString &name, qint32 mode)
{
    PanelLink *link = nullptr;
    if (const Outcome found = find(name, link); found != Outcome::Sent)
        return found;
    qCInfo(lcFleet).noquote() << QStringLiteral("order to %1: exit mode %2").arg(link->name()).arg(mode);
    link->orderExit(mode);
    return Outcome::Sent;
}
