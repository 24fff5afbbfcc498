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

// The server's side of the frames with further fields: profile n of a series (command 6) and
// the remote status (command 8), as ParseUserFrame and ParseConnectFrame read them.
void BuildUserFrame(qint32 n, const RemoteUserData &data, QString &frame);
void BuildConnectFrame(qint32 argument, const RemoteConnectData &data, QString &frame);

// Every key a field of the protocol may carry.
const QStringList &FieldKeys();
// Why a text cannot travel as a field's value and reach the other side unchanged; empty when
// it can.
QString ValueProblem(const QString &value);

// Parsing. Numeric fields that are missing or not numeric raise VbError (type mismatch).
bool HasFrameStart(const QString &frame);
bool HasFrameEnd(const QString &frame);
bool GetFieldValue(const QString &frame, const QString &key, QString &value);
SocketCmd GetCommand(const QString &frame);
SocketCmd ParseCommandFrame(const QString &frame);
bool ParseUserFrame(const QString &frame, RemoteUserData &data);
bool ParseConnectFrame(const QString &frame, RemoteConnectData &data);

} // namespace modSocketCmd
