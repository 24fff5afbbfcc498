#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The side-link frames: "@#", fields "key" + value + "##", "#@". Frame text holds one
// character per byte on the wire (Latin-1).

struct SocketCmd
{
    qint32 Cmd = 0;
    qint32 Argument = 0;
};

struct RemoteUserData
{
    qint32 NrOfUsers = 0;
    QString Username;
    QString Password;
    qint32 Resolution = 0;
};

struct RemoteConnectData
{
    bool Connect = false;
    QString ClientName;
};

namespace modSocketCmd {

// Building. BuildCommandFrame only builds commands 2, 3, 4, 7, 9, 10, 11, 12 and 13; for any
// other command the frame keeps what it held.
void BuildCommandFrame(const SocketCmd &command, QString &frame);
void BuildClientNameFrame(const SocketCmd &command, QString &frame, const QString &name);
void BeginFrame(QString &frame, const SocketCmd &command);
void AppendField(QString &frame, const QString &key, const QString &value);
void EndFrame(QString &frame);

// Every key a field of the protocol may carry.
const QStringList &FieldKeys();

// Parsing. Numeric fields that are missing or not numeric raise VbError (type mismatch).
bool HasFrameStart(const QString &frame);
bool HasFrameEnd(const QString &frame);
bool GetFieldValue(const QString &frame, const QString &key, QString &value);
SocketCmd GetCommand(const QString &frame);
SocketCmd ParseCommandFrame(const QString &frame);
bool ParseUserFrame(const QString &frame, RemoteUserData &data);
bool ParseConnectFrame(const QString &frame, RemoteConnectData &data);

} // namespace modSocketCmd
