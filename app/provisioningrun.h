#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

#include <memory>

class InventoryDb;

// How a provisioning run ended, handed from the run's thread to the window.
struct RunResult
{
    bool added = false; // the account is stored
    int error = 0;      // the DbError code that ended the run; 0 where none was thrown
};
Q_DECLARE_METATYPE(RunResult)

// The provisioning run on a thread of its own, so that the window stays responsive while the
// server works or waits. It owns the one connection to the server: a Qt SQL connection may be
// used only in the thread that made it, so the connection is made, used and given up here.
// Every member is called in this object's thread.
class ProvisioningRun : public QObject
{
    Q_OBJECT

public:
    ProvisioningRun();
    ~ProvisioningRun() override;

    // Creates the schema and stores the account, then reports how that went with finished().
    void run(const QString &username, const QString &password);
    // The next run connects anew, with the connection settings as they are then.
    void discardConnection();

signals:
    void finished(const RunResult &result);

private:
    // Kept from the first run that connects until a connection failure or loss, so that a
    // corrected user name can be sent again on the same connection.
    std::unique_ptr<InventoryDb> inventoryDb;
};
