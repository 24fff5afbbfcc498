#pragma once

#include <QtGlobal>

// OnDisconnected reasons (discReason), one per way a started session or attempt ends.
enum RdpDisconnectReason : qint32 {
    ReasonLocal = 1,                   // Disconnect (or the connection bar) ended it here
    ReasonServerEnded = 3,             // the server ended an established session, or the
                                       // connection broke and was not (or could not be) re-made
    ReasonConnectFailed = 4,           // the attempt failed in the protocol for another reason
    ReasonNameNotFound = 260,          // the server name could not be resolved
    ReasonTimedOut = 264,              // the connect time limit ran out (a silent server)
    ReasonConnectionRefused = 516,     // nothing listens on that address and port
    ReasonAuthenticationFailed = 2055, // the server refused the user name or password
    ReasonCertificateRefused = 4360,   // the server's certificate was not accepted (a changed
                                       // one the operator turned down, or none readable)
};
