#pragma once

#include <QString>

#include <optional>

// The settings file lives in the working directory; a rewrite goes through its ".tmp" twin.
inline const QString SettingsFileName = QStringLiteral("Quorvo.conf");

// Which file a failure concerns and why, in the system's words, for the user to see.
struct FileProblem
{
    QString path;         // absolute
    QString reason;       // such as "No such file or directory"
    bool missing = false; // nothing exists at the name
};

// Reads the key lines of the file into ConnectionSettings. A key that is missing keeps its
// value; a key on several lines takes the value of the last one. False when the file cannot
// be opened or is no regular file (a FIFO is never waited on), and then nothing changes and
// `problem` says why.
bool loadSettingsFile(const QString &fileName = SettingsFileName, FileProblem *problem = nullptr);

// Whether the file names no encoding (no byte order mark) while it is valid UTF-8 and its key
// lines hold characters beyond ASCII, as Windows' Notepad saves "UTF-8". The program reads such a
// file in the system's encoding, as the Quorvo application does: where that is an 8-bit code
// page, each of those characters arrives as two or three others. False for a file that cannot
// be read.
bool keyLinesLookLikeUtf8(const QString &fileName = SettingsFileName);

// The values that a save stores. A value left out was not changed: its key lines keep their
// bytes, even where they read differently from what they hold (a password line with two ':').
struct SettingsChanges
{
    std::optional<QString> host;
    std::optional<QString> user;
    std::optional<QString> password;
    std::optional<QString> caFile = std::nullopt; // may be left out of a brace list
};

enum class RewriteFailure {
    None,
    ReadFailed,   // the old file exists but could not be read
    CreateFailed, // the lock or the new file could not be created beside the old one
    // Another save holds the lock for longer than a save takes; a later try will get it.
    Busy,
    WriteFailed,  // the new file could not be written in full; it has been removed
    RenameFailed, // the new file could not replace the old one; both are left in place
    // A changed value holds a character that the file's 8-bit encoding lacks; nothing was
    // written rather than a '?' in its place.
    ValueNotEncodable,
    // The file is a link, and the folder of the file that it leads to may not be written.
    LinkTargetFolderNotWritable,
    // The new file could not be given access rights within the old one's (or, for a file
    // made anew, its owner's alone); it has been removed.
    PermissionsNotKept,
};

// Rewrites the key lines of the changed values; every other byte of the file stays as it was.
// A changed value whose key has no line gets one at the end of the file. A file that does not
// exist is made, readable by its owner only, with the three key lines of the connection (and
// the CA certificate's where there is one): the values left out are those in
// ConnectionSettings, as the dialog showed them.
// The new content goes to a temporary twin (fileName + ".tmp", or beside the file that a link
// leads to, and the link stays) and then replaces the file in one step, so a failure at any
// point leaves the old file whole. Saves of several processes take turns on a lock file
// (".lock" beside the ".tmp"), so each one reads what the one before it wrote.
RewriteFailure rewriteSettingsFile(const QString &fileName, const SettingsChanges &changes,
                                   FileProblem *problem = nullptr);
