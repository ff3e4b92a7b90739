#pragma once

#include "db/readiness.h"
#include "db/schemadifference.h"

#include <QString>
#include <QStringList>

// The sentence the setup dialog shows for a database that differs from what the Quorvo
// application needs. Plain text: names and types come from the database as they are.
QString schemaDifferenceMessage(const SchemaDifference &difference);

// One sentence per problem that keeps the database from being ready, in the order found: the
// rights, binary logging, then the tables and triggers. Plain text.
QStringList readinessMessages(const ReadinessProblems &problems);
