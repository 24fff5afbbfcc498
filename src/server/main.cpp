// veskora-server: the server's side of the side link for a fleet of panels.

#include "Version.h"
#include "server/Dashboard.h"
#include "server/Fleet.h"
#include "server/ServerConfig.h"
#include "server/ServerLog.h"
#include "server/UnixSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <sys/resource.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veskora-server"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(Version::Text));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Steers a fleet of Veskora panels over their side links: identifies them, hands them their\n"
        "profiles, keeps their links alive, grants their requests as its configuration says, and\n"
        "serves the administrator's dashboard. SIGHUP reloads the configuration, SIGTERM ends it."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOption(QStringLiteral("config"), QStringLiteral("The configuration file (default %1).").arg(ServerConfigFile::DefaultPath),
                                          QStringLiteral("FILE"), ServerConfigFile::DefaultPath);
    parser.addOption(configOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        qCCritical(lcServer).noquote() << "unexpected argument" << parser.positionalArguments().first() << "(try --help)";
        return 2;
    }
    const QString path = parser.value(configOption);

    // A link is a file descriptor: a fleet needs more than the usual soft limit.
    if (rlimit files{}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }

    ServerConfig config;
    QString error;
    if (!ServerConfigFile::Load(path, config, error)) {
        qCCritical(lcServer).noquote() << error;
        return 2;
    }
    Fleet fleet;
    Dashboard dashboard(fleet);
    if (!fleet.apply(config, error) || !dashboard.apply(config, error)) {
        qCCritical(lcServer).noquote() << error;
        return 1;
    }

    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::terminate, &app, [] {
        qCInfo(lcServer) << "ending";
        QCoreApplication::quit();
    });
    QObject::connect(&unixSignals, &UnixSignals::reload, &app, [&] {
        ServerConfig next;
        QString reason;
        if (!ServerConfigFile::Load(path, next, reason) || !fleet.apply(next, reason)) {
            qCWarning(lcServer).noquote() << "reload refused, the running configuration stays:" << reason;
            return;
        }
        if (!dashboard.apply(next, reason))
            qCWarning(lcServer).noquote() << reason << "(the dashboard stays where it was)";
        qCInfo(lcServer).noquote() << "configuration reloaded from" << path;
    });
    qCInfo(lcServer).noquote() << "veskora-server" << Version::Text << "running with" << path;
    return QCoreApplication::exec();
}
