#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QSqlDatabase;

// The one connection of the setup tool to the inventory database. It exists only while its
// connection is open: the constructor opens it or throws DbError::ConnectionFailed.
class InventoryDb
{
public:
    InventoryDb(const QString &connectionName, const QString &databaseName);
    ~InventoryDb();
    InventoryDb(const InventoryDb &) = delete;
    InventoryDb &operator=(const InventoryDb &) = delete;

private:
    std::unique_ptr<QSqlDatabase> db;
    QString connName;
};
