#include "db/inventorydb.h"

#include "db/dberror.h"
#include "db/statementbatch.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Only what a rollback undoes is tried: a table of an engine without transactions (MyISAM)
// would keep the test key. Then whether the server is MySQL, and the session's roles there.
const QString SessionQuery = QStringLiteral(
    "select (select count(*) from information_schema.TABLES t join information_schema.ENGINES e "
    "on e.ENGINE = t.ENGINE where t.TABLE_SCHEMA = database() and t.TABLE_NAME in ('p_k', "
    "'pkeys') and e.TRANSACTIONS = 'YES'), version() not like '%MariaDB%', current_role()");
constexpr int TransactionalTables = 2;

// A key of its own, added with 3 in stock, checked out once, the checkout changed to two and
// checked back in: each trigger runs once, as its definer, and pkeys.InInv must go 2, 1, 3 (a
// stock that no check on pkeys may refuse as empty). The key takes the lowest free number, which
// fits the column whatever numbers the application's keys have. The checkout goes to a person
// there is, or to none (NULL passes the reference to people); where p_k takes no checkout without
// a person and there is none yet, to one made for it. No row of the application is changed, and
// what is made is rolled back. One batch, one round trip.
const QStringList CheckoutStatements = {
    QStringLiteral("start transaction"),
    QStringLiteral("set @quorvo_key = (select min(c.n) from (select 1 as n union all select "
                   "TagNum + 1 from pkeys) c where c.n > 0 and not exists (select 1 from pkeys "
                   "k where k.TagNum = c.n))"),
    QStringLiteral("insert into pkeys (TagNum, KeyName, Total, InInv) values (@quorvo_key, "
                   "'check', 3, 3)"),
    QStringLiteral("insert into people (Tnumber) select 'T00000000' from dual where not exists "
                   "(select 1 from people) and exists (select 1 from information_schema.COLUMNS "
                   "where TABLE_SCHEMA = database() and TABLE_NAME = 'p_k' and COLUMN_NAME = "
                   "'Tnumber' and IS_NULLABLE = 'NO')"),
    QStringLiteral("set @quorvo_person = (select min(Tnumber) from people)"),
    QStringLiteral("insert into p_k (Tnumber, TagNum, NumOut) values (@quorvo_person, "
                   "@quorvo_key, 1)"),
    QStringLiteral("set @quorvo_checkout = last_insert_id()"),
    QStringLiteral("set @quorvo_out = (select InInv from pkeys where TagNum = @quorvo_key)"),
    QStringLiteral("set @quorvo_dated = (select DateOut is not null from p_k where "
                   "TransactionID = @quorvo_checkout)"),
    QStringLiteral("update p_k set NumOut = 2 where TransactionID = @quorvo_checkout"),
    QStringLiteral("set @quorvo_changed = (select InInv from pkeys where TagNum = @quorvo_key)"),
    QStringLiteral("delete from p_k where TransactionID = @quorvo_checkout"),
    QStringLiteral("select @quorvo_dated, concat_ws(', ', @quorvo_out, @quorvo_changed, (select "
                   "InInv from pkeys where TagNum = @quorvo_key))"),
    QStringLiteral("rollback"),
};
const QString Rollback = QStringLiteral("rollback");
const QString NeededStock = QStringLiteral("2, 1, 3");
// On MySQL the triggers of another session's checkout run with their definer's default roles:
// the check runs under those, then under the session's own again.
const QString DefaultRoles = QStringLiteral("SET ROLE DEFAULT");
const QString SetRole = QStringLiteral("SET ROLE ");
constexpr int Deadlock = 1213;

} // namespace

std::optional<CheckoutFailure> InventoryDb::checkCheckout()
{
    QSqlQuery query(*db);
    if (!query.exec(SessionQuery) || !query.next())
        throw classifyError(query.lastError());
    if (query.value(0).toInt() != TransactionalTables) {
        qDebug() << "p_k or pkeys is not transactional: no key is checked out to try the "
                    "triggers, as it could not be undone"
                 << Qt::endl;
        return std::nullopt;
    }
    const bool mySql = query.value(1).toInt() == 1;
    const QString restoreRoles = SetRole + query.value(2).toString();

    QStringList statements = CheckoutStatements;
    if (mySql)
        statements = QStringList{DefaultRoles} + statements + QStringList{restoreRoles};
    // Whatever ends the batch, the session leaves without the test key and with its own roles.
    const auto cleanUp = [&] {
        QSqlQuery again(*db);
        const bool ok = again.exec(Rollback) && (!mySql || again.exec(restoreRoles));
        return ok ? QSqlError() : again.lastError();
    };
    QList<StatementOutcome> outcomes;
    try {
        outcomes = sendBatch(*db, statements, AfterRefusal::Stop);
    } catch (int) {
        cleanUp();
        throw;
    }
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        if (!outcomes.at(i).refused())
            continue;
        qDebug() << "Key checkout:" << statements.at(i) << outcomes.at(i).error << Qt::endl;
        if (const QSqlError error = cleanUp(); error.isValid())
            throw classifyError(error);
        // A conflict with another session, on this server or another node, says nothing about
        // the triggers: the next run tries again.
        if (sqlErrorNumber(outcomes.at(i).error) == Deadlock)
            throw classifyError(outcomes.at(i).error);
        return CheckoutFailure{dbFailureReason(outcomes.at(i).error), true, {}};
    }
    const qsizetype foundAt = (mySql ? 1 : 0) + CheckoutStatements.size() - 2;
    const QStringList found = outcomes.at(foundAt).rows.value(0);
    const bool dated = found.value(0) == u"1";
    if (dated && found.value(1) == NeededStock)
        return std::nullopt;
    return CheckoutFailure{{}, dated, found.value(1)};
}
