#pragma once

#include <QtGlobal>

// The side-link commands by number, for the panel, the console and the tests. "In" runs from
// the server to the panel, "out" from the panel to the server.
enum class SideLinkCommand : qint32 {
    SignOfLifeRequest = 2,    // in; answered with SignOfLife
    SignOfLife = 3,           // out: the remote desktop state, 0 none, 1 started, 3 connected
    IdentifyRequest = 4,      // in: the server's version; answered with Identity
    Identity = 5,             // out: the panel's version and its computer name
    UserProfile = 6,          // in: profile n of a series; answered with ProfileReceived
    ProfileReceived = 7,      // out: n
    RemoteStatus = 8,         // in: lock state and connected client; answered with RemoteStatusReceived
    RemoteStatusReceived = 9, // out
    ConnectionRequest = 10,   // out: the chosen profile, from 1; 0 none
    ConnectOrder = 11,        // in: connect now with profile n
    ExitRequest = 12,         // out: 1 restart, 3 turn off
    ExitOrder = 13,           // in: exit mode 0 log off, 1 restart, 2 shut down, 3 shut down forced
};

inline constexpr SideLinkCommand FirstSideLinkCommand = SideLinkCommand::SignOfLifeRequest;
inline constexpr SideLinkCommand LastSideLinkCommand = SideLinkCommand::ExitOrder;

// The number a frame carries.
constexpr qint32 Number(SideLinkCommand command)
{
    return static_cast<qint32>(command);
}

// The commands that are only a number and an argument; the others carry further fields.
constexpr bool IsPlainCommand(qint32 cmd)
{
    return cmd >= Number(FirstSideLinkCommand) && cmd <= Number(LastSideLinkCommand)
           && cmd != Number(SideLinkCommand::Identity) && cmd != Number(SideLinkCommand::UserProfile)
           && cmd != Number(SideLinkCommand::RemoteStatus);
}
