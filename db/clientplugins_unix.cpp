#include "db/clientplugins.h"

// The system's client library finds its own plugins, in a folder whose name it can take.
void clientplugins::load(const QString &) {}

void clientplugins::offerToLibrary() {}
