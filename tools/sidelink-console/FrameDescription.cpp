#include "FrameDescription.h"

#include "serverlink/SideLinkCommand.h"
#include "serverlink/VersionNumbers.h"

#include <QList>
#include <QPair>

namespace FrameDescription {

namespace {

using Field = QPair<QString, QString>;

// The fields in the order they stand; a piece without a colon keeps its whole text as key.
QList<Field> fields(const QString &body)
{
    QList<Field> result;
    QStringList pieces = body.split(QStringLiteral("##"));
    if (!pieces.isEmpty() && pieces.last().isEmpty())
        pieces.removeLast();
    for (const QString &piece : pieces) {
        const int colon = piece.indexOf(QLatin1Char(':'));
        if (colon < 0)
            result.append({piece, QString()});
        else
            result.append({piece.left(colon + 1), piece.mid(colon + 1)});
    }
    return result;
}

bool strictInt(const QString &text, qint32 &value)
{
    bool ok = false;
    value = text.toInt(&ok);
    return ok;
}

QString meaning(qint32 cmd, qint32 argument)
{
    switch (SideLinkCommand(cmd)) {
    case SideLinkCommand::SignOfLife:
        switch (argument) {
        case 0: return QStringLiteral("no remote desktop session");
        case 1: return QStringLiteral("session started, not yet connected");
        case 3: return QStringLiteral("session connected");
        default: return QStringLiteral("unknown session state");
        }
    case SideLinkCommand::IdentifyRequest: {
        if (argument == 0)
            return QStringLiteral("no server version");
        const VersionNumbers::Parts version = VersionNumbers::DecodeServerVersion(argument);
        return QStringLiteral("server version %1.%2 build %3").arg(version.major).arg(version.minor).arg(version.build);
    }
    case SideLinkCommand::Identity:
        return QStringLiteral("panel version ") + VersionNumbers::PanelVersionText(argument);
    case SideLinkCommand::UserProfile:
    case SideLinkCommand::ProfileReceived:
    case SideLinkCommand::ConnectOrder:
        return QStringLiteral("profile %1").arg(argument);
    case SideLinkCommand::RemoteStatus:
        return (argument & 1) ? QStringLiteral("locked") : QStringLiteral("free");
    case SideLinkCommand::ConnectionRequest:
        return argument == 0 ? QStringLiteral("no profile chosen") : QStringLiteral("profile %1").arg(argument);
    case SideLinkCommand::ExitRequest:
        switch (argument) {
        case 1: return QStringLiteral("restart");
        case 3: return QStringLiteral("turn off");
        default: return QStringLiteral("unknown request");
        }
    case SideLinkCommand::ExitOrder:
        switch (argument) {
        case 0: return QStringLiteral("log off");
        case 1: return QStringLiteral("restart");
        case 2: return QStringLiteral("shut down");
        case 3: return QStringLiteral("shut down, forced");
        default: return QStringLiteral("no action");
        }
    default:
        return {};
    }
}

} // namespace

QString CommandName(qint32 cmd)
{
    switch (SideLinkCommand(cmd)) {
    case SideLinkCommand::SignOfLifeRequest: return QStringLiteral("sign-of-life request");
    case SideLinkCommand::SignOfLife: return QStringLiteral("sign of life");
    case SideLinkCommand::IdentifyRequest: return QStringLiteral("identify request");
    case SideLinkCommand::Identity: return QStringLiteral("panel identity");
    case SideLinkCommand::UserProfile: return QStringLiteral("user profile");
    case SideLinkCommand::ProfileReceived: return QStringLiteral("profile received");
    case SideLinkCommand::RemoteStatus: return QStringLiteral("remote status");
    case SideLinkCommand::RemoteStatusReceived: return QStringLiteral("remote status received");
    case SideLinkCommand::ConnectionRequest: return QStringLiteral("connection request");
    case SideLinkCommand::ConnectOrder: return QStringLiteral("connect order");
    case SideLinkCommand::ExitRequest: return QStringLiteral("exit request");
    case SideLinkCommand::ExitOrder: return QStringLiteral("exit order");
    }
    return {};
}

QString Describe(const QString &frame, bool maskPasswords)
{
    if (!frame.startsWith(QLatin1String("@#")) || !frame.endsWith(QLatin1String("#@")) || frame.size() < 4)
        return QStringLiteral("not a frame: ") + frame;
    const QList<Field> all = fields(frame.mid(2, frame.size() - 4));

    QString cmdText, argumentText;
    bool haveCmd = false, haveArgument = false;
    QStringList extra;
    for (const Field &field : all) {
        if (field.first == QLatin1String("cmd:") && !haveCmd) {
            cmdText = field.second;
            haveCmd = true;
        } else if (field.first == QLatin1String("Argument:") && !haveArgument) {
            argumentText = field.second;
            haveArgument = true;
        } else {
            const bool hide = maskPasswords && field.first == QLatin1String("Password:");
            extra.append(field.first + QLatin1Char(' ') + (hide ? QStringLiteral("***") : field.second));
        }
    }

    QString text;
    qint32 cmd = 0, argument = 0;
    const bool cmdOk = haveCmd && strictInt(cmdText, cmd);
    const bool argumentOk = haveArgument && strictInt(argumentText, argument);
    if (!haveCmd)
        text = QStringLiteral("cmd missing");
    else if (!cmdOk)
        text = QStringLiteral("cmd \"%1\" not a number").arg(cmdText);
    else {
        const QString name = CommandName(cmd);
        text = QStringLiteral("cmd %1 %2").arg(cmd).arg(name.isEmpty() ? QStringLiteral("(unknown command)") : name);
    }
    if (!haveArgument)
        text += QStringLiteral(" | Argument missing");
    else if (!argumentOk)
        text += QStringLiteral(" | Argument \"%1\" not a number").arg(argumentText);
    else {
        text += QStringLiteral(" | Argument %1").arg(argument);
        const QString means = cmdOk ? meaning(cmd, argument) : QString();
        if (!means.isEmpty())
            text += QStringLiteral(" = ") + means;
    }
    for (const QString &field : extra)
        text += QStringLiteral(" | ") + field;
    return text;
}

} // namespace FrameDescription
