#include "server/ServerConfig.h"

#include "Version.h"
#include "serverlink/ServerAddress.h"
#include "serverlink/VersionNumbers.h"
#include "serverlink/modSocketCmd.h"

#include <QFile>
#include <QSet>

#include <functional>
#include <map>

namespace {

struct Entry
{
    QString value;
    int line = 0;
};

// A section as written: its words after the kind, its line, its keys.
struct Section
{
    QString kind; // "server", "profile" or "panel"
    QString name;
    int line = 0;
    std::map<QString, Entry> keys;
};

QRegularExpression wildcard(const QString &pattern)
{
    return QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                              QRegularExpression::CaseInsensitiveOption);
}

// Reads one file into sections and then into a configuration; the first fault ends it.
class Reader
{
public:
    explicit Reader(const QString &path) : m_path(path) {}

    bool read(ServerConfig &config, QString &error)
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("%1: cannot read: %2").arg(m_path, file.errorString());
            return false;
        }
        const bool ok = split(QString::fromUtf8(file.readAll())) && interpret(config);
        if (!ok)
            error = m_line > 0 ? QStringLiteral("%1:%2: %3").arg(m_path).arg(m_line).arg(m_reason)
                               : QStringLiteral("%1: %2").arg(m_path, m_reason);
        return ok;
    }

private:
    bool fail(int line, const QString &reason)
    {
        m_line = line;
        m_reason = reason;
        return false;
    }

    bool split(const QString &text)
    {
        const QStringList lines = text.split(u'\n');
        QSet<QString> seen;
        for (int number = 1; number <= lines.size(); ++number) {
            const QString line = lines[number - 1].trimmed();
            if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
                continue;
            if (line.startsWith(u'[')) {
                if (!line.endsWith(u']'))
                    return fail(number, QStringLiteral("a section line ends with \"]\""));
                const QString inner = line.mid(1, line.size() - 2).simplified();
                Section section{inner.section(u' ', 0, 0).toLower(), inner.section(u' ', 1), number, {}};
                if (section.kind == u"server" ? !section.name.isEmpty()
                                              : (section.kind != u"profile" && section.kind != u"panel") || section.name.isEmpty())
                    return fail(number, QStringLiteral("unknown section [%1]; sections are [server], [profile NAME] and [panel PATTERN]").arg(inner));
                const QString id = section.kind + u' ' + (section.kind == u"panel" ? section.name.toLower() : section.name);
                if (seen.contains(id))
                    return fail(number, QStringLiteral("section [%1] appears twice").arg(inner));
                seen.insert(id);
                m_sections.push_back(section);
                continue;
            }
            const qsizetype equals = line.indexOf(u'=');
            if (equals < 0)
                return fail(number, QStringLiteral("\"%1\" is neither a section nor KEY = VALUE").arg(line));
            if (m_sections.empty())
                return fail(number, QStringLiteral("\"%1\" stands before the first section").arg(line));
            const QString key = line.left(equals).trimmed().toLower();
            QString value = line.mid(equals + 1).trimmed();
            // Quotes keep blanks at either end of a value (a password, say).
            if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
                value = value.mid(1, value.size() - 2);
            if (!m_sections.back().keys.emplace(key, Entry{value, number}).second)
                return fail(number, QStringLiteral("key \"%1\" appears twice in its section").arg(key));
        }
        return true;
    }

    // Each key of the section once, through its reader; a key no reader takes is a fault.
    using KeyReader = std::function<bool(const Entry &)>;
    bool keys(const Section &section, const std::map<QString, KeyReader> &readers)
    {
        for (const auto &[key, entry] : section.keys) {
            const auto reader = readers.find(key);
            if (reader == readers.end()) {
                QStringList known;
                for (const auto &[name, unused] : readers)
                    known << name;
                return fail(entry.line, QStringLiteral("unknown key \"%1\" in [%2]; known: %3")
                                            .arg(key, (section.kind + u' ' + section.name).trimmed(), known.join(QStringLiteral(", "))));
            }
            m_line = entry.line;
            if (!reader->second(entry))
                return false;
        }
        return true;
    }

    bool number(const Entry &entry, int low, int high, int &value, const QString &what)
    {
        bool ok = false;
        const int read = entry.value.toInt(&ok);
        if (!ok || read < low || read > high)
            return fail(entry.line, QStringLiteral("%1 \"%2\" is not a whole number from %3 to %4").arg(what, entry.value).arg(low).arg(high));
        value = read;
        return true;
    }

    bool yesNo(const Entry &entry, bool &value, const QString &what)
    {
        const QString word = entry.value.toLower();
        if (word != u"yes" && word != u"no")
            return fail(entry.line, QStringLiteral("%1 \"%2\" is not yes or no").arg(what, entry.value));
        value = word == u"yes";
        return true;
    }

    bool address(const Entry &entry, QHostAddress &value, const QString &what)
    {
        if (!value.setAddress(entry.value))
            return fail(entry.line, QStringLiteral("%1 \"%2\" is not an IP address").arg(what, entry.value));
        return true;
    }

    bool text(const Entry &entry, QString &value, const QString &what)
    {
        const QString problem = modSocketCmd::ValueProblem(entry.value);
        if (!problem.isEmpty())
            return fail(entry.line, QStringLiteral("%1 %2").arg(what, problem));
        value = entry.value;
        return true;
    }

    bool server(const Section &section, ServerConfig &config)
    {
        int port = config.port;
        int tokenLine = section.line;
        const std::map<QString, KeyReader> readers{
            {"listen", [&](const Entry &e) { return address(e, config.listen, QStringLiteral("listen address")); }},
            {"port", [&](const Entry &e) { return number(e, 1, 65535, port, QStringLiteral("port")); }},
            // The panels close a link that stays silent for 45 seconds.
            {"interval", [&](const Entry &e) { return number(e, 1, 40, config.interval, QStringLiteral("interval (seconds, panels give up after 45)")); }},
            {"mode", [&](const Entry &e) {
                 const QString mode = e.value.toLower();
                 if (mode != u"exclusive" && mode != u"shared")
                     return fail(e.line, QStringLiteral("mode \"%1\" is not exclusive or shared").arg(e.value));
                 config.mode = mode == u"shared" ? LockMode::Shared : LockMode::Exclusive;
                 return true;
             }},
            {"version", [&](const Entry &e) {
                 QString reason;
                 return VersionNumbers::ParseServerVersion(e.value, config.version, reason) || fail(e.line, reason);
             }},
            {"dashboard", [&](const Entry &e) {
                 if (e.value.isEmpty()) {
                     config.dashboardPort = 0;
                     return true;
                 }
                 QString host;
                 quint16 dashboardPort = 0;
                 if (!ServerAddress::Split(e.value, host, dashboardPort) || dashboardPort == 0 || !config.dashboardAddress.setAddress(host))
                     return fail(e.line, QStringLiteral("dashboard \"%1\" is not ADDRESS:PORT (or empty for none)").arg(e.value));
                 config.dashboardPort = dashboardPort;
                 return true;
             }},
            {"token-file", [&](const Entry &e) {
                 tokenLine = e.line;
                 config.tokenFile = e.value;
                 return true;
             }},
            {"allow", [&](const Entry &e) { return allow(e, config); }},
            {"release-after", [&](const Entry &e) { return number(e, 1, 86400, config.releaseAfter, QStringLiteral("release-after (seconds)")); }},
            {"max-links", [&](const Entry &e) { return number(e, 1, 100000, config.maxLinks, QStringLiteral("max-links")); }},
            {"max-links-per-address", [&](const Entry &e) {
                 return number(e, 1, 100000, config.maxLinksPerAddress, QStringLiteral("max-links-per-address"));
             }},
        };
        if (!keys(section, readers))
            return false;
        config.port = quint16(port);
        if (config.dashboardPort == 0)
            return true;
        QFile token(config.tokenFile);
        if (!token.open(QIODevice::ReadOnly))
            return fail(tokenLine, QStringLiteral("cannot read the token file %1: %2").arg(config.tokenFile, token.errorString()));
        config.token = QString::fromUtf8(token.readAll()).trimmed();
        if (config.token.isEmpty() || config.token.contains(QRegularExpression(QStringLiteral("\\s"))))
            return fail(tokenLine, QStringLiteral("the token file %1 holds no token (one word, no blanks)").arg(config.tokenFile));
        return true;
    }

    bool allow(const Entry &entry, ServerConfig &config)
    {
        for (const QString &item : entry.value.split(u',', Qt::SkipEmptyParts)) {
            const QString word = item.trimmed();
            ServerConfig::AddressRule rule;
            if (word.contains(u'/')) {
                rule.subnet = QHostAddress::parseSubnet(word);
                if (rule.subnet.second < 0)
                    return fail(entry.line, QStringLiteral("allow: \"%1\" is not a network (ADDRESS/BITS)").arg(word));
            } else {
                static const QRegularExpression addressCharacters(QStringLiteral("^[0-9A-Fa-f.:*?]+$"));
                if (!addressCharacters.match(word).hasMatch())
                    return fail(entry.line, QStringLiteral("allow: \"%1\" is neither an address pattern nor a network").arg(word));
                rule.pattern = wildcard(word);
            }
            config.allow.append(rule);
        }
        return true;
    }

    bool profile(const Section &section, ServerProfile &profile)
    {
        profile.name = section.name;
        bool haveUser = false;
        const std::map<QString, KeyReader> readers{
            {"user", [&](const Entry &e) {
                 haveUser = true;
                 return text(e, profile.user, QStringLiteral("user")) && (!profile.user.isEmpty() || fail(e.line, QStringLiteral("user is empty")));
             }},
            {"password", [&](const Entry &e) { return text(e, profile.password, QStringLiteral("password")); }},
            {"resolution", [&](const Entry &e) {
                 int resolution = 0;
                 return number(e, 0, 6, resolution, QStringLiteral("resolution (0 Full-Screen to 6)")) && (profile.resolution = resolution, true);
             }},
        };
        if (!keys(section, readers))
            return false;
        return haveUser || fail(section.line, QStringLiteral("[profile %1] has no user").arg(section.name));
    }

    bool panel(const Section &section, const QList<ServerProfile> &profiles, PanelPolicy &policy)
    {
        const std::map<QString, KeyReader> readers{
            {"profiles", [&](const Entry &e) {
                 QSet<QString> users;
                 for (const QString &item : e.value.split(u',', Qt::SkipEmptyParts)) {
                     const QString name = item.trimmed();
                     const auto found = std::find_if(profiles.begin(), profiles.end(), [&](const ServerProfile &p) { return p.name == name; });
                     if (found == profiles.end())
                         return fail(e.line, QStringLiteral("no section [profile %1]").arg(name));
                     // The panel keeps profiles by user name, letter case aside, and only the first.
                     if (users.contains(found->user.toLower()))
                         return fail(e.line, QStringLiteral("profile %1 has the user name of one before it (letter case aside); the panel would keep only the first").arg(name));
                     users.insert(found->user.toLower());
                     policy.profiles.append(*found);
                 }
                 return true;
             }},
            {"restart", [&](const Entry &e) { return yesNo(e, policy.restart, QStringLiteral("restart")); }},
            {"turn-off", [&](const Entry &e) { return yesNo(e, policy.turnOff, QStringLiteral("turn-off")); }},
        };
        return keys(section, readers);
    }

    bool interpret(ServerConfig &config)
    {
        config.version = Version::Major * 1000000 + Version::Minor * 1000 + Version::Revision;
        QList<ServerProfile> profiles;
        bool haveServer = false;
        for (const Section &section : m_sections) {
            if (section.kind == u"server") {
                haveServer = true;
                if (!server(section, config))
                    return false;
            } else if (section.kind == u"profile") {
                profiles.append(ServerProfile{});
                if (!profile(section, profiles.back()))
                    return false;
            }
        }
        if (!haveServer && !server(Section{QStringLiteral("server"), {}, 0, {}}, config))
            return false;
        for (const Section &section : m_sections) {
            if (section.kind != u"panel")
                continue;
            PanelPolicy policy;
            if (!panel(section, profiles, policy))
                return false;
            if (section.name.compare(u"default", Qt::CaseInsensitive) == 0)
                config.defaultPanel = policy;
            else
                config.panels.append(ServerConfig::PanelRule{wildcard(section.name), policy});
        }
        return true;
    }

    const QString m_path;
    std::vector<Section> m_sections;
    int m_line = 0;
    QString m_reason;
};

} // namespace

QHostAddress PlainAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

bool ServerConfig::allows(const QHostAddress &address) const
{
    if (allow.isEmpty())
        return true;
    const QHostAddress peer = PlainAddress(address);
    return std::any_of(allow.begin(), allow.end(), [&](const AddressRule &rule) {
        return rule.subnet.second >= 0 ? peer.isInSubnet(rule.subnet) : rule.pattern.match(peer.toString()).hasMatch();
    });
}

PanelPolicy ServerConfig::policyFor(const QString &name, const QHostAddress &address) const
{
    const QString addressText = PlainAddress(address).toString();
    for (const PanelRule &rule : panels)
        if (rule.pattern.match(name).hasMatch() || rule.pattern.match(addressText).hasMatch())
            return rule.policy;
    return defaultPanel.value_or(PanelPolicy{});
}

namespace ServerConfigFile {

bool Load(const QString &path, ServerConfig &config, QString &error)
{
    ServerConfig read;
    if (!Reader(path).read(read, error))
        return false;
    config = read;
    return true;
}

} // namespace ServerConfigFile
