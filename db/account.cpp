#include "db/inventorydb.h"

#include "db/dberror.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// The Quorvo application reads these two columns when an account logs in. The password is the
// 20 raw digest bytes: a binary column stores them unchanged whatever the character set of the
// database, where a text column would refuse or cut bytes that are not valid text.
const QString CreateUsers =
    QStringLiteral("create table IF NOT EXISTS users( username varchar(25) primary key, password "
                   "varbinary(30)) Engine = Innodb;");
const QString InsertUser = QStringLiteral("insert into users (username, password) values (?, ?)");
const QString StartTransaction = QStringLiteral("start transaction");
const QString Commit = QStringLiteral("commit");
const QString Rollback = QStringLiteral("rollback");

} // namespace

bool InventoryDb::addUser(QString username, QByteArray digest)
{
    QSqlQuery query(*db);

    query.prepare(CreateUsers);
    if (!query.exec()) {
        qDebug() << "Table 1" << Qt::endl;
        // Only the label goes to the debug output here, but the user is shown the reason.
        recordDbFailure(query.lastError());
        throw int{DbError::ConnectionFailed};
    }

    // The account counts as added only once the server has said that it keeps it.
    if (!query.exec(StartTransaction))
        throw classifyError(query.lastError());
    query.prepare(InsertUser);
    query.bindValue(0, username, QSql::In);
    query.bindValue(1, digest, QSql::In);
    if (!query.exec()) {
        const int code = classifyError(query.lastError());
        QSqlQuery(*db).exec(Rollback);
        throw code;
    }
    if (!query.exec(Commit))
        throw classifyError(query.lastError());
    return true;
}
