#include "db/inventorydb.h"

#include "db/dberror.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>

InventoryDb::InventoryDb(const QString &connectionName, const QString &databaseName)
{
    Q_UNUSED(connectionName);
    Q_UNUSED(databaseName);
    throw int(DbError::ConnectionFailed);
}

InventoryDb::~InventoryDb()
{
    qDebug() << "destruct" << Qt::endl;
}
