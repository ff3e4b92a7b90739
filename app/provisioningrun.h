#pragma once

#include "db/checkoutfailure.h"
#include "db/readiness.h"
#include "db/schemadifference.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class InventoryDb;

// How a provisioning run ended, handed from the run's thread to the window.
struct RunResult
{
    bool added = false; // the account is stored
    int error = 0;      // the DbError code that ended the run; 0 where none was thrown
    QString reason;     // the server's number and text behind that code
    // What keeps the database from being ready, found before the run changed anything; where
    // there is anything, nothing was changed.
    ReadinessProblems notReady;
    // Where the database differs from what the Quorvo application needs after the schema was
    // made; no account is added then.
    std::optional<SchemaDifference> difference;
    // Why a key could not be checked out through the triggers once the schema was in place; no
    // account is added then.
    std::optional<CheckoutFailure> checkoutFailure;
    // Where an error ended the run after it had begun to make the schema on a connection that
    // still works: the tables and triggers that exist now.
    QStringList schemaInPlace;
};
Q_DECLARE_METATYPE(RunResult)

// The provisioning run on a thread of its own, so that the window stays responsive while the
// server works or waits. It owns the one connection to the server: a Qt SQL connection may be
// used only in the thread that made it, so the connection is made, used and given up here.
// Every member is called in this object's thread. Nothing called there may leave a thread_local
// object with a destructor behind (QRegularExpression does): the Windows runtime destroys such
// objects after their memory is gone when the thread ends, and the program hangs at exit.
class ProvisioningRun : public QObject
{
    Q_OBJECT

public:
    explicit ProvisioningRun(QString connectionName = QStringLiteral("admins"),
                             QString databaseName = QStringLiteral("ozrinventory"));
    ~ProvisioningRun() override;

    // Checks that the run can leave a database the Quorvo application can work with, creates
    // the schema, checks it, checks a key out and in through it, and stores the account, then
    // reports how that went with finished().
    void run(const QString &username, const QString &password);
    // Closes the connection; the next run connects anew, with the connection settings as they
    // are then.
    void discardConnection();

signals:
    void finished(const RunResult &result);

private:
    QString connectionName;
    QString databaseName;
    // Kept from the first run that connects until a connection failure or loss, so that a
    // corrected user name can be sent again on the same connection.
    std::unique_ptr<InventoryDb> inventoryDb;
};
