#include "db/inventorydb.h"

#include "db/dberror.h"
#include "settings/connectionsettings.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>

namespace {

const QString DriverName = QStringLiteral("QMYSQL");
constexpr int Port = 3306; // the settings file has no port

// A server that drops our packets would otherwise hold the window for minutes.
const QString ConnectOptions = QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=10");

} // namespace

InventoryDb::InventoryDb(const QString &connectionName, const QString &databaseName)
{
    // An earlier object leaves its connection registered; no handle of it is alive any more.
    QSqlDatabase::removeDatabase(connectionName);
    db = std::make_unique<QSqlDatabase>(QSqlDatabase::addDatabase(DriverName, connectionName));
    connName = db->connectionName();

    db->setHostName(ConnectionSettings::dbHost);
    db->setDatabaseName(databaseName);
    db->setUserName(ConnectionSettings::dbUser);
    db->setPassword(ConnectionSettings::dbPassword);
    db->setPort(Port);
    db->setConnectOptions(ConnectOptions);
    if (db->open())
        return;

    const QSqlError error = db->lastError();
    qDebug() << error << Qt::endl;
    recordDbFailure(error);
    // removeDatabase warns while a handle of the connection is alive, and leaves that handle
    // unusable: the handle goes first.
    db.reset();
    QSqlDatabase::removeDatabase(connectionName);
    throw int{DbError::ConnectionFailed};
}

InventoryDb::~InventoryDb()
{
    qDebug() << "destruct" << Qt::endl;
}

bool InventoryDb::transaction()
{
    return db->transaction();
}

bool InventoryDb::commit()
{
    return db->commit();
}

bool InventoryDb::rollback()
{
    return db->rollback();
}
