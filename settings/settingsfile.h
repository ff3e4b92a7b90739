#pragma once

#include <QString>

// The settings file lives in the working directory; a rewrite goes through its ".tmp" twin.
inline const QString SettingsFileName = QStringLiteral("Quorvo.conf");

// Reads the key lines of the file into ConnectionSettings. A key that is missing keeps its
// value; a key on several lines takes the value of the last one. False when the file cannot
// be opened, and then nothing changes.
bool loadSettingsFile(const QString &fileName = SettingsFileName);

enum class RewriteFailure {
    None,
    OpenFailed,   // the old file could not be read, or the new one not created
    WriteFailed,  // the new file could not be written in full; it has been removed
    RenameFailed, // the new file could not replace the old one; both are left in place
    // The file lacks one of the three key lines, so a value would be stored nowhere; nothing
    // was written. (Lines are never added to the file.)
    KeyLineMissing,
};

// Rewrites the file with new values on its key lines, keeping every other line and the order.
// The new content goes to fileName + ".tmp" first and then replaces the old file in one step,
// so a failure at any point leaves the old file whole.
RewriteFailure rewriteSettingsFile(const QString &fileName, const QString &host,
                                   const QString &user, const QString &password);
