#pragma once

#include "db/schemadifference.h"

#include <QString>

// The sentence the setup dialog shows for a database that differs from what the Quorvo
// application needs. Plain text: names and types come from the database as they are.
QString schemaDifferenceMessage(const SchemaDifference &difference);
