#pragma once

#include <QString>

#include <optional>

// The settings file lives in the working directory; a rewrite goes through its ".tmp" twin.
inline const QString SettingsFileName = QStringLiteral("Quorvo.conf");

// Reads the key lines of the file into ConnectionSettings. A key that is missing keeps its
// value; a key on several lines takes the value of the last one. False when the file cannot
// be opened or is no regular file (a FIFO is never waited on), and then nothing changes.
bool loadSettingsFile(const QString &fileName = SettingsFileName);

// The values that a save stores. A value left out was not changed: its key lines keep their
// bytes, even where they read differently from what they hold (a password line with two ':').
struct SettingsChanges
{
    std::optional<QString> host;
    std::optional<QString> user;
    std::optional<QString> password;
};

enum class RewriteFailure {
    None,
    OpenFailed,   // the old file could not be read, or the new one not created
    WriteFailed,  // the new file could not be written in full; it has been removed
    RenameFailed, // the new file could not replace the old one; both are left in place
    // The file lacks the key line of a changed value, so it would be stored nowhere; nothing
    // was written. (Lines are never added to the file.)
    KeyLineMissing,
    // A changed value holds a character that the file's 8-bit encoding lacks; nothing was
    // written rather than a '?' in its place.
    ValueNotEncodable,
    // The file is a link, and the folder of the file that it leads to may not be written.
    LinkTargetFolderNotWritable,
    // The new file could not be given access rights within the old one's; it has been removed.
    PermissionsNotKept,
};

// Rewrites the key lines of the changed values; every other byte of the file stays as it was.
// The new content goes to a temporary twin (fileName + ".tmp", or beside the file that a link
// leads to, and the link stays) and then replaces the file in one step, so a failure at any
// point leaves the old file whole.
RewriteFailure rewriteSettingsFile(const QString &fileName, const SettingsChanges &changes);
