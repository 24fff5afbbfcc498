// veskora-sidelink-console: a stand-in for the companion program on the server, for setting up
// and trying a panel's side link by hand.

#include "ConsoleCommand.h"
#include "SideLinkConsole.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

void writeLine(FILE *stream, const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

const char *const kDescription =
    "Plays the companion program on the server for a panel's side link: listens for the\n"
    "panel's TCP connection, shows every frame the panel sends in readable form and sends\n"
    "the commands typed on standard input, one a line.\n"
    "\n"
    "Point the panel at this machine (Configuration: Server address, Port, \"Connect to\n"
    "Server\" checked). The panel closes and reopens a link that stays silent for 45\n"
    "seconds: send \"life\" now and then, or start with --auto.\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veskora-sidelink-console"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription) + QLatin1Char('\n') + ConsoleCommands::Help());
    parser.addHelpOption();
    const QCommandLineOption portOption({QStringLiteral("p"), QStringLiteral("port")},
                                        QStringLiteral("Port to listen on (default 12559; 0 picks a free one)."),
                                        QStringLiteral("PORT"), QStringLiteral("12559"));
    const QCommandLineOption listenOption({QStringLiteral("l"), QStringLiteral("listen")},
                                          QStringLiteral("Address to listen on (default 127.0.0.1, this machine only). "
                                                         "A panel on another machine needs this machine's address, "
                                                         "or \"any\" for all interfaces."),
                                          QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption autoOption(QStringLiteral("auto"),
                                        QStringLiteral("Send a sign-of-life request to every panel when it connects "
                                                       "and every SECONDS (1 to 3600) after, so the link stays open."),
                                        QStringLiteral("SECONDS"));
    const QCommandLineOption grantConnectOption(QStringLiteral("grant-connect"),
                                                QStringLiteral("Answer each connection request (cmd 10) with the "
                                                               "connect order (cmd 11) for the same profile."));
    const QCommandLineOption grantExitOption(QStringLiteral("grant-exit"),
                                             QStringLiteral("Answer each restart or turn-off request (cmd 12) with the "
                                                            "exit order (cmd 13): the panel's machine really goes down."));
    const QCommandLineOption onConnectOption(QStringLiteral("on-connect"),
                                             QStringLiteral("Carry out the command lines of FILE for each panel as it "
                                                            "connects (e.g. identify, users, lock)."),
                                             QStringLiteral("FILE"));
    const QCommandLineOption keepOption(QStringLiteral("keep"),
                                        QStringLiteral("Keep running at the end of standard input (for running in "
                                                       "the background); otherwise the end of input ends the console."));
    parser.addOptions({portOption, listenOption, autoOption, grantConnectOption, grantExitOption, onConnectOption,
                       keepOption});

    const auto fail = [](const QString &message) {
        writeLine(stderr, QStringLiteral("veskora-sidelink-console: ") + message);
        writeLine(stderr, QStringLiteral("Try --help."));
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        writeLine(stdout, parser.helpText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("port \"%1\" is not a number from 0 to 65535").arg(parser.value(portOption)));

    QHostAddress address;
    const QString listenText = parser.value(listenOption);
    if (listenText.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0)
        address = QHostAddress::Any;
    else if (!address.setAddress(listenText))
        return fail(QStringLiteral("\"%1\" is not an IP address (use a dotted address, an IPv6 address or any)").arg(listenText));

    int autoSeconds = 0;
    if (parser.isSet(autoOption)) {
        autoSeconds = parser.value(autoOption).toInt(&ok);
        if (!ok || autoSeconds < 1 || autoSeconds > 3600)
            return fail(QStringLiteral("--auto needs seconds from 1 to 3600, not \"%1\"").arg(parser.value(autoOption)));
    }

    QStringList onConnect;
    if (parser.isSet(onConnectOption)) {
        QFile file(parser.value(onConnectOption));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        int number = 0;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
            ++number;
            const ConsoleCommand command = ConsoleCommands::Parse(line);
            if (!command.ok())
                return fail(QStringLiteral("%1 line %2: %3").arg(file.fileName()).arg(number).arg(command.error));
            if (command.kind != ConsoleCommand::Kind::Nothing)
                onConnect.append(line);
        }
    }

    SideLinkConsole console([](const QString &line) { writeLine(stdout, line); },
                            [](const QString &line) { writeLine(stderr, line); });
    console.setGrantConnect(parser.isSet(grantConnectOption));
    console.setGrantExit(parser.isSet(grantExitOption));
    console.setOnConnect(onConnect);
    console.setAutoInterval(autoSeconds);

    QString error;
    if (!console.listen(address, static_cast<quint16>(port), error)) {
        writeLine(stderr, QStringLiteral("veskora-sidelink-console: cannot listen on %1 port %2: %3")
                              .arg(address.toString()).arg(port).arg(error));
        return 1;
    }
    writeLine(stdout, QStringLiteral("listening on %1:%2 (type help for the commands)")
                          .arg(address.toString()).arg(console.port()));
    QObject::connect(&console, &SideLinkConsole::quitRequested, &app, &QCoreApplication::quit);

    // Standard input, line by line, without blocking the event loop.
    QByteArray input;
    const bool keep = parser.isSet(keepOption);
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    const auto runLine = [&console](QByteArray line) {
        if (line.endsWith('\r'))
            line.chop(1);
        console.execute(QString::fromUtf8(line));
    };
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (count > 0) {
            input.append(buffer, count);
            qsizetype end;
            while ((end = input.indexOf('\n')) >= 0) {
                const QByteArray line = input.left(end);
                input.remove(0, end + 1);
                runLine(line);
            }
            return;
        }
        notifier.setEnabled(false);
        if (!input.isEmpty())
            runLine(std::exchange(input, QByteArray()));
        if (!keep)
            QCoreApplication::quit();
    });

    return app.exec();
}
