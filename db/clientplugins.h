#pragma once

#include <QString>

// The MySQL client library loads the login plugins of accounts of other kinds than the oldest
// (MySQL 8's caching_sha2_password, ed25519, PAM) from a folder fixed when it was built. This
// loads those in `folder`, where the Windows package has them, for the library to use, unless the
// administrator named a folder of them in MARIADB_PLUGIN_DIR. Nothing where the folder does not
// exist. Call before the first connection, in the window's thread.
void useClientPlugins(const QString &folder);

namespace clientplugins {

// Loads each plugin in `folder` by its wide path (on Windows; nothing elsewhere): the library
// itself takes an 8-bit path, in which letters outside the system's code page are lost, so it
// could not load them from a folder named with such letters. They stay loaded until the process
// ends: Qt ends the client library when its last connection is closed, which would unload
// plugins the library loaded itself while the run's thread still holds per-thread data of them;
// the code that frees that data at the thread's end would then be gone, and the program would
// hang at exit.
void load(const QString &folder);

// Hands the plugins that `load` loaded to the client library, which from then on finds them
// without looking into any folder. Call before each connection, in its thread: the library
// forgets them whenever it is ended. Nothing where none were loaded.
void offerToLibrary();

} // namespace clientplugins
