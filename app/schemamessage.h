#pragma once

#include "db/checkoutfailure.h"
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

// What the setup dialog says when a key could not be checked out through the triggers once they
// were in place, and the reason for the line under it. Plain text.
QString checkoutFailureMessage();
QString checkoutFailureReason(const CheckoutFailure &failure);
