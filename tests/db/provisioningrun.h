#pragma once

#include "db/inventorydb.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace testdatabase {

struct RunOutcome
{
    int code = 0; // the DbError thrown, 0 when none was
    std::optional<SchemaDifference> difference;
};

// A provisioning run through the database code alone, as the dialog makes it: connect, create
// the schema, add the account "admin", then check what the database holds. The digest is
// plain letters, which any text column takes too, so that an old text password column is met
// by the check rather than by the insert.
inline RunOutcome provision(const QString &connectionName, const QString &databaseName)
{
    RunOutcome outcome;
    try {
        InventoryDb db(connectionName, databaseName);
        db.createSchema();
        db.addUser(QStringLiteral("admin"), QByteArray(20, 'x'));
        outcome.difference = db.checkSchema();
    } catch (int code) {
        outcome.code = code;
    }
    return outcome;
}

} // namespace testdatabase
