#pragma once

#include "serverlink/FrameStream.h"

#include <QHostAddress>
#include <QObject>
#include <QStringList>

#include <functional>
#include <map>

class QTcpServer;
class QTcpSocket;
class QTimer;

// Plays the companion program on the server: accepts panels, shows every frame they send,
// sends the commands a person types and, when asked, keeps the link alive and grants the
// panels' requests by itself.
class SideLinkConsole : public QObject
{
    Q_OBJECT

public:
    using Printer = std::function<void(const QString &line)>;

    SideLinkConsole(Printer out, Printer err, QObject *parent = nullptr);
    ~SideLinkConsole() override;

    bool listen(const QHostAddress &address, quint16 port, QString &error);
    quint16 port() const;

    // Carries out one typed line for every connected panel; false when it is refused.
    bool execute(const QString &line);

    // 0 switches the automatic sign of life off.
    void setAutoInterval(int seconds);
    void setGrantConnect(bool on) { m_grantConnect = on; }
    void setGrantExit(bool on) { m_grantExit = on; }
    // Lines carried out for each panel as it connects, for that panel only.
    void setOnConnect(const QStringList &lines) { m_onConnect = lines; }

    int panelCount() const { return static_cast<int>(m_panels.size()); }

signals:
    void quitRequested();

private:
    struct Panel
    {
        QString name;
        FrameStream stream;
    };

    bool execute(const QString &line, QTcpSocket *only);
    void acceptPanels();
    void readPanel(QTcpSocket *socket);
    void dropPanel(QTcpSocket *socket);
    void handleRequest(QTcpSocket *socket, const QString &frame);
    void sendFrame(QTcpSocket *socket, const QString &frame);
    void sendSignOfLife();
    void print(const QString &text);

    Printer m_out;
    Printer m_err;
    QTcpServer *m_server = nullptr;
    QTimer *m_auto = nullptr;
    std::map<QTcpSocket *, Panel> m_panels;
    bool m_grantConnect = false;
    bool m_grantExit = false;
    QStringList m_onConnect;
};
