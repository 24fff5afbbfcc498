#pragma once

#include "server/Fleet.h"

#include <QHttpServerResponse>
#include <QObject>
#include <QPointer>

#include <list>
#include <memory>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;

// The administrator's face: the page with its script, the JSON API under /api/ and one live
// event stream. It reads the fleet and asks it to act; every change needs the administrator's
// token, and so does every reading from another host.
class Dashboard : public QObject
{
    Q_OBJECT

public:
    // Event streams open at once, at most.
    static constexpr int MaxStreams = 64;

    explicit Dashboard(Fleet &fleet, QObject *parent = nullptr);
    ~Dashboard() override;

    // Serves where the configuration says, or nowhere when it names no dashboard. False with the
    // reason, the running dashboard kept, when the address cannot be listened on.
    bool apply(const ServerConfig &config, QString &error);
    quint16 port() const;

private:
    struct Stream
    {
        std::unique_ptr<QHttpServerResponder> responder;
        QPointer<QTcpSocket> socket;
    };

    std::unique_ptr<QHttpServer> serve();
    bool authorised(const QHttpServerRequest &request, bool change) const;
    QHttpServerResponse order(const QString &name, const QString &action, const QHttpServerRequest &request);
    void openStream(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void broadcast(const QByteArray &event, const QByteArray &data);

    Fleet &m_fleet;
    std::unique_ptr<QHttpServer> m_http;
    QHostAddress m_address;
    quint16 m_port = 0;
    QByteArray m_token;
    std::list<Stream> m_streams;
};
