#include "db/tlsoptions.h"

#include <QByteArray>

QString tlsoptions::connectOptions(const QString &caFile)
{
    // Any one of the driver's TLS options turns TLS on; an empty cipher list leaves the choice of
    // suite to the library.
    if (caFile.isEmpty())
        return QStringLiteral("SSL_CIPHER=");
    return QStringLiteral("SSL_CA=") + caFile;
}

void tlsoptions::skipSystemCaBundle()
{
    // Without a CA of its own the library takes OpenSSL's default locations, whose bundle file
    // this names; it never verifies against them. With a CA it reads that file only.
    qputenv("SSL_CERT_FILE", QByteArrayLiteral("/dev/null"));
}
