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
// would keep the test key.
const QString TransactionalQuery = QStringLiteral(
    "select count(*) from information_schema.TABLES t join information_schema.ENGINES e on "
    "e.ENGINE = t.ENGINE where t.TABLE_SCHEMA = database() and t.TABLE_NAME in ('p_k', 'pkeys') "
    "and e.TRANSACTIONS = 'YES'");
constexpr int TransactionalTables = 2;

// A key of its own, added with 2 in stock, checked out once, the checkout changed to two and
// checked back in: each trigger runs once, as its definer, and pkeys.InInv must go 1, 0, 2.
// The checkout goes to a person there is (an older p_k may not take one without), or to none
// (NULL passes the reference to people) on a database without people yet; no row of the
// application is changed. One batch, one round trip.
const QStringList CheckoutStatements = {
    QStringLiteral("start transaction"),
    QStringLiteral("set @quorvo_key = (select coalesce(max(TagNum), 0) + 1 from pkeys)"),
    QStringLiteral("insert into pkeys (TagNum, KeyName, Total, InInv) values (@quorvo_key, "
                   "'check', 2, 2)"),
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
const QString NeededStock = QStringLiteral("1, 0, 2");
constexpr int Deadlock = 1213;

} // namespace

std::optional<CheckoutFailure> InventoryDb::checkCheckout()
{
    QSqlQuery query(*db);
    if (!query.exec(TransactionalQuery) || !query.next())
        throw classifyError(query.lastError());
    if (query.value(0).toInt() != TransactionalTables) {
        qDebug() << "p_k or pkeys is not transactional: no key is checked out to try the "
                    "triggers, as it could not be undone"
                 << Qt::endl;
        return std::nullopt;
    }

    const QList<StatementOutcome> outcomes = sendBatch(*db, CheckoutStatements, AfterRefusal::Stop);
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        if (!outcomes.at(i).refused())
            continue;
        qDebug() << "Key checkout:" << CheckoutStatements.at(i) << outcomes.at(i).error << Qt::endl;
        if (!query.exec(Rollback))
            throw classifyError(query.lastError());
        // A conflict with another session, on this server or another node, says nothing about
        // the triggers: the next run tries again.
        if (sqlErrorNumber(outcomes.at(i).error) == Deadlock)
            throw classifyError(outcomes.at(i).error);
        return CheckoutFailure{dbFailureReason(outcomes.at(i).error), true, {}};
    }
    const QStringList found = outcomes.at(CheckoutStatements.size() - 2).rows.value(0);
    const bool dated = found.value(0) == u"1";
    if (dated && found.value(1) == NeededStock)
        return std::nullopt;
    return CheckoutFailure{{}, dated, found.value(1)};
}
