#include "ConsoleCommand.h"

#include "serverlink/SideLinkCommand.h"
#include "serverlink/VersionNumbers.h"
#include "serverlink/modSocketCmd.h"

#include <QRegularExpression>
#include <QSet>

#include <limits>

namespace ConsoleCommands {

namespace {

ConsoleCommand refuse(const QString &error)
{
    ConsoleCommand command;
    command.error = error;
    return command;
}

ConsoleCommand send(const QStringList &frames)
{
    ConsoleCommand command;
    command.kind = ConsoleCommand::Kind::Send;
    command.frames = frames;
    return command;
}

// A whole decimal 32-bit number, nothing around it.
bool readInt(const QString &text, qint32 &value)
{
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+$"));
    if (!decimal.match(text).hasMatch())
        return false;
    bool ok = false;
    const qlonglong wide = text.toLongLong(&ok);
    if (!ok || wide < std::numeric_limits<qint32>::min() || wide > std::numeric_limits<qint32>::max())
        return false;
    value = static_cast<qint32>(wide);
    return true;
}

QString plainFrame(SideLinkCommand cmd, qint32 argument)
{
    QString frame;
    modSocketCmd::BuildCommandFrame(SocketCmd{Number(cmd), argument}, frame);
    return frame;
}

// A value that the frame cannot carry unchanged is refused rather than sent cut or merged.
QString unsafeText(const QString &what, const QString &text)
{
    const QString problem = modSocketCmd::ValueProblem(text);
    return problem.isEmpty() ? problem : QStringLiteral("%1 \"%2\" %3").arg(what, text, problem);
}

ConsoleCommand parseLife(const QStringList &args)
{
    qint32 argument = 0;
    if (args.size() > 1)
        return refuse(QStringLiteral("life takes at most one argument (the panel ignores it): life [NUMBER]"));
    if (args.size() == 1 && !readInt(args[0], argument))
        return refuse(QStringLiteral("life: \"%1\" is not a whole 32-bit number").arg(args[0]));
    return send({SignOfLifeFrame(argument)});
}

ConsoleCommand parseIdentify(const QStringList &args)
{
    if (args.size() > 1)
        return refuse(QStringLiteral("identify takes one version: identify [MAJOR.MINOR.BUILD | NUMBER]"));
    qint32 number = 0;
    QString error;
    if (args.size() == 1 && !VersionNumbers::ParseServerVersion(args[0], number, error))
        return refuse(QStringLiteral("identify: ") + error);
    return send({plainFrame(SideLinkCommand::IdentifyRequest, number)});
}

ConsoleCommand parseUsers(const QStringList &args)
{
    if (args.isEmpty())
        return refuse(QStringLiteral("users needs at least one profile: users NAME:PASSWORD:RESOLUTION ..."));
    struct Profile
    {
        QString name, password;
        qint32 resolution;
    };
    QList<Profile> profiles;
    QSet<QString> names;
    for (const QString &arg : args) {
        const int first = arg.indexOf(QLatin1Char(':'));
        const int last = arg.lastIndexOf(QLatin1Char(':'));
        if (first < 0 || first == last)
            return refuse(QStringLiteral("users: \"%1\" is not NAME:PASSWORD:RESOLUTION").arg(arg));
        Profile profile{arg.left(first), arg.mid(first + 1, last - first - 1), 0};
        const QString resolution = arg.mid(last + 1);
        if (profile.name.isEmpty())
            return refuse(QStringLiteral("users: \"%1\" has no user name").arg(arg));
        if (!readInt(resolution, profile.resolution) || profile.resolution < 0 || profile.resolution > 6)
            return refuse(QStringLiteral("users: resolution \"%1\" of \"%2\" is not 0 (Full-Screen) to 6").arg(resolution, profile.name));
        for (const auto &[what, text] : {std::pair{QStringLiteral("user name"), profile.name},
                                         std::pair{QStringLiteral("password of ") + profile.name, profile.password}}) {
            const QString problem = unsafeText(what, text);
            if (!problem.isEmpty())
                return refuse(QStringLiteral("users: ") + problem);
        }
        // The panel keys its profiles by name without regard to case and keeps the first.
        if (names.contains(profile.name.toLower()))
            return refuse(QStringLiteral("users: the name \"%1\" appears twice (letter case aside); the panel would keep only the first").arg(profile.name));
        names.insert(profile.name.toLower());
        profiles.append(profile);
    }
    QStringList frames;
    const qint32 count = static_cast<qint32>(profiles.size());
    for (qint32 n = 1; n <= count; ++n) {
        const Profile &profile = profiles[n - 1];
        QString frame;
        modSocketCmd::BuildUserFrame(n, RemoteUserData{count, profile.name, profile.password, profile.resolution}, frame);
        frames.append(frame);
    }
    return send(frames);
}

ConsoleCommand parseLock(const QStringList &args)
{
    static const QString usage = QStringLiteral("lock locked|free|NUMBER connected|none [CLIENTNAME]");
    if (args.size() < 2 || args.size() > 3)
        return refuse(QStringLiteral("lock needs the lock state and the connected flag: ") + usage);
    qint32 argument = 0;
    const QString state = args[0].toLower();
    if (state == QLatin1String("locked"))
        argument = 1;
    else if (state == QLatin1String("free"))
        argument = 0;
    else if (!readInt(args[0], argument))
        return refuse(QStringLiteral("lock: state \"%1\" is not locked, free or a number; ").arg(args[0]) + usage);
    const QString flag = args[1].toLower();
    bool connected = false;
    if (flag == QLatin1String("connected") || flag == QLatin1String("true"))
        connected = true;
    else if (flag != QLatin1String("none") && flag != QLatin1String("false"))
        return refuse(QStringLiteral("lock: flag \"%1\" is not connected or none; ").arg(args[1]) + usage);
    const QString client = args.size() == 3 ? args[2] : QString();
    const QString problem = unsafeText(QStringLiteral("client name"), client);
    if (!problem.isEmpty())
        return refuse(QStringLiteral("lock: ") + problem);
    QString frame;
    modSocketCmd::BuildConnectFrame(argument, RemoteConnectData{connected, client}, frame);
    return send({frame});
}

ConsoleCommand parseConnect(const QStringList &args)
{
    qint32 profile = 0;
    if (args.size() != 1 || !readInt(args[0], profile))
        return refuse(QStringLiteral("connect needs one profile number: connect N"));
    if (profile < 1)
        return refuse(QStringLiteral("connect: profile numbers start at 1"));
    return send({ConnectFrame(profile)});
}

ConsoleCommand parseExitOrder(const QString &word, const QStringList &args)
{
    qint32 mode = -1;
    if (word == QLatin1String("logoff") && args.isEmpty())
        mode = 0;
    else if (word == QLatin1String("restart") && args.isEmpty())
        mode = 1;
    else if (word == QLatin1String("shutdown") && args.isEmpty())
        mode = 2;
    else if (word == QLatin1String("shutdown") && args.size() == 1 && args[0].toLower() == QLatin1String("force"))
        mode = 3;
    else if (word == QLatin1String("exitorder")) {
        if (args.size() != 1 || !readInt(args[0], mode) || mode < 0 || mode > 3)
            return refuse(QStringLiteral("exitorder needs a mode 0 to 3: exitorder MODE"));
    } else
        return refuse(QStringLiteral("%1: unexpected \"%2\"; use logoff, restart, shutdown or shutdown force").arg(word, args.join(QLatin1Char(' '))));
    return send({ExitFrame(mode)});
}

ConsoleCommand parseAuto(const QStringList &args)
{
    ConsoleCommand command;
    command.kind = ConsoleCommand::Kind::Auto;
    if (args.size() == 1 && args[0].toLower() == QLatin1String("off"))
        return command;
    qint32 seconds = 0;
    if (args.size() != 1 || !readInt(args[0], seconds) || seconds < 1 || seconds > 3600)
        return refuse(QStringLiteral("auto needs seconds between 1 and 3600, or off: auto SECONDS|off"));
    command.seconds = seconds;
    return command;
}

ConsoleCommand parseGrant(const QStringList &args)
{
    if (args.size() != 2)
        return refuse(QStringLiteral("grant needs a request and on or off: grant connect|exit on|off"));
    ConsoleCommand command;
    command.kind = ConsoleCommand::Kind::Grant;
    command.request = args[0].toLower();
    if (command.request != QLatin1String("connect") && command.request != QLatin1String("exit"))
        return refuse(QStringLiteral("grant: \"%1\" is not connect or exit").arg(args[0]));
    const QString state = args[1].toLower();
    if (state != QLatin1String("on") && state != QLatin1String("off"))
        return refuse(QStringLiteral("grant: \"%1\" is not on or off").arg(args[1]));
    command.on = state == QLatin1String("on");
    return command;
}

} // namespace

QString SignOfLifeFrame(qint32 argument) { return plainFrame(SideLinkCommand::SignOfLifeRequest, argument); }
QString ConnectFrame(qint32 profile) { return plainFrame(SideLinkCommand::ConnectOrder, profile); }
QString ExitFrame(qint32 mode) { return plainFrame(SideLinkCommand::ExitOrder, mode); }

ConsoleCommand Parse(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
        return {};
    QStringList words = trimmed.split(QRegularExpression(QStringLiteral("\\s+")));
    const QString word = words.takeFirst().toLower();

    if (word == QLatin1String("raw")) {
        // The rest of the line exactly, to try the panel with frames of any shape.
        const QString text = trimmed.mid(3).trimmed();
        if (text.isEmpty())
            return refuse(QStringLiteral("raw needs the text to send: raw TEXT"));
        for (const QChar c : text)
            if (c.unicode() > 0xFF)
                return refuse(QStringLiteral("raw: the character '%1' cannot go over the side link (Latin-1)").arg(QString(c)));
        return send({text});
    }
    if (word == QLatin1String("life"))
        return parseLife(words);
    if (word == QLatin1String("identify"))
        return parseIdentify(words);
    if (word == QLatin1String("users"))
        return parseUsers(words);
    if (word == QLatin1String("lock"))
        return parseLock(words);
    if (word == QLatin1String("connect"))
        return parseConnect(words);
    if (word == QLatin1String("logoff") || word == QLatin1String("restart") || word == QLatin1String("shutdown")
        || word == QLatin1String("exitorder"))
        return parseExitOrder(word, words);
    if (word == QLatin1String("auto"))
        return parseAuto(words);
    if (word == QLatin1String("grant"))
        return parseGrant(words);

    ConsoleCommand command;
    if (word == QLatin1String("close"))
        command.kind = ConsoleCommand::Kind::Close;
    else if (word == QLatin1String("panels"))
        command.kind = ConsoleCommand::Kind::Panels;
    else if (word == QLatin1String("help") || word == QLatin1String("?"))
        command.kind = ConsoleCommand::Kind::Help;
    else if (word == QLatin1String("quit"))
        command.kind = ConsoleCommand::Kind::Quit;
    else
        return refuse(QStringLiteral("unknown command \"%1\"; type help for the list").arg(word));
    if (!words.isEmpty())
        return refuse(QStringLiteral("%1 takes no arguments").arg(word));
    return command;
}

QString Help()
{
    return QStringLiteral(
        "Commands (one a line; words in any letter case; # starts a comment):\n"
        "  life [N]                  sign-of-life request (cmd 2); the panel answers cmd 3\n"
        "  identify [VERSION]        identify yourself (cmd 4) with the server version,\n"
        "                            MAJOR.MINOR.BUILD or a plain number, none = 0;\n"
        "                            the panel answers cmd 5 with its version and name\n"
        "  users NAME:PASSWORD:RES ...\n"
        "                            a profile series (cmd 6, one frame per profile,\n"
        "                            numbered from 1); RES is the resolution 0 (Full-Screen)\n"
        "                            to 6; the panel acknowledges each one (cmd 7)\n"
        "  lock locked|free|N connected|none [CLIENT]\n"
        "                            remote status (cmd 8): locked sets bit 0 of the\n"
        "                            argument; connected sends \"Connnect:True\" with\n"
        "                            ClientName CLIENT; the panel acknowledges (cmd 9)\n"
        "  connect N                 connect now with profile N (cmd 11), from 1\n"
        "  logoff | restart | shutdown | shutdown force\n"
        "                            exit order (cmd 13) with mode 0, 1, 2 or 3;\n"
        "                            the panel's machine really goes down\n"
        "  exitorder MODE            exit order with mode 0 to 3\n"
        "  raw TEXT                  send TEXT exactly as typed (to try bad frames)\n"
        "  close                     close the link; the panel reopens it\n"
        "  auto SECONDS | auto off   send a sign of life every SECONDS by itself\n"
        "  grant connect on|off      answer connection requests (cmd 10) with cmd 11\n"
        "  grant exit on|off         answer restart/turn-off requests (cmd 12) with cmd 13\n"
        "  panels                    list the connected panels\n"
        "  help                      this list\n"
        "  quit                      end the console\n"
        "Frames go to every connected panel. A line with a mistake sends nothing.\n");
}

} // namespace ConsoleCommands
