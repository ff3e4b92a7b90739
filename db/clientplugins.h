#pragma once

#include <QString>

// The MySQL client library loads the login plugins of accounts of other kinds than the oldest
// (MySQL 8's caching_sha2_password, ed25519, PAM) from a folder fixed when it was built. This
// points it at `folder`, where the Windows package has them, unless the administrator named one
// in MARIADB_PLUGIN_DIR. Nothing where the folder does not exist. Call before the first
// connection, in the window's thread.
void useClientPlugins(const QString &folder);

namespace clientplugins {

// Keeps each plugin in `folder` loaded until the process ends (on Windows; nothing elsewhere).
// Qt ends the client library when its last connection is closed, which unloads the plugins,
// while the run's thread still holds per-thread data of them; the code that frees that data at
// the thread's end would then be gone, and the program would hang at exit.
void keepLoaded(const QString &folder);

} // namespace clientplugins
