// The dashboard and its API over HTTP, and the page in a real browser (headless chromium, driven
// through its DevTools protocol): the table shows the panels live, and a confirmed order goes out.
#include "SimulatedPanel.h"
#include "TestSupport.h"
#include "server/Dashboard.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

using namespace TestSupport;
using enum SideLinkCommand;

// One page of headless chromium, and expressions evaluated in it.
class Browser
{
public:
    explicit Browser(const QString &url)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("chromium", {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                                     "--window-size=1400,800", "--user-data-dir=" + m_profile.path(), "--remote-debugging-port=0", url});
        const QRegularExpression listening("DevTools listening on ws://127.0.0.1:(\\d+)/");
        QByteArray out;
        if (!QTest::qWaitFor([&] { return listening.match(out += m_process.readAll()).hasMatch(); }, kWait))
            return;
        QNetworkAccessManager network;
        QNetworkReply *list = network.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(listening.match(out).captured(1)))));
        (void)QTest::qWaitFor([&] { return list->isFinished(); }, kWait);
        for (const QJsonValue &target : QJsonDocument::fromJson(list->readAll()).array())
            if (target.toObject().value("type").toString() == u"page")
                m_socket.open(QUrl(target.toObject().value("webSocketDebuggerUrl").toString()));
        delete list;
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            m_replies.insert(message.value("id").toInt(), message.value("result").toObject());
        });
        (void)QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, kWait);
    }
    ~Browser()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    QJsonObject call(const QString &method, const QJsonObject &params)
    {
        const int id = ++m_id;
        m_socket.sendTextMessage(QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}}).toJson());
        (void)QTest::qWaitFor([&] { return m_replies.contains(id); }, kWait);
        return m_replies.take(id);
    }
    QVariant evaluate(const QString &expression)
    {
        return call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}).value("result").toObject().value("value").toVariant();
    }
    // A click of the mouse on the middle of the element, as a person makes it.
    void click(const QString &selector)
    {
        const QVariantList at = evaluate(QStringLiteral("(r => [r.x + r.width / 2, r.y + r.height / 2])(document.querySelector('%1').getBoundingClientRect())").arg(selector)).toList();
        for (const char *type : {"mousePressed", "mouseReleased"})
            call("Input.dispatchMouseEvent", {{"type", type}, {"x", at.value(0).toDouble()}, {"y", at.value(1).toDouble()}, {"button", "left"}, {"clickCount", 1}});
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

private:
    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_socket;
    int m_id = 0;
    QHash<int, QJsonObject> m_replies;
};

class tst_Dashboard : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<Fleet> m_fleet;
    std::unique_ptr<Dashboard> m_dashboard;
    std::vector<std::unique_ptr<SimulatedPanel>> m_panels;
    QNetworkAccessManager m_network;

    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(m_dashboard->port()).arg(path); }
    SimulatedPanel &panel(const QString &name)
    {
        SimulatedPanel &p = *m_panels.emplace_back(std::make_unique<SimulatedPanel>(name));
        p.keepFrames = false;
        p.connectTo(m_fleet->port());
        (void)QTest::qWaitFor([&] { return p.count(RemoteStatus) > 0; }, kWait);
        return p;
    }

private slots:
    void init()
    {
        writeBytes(m_dir.filePath("token"), "tok-123\n");
        writeBytes(m_dir.filePath("server.conf"),
                   QStringList{"[server]", "listen = 127.0.0.1", QStringLiteral("port = %1").arg(refusingPort()), "interval = 1",
                               QStringLiteral("dashboard = 127.0.0.1:%1").arg(refusingPort()), "token-file = " + m_dir.filePath("token"),
                               "[profile a]", "user = op1", "[profile b]", "user = op2", "[panel default]", "profiles = a, b"}
                       .join(u'\n').toUtf8());
        ServerConfig config;
        QString error;
        QVERIFY2(ServerConfigFile::Load(m_dir.filePath("server.conf"), config, error), qPrintable(error));
        m_fleet = std::make_unique<Fleet>();
        m_dashboard = std::make_unique<Dashboard>(*m_fleet);
        QVERIFY2(m_fleet->apply(config, error) && m_dashboard->apply(config, error), qPrintable(error));
        panel("OP1");
        panel("OP2");
        if (QString(QTest::currentDataTag()) == u"a name to escape")
            panel("O\"P\\");
    }
    void cleanup()
    {
        m_panels.clear();
        m_dashboard.reset();
        m_fleet.reset();
    }

    // What each request answers, and the orders that reach the panels.
    void api_data()
    {
        QTest::addColumn<QString>("request"); // method, path, and the token it carries
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("orders"); // what each panel received
        QTest::newRow("panels, read on this host without the token") << "GET /api/panels" << 200
            << "[{\"name\":\"OP1\",\"address\":\"127.0.0.1\",\"version\":\"1.20.18\",\"link\":\"up\",\"session\":0,\"profile\":null,\"profiles\":[\"a\",\"b\"],\"last_seen\":\"20" << "";
        QTest::newRow("a name to escape") << "GET /api/panels" << 200 << "\"name\":\"O\\\"P\\\\\"" << "";
        QTest::newRow("server") << "GET /api/server" << 200 << "{\"holder\":null,\"locked\":false,\"mode\":\"exclusive\"}" << "";
        QTest::newRow("an order without the token") << "POST /api/panels/OP1/logoff" << 401 << "Authorization: Bearer" << "";
        QTest::newRow("an order with another token") << "POST /api/panels/OP1/logoff tok-124" << 401 << "" << "";
        QTest::newRow("log off") << "POST /api/panels/op1/logoff tok-123" << 200 << "\"sent\":[\"op1\"]" << "OP1 @#cmd:13##Argument:0###@";
        QTest::newRow("shut down every panel") << "POST /api/panels/*/shutdown tok-123" << 200 << "\"sent\":[\"OP1\",\"OP2\"]"
                                               << "OP1 @#cmd:13##Argument:2###@ OP2 @#cmd:13##Argument:2###@";
        QTest::newRow("connect") << "POST /api/panels/OP2/connect?profile=2 tok-123" << 200 << "" << "OP2 @#cmd:11##Argument:2###@";
        QTest::newRow("connect every panel, one at a time") << "POST /api/panels/*/connect?profile=1 tok-123" << 200
                                                            << "\"refused\":{\"OP2\":\"another panel holds the server\"}" << "OP1 @#cmd:11##Argument:1###@";
        QTest::newRow("no such profile") << "POST /api/panels/OP1/connect?profile=3 tok-123" << 400 << "no such profile" << "";
        QTest::newRow("no profile") << "POST /api/panels/OP1/connect tok-123" << 400 << "?profile=N" << "";
        QTest::newRow("unknown panel") << "POST /api/panels/OP9/restart tok-123" << 404 << "no such panel" << "";
        QTest::newRow("unknown order") << "POST /api/panels/OP1/reboot tok-123" << 404 << "" << "";
    }
    void api()
    {
        QFETCH(QString, request);
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(QString, orders);
        const QStringList words = request.split(u' ');
        QNetworkRequest http(url(words[1]));
        if (words.size() > 2)
            http.setRawHeader("Authorization", "Bearer " + words[2].toUtf8());
        std::unique_ptr<QNetworkReply> reply(words[0] == u"GET" ? m_network.get(http) : m_network.post(http, QByteArray()));
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
        const QByteArray text = reply->readAll();
        QVERIFY2(text.contains(body.toUtf8()) && !QJsonDocument::fromJson(text).isNull(), text.constData());
        // An order goes out before the answer; its bytes may still be under way.
        const auto received = [this] {
            QStringList sent;
            for (const auto &p : m_panels)
                for (SideLinkCommand command : {ConnectOrder, ExitOrder})
                    if (p->count(command))
                        sent << p->name + u' ' + p->last(command);
            return sent.join(u' ');
        };
        QTRY_COMPARE(received(), orders);
    }

    // The page lists the panels and follows them live; an order goes out only once confirmed, and
    // only with the token.
    void browser()
    {
        Browser page(url("/"));
        QVERIFY2(page.isOpen(), "chromium did not start (scripts/install-deps installs it)");
        const QString rows = "[...document.querySelectorAll('tbody tr')].map(r => [...r.cells].slice(0, 6).map(c => c.textContent).join('|')).join(' ')";
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate(rows).toString(), QStringLiteral("OP1|127.0.0.1|1.20.18|up|none| OP2|127.0.0.1|1.20.18|up|none|"), kWait);
        m_panels[1]->session = 3;
        QTRY_COMPARE_WITH_TIMEOUT(page.evaluate("document.querySelector('tr[data-name=OP2]').cells[4].textContent").toString(), QStringLiteral("connected"), kWait);
        const auto restart = [&](const char *answer) {
            page.click("tr[data-name=OP1] button[data-order=restart]");
            QTRY_VERIFY(page.evaluate("document.getElementById('confirm').open").toBool());
            QCOMPARE(page.evaluate("document.getElementById('question').textContent").toString(), QStringLiteral("OP1: restart?"));
            page.click(answer);
            QTRY_VERIFY(!page.evaluate("document.getElementById('confirm').open").toBool());
        };
        restart("#confirm button[value=cancel]");
        restart("#yes");
        QTRY_COMPARE(page.evaluate("document.getElementById('message').textContent").toString(),
                     QStringLiteral("401: every change needs Authorization: Bearer and the administrator's token"));
        page.evaluate("(f => { f.value = 'tok-123'; f.dispatchEvent(new Event('change')); })(document.getElementById('token'))");
        QCOMPARE(m_panels[0]->count(ExitOrder), 0);
        restart("#yes");
        QTRY_COMPARE_WITH_TIMEOUT(m_panels[0]->last(ExitOrder), QStringLiteral("@#cmd:13##Argument:1###@"), kWait);
        QTRY_COMPARE(page.evaluate("document.getElementById('message').textContent").toString(), QStringLiteral("restart: sent to OP1"));
        QCOMPARE(m_panels[1]->count(ExitOrder), 0);
    }
};

QTEST_GUILESS_MAIN(tst_Dashboard)
#include "tst_Dashboard.moc"
