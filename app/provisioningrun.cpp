#include "app/provisioningrun.h"

#include "db/dberror.h"
#include "db/inventorydb.h"
#include "db/passworddigest.h"

#include <QSqlDatabase>

namespace {

const QString ConnectionName = QStringLiteral("admins");
const QString DatabaseName = QStringLiteral("ozrinventory");

} // namespace

ProvisioningRun::ProvisioningRun() = default;

ProvisioningRun::~ProvisioningRun()
{
    discardConnection();
    // This thread ends with this object: no later construction would remove the registration.
    QSqlDatabase::removeDatabase(ConnectionName);
}

void ProvisioningRun::run(const QString &username, const QString &password)
{
    RunResult result;
    try {
        // A kept connection that the server has closed since (its idle timeout, a restart) is
        // replaced without a word; one lost during the run below is reported.
        if (inventoryDb && !inventoryDb->isAlive())
            discardConnection();
        if (!inventoryDb)
            inventoryDb = std::make_unique<InventoryDb>(ConnectionName, DatabaseName);
        inventoryDb->createSchema();
        result.added = inventoryDb->addUser(username, hashPassword(username, password));
    } catch (int code) {
        result.error = code;
        if (code == DbError::ConnectionFailed || code == DbError::ConnectionLost)
            discardConnection();
    }
    emit finished(result);
}

void ProvisioningRun::discardConnection()
{
    inventoryDb.reset();
}
