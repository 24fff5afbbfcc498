// The server's configuration file: what it reads, what it refuses and where; which panel gets what.
#include "server/ServerConfig.h"
#include "FileBytes.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QString summary(const ServerConfig &c)
{
    return QStringLiteral("%1 %2 %3s %4 v%5 dash %6:%7 release %8 links %9/%10 token %11")
        .arg(c.listen.toString()).arg(c.port).arg(c.interval).arg(c.mode == LockMode::Shared ? "shared" : "exclusive").arg(c.version)
        .arg(c.dashboardAddress.toString()).arg(c.dashboardPort).arg(c.releaseAfter).arg(c.maxLinks).arg(c.maxLinksPerAddress).arg(c.token);
}

QString policy(const PanelPolicy &p)
{
    QStringList names;
    for (const ServerProfile &profile : p.profiles)
        names << profile.name + u'=' + profile.user + u'/' + profile.password + u'/' + QString::number(profile.resolution);
    return names.join(u',') + (p.restart ? " restart" : "") + (p.turnOff ? " turn-off" : "");
}

} // namespace

class tst_ServerConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The file's lines after a [server] section that names the test's token file, unless they name one.
    bool load(const QStringList &lines, ServerConfig &config, QString &error)
    {
        TestSupport::writeBytes(m_dir.filePath("token"), " s3cret-token\n");
        const QString tokenLine = lines.join(u' ').contains("token-file") ? "" : "token-file = " + m_dir.filePath("token");
        TestSupport::writeBytes(m_dir.filePath("server.conf"), (QStringList{"[server]", tokenLine} + lines).join(u'\n').toUtf8());
        return ServerConfigFile::Load(m_dir.filePath("server.conf"), config, error);
    }

private slots:
    // What a good file gives; the first fault of a bad one, by its line (the file's first two lines are the test's).
    void load_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("outcome");
        QString defaults = "0.0.0.0 12559 15s exclusive v1020018 dash 127.0.0.1:8765 release 30 links 5000/64 token s3cret-token";
        QTest::newRow("defaults") << QStringList{} << defaults;
        QTest::newRow("comments, blanks, any letter case of keys and words")
            << QStringList{"; note", "  # note", "", "  Interval=5  ", "MODE = Shared", "version = 2.3.45", "listen = ::1", "port = 1",
                           "dashboard = [::1]:9000", "release-after = 86400", "max-links = 2", "max-links-per-address = 1"}
            << "::1 1 5s shared v2003045 dash ::1:9000 release 86400 links 2/1 token s3cret-token";
        QTest::newRow("no dashboard needs no token") << QStringList{"dashboard =", "token-file = /nonexistent"} << QString(defaults).replace("8765", "0").replace(" s3cret-token", " ");
        QTest::newRow("user with Latin-1's last letter") << QStringList{"[profile a]", "user = \u00ff"} << defaults;
        QTest::newRow("plain version number") << QStringList{"version = 7"} << QString(defaults).replace("v1020018", "v7");
        const auto error = [](int line, const char *reason) { return QStringLiteral("!:%1: %2").arg(line).arg(reason); };
        QTest::newRow("unknown key") << QStringList{"", "colour = red"} << error(4, "unknown key \"colour\" in [server]; known:");
        QTest::newRow("key twice") << QStringList{"port = 1", "port = 2"} << error(4, "key \"port\" appears twice");
        QTest::newRow("silent too long for a panel") << QStringList{"interval = 41"} << error(3, "interval (seconds, panels give up after 45) \"41\" is not a whole number from 1 to 40");
        QTest::newRow("port zero") << QStringList{"port = 0"} << error(3, "port \"0\" is not a whole number from 1 to 65535");
        QTest::newRow("mode") << QStringList{"mode = single"} << error(3, "mode \"single\" is not exclusive or shared");
        QTest::newRow("version") << QStringList{"version = 1.2"} << error(3, "\"1.2\" is neither MAJOR.MINOR.BUILD");
        QTest::newRow("listen") << QStringList{"listen = example.org"} << error(3, "listen address \"example.org\" is not an IP address");
        QTest::newRow("dashboard without port") << QStringList{"dashboard = 127.0.0.1"} << error(3, "dashboard \"127.0.0.1\" is not ADDRESS:PORT");
        QTest::newRow("allow") << QStringList{"allow = 10.0.0.0/33"} << error(3, "allow: \"10.0.0.0/33\" is not a network");
        QTest::newRow("token file missing") << QStringList{"", "token-file = /nonexistent/token"} << error(4, "cannot read the token file /nonexistent/token");
        QTest::newRow("unknown section") << QStringList{"[panels]"} << error(3, "unknown section [panels]");
        QTest::newRow("section twice, letter case aside") << QStringList{"[panel OP*]", "[panel op*]"} << error(4, "section [panel op*] appears twice");
        QTest::newRow("not a line of a file") << QStringList{"listen"} << error(3, "\"listen\" is neither a section nor KEY = VALUE");
        QTest::newRow("unclosed section") << QStringList{"[profile a"} << error(3, "a section line ends with \"]\"");
        QTest::newRow("profile without user") << QStringList{"[profile a]", "password = x"} << error(3, "[profile a] has no user");
        QTest::newRow("resolution") << QStringList{"[profile a]", "user = a", "resolution = 7"} << error(5, "resolution (0 Full-Screen to 6) \"7\"");
        QTest::newRow("password the frame would cut") << QStringList{"[profile a]", "user = a", "password = x##y"} << error(5, "password holds \"##\"");
        QTest::newRow("password that starts a frame") << QStringList{"[profile a]", "user = a", "password = @#cmd:2"} << error(5, "password holds \"@#cmd:\"");
        QTest::newRow("user beyond Latin-1") << QStringList{"[profile a]", "user = \u20ac"} << error(4, "user holds the character");
        QTest::newRow("unknown profile") << QStringList{"[panel default]", "profiles = a"} << error(4, "no section [profile a]");
        QTest::newRow("same user twice") << QStringList{"[profile a]", "user = op", "[profile b]", "user = OP", "[panel x]", "profiles = a, b"}
                                          << error(8, "profile b has the user name of one before it");
        QTest::newRow("yes or no") << QStringList{"[panel x]", "restart = true"} << error(4, "restart \"true\" is not yes or no");
    }
    void load()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, outcome);
        ServerConfig config;
        config.port = 1234; // a refused file leaves the configuration as it was
        QString error;
        const bool ok = load(lines, config, error);
        if (outcome.startsWith(u'!')) {
            QVERIFY2(!ok && error.startsWith(m_dir.filePath("server.conf") + outcome.mid(1)), qPrintable(error));
            QCOMPARE(config.port, 1234);
        } else {
            QVERIFY2(ok, qPrintable(error));
            QCOMPARE(summary(config), outcome);
        }
    }

    // The first [panel PATTERN] matching the name or the address wins, else [panel default], else nothing.
    void policy_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("exact name, any letter case") << "op1" << "10.0.0.5" << "a=op/pw 1/2,b=two//0 restart";
        QTest::newRow("pattern with ?") << "OP2" << "10.0.0.5" << "b=two//0 turn-off";
        QTest::newRow("first match wins") << "OP1X" << "10.0.0.5" << "b=two//0 turn-off";
        QTest::newRow("address pattern") << "HALL" << "192.168.7.9" << "a=op/pw 1/2";
        QTest::newRow("mapped IPv4 address") << "HALL" << "::ffff:192.168.7.9" << "a=op/pw 1/2";
        QTest::newRow("default") << "HALL" << "10.0.0.5" << "b=two//0";
    }
    void policy()
    {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, outcome);
        ServerConfig config;
        QString error;
        QVERIFY2(load({"[profile a]", "user = op", "password = \" pw 1\"", "resolution = 2", "[profile b]", "user = two",
                       "[panel OP1]", "profiles = a, b", "restart = yes", "[panel OP?*]", "profiles = b", "turn-off = yes",
                       "[panel 192.168.*]", "profiles = a", "[panel default]", "profiles = b"},
                      config, error), qPrintable(error));
        QCOMPARE(::policy(config.policyFor(name, QHostAddress(address))), outcome.replace(QStringLiteral("op/pw 1"), QStringLiteral("op/ pw 1")));
        config.defaultPanel.reset();
        QCOMPARE(::policy(config.policyFor("HALL", QHostAddress("10.0.0.5"))), QString());
    }

    // Networks and address patterns; an IPv4 panel of a listener on "::" counts by its IPv4 address.
    void allows()
    {
        ServerConfig config;
        QString error;
        QVERIFY2(config.allows(QHostAddress("10.1.2.3")) && load({"allow = 10.0.0.0/8, 192.168.1.*,::1"}, config, error), qPrintable(error));
        for (const char *address : {"10.200.0.1", "192.168.1.77", "::ffff:10.0.0.1", "::1", "-11.0.0.1", "-192.168.10.1", "-127.0.0.1"})
            QVERIFY2(config.allows(QHostAddress(QString(address).remove(u'-'))) == (address[0] != '-'), address);
    }
};

QTEST_GUILESS_MAIN(tst_ServerConfig)
#include "tst_ServerConfig.moc"
