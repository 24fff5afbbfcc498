#include "server/Dashboard.h"

#include "server/ServerLog.h"

#include <QDate>
#include <QFile>
#include <QHttpServer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

namespace {

using Status = QHttpServerResponder::StatusCode;

// A panel as JSON, written straight into bytes: a fleet's list is made often and must be quick.
void appendString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (uchar(c) < 0x20)
            out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    out += '"';
}

void appendJson(QByteArray &out, const PanelInfo &panel)
{
    out += "{\"name\":";
    appendString(out, panel.name);
    out += ",\"address\":";
    appendString(out, panel.address);
    out += ",\"version\":";
    appendString(out, panel.version);
    out += ",\"link\":";
    appendString(out, panel.link);
    out += ",\"session\":" + (panel.session < 0 ? QByteArray("null") : QByteArray::number(panel.session));
    out += ",\"profile\":";
    if (panel.profile.isEmpty())
        out += "null";
    else
        appendString(out, panel.profile);
    out += ",\"profiles\":[";
    for (qsizetype i = 0; i < panel.profiles.size(); ++i) {
        if (i > 0)
            out += ',';
        appendString(out, panel.profiles[i]);
    }
    out += "],\"last_seen\":";
    if (panel.lastSeen == 0) {
        out += "null";
    } else {
        // UTC from the epoch by arithmetic: the time-zone machinery would cost more than the rest.
        const qint64 day = panel.lastSeen / 86400000, ms = panel.lastSeen % 86400000;
        const QDate date = QDate::fromJulianDay(2440588 + day);
        char text[40];
        std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ\"", date.year(), date.month(), date.day(), int(ms / 3600000),
                      int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
        out += text;
    }
    out += ",\"rtt_ms\":" + (panel.rttMs < 0 ? QByteArray("null") : QByteArray::number(panel.rttMs, 'f', 3)) + '}';
}

QJsonObject toJson(const Fleet::ServerState &state)
{
    return {{"mode", state.mode == LockMode::Shared ? "shared" : "exclusive"},
            {"locked", state.locked},
            {"holder", state.holder.isEmpty() ? QJsonValue() : QJsonValue(state.holder)}};
}

QHttpServerResponse json(const QJsonObject &value, Status status = Status::Ok)
{
    return QHttpServerResponse("application/json", QJsonDocument(value).toJson(QJsonDocument::Compact), status);
}

QHttpServerResponse failure(Status status, const QString &reason)
{
    QHttpServerResponse response = json(QJsonObject{{"error", reason}}, status);
    if (status == Status::Unauthorized)
        response.setHeader("WWW-Authenticate", "Bearer");
    return response;
}

QHttpServerResponse resource(const QString &name, const QByteArray &type)
{
    QFile file(QStringLiteral(":/dashboard/") + name);
    file.open(QIODevice::ReadOnly);
    QHttpServerResponse response(type, file.readAll());
    // The page's own script and style only; nothing it shows is ever markup.
    response.setHeader("Content-Security-Policy", "default-src 'self'");
    return response;
}

// Compared in constant time: the token is a secret.
bool sameToken(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

QByteArray header(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const auto &[key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// The server writes an answer in pieces (status, headers, body): without this each would wait
// for the browser's delayed acknowledgement of the one before.
class LowDelayServer : public QTcpServer
{
protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        addPendingConnection(socket);
    }
};

} // namespace

Dashboard::Dashboard(Fleet &fleet, QObject *parent) : QObject(parent), m_fleet(fleet)
{
    Q_INIT_RESOURCE(dashboard);
    connect(&fleet, &Fleet::panelChanged, this, [this](const PanelInfo &panel) {
        if (m_streams.empty())
            return;
        QByteArray data;
        appendJson(data, panel);
        broadcast("panel", data);
    });
    connect(&fleet, &Fleet::serverChanged, this, [this](const Fleet::ServerState &state) {
        broadcast("server", QJsonDocument(toJson(state)).toJson(QJsonDocument::Compact));
    });
}

Dashboard::~Dashboard() = default;

quint16 Dashboard::port() const
{
    return m_http && !m_http->servers().isEmpty() ? m_http->servers().first()->serverPort() : 0;
}

bool Dashboard::apply(const ServerConfig &config, QString &error)
{
    m_token = config.token.toUtf8();
    if (config.dashboardPort == 0) {
        m_streams.clear();
        m_http.reset();
        return true;
    }
    if (m_http && config.dashboardAddress == m_address && config.dashboardPort == m_port)
        return true;
    auto listener = std::make_unique<LowDelayServer>();
    if (!listener->listen(config.dashboardAddress, config.dashboardPort)) {
        error = QStringLiteral("cannot serve the dashboard on %1 port %2: %3")
                    .arg(config.dashboardAddress.toString()).arg(config.dashboardPort).arg(listener->errorString());
        return false;
    }
    m_streams.clear();
    m_http = serve();
    listener->setParent(m_http.get());
    m_http->bind(listener.release());
    m_address = config.dashboardAddress;
    m_port = config.dashboardPort;
    qCInfo(lcServer).noquote() << QStringLiteral("dashboard on http://%1:%2/").arg(m_address.toString()).arg(port());
    return true;
}

std::unique_ptr<QHttpServer> Dashboard::serve()
{
    auto http = std::make_unique<QHttpServer>();
    using Method = QHttpServerRequest::Method;
    http->route("/", Method::Get, [] { return resource("index.html", "text/html; charset=utf-8"); });
    http->route("/dashboard.js", Method::Get, [] { return resource("dashboard.js", "text/javascript; charset=utf-8"); });
    http->route("/dashboard.css", Method::Get, [] { return resource("dashboard.css", "text/css; charset=utf-8"); });
    http->route("/api/panels", Method::Get, [this](const QHttpServerRequest &request) {
        if (!authorised(request, false))
            return failure(Status::Unauthorized, "this host needs the administrator's token to read");
        QByteArray panels = "[";
        for (const PanelInfo &panel : m_fleet.panels()) {
            if (panels.size() > 1)
                panels += ',';
            appendJson(panels, panel);
        }
        return QHttpServerResponse("application/json", panels + ']');
    });
    http->route("/api/server", Method::Get, [this](const QHttpServerRequest &request) {
        if (!authorised(request, false))
            return failure(Status::Unauthorized, "this host needs the administrator's token to read");
        return json(toJson(m_fleet.state()));
    });
    http->route("/api/events", Method::Get, [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        openStream(request, std::move(responder));
    });
    http->route("/api/panels/<arg>/<arg>", Method::Post, [this](const QString &name, const QString &action, const QHttpServerRequest &request) {
        return order(name, action, request);
    });
    return http;
}

bool Dashboard::authorised(const QHttpServerRequest &request, bool change) const
{
    QByteArray token = header(request, "Authorization");
    if (token.startsWith("Bearer "))
        token = token.mid(7).trimmed();
    else
        token.clear();
    // A page cannot give its event stream a header: it names the token in the query.
    if (!change && token.isEmpty())
        token = request.query().queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8();
    if (sameToken(token, m_token))
        return true;
    return !change && PlainAddress(request.remoteAddress()).isLoopback();
}

QHttpServerResponse Dashboard::order(const QString &name, const QString &action, const QHttpServerRequest &request)
{
    if (!authorised(request, true))
        return failure(Status::Unauthorized, "every change needs Authorization: Bearer and the administrator's token");
    static const QHash<QString, qint32> exitModes{{"logoff", 0}, {"restart", 1}, {"shutdown", 2}};
    qint32 profile = 0;
    if (action == u"connect") {
        bool ok = false;
        profile = request.query().queryItemValue(QStringLiteral("profile")).toInt(&ok);
        if (!ok || profile < 1)
            return failure(Status::BadRequest, "connect needs ?profile=N, N from 1");
    } else if (!exitModes.contains(action)) {
        return failure(Status::NotFound, "the orders are connect, logoff, restart and shutdown");
    }
    const bool all = name == u"*";
    const QStringList names = all ? m_fleet.connectedNames() : QStringList{name};
    QJsonArray sent;
    QJsonObject refused;
    Fleet::Outcome outcome = Fleet::Outcome::Sent;
    for (const QString &panel : names) {
        outcome = action == u"connect" ? m_fleet.orderConnect(panel, profile) : m_fleet.orderExit(panel, exitModes.value(action));
        static const QHash<Fleet::Outcome, const char *> reasons{{Fleet::Outcome::UnknownPanel, "no such panel"},
                                                                 {Fleet::Outcome::NotConnected, "its link is down"},
                                                                 {Fleet::Outcome::NoSuchProfile, "it has no such profile"},
                                                                 {Fleet::Outcome::Locked, "another panel holds the server"}};
        if (outcome == Fleet::Outcome::Sent)
            sent.append(panel);
        else
            refused.insert(panel, reasons.value(outcome));
    }
    const QJsonObject result{{"sent", sent}, {"refused", refused}};
    if (all || outcome == Fleet::Outcome::Sent)
        return json(result);
    static const QHash<Fleet::Outcome, Status> statuses{{Fleet::Outcome::UnknownPanel, Status::NotFound},
                                                        {Fleet::Outcome::NoSuchProfile, Status::BadRequest}};
    return json(result, statuses.value(outcome, Status::Conflict));
}

void Dashboard::openStream(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    if (!authorised(request, false)) {
        responder.write(QJsonDocument(QJsonObject{{"error", "this host needs the administrator's token to read"}}), Status::Unauthorized);
        return;
    }
    std::erase_if(m_streams, [](const Stream &stream) { return !stream.socket || stream.socket->state() != QAbstractSocket::ConnectedState; });
    if (m_streams.size() >= MaxStreams) {
        responder.write(QJsonDocument(QJsonObject{{"error", "too many event streams"}}), Status::ServiceUnavailable);
        return;
    }
    responder.writeStatusLine(Status::Ok);
    responder.writeHeaders({{"Content-Type", "text/event-stream"}, {"Cache-Control", "no-cache"}, {"Connection", "keep-alive"}});
    // The first event, which ends the headers, tells the page that the stream is open.
    responder.writeBody("event: server\ndata: " + QJsonDocument(toJson(m_fleet.state())).toJson(QJsonDocument::Compact) + "\n\n");
    QTcpSocket *socket = responder.socket();
    m_streams.push_back(Stream{std::make_unique<QHttpServerResponder>(std::move(responder)), socket});
}

void Dashboard::broadcast(const QByteArray &event, const QByteArray &data)
{
    if (m_streams.empty())
        return;
    const QByteArray message = "event: " + event + "\ndata: " + data + "\n\n";
    for (auto it = m_streams.begin(); it != m_streams.end();) {
        if (!it->socket || it->socket->state() != QAbstractSocket::ConnectedState) {
            it = m_streams.erase(it);
            continue;
        }
        it->socket->write(message);
        // A page that reads nothing is not given more and more.
        if (it->socket->bytesToWrite() > PanelLink::MaxPendingOutput * 16) {
            it->socket->abort();
            it = m_streams.erase(it);
            continue;
        }
        ++it;
    }
}
