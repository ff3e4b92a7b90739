#include "settings/settingsfile.h"

#include "settings/connectionsettings.h"
#include "settings/fileaccess.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QOperatingSystemVersion>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

const QString HostKey = QStringLiteral("hname");
const QString UserKey = QStringLiteral("MySQLu");
const QString PasswordKey = QStringLiteral("MySQLp");
const QString CaFileKey = QStringLiteral("MySQLca");

// A byte order mark names the file's encoding; it belongs to no line.
const QByteArray Utf8Mark = QByteArrayLiteral("\xEF\xBB\xBF");
const QByteArray Utf16LeMark = QByteArrayLiteral("\xFF\xFE");
const QByteArray Utf16BeMark = QByteArrayLiteral("\xFE\xFF");

// A save takes milliseconds: a lock older than this was left by a save that hung, or by a copy
// on another computer that died (the lock of a dead process on this computer is stale at once).
constexpr int StaleLockTime = 30000;
// How long a save waits for another one to end before it says that the file is busy; the
// window does not answer meanwhile.
constexpr int LockWait = 2000;

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

    // The text in the file's encoding, or nothing when that cannot hold all of it (the encoder
    // would put a '?' or a look-alike in the place of a missing character).
    std::optional<QByteArray> encoded(const QString &text) const
    {
        QStringEncoder encoder(encoding.constData(), QStringConverter::Flag::Stateless);
        const QByteArray bytes = encoder.encode(text);
        QStringDecoder decoder = lineDecoder();
        const QString back = decoder.decode(bytes);
        if (encoder.hasError() || back != text)
            return std::nullopt;
        return bytes;
    }

    // The line end that the file uses, or the one that text mode writes on this system for a
    // file that has none yet.
    QByteArray lineEnd() const
    {
        for (const Line &line : lines) {
            if (!line.end.isEmpty())
                return line.end;
        }
        const bool windows =
            QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows;
        return encoded(windows ? QStringLiteral("\r\n") : QStringLiteral("\n")).value();
    }

private:
    // Each line on its own; a U+FEFF within the file is text, not a mark to drop.
    QStringDecoder lineDecoder() const
    {
        return QStringDecoder(encoding.constData(), QStringConverter::Flag::Stateless |
                                                        QStringConverter::Flag::ConvertInitialBom);
    }
};

// The UTF-16 decoder takes a lone half of a character pair for a character of its own.
bool decodesCleanly(const QByteArray &encoding, QByteArrayView bytes)
{
    QStringDecoder decoder(encoding.constData(), QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return decoder.isValid() && !decoder.hasError() && QStringView(text).isValidUtf16();
}

// Which file a failure concerns, by its full path, and why.
FileProblem problemAt(const QString &path, const QString &reason)
{
    return {QFileInfo(path).absoluteFilePath(), reason};
}

// The encoding of the file and the mark that names it, if any. A UTF-16 mark, as a Windows
// editor writes for "Unicode", settles it. Otherwise the file names no encoding: a file in the
// system's encoding (UTF-8 outside Windows, the code page on Windows) reads as it always has.
// A file written in a Windows 8-bit code page is no valid UTF-8 and reads as Windows-1252, or
// as Latin-1 where that codec is missing, so that its values arrive as they were written. The
// whole file decides, so all lines read alike.
std::pair<QByteArray, QByteArray> encodingOf(QByteArrayView bytes)
{
    if (bytes.startsWith(Utf16LeMark))
        return {Utf16LeMark, "UTF-16LE"};
    if (bytes.startsWith(Utf16BeMark))
        return {Utf16BeMark, "UTF-16BE"};
    if (bytes.startsWith(Utf8Mark) && decodesCleanly("UTF-8", bytes.sliced(Utf8Mark.size())))
        return {Utf8Mark, "UTF-8"};
    for (const QByteArray &candidate :
         {QByteArray(QStringConverter::nameForEncoding(QStringConverter::System)),
          QByteArray("windows-1252")}) {
        if (decodesCleanly(candidate, bytes))
            return {{}, candidate};
    }
    return {{}, QStringConverter::nameForEncoding(QStringConverter::Latin1)};
}

// A line ends at LF or CR LF. In UTF-16 a character takes two bytes or four, so a line feed
// counts only at an even offset.
QList<Line> linesOf(const QByteArray &bytes, const SettingsText &text)
{
    const QByteArray feed = text.encoded(QStringLiteral("\n")).value();
    const QByteArray carriageReturn = text.encoded(QStringLiteral("\r")).value();
    const qsizetype unit = feed.size();
    QList<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype at = bytes.indexOf(feed, start);
        while (at >= 0 && (at - start) % unit != 0)
            at = bytes.indexOf(feed, at + 1);
        if (at < 0) {
            lines.append({bytes.mid(start), QByteArray()});
            break;
        }
        const qsizetype end =
            at - start >= unit && bytes.mid(at - unit, unit) == carriageReturn ? at - unit : at;
        lines.append({bytes.mid(start, end - start), bytes.mid(end, at + unit - end)});
        start = at + unit;
    }
    return lines;
}

// The file that a name stands for: the one that a link leads to, which is where a save writes.
QString absolutePath(const QString &fileName)
{
    const QFileInfo info(fileName);
    return info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
}

// Why the file at `info` cannot be read as settings, when something other than a file stands
// there.
std::optional<QString> notAFile(const QFileInfo &info)
{
    if (info.isDir())
        return QStringLiteral("Is a directory");
    if (info.exists() && !info.isFile())
        return QStringLiteral("Not a regular file");
    return std::nullopt;
}

// All of the file, or nothing when it cannot be read to its end: a read that fails part-way
// must not pass for the end of the file.
std::optional<SettingsText> readSettingsText(const QString &fileName, FileProblem &problem)
{
    QFile file;
    if (!fileaccess::openRegularFile(fileName, file)) {
        // The system's reason first, before anything else can change it.
        problem.reason = qt_error_string();
        problem.path = absolutePath(fileName);
        const QFileInfo info(fileName);
        problem.missing = !info.exists() && !info.isSymLink();
        problem.reason = notAFile(info).value_or(problem.reason);
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        problem = {absolutePath(fileName), file.errorString()};
        return std::nullopt;
    }

    SettingsText text;
    std::tie(text.mark, text.encoding) = encodingOf(bytes);
    const QByteArray body = bytes.sliced(text.mark.size());
    // UTF-16 cut short, or with half a character pair: a changed line written after it would be
    // out of step with every character before it, and read back as something else.
    if (text.encoding.startsWith("UTF-16") &&
        (body.size() % 2 != 0 || !decodesCleanly(text.encoding, body))) {
        problem = {absolutePath(fileName), QStringLiteral("Not valid UTF-16")};
        return std::nullopt;
    }
    text.lines = linesOf(body, text);
    return text;
}

// Waits for the lock that every save of the file takes, in this and in other copies of the
// program. Busy when another save holds it too long; otherwise as for the new file, which
// would have to be made in the same folder.
RewriteFailure lockForSaving(QLockFile &lock, const QString &lockName, bool linked,
                             FileProblem &problem)
{
    // A folder left at the lock's name would look like a lock held for ever.
    if (const std::optional<QString> reason = notAFile(QFileInfo(lockName))) {
        problem = problemAt(lockName, *reason);
        return RewriteFailure::CreateFailed;
    }
    lock.setStaleLockTime(StaleLockTime);
    if (lock.tryLock(LockWait))
        return RewriteFailure::None;
    // The system's reason first, before anything else can change it.
    const QString systemReason = qt_error_string();
    problem = problemAt(lockName, QString());
    if (lock.error() != QLockFile::LockFailedError) {
        if (lock.error() != QLockFile::PermissionError) {
            problem.reason = systemReason;
            return RewriteFailure::CreateFailed;
        }
        problem.reason = QStringLiteral("Permission denied");
        return linked ? RewriteFailure::LinkTargetFolderNotWritable : RewriteFailure::CreateFailed;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    if (lock.getLockInfo(&pid, &host, &application))
        problem.reason = QStringLiteral("locked by %1, process %2 on %3")
                             .arg(application.isEmpty() ? QStringLiteral("a program") : application)
                             .arg(pid)
                             .arg(host);
    else
        problem.reason = QStringLiteral("locked by another program");
    return RewriteFailure::Busy;
}

} // namespace

bool loadSettingsFile(const QString &fileName, FileProblem *problem)
{
    FileProblem unused;
    const std::optional<SettingsText> text =
        readSettingsText(fileName, problem ? *problem : unused);
    if (!text)
        return false;

    // Unlike the three key lines, the CA certificate's has no value to keep: without it, the
    // server is not verified.
    ConnectionSettings::dbCaFile.clear();
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
        } else if (key == CaFileKey) {
            // All after the key's ':': a Windows path holds one of its own (C:\...).
            ConnectionSettings::dbCaFile = fields.mid(1).join(QLatin1Char(':'));
        }
    }
    return true;
}

bool keyLinesLookLikeUtf8(const QString &fileName)
{
    FileProblem unused;
    const std::optional<SettingsText> text = readSettingsText(fileName, unused);
    if (!text || !text->mark.isEmpty())
        return false;
    QByteArray bytes;
    bool beyondAscii = false;
    for (const Line &line : text->lines) {
        bytes += line.text + line.end;
        const QString key = text->fieldsOf(line).first();
        if (key == HostKey || key == UserKey || key == PasswordKey)
            beyondAscii = beyondAscii || std::any_of(line.text.cbegin(), line.text.cend(),
                                                     [](char c) { return (c & 0x80) != 0; });
    }
    return beyondAscii && decodesCleanly("UTF-8", bytes);
}

RewriteFailure rewriteSettingsFile(const QString &fileName, const SettingsChanges &changes,
                                   FileProblem *problem)
{
    FileProblem unused;
    FileProblem &why = problem ? *problem : unused;

    // A link stays a link: the file that it leads to is replaced, by a twin beside that file.
    const QFileInfo info(fileName);
    const bool linked = info.isSymbolicLink();
    const QString target = linked ? info.canonicalFilePath() : fileName;
    if (target.isEmpty()) {
        why = {info.symLinkTarget(), qt_error_string(ENOENT)};
        return RewriteFailure::ReadFailed;
    }
    // Nothing is locked beside what is no file (a link to a device, say).
    if (const std::optional<QString> reason = notAFile(QFileInfo(target))) {
        why = {absolutePath(fileName), *reason};
        return RewriteFailure::ReadFailed;
    }
    const QString lockName = target + QStringLiteral(".lock");
    QLockFile lock(lockName);
    if (const RewriteFailure locked = lockForSaving(lock, lockName, linked, why);
        locked != RewriteFailure::None)
        return locked;

    // All of the old file first, read under the lock: a value that the file cannot hold is
    // found before anything is written.
    std::optional<SettingsText> text = readSettingsText(target, why);
    const bool made = !text && why.missing;
    if (made)
        text = SettingsText{{}, {}, QStringConverter::nameForEncoding(QStringConverter::System)};
    else if (!text)
        return RewriteFailure::ReadFailed;

    struct Key
    {
        const QString &name;
        const std::optional<QString> &value;
        const QString &unchanged;
        bool present;
    };
    std::array<Key, 4> keys{{{HostKey, changes.host, ConnectionSettings::dbHost, false},
                             {UserKey, changes.user, ConnectionSettings::dbUser, false},
                             {PasswordKey, changes.password, ConnectionSettings::dbPassword, false},
                             {CaFileKey, changes.caFile, ConnectionSettings::dbCaFile, false}}};
    bool encodable = true;
    QByteArray content = text->mark;
    const auto keyLine = [&](const Key &key) {
        const std::optional<QByteArray> line =
            text->encoded(key.name + QLatin1Char(':') + key.value.value_or(key.unchanged));
        encodable = encodable && line;
        return line.value_or(QByteArray());
    };
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
        content += keyLine(*key) + line.end;
    }
    // A changed value whose key has no line gets one at the end, after a line end; a new file
    // gets the three that the Quorvo application reads, and a CA certificate line only where
    // there is a certificate.
    bool ended = text->lines.isEmpty() || !text->lines.last().end.isEmpty();
    for (const Key &key : keys) {
        if (key.present || !(key.value || made))
            continue;
        if (key.name == CaFileKey && key.value.value_or(key.unchanged).isEmpty())
            continue;
        if (!ended)
            content += text->lineEnd();
        content += keyLine(key) + text->lineEnd();
        ended = true;
    }
    if (!encodable) {
        const bool system =
            text->encoding == QStringConverter::nameForEncoding(QStringConverter::System);
        why = problemAt(target, QStringLiteral("encoded as %1")
                                    .arg(system ? QStringLiteral("the system's code page")
                                                : QString::fromLatin1(text->encoding)));
        return RewriteFailure::ValueNotEncodable;
    }

    const QString newName = target + QStringLiteral(".tmp");
    QFile newFile;
    // The file holds the database password: it has its access rights before it holds anything.
    const fileaccess::Creation creation =
        fileaccess::createExclusively(newName, made ? QString() : target, newFile);
    if (creation != fileaccess::Creation::Created) {
        why = problemAt(newName, qt_error_string());
        if (creation == fileaccess::Creation::AccessNotGiven)
            return RewriteFailure::PermissionsNotKept;
        return linked && creation == fileaccess::Creation::FolderNotWritable
                   ? RewriteFailure::LinkTargetFolderNotWritable
                   : RewriteFailure::CreateFailed;
    }

    QString failure;
    // The system's reason: QFile has none for a write that stops short (a full disk).
    if (newFile.write(content) != content.size() || !newFile.flush() ||
        !fileaccess::syncToDisk(newFile))
        failure = qt_error_string();
    newFile.close();
    if (failure.isEmpty() && newFile.error() != QFileDevice::NoError)
        failure = newFile.errorString();
    if (!failure.isEmpty()) {
        why = problemAt(newName, failure);
        QFile::remove(newName);
        return RewriteFailure::WriteFailed;
    }

    if (!fileaccess::replaceFile(newName, target)) {
        why = problemAt(target, qt_error_string());
        return RewriteFailure::RenameFailed;
    }
    return RewriteFailure::None;
}
