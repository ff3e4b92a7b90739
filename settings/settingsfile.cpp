#include "settings/settingsfile.h"

#include "settings/connectionsettings.h"
#include "settings/fileaccess.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <array>

namespace {

const QString HostKey = QStringLiteral("hname");
const QString UserKey = QStringLiteral("MySQLu");
const QString PasswordKey = QStringLiteral("MySQLp");

// A UTF-8 byte order mark says the file is UTF-8; it belongs to no line.
const QByteArray Utf8Mark = QByteArrayLiteral("\xEF\xBB\xBF");

// One line as it stands in the file: its bytes, and its line end ("\n", "\r\n", or nothing for
// a last line without one), which a save keeps even on a line it changes.
struct Line
{
    QByteArray text;
    QByteArray end;
};

// The settings file as read: lines of bytes, so that a save copies those it does not change
// byte for byte, and the encoding of their text.
struct SettingsText
{
    QByteArray mark;
    QList<Line> lines;
    QByteArray encoding;

    // A line is cut at every ':'; the first field is the key, compared exactly.
    QStringList fieldsOf(const Line &line) const
    {
        QStringDecoder decoder = lineDecoder();
        const QString text = decoder.decode(line.text);
        return text.split(QLatin1Char(':'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    }

    // The value in the file's encoding, or nothing when that cannot hold all of it (the encoder
    // would put a '?' or a look-alike in the place of a missing character).
    std::optional<QByteArray> encoded(const QString &value) const
    {
        QStringEncoder encoder(encoding.constData(), QStringConverter::Flag::Stateless);
        const QByteArray bytes = encoder.encode(value);
        QStringDecoder decoder = lineDecoder();
        const QString back = decoder.decode(bytes);
        if (encoder.hasError() || back != value)
            return std::nullopt;
        return bytes;
    }

private:
    // Each line on its own; a U+FEFF within the file is text, not a mark to drop.
    QStringDecoder lineDecoder() const
    {
        return QStringDecoder(encoding.constData(), QStringConverter::Flag::Stateless |
                                                        QStringConverter::Flag::ConvertInitialBom);
    }
};

bool decodesCleanly(const QByteArray &encoding, QByteArrayView bytes)
{
    QStringDecoder decoder(encoding.constData(), QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return decoder.isValid() && !decoder.hasError();
}

// The file names no encoding. A file in the system's encoding (UTF-8 outside Windows, the code
// page on Windows) reads as it always has. A file written in a Windows 8-bit code page is no
// valid UTF-8 and reads as Windows-1252, or as Latin-1 where that codec is missing, so that its
// values arrive as they were written. The whole file decides, so all lines read alike.
QByteArray encodingOf(QByteArrayView bytes)
{
    if (bytes.startsWith(Utf8Mark) && decodesCleanly("UTF-8", bytes.sliced(Utf8Mark.size())))
        return "UTF-8";
    for (const QByteArray &candidate :
         {QByteArray(QStringConverter::nameForEncoding(QStringConverter::System)),
          QByteArray("windows-1252")}) {
        if (decodesCleanly(candidate, bytes))
            return candidate;
    }
    return QStringConverter::nameForEncoding(QStringConverter::Latin1);
}

// A line ends at LF or CR LF.
QList<Line> linesOf(const QByteArray &bytes)
{
    QList<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype feed = bytes.indexOf('\n', start);
        if (feed < 0) {
            lines.append({bytes.mid(start), QByteArray()});
            break;
        }
        const qsizetype end = feed > start && bytes.at(feed - 1) == '\r' ? feed - 1 : feed;
        lines.append({bytes.mid(start, end - start), bytes.mid(end, feed + 1 - end)});
        start = feed + 1;
    }
    return lines;
}

// All of the file, or nothing when it cannot be read to its end: a read that fails part-way
// must not pass for the end of the file.
std::optional<SettingsText> readSettingsText(const QString &fileName)
{
    QFile file;
    if (!fileaccess::openRegularFile(fileName, file))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;

    SettingsText text;
    text.encoding = encodingOf(bytes);
    if (text.encoding == "UTF-8" && bytes.startsWith(Utf8Mark)) {
        text.mark = Utf8Mark;
        bytes.remove(0, Utf8Mark.size());
    }
    text.lines = linesOf(bytes);
    return text;
}

} // namespace

bool loadSettingsFile(const QString &fileName)
{
    const std::optional<SettingsText> text = readSettingsText(fileName);
    if (!text)
        return false;

    for (const Line &line : text->lines) {
        const QStringList fields = text->fieldsOf(line);
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

RewriteFailure rewriteSettingsFile(const QString &fileName, const SettingsChanges &changes)
{
    // All of the old file first: a missing key line or a value that the file cannot hold is
    // found before anything is written.
    const std::optional<SettingsText> text = readSettingsText(fileName);
    if (!text)
        return RewriteFailure::OpenFailed;

    struct Key
    {
        const QString &name;
        const std::optional<QString> &value;
        bool present;
    };
    std::array<Key, 3> keys{{{HostKey, changes.host, false},
                             {UserKey, changes.user, false},
                             {PasswordKey, changes.password, false}}};
    bool encodable = true;
    QByteArray content = text->mark;
    for (const Line &line : text->lines) {
        const QString name = text->fieldsOf(line).first();
        const auto key = std::find_if(keys.begin(), keys.end(), [&name](const Key &candidate) {
            return candidate.name == name;
        });
        if (key != keys.end())
            key->present = true;
        if (key == keys.end() || !key->value) {
            content += line.text + line.end;
            continue;
        }
        // A changed key line is replaced whole, keeping its line end.
        const std::optional<QByteArray> value = text->encoded(*key->value);
        encodable = encodable && value;
        content += key->name.toLatin1() + ':' + value.value_or(QByteArray()) + line.end;
    }
    // A changed value whose key has no line would be stored nowhere.
    if (std::any_of(keys.begin(), keys.end(),
                    [](const Key &key) { return key.value && !key.present; }))
        return RewriteFailure::KeyLineMissing;
    if (!encodable)
        return RewriteFailure::ValueNotEncodable;

    // A link stays a link: the file that it leads to is replaced, by a twin beside that file.
    const QFileInfo info(fileName);
    const bool linked = info.isSymbolicLink();
    const QString target = linked ? info.canonicalFilePath() : fileName;
    if (target.isEmpty())
        return RewriteFailure::OpenFailed;
    const QString newName = target + QStringLiteral(".tmp");
    QFile newFile;
    switch (fileaccess::createExclusively(newName, newFile)) {
    case fileaccess::Creation::Created:
        break;
    case fileaccess::Creation::FolderNotWritable:
        return linked ? RewriteFailure::LinkTargetFolderNotWritable : RewriteFailure::OpenFailed;
    case fileaccess::Creation::Failed:
        return RewriteFailure::OpenFailed;
    }
    // The file holds the database password: the new one gets its access rights before it holds
    // anything.
    if (!fileaccess::copyAccess(target, newName, newFile)) {
        newFile.close();
        QFile::remove(newName);
        return RewriteFailure::PermissionsNotKept;
    }

    bool written = newFile.write(content) == content.size() && newFile.flush() &&
                   fileaccess::syncToDisk(newFile);
    newFile.close();
    written = written && newFile.error() == QFileDevice::NoError;
    if (!written) {
        QFile::remove(newName);
        return RewriteFailure::WriteFailed;
    }

    if (!fileaccess::replaceFile(newName, target))
        return RewriteFailure::RenameFailed;
    return RewriteFailure::None;
}
