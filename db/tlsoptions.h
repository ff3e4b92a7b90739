#pragma once

#include <QString>

// How the connection asks for TLS, which differs with the client library's TLS of each platform.
namespace tlsoptions {

// The driver's connect options that make the client library use TLS wherever the server offers
// it (and fall back to clear text where it offers none); with caFile, the server's certificate
// chain is verified against that certificate and a failed check refuses the connection.
QString connectOptions(const QString &caFile);

// Keeps the client library from loading the system's CA bundle at a TLS connect that verifies
// nothing (tens of milliseconds per connect, for certificates it never uses). It sets an
// environment variable of the process: call it before any other thread runs.
void skipSystemCaBundle();

} // namespace tlsoptions
