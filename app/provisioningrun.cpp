#include "app/provisioningrun.h"

#include "db/dberror.h"
#include "db/inventorydb.h"
#include "db/passworddigest.h"

#include <QSqlDatabase>

#include <utility>

ProvisioningRun::ProvisioningRun(QString connection, QString database)
    : connectionName(std::move(connection)), databaseName(std::move(database))
{
    // Made in the window's thread before it moves to its own: the drivers are looked up here, so
    // that the run's thread can end cleanly.
    InventoryDb::lookUpDrivers();
}

// Whoever moved this object to another thread gives up the connection there before that
// thread ends; then this has nothing left to do.
ProvisioningRun::~ProvisioningRun()
{
    discardConnection();
}

void ProvisioningRun::run(const QString &username, const QString &password)
{
    RunResult result;
    bool changing = false;
    try {
        // A kept connection that the server has closed since (its idle timeout, a restart) is
        // replaced without a word; one lost during the run below is reported.
        if (inventoryDb && !inventoryDb->isAlive())
            discardConnection();
        if (!inventoryDb)
            inventoryDb = std::make_unique<InventoryDb>(connectionName, databaseName);
        // A refusal half-way would leave part of the schema behind, and a success the Quorvo
        // application cannot use is worse: what can be seen beforehand is checked before the
        // first statement that changes anything.
        result.notReady = inventoryDb->checkReadiness(username);
        if (!result.notReady.isEmpty()) {
            emit finished(result);
            return;
        }
        changing = true;
        inventoryDb->createSchema(result.notReady.triggersInPlace, result.notReady.claimPK);
        // Tables of an older layout are kept as they are: an account is added only to a
        // database that the Quorvo application can work with, and only once a key can be
        // checked out there (the triggers run with rights that no check before can see whole,
        // such as those of an earlier definer).
        result.difference = inventoryDb->checkSchema();
        if (!result.difference)
            result.checkoutFailure = inventoryDb->checkCheckout();
        if (!result.difference && !result.checkoutFailure)
            result.added = inventoryDb->addUser(username, hashPassword(username, password));
    } catch (int code) {
        result.error = code;
        result.reason = dbFailureReason(lastDbFailure());
        if (code == DbError::ConnectionFailed || code == DbError::ConnectionLost)
            discardConnection();
        // A refusal that no check foresaw: what it left, which the next run keeps. (A name that
        // is taken or cannot be stored comes after the whole schema.)
        else if (changing && (code == DbError::Unclassified || code == DbError::NoErrorNumber))
            result.schemaInPlace = inventoryDb->schemaInPlace();
    }
    emit finished(result);
}

void ProvisioningRun::discardConnection()
{
    inventoryDb.reset();
    // The connection closes here, in the thread that opened it, rather than at the next
    // construction, which may never come.
    QSqlDatabase::removeDatabase(connectionName);
}
