#pragma once

#include "serverlink/FrameStream.h"
#include "serverlink/SideLinkCommand.h"
#include "serverlink/modSocketCmd.h"

#include <QObject>

class SideLinkSupervisor;
class SideLinkView;
class SocketControl;

// Handles what the server sends over the side link and sends the panel's own commands. The
// link is a byte stream: received bytes are cut into whole frames, each handled in order.
// Every message it acts on, but the exit order, is the server's sign of life for the
// supervisor.
class SideLinkMessages : public QObject
{
    Q_OBJECT

public:
    SideLinkMessages(SocketControl &socket, SideLinkSupervisor &supervisor, SideLinkView &view,
                     QObject *parent = nullptr);

    // The socket's data-arrival event: takes everything that has arrived, however much.
    void Winsock_DataArrival(qint32 bytesTotal);
    // One whole frame. An error on the way ends the handling and shows it in panel 2.
    void HandleFrame(const QString &frame);

    // Sends one of the panel's own commands. A send that fails shows its error in panel 2
    // and returns false.
    bool Send(SideLinkCommand command, qint32 argument);

    // The remote desktop state for the sign of life, as the view has it: 0 not started,
    // 1 started, 3 connected.
    void GetRdpState(SocketCmd &command) const;
    // Steps 1 to 4 of receiving profile n of a series: a new list when n is 1, the profile
    // held under its user name, profile n shown. Errors raise VbError.
    void ReceiveUserProfile(qint32 n, const QString &username, const QString &password, qint32 resolution);

private:
    void reply(const QString &frame);

    SocketControl &mSocket;
    SideLinkSupervisor &mSupervisor;
    SideLinkView &mView;
    // Received bytes not yet cut into frames.
    FrameStream mFrameStream;
    bool mHandlingData = false; // inside Winsock_DataArrival
};
