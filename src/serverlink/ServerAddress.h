#pragma once

#include <QString>
#include <QtGlobal>

// The server field names one server for both links: "host", "host:port", "[address]" or
// "[address]:port", where a bare IPv6 address ("::1") is a host of its own. The remote
// desktop session takes host and port from it; the side link takes the host, with its own
// port.
namespace ServerAddress {

// The host part of the field, whatever follows it.
QString Host(const QString &server);

// Host and port of the field; port is left as it is when the field names none. False when
// the field cannot name a server.
bool Split(const QString &server, QString &host, quint16 &port);

} // namespace ServerAddress
