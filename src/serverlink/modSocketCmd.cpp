#include "serverlink/modSocketCmd.h"

#include "platform/Conversions.h"
#include "serverlink/SideLinkCommand.h"

namespace modSocketCmd {

namespace {

const QString kStart = QStringLiteral("@#");
const QString kEnd = QStringLiteral("#@");
const QString kSeparator = QStringLiteral("##");
const QString kCmd = QStringLiteral("cmd:");
const QString kArgument = QStringLiteral("Argument:");
const QString kClientName = QStringLiteral("ClientName:");
const QString kNrOfUsers = QStringLiteral("NrOfUsers:");
const QString kUsername = QStringLiteral("Username:");
const QString kPassword = QStringLiteral("Password:");
const QString kResolution = QStringLiteral("Resolution:");
const QString kConnect = QStringLiteral("Connnect:"); // three n, as the server writes it

// A missing field reads as empty text, which the general conversion refuses.
qint32 numberField(const QString &frame, const QString &key)
{
    QString value;
    GetFieldValue(frame, key, value);
    return Conversions::ToInt32(QVariant(value));
}

bool isWholeFrame(const QString &frame)
{
    return HasFrameStart(frame) && HasFrameEnd(frame);
}

} // namespace

const QStringList &FieldKeys()
{
    static const QStringList keys{kCmd, kArgument, kClientName, kNrOfUsers, kUsername, kPassword, kResolution, kConnect};
    return keys;
}

QString ValueProblem(const QString &value)
{
    for (const QChar c : value) {
        if (c.unicode() > 0xFF)
            return QStringLiteral("holds the character '%1', which the side link (one byte per character, Latin-1) cannot carry")
                .arg(QString(c));
        if (c.unicode() < 0x20)
            return QStringLiteral("holds a control character");
    }
    if (value.contains(kSeparator) || value.contains(kEnd) || value.endsWith(u'#'))
        return QStringLiteral("holds \"##\" or \"#@\" or ends with \"#\": the frame would cut it");
    for (const QString &key : FieldKeys())
        if (value.contains(kStart + key))
            return QStringLiteral("holds \"@#%1\": the other side would begin a new frame there").arg(key);
    return {};
}

void BuildUserFrame(qint32 n, const RemoteUserData &data, QString &frame)
{
    QString built;
    BeginFrame(built, SocketCmd{Number(SideLinkCommand::UserProfile), n});
    AppendField(built, kNrOfUsers, QString::number(data.NrOfUsers));
    AppendField(built, kUsername, data.Username);
    AppendField(built, kPassword, data.Password);
    AppendField(built, kResolution, QString::number(data.Resolution));
    EndFrame(built);
    frame = built;
}

void BuildConnectFrame(qint32 argument, const RemoteConnectData &data, QString &frame)
{
    QString built;
    BeginFrame(built, SocketCmd{Number(SideLinkCommand::RemoteStatus), argument});
    AppendField(built, kClientName, data.ClientName);
    AppendField(built, kConnect, data.Connect ? QStringLiteral("True") : QStringLiteral("False"));
    EndFrame(built);
    frame = built;
}

void BuildCommandFrame(const SocketCmd &command, QString &frame)
{
    if (!IsPlainCommand(command.Cmd))
        return;
    QString built;
    BeginFrame(built, command);
    EndFrame(built);
    frame = built;
}

void BuildClientNameFrame(const SocketCmd &command, QString &frame, const QString &name)
{
    QString built;
    BeginFrame(built, command);
    AppendField(built, kClientName, name);
    EndFrame(built);
    frame = built;
}

void BeginFrame(QString &frame, const SocketCmd &command)
{
    frame = kStart;
    AppendField(frame, kCmd, QString::number(command.Cmd));
    AppendField(frame, kArgument, QString::number(command.Argument));
}

void AppendField(QString &frame, const QString &key, const QString &value)
{
    frame += key;
    frame += value;
    frame += kSeparator;
}

void EndFrame(QString &frame)
{
    frame += kEnd;
}

bool HasFrameStart(const QString &frame)
{
    return frame.startsWith(kStart);
}

bool HasFrameEnd(const QString &frame)
{
    const qsizetype at = frame.indexOf(kEnd);
    return at >= 0 && at + kEnd.size() == frame.size();
}

bool GetFieldValue(const QString &frame, const QString &key, QString &value)
{
    value.clear();
    const qsizetype keyAt = frame.indexOf(key);
    if (keyAt < 0)
        return false;
    // Searched from the end of the key, so a key that itself ends in '#' can never give a
    // separator inside the key (the protocol's keys all end in ':', where this is the same).
    const qsizetype valueAt = keyAt + key.size();
    const qsizetype separatorAt = frame.indexOf(kSeparator, valueAt);
    if (separatorAt < 0)
        return false;
    value = frame.mid(valueAt, separatorAt - valueAt);
    return true;
}

SocketCmd GetCommand(const QString &frame)
{
    SocketCmd command;
    command.Cmd = numberField(frame, kCmd);
    command.Argument = numberField(frame, kArgument);
    return command;
}

SocketCmd ParseCommandFrame(const QString &frame)
{
    SocketCmd command;
    if (isWholeFrame(frame))
        command = GetCommand(frame);
    if (command.Cmd >= Number(FirstSideLinkCommand) && command.Cmd <= Number(LastSideLinkCommand))
        return command;
    return {};
}

bool ParseUserFrame(const QString &frame, RemoteUserData &data)
{
    if (!isWholeFrame(frame))
        return false;
    GetCommand(frame); // only for its conversion errors

    QString value;
    if (!GetFieldValue(frame, kNrOfUsers, value))
        return false;
    data.NrOfUsers = Conversions::ToInt32(QVariant(value));
    if (!GetFieldValue(frame, kUsername, value))
        return false;
    data.Username = value;
    if (!GetFieldValue(frame, kPassword, value))
        return false;
    data.Password = value;
    if (!GetFieldValue(frame, kResolution, value))
        return false;
    data.Resolution = Conversions::ToInt32(QVariant(value));
    return true;
}

bool ParseConnectFrame(const QString &frame, RemoteConnectData &data)
{
    if (!isWholeFrame(frame))
        return false;
    GetCommand(frame); // only for its conversion errors

    QString value;
    if (!GetFieldValue(frame, kClientName, value))
        return false;
    data.ClientName = value;
    if (!GetFieldValue(frame, kConnect, value))
        return false;
    data.Connect = (value == QLatin1String("True"));
    return true;
}

} // namespace modSocketCmd
