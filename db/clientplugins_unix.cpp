#include "db/clientplugins.h"

// Shared objects whose code a thread still needs are not the trouble here that DLLs are on
// Windows; the system's client library finds its own plugins.
void clientplugins::keepLoaded(const QString &) {}
