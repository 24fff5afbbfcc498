#pragma once

#include <freerdp/settings.h>

#include <cstdint>
#include <string>

// The server certificate check of a session (worker thread). A certificate that the system's
// trust store validates for the server's name is accepted as it is, whenever it changes. Any
// other is trusted on first use and remembered in the library's certificate store (under the
// settings' configuration path) by the server name and port the operator gave; when a
// remembered one has changed, the operator decides.
namespace RdpCertificate {

struct Verdict
{
    enum Kind { Unreadable, Trusted, Known, New, Changed } kind = Unreadable;
    std::string subject, issuer, fingerprint; // SHA-256, "xx:xx:..."
    std::string remembered;                   // the fingerprint on record, for Changed
};

// The certificate chain in PEM as the library hands it over; a new certificate is remembered.
Verdict Check(rdpSettings *settings, const std::string &host, uint16_t port, const unsigned char *pem, size_t length);
// Remembers the certificate of a verdict in place of the one on record.
bool Replace(rdpSettings *settings, const std::string &host, uint16_t port, const Verdict &verdict);

} // namespace RdpCertificate
