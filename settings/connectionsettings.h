#pragma once

#include <QString>

// The connection settings of the whole process, as last read from the settings file.
// Only the settings reader writes them; the connection takes them when it is created.
namespace ConnectionSettings {
inline QString dbHost;     // key "hname"
inline QString dbUser;     // key "MySQLu"
inline QString dbPassword; // key "MySQLp"
// The server's CA certificate, a path (relative to the working directory); empty where the server
// is not verified. The Quorvo application passes over its key line as over any other.
inline QString dbCaFile; // key "MySQLca"
} // namespace ConnectionSettings
