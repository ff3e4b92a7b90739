#include "db/tlsoptions.h"

// Schannel takes only a cipher list that names suites it knows: an empty one is refused as an
// unknown suite. This one gives TLS 1.2 with the servers that the program is made for.
QString tlsoptions::connectOptions(const QString &caFile)
{
    QString options = QStringLiteral("SSL_CIPHER=AES256-GCM-SHA384");
    if (!caFile.isEmpty())
        options += QStringLiteral(";SSL_CA=") + caFile;
    return options;
}

// Schannel reads no CA bundle file.
void tlsoptions::skipSystemCaBundle() {}
