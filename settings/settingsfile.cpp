#include "settings/settingsfile.h"

#include "settings/connectionsettings.h"
#include "settings/fileaccess.h"

#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <utility>

namespace {

const QString HostKey = QStringLiteral("hname");
const QString UserKey = QStringLiteral("MySQLu");
const QString PasswordKey = QStringLiteral("MySQLp");

// A line is cut at every ':'; the first field is the key, compared exactly.
QStringList fieldsOf(const QString &line)
{
    return line.split(QLatin1Char(':'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

// The file declares no encoding: it is read and written in the system encoding, as it always
// has been, so files written by earlier versions keep their meaning.
void useSystemEncoding(QTextStream &stream)
{
    stream.setEncoding(QStringConverter::System);
}

} // namespace

bool loadSettingsFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    QTextStream in(&file);
    useSystemEncoding(in);
    while (!in.atEnd()) {
        const QStringList fields = fieldsOf(in.readLine());
        const QString &key = fields.first();
        // A host or user line without ':' has no value and leaves the setting as it was.
        if (key == HostKey) {
            if (fields.size() > 1)
                ConnectionSettings::dbHost = fields.at(1);
        } else if (key == UserKey) {
            if (fields.size() > 1)
                ConnectionSettings::dbUser = fields.at(1);
        } else if (key == PasswordKey) {
            // A password line with other than exactly one ':' reads as the empty password.
            ConnectionSettings::dbPassword = fields.size() == 2 ? fields.at(1) : QString();
        }
    }
    return true;
}

RewriteFailure rewriteSettingsFile(const QString &fileName, const QString &host,
                                   const QString &user, const QString &password)
{
    QFile oldFile(fileName);
    if (!oldFile.open(QIODevice::ReadOnly | QIODevice::Text))
        return RewriteFailure::OpenFailed;

    // All of the old file first: a read that fails part-way must not pass for its end, and a
    // missing key line is found before anything is written.
    QStringList lines;
    QTextStream in(&oldFile);
    useSystemEncoding(in);
    while (!in.atEnd())
        lines << in.readLine();
    if (in.status() != QTextStream::Ok || oldFile.error() != QFileDevice::NoError)
        return RewriteFailure::OpenFailed;
    oldFile.close();

    bool hostLine = false, userLine = false, passwordLine = false;
    for (QString &line : lines) {
        const QString key = fieldsOf(line).first();
        if (key == HostKey) {
            line = HostKey + QLatin1Char(':') + host;
            hostLine = true;
        } else if (key == UserKey) {
            line = UserKey + QLatin1Char(':') + user;
            userLine = true;
        } else if (key == PasswordKey) {
            line = PasswordKey + QLatin1Char(':') + password;
            passwordLine = true;
        }
    }
    if (!hostLine || !userLine || !passwordLine)
        return RewriteFailure::KeyLineMissing;

    QFile newFile(fileName + QStringLiteral(".tmp"));
    // The file holds the database password: the new one gets the old one's access rights before
    // it holds anything, both when it is created and when a leftover of that name is reused.
    if (!fileaccess::openPrivately(newFile, QIODevice::WriteOnly | QIODevice::Text))
        return RewriteFailure::OpenFailed;
    bool written = fileaccess::copyAccess(fileName, newFile);

    QTextStream out(&newFile);
    useSystemEncoding(out);
    for (const QString &line : std::as_const(lines)) {
        if (!written)
            break;
        out << line << Qt::endl;
        written = out.status() == QTextStream::Ok;
    }
    written = written && newFile.flush() && fileaccess::syncToDisk(newFile);
    newFile.close();
    written = written && newFile.error() == QFileDevice::NoError;
    if (!written) {
        newFile.remove();
        return RewriteFailure::WriteFailed;
    }

    if (!fileaccess::replaceFile(newFile.fileName(), oldFile.fileName()))
        return RewriteFailure::RenameFailed;
    return RewriteFailure::None;
}
