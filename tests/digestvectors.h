#pragma once

// The password digests that tests/data/make_digests.py computes apart from the program.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

namespace testsupport {

struct DigestVector
{
    QString name;
    QString user;
    QString password;
    QByteArray digest; // the 20 raw bytes
};

// Empty when the file cannot be read, which the tests that use it report.
inline QList<DigestVector> digestVectors()
{
    QList<DigestVector> vectors;
    QFile file(QStringLiteral(QUORVO_TEST_DATA "/digests.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        return vectors;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u'\t');
        if (fields.size() != 4)
            return {};
        vectors.append(
            {fields[0], fields[1], fields[2], QByteArray::fromHex(fields[3].toLatin1())});
    }
    return vectors;
}

inline DigestVector digestVector(const QString &name)
{
    for (const DigestVector &vector : digestVectors())
        if (vector.name == name)
            return vector;
    return {};
}

} // namespace testsupport
