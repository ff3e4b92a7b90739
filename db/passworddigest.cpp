#include "db/passworddigest.h"

#include <QCryptographicHash>

namespace {

// One byte per UTF-16 unit. QString::toLatin1 leaves units above U+00FF undefined, so the
// replacement the stored digests were made with is spelled out here; a character outside the
// BMP is two units and so gives "??".
QByteArray toLatin1Bytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar unit : text)
        bytes.append(unit.unicode() > 0xff ? '?' : static_cast<char>(unit.unicode()));
    return bytes;
}

} // namespace

QByteArray hashPassword(QString username, QString password)
{
    const qsizetype half = password.size() / 2;
    const QString salted = password.mid(0, half) + username + password.mid(half, -1);
    const QByteArray md5 = QCryptographicHash::hash(toLatin1Bytes(salted), QCryptographicHash::Md5);
    return QCryptographicHash::hash(md5, QCryptographicHash::Sha1);
}
