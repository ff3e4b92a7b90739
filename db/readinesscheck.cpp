#include "db/inventorydb.h"

#include "db/dberror.h"
#include "db/grants.h"
#include "db/statementbatch.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <iterator>

namespace {

// current_role() is MariaDB's one role or NULL, and MySQL's active roles as SET ROLE takes them,
// or NONE.
const QString ServerQuery =
    QStringLiteral("select database(), version(), current_user(), current_role()");
// The character set that the user name is stored in: the column's, or the database's for the
// accounts table that the run is yet to create.
const QString UsernameCharsetQuery = QStringLiteral(
    "select coalesce((select CHARACTER_SET_NAME from information_schema.COLUMNS where "
    "TABLE_SCHEMA = database() and TABLE_NAME = 'users' and COLUMN_NAME = 'username'), "
    "@@character_set_database)");
// Whether the name comes back unchanged from that character set. A character that it lacks
// turns into '?' there, which a server out of strict mode would store, and a strict one refuse
// only after the tables were made. The name goes in as a literal: MySQL refuses to convert a
// bound value that the set cannot hold (3988) instead of answering.
const QString UsernameRoundTrip =
    QStringLiteral("select cast(convert(convert(_utf8mb4 X'%1' using %2) using utf8mb4) as "
                   "binary) = X'%1'");

// Every table of the run. The Quorvo application reads and changes each of them with the
// account of Quorvo.conf, and the run creates each one (also when it exists: "if not exists"
// asks for the right first).
const char *const Tables[] = {"people", "pkeys", "p_k", "groups", "p_g",
                              "rooms",  "k_r",   "g_r", "users"};

// The server checks the rights on the tables of a statement when it prepares it, also on
// tables that do not exist yet, and executes nothing: a lack answers 1142 or 1143. Each is
// prepared with SQL's PREPARE, so that all go to the server in one batch. %1 is the table.
struct Probe
{
    const char *right;
    const char *statement;
};
const Probe Probes[] = {
    {"SELECT", "select * from %1"}, // every column: rights on some of them are not enough
    {"INSERT", "insert into %1 () values ()"},
    {"UPDATE", "update %1 set quorvo_probe = 1"},
    {"DELETE", "delete from %1"},
    {"CREATE", "create table %1 (quorvo_probe int)"},
};
const Probe &SelectProbe = Probes[0];
const Probe &UpdateProbe = Probes[2];
const QString Prepare = QStringLiteral("PREPARE quorvo_probe FROM '%1'");
const QString Deallocate = QStringLiteral("DEALLOCATE PREPARE quorvo_probe");
constexpr int DeniedOnDatabase = 1044;
constexpr int DeniedOnTable = 1142;
constexpr int DeniedOnColumn = 1143;

// MySQL checks REFERENCES on the table that a foreign key refers to, when it prepares the
// statement; MariaDB never checks it. One question per such table, from a table that refers to
// it, whose own CREATE is asked apart.
struct Reference
{
    const char *table;
    const char *column;
    const char *from;
};
const Reference References[] = {
    {"people", "Tnumber", "p_k"},
    {"pkeys", "TagNum", "p_k"},
    {"groups", "Gid", "p_g"},
    {"rooms", "RoomId", "k_r"},
};
const QString ReferenceProbe =
    QStringLiteral("create table %1 (quorvo_probe int, foreign key (quorvo_probe) references "
                   "%2 (%3))");
const char *const ReferencesRight = "REFERENCES";

// Whether the server would create a trigger on p_k, asked without creating one. Servers check
// SUPER where binary logging asks for it (1419), then TRIGGER on the table (1142), and only then
// that the table exists (1146) and the trigger it is to follow (MariaDB 4031, MySQL 3011),
// which never does.
const QString TriggerProbe =
    QStringLiteral("create trigger quorvo_probe before insert on p_k for each row follows "
                   "quorvo_none set @quorvo_probe = 1");
const QString DropTriggerProbe = QStringLiteral("drop trigger if exists quorvo_probe");
constexpr int NeedsSuper = 1419;
const char *const TriggerTable = "p_k";
const char *const TriggerRight = "TRIGGER";

// The triggers read p_k and pkeys, and change both (now_date_pk sets the new row's date), with
// the rights of their definer. MariaDB gives a trigger its definer's own rights and PUBLIC's,
// none of its roles, default or not; MySQL gives it the definer's default roles, which are the
// roles that a session of the account has at login.
const char *const TriggerTables[] = {"pkeys", "p_k"};
const QString RolesOff = QStringLiteral("SET ROLE NONE");

const QString ShowGrants = QStringLiteral("SHOW GRANTS");
// With partial revokes on, MySQL takes '%' and '_' in a grant's database name as they are.
const QString PartialRevokesQuery = QStringLiteral("select @@partial_revokes");

QString quoted(QString identifier)
{
    return u'`' + identifier.replace(u'`', QStringLiteral("``")) + u'`';
}

bool denied(const StatementOutcome &outcome)
{
    const int number = sqlErrorNumber(outcome.error);
    return number == DeniedOnTable || number == DeniedOnColumn || number == DeniedOnDatabase;
}

void mustPass(const StatementOutcome &outcome)
{
    if (outcome.refused())
        throw classifyError(outcome.error);
}

QStringList firstColumn(const QList<QStringList> &rows)
{
    QStringList column;
    for (const QStringList &row : rows)
        column << row.value(0);
    return column;
}

// Whether the trigger would be created as far as the rights go: nothing where the question was
// not asked, its error number otherwise (0 where it went through, against all expectation).
using TriggerAnswer = std::optional<int>;

// What the answer says of TRIGGER on p_k; where binary logging kept the server from telling,
// the grants that the session has, if they show it.
bool lacksTrigger(const TriggerAnswer &answer, const QStringList &grants, const QString &database,
                  bool wildcards)
{
    if (answer == NeedsSuper)
        return holding(grants, QString::fromLatin1(TriggerRight), database,
                       QString::fromLatin1(TriggerTable), wildcards) == Holding::Lacking;
    return answer == DeniedOnTable || answer == DeniedOnColumn || answer == DeniedOnDatabase;
}

} // namespace

ReadinessProblems InventoryDb::checkReadiness(const QString &username)
{
    ReadinessProblems problems;
    QSqlQuery query(*db);
    if (!query.exec(ServerQuery) || !query.next())
        throw classifyError(query.lastError());
    problems.database = query.value(0).toString();
    const bool mariaDb = query.value(1).toString().contains(QStringLiteral("MariaDB"));
    const QString account = query.value(2).toString();
    const QString role = query.value(3).toString();

    problems.differences = schemaDifferences(true, &problems.triggersInPlace);
    const bool createsTriggers = problems.triggersInPlace.size() < triggerNames().size();
    // The account's own rights count where it is, or becomes, the definer of a trigger.
    const bool definer = createsTriggers || problems.triggersInPlace.values().contains(account);
    const bool rolesApart = mariaDb && !role.isEmpty() && definer;

    // Every question goes in one batch, each with what its answer means.
    QStringList statements;
    QList<std::function<void(const StatementOutcome &)>> answers;
    const auto ask = [&](const QString &statement,
                         std::function<void(const StatementOutcome &)> answer) {
        statements << statement;
        answers << std::move(answer);
    };
    QHash<QString, QStringList> lacking;    // right: tables, in the session
    QHash<QString, QStringList> ownLacking; // right: tables, without the session's roles
    const auto askRight = [&](const Probe &probe, const QString &table,
                              QHash<QString, QStringList> &into) {
        ask(Prepare.arg(QString::fromLatin1(probe.statement).arg(quoted(table))),
            [&into, &probe, table](const StatementOutcome &outcome) {
                if (denied(outcome))
                    into[QString::fromLatin1(probe.right)] << table;
            });
    };
    for (const Probe &probe : Probes)
        for (const char *table : Tables)
            askRight(probe, QString::fromLatin1(table), lacking);
    bool wildcards = true;
    if (!mariaDb) {
        for (const Reference &reference : References) {
            const QString table = QString::fromLatin1(reference.table);
            const QString from = QString::fromLatin1(reference.from);
            ask(Prepare.arg(ReferenceProbe.arg(quoted(from), quoted(table),
                                               QString::fromLatin1(reference.column))),
                [&lacking, table, from](const StatementOutcome &outcome) {
                    // A lack of CREATE on the table that refers answers first.
                    if (denied(outcome) && !lacking.value(QStringLiteral("CREATE")).contains(from))
                        lacking[QString::fromLatin1(ReferencesRight)] << table;
                });
        }
        ask(PartialRevokesQuery, [&wildcards](const StatementOutcome &outcome) {
            mustPass(outcome);
            wildcards = outcome.rows.value(0).value(0) != u"1";
        });
    }
    TriggerAnswer triggerAnswer;
    TriggerAnswer ownTriggerAnswer;
    QStringList grants;
    QStringList ownGrants;
    bool triggerMade = false;
    const auto askTrigger = [&](TriggerAnswer &into, QStringList &grantsInto) {
        ask(TriggerProbe, [&into, &triggerMade](const StatementOutcome &outcome) {
            into = sqlErrorNumber(outcome.error);
            triggerMade = triggerMade || !outcome.refused();
        });
        ask(ShowGrants, [&grantsInto](const StatementOutcome &outcome) {
            mustPass(outcome);
            grantsInto = firstColumn(outcome.rows);
        });
    };
    // Only a run that creates a trigger needs SUPER (where binary logging asks for it) and
    // TRIGGER to make one.
    if (createsTriggers)
        askTrigger(triggerAnswer, grants);
    if (rolesApart) {
        // The session's role off for the questions that concern the triggers, then on again.
        ask(RolesOff, mustPass);
        for (const char *table : TriggerTables) {
            askRight(SelectProbe, QString::fromLatin1(table), ownLacking);
            askRight(UpdateProbe, QString::fromLatin1(table), ownLacking);
        }
        if (createsTriggers)
            askTrigger(ownTriggerAnswer, ownGrants);
        ask(QStringLiteral("SET ROLE ") + quoted(role), mustPass);
    }
    // The one prepared statement goes after the last question that prepares it. A refused
    // PREPARE leaves none behind, and its DEALLOCATE is refused in turn, which tells nothing.
    const auto lastPrepare =
        std::find_if(statements.crbegin(), statements.crend(),
                     [](const QString &s) { return s.startsWith(u"PREPARE"); });
    const qsizetype deallocateAt = std::distance(lastPrepare, statements.crend());
    statements.insert(deallocateAt, Deallocate);
    answers.insert(deallocateAt, [](const StatementOutcome &) {});
    QString charset;
    ask(UsernameCharsetQuery, [&charset](const StatementOutcome &outcome) {
        mustPass(outcome);
        charset = outcome.rows.value(0).value(0);
    });

    const QList<StatementOutcome> outcomes = sendBatch(*db, statements, AfterRefusal::GoOn);
    for (qsizetype i = 0; i < outcomes.size(); ++i)
        answers.at(i)(outcomes.at(i));
    if (triggerMade && !query.exec(DropTriggerProbe))
        throw classifyError(query.lastError());

    const QString triggerTable = QString::fromLatin1(TriggerTable);
    const QString triggerRight = QString::fromLatin1(TriggerRight);
    problems.triggersNeedSuper = triggerAnswer == NeedsSuper;
    if (lacksTrigger(triggerAnswer, grants, problems.database, wildcards))
        lacking[triggerRight] << triggerTable;
    if (lacksTrigger(ownTriggerAnswer, ownGrants, problems.database, wildcards))
        ownLacking[triggerRight] << triggerTable;

    QStringList everyTable;
    for (const char *table : Tables)
        everyTable << QString::fromLatin1(table);
    // A right lacking on every table is named for the database.
    const auto addMissing = [&](const QString &right, const QStringList &tables, bool own) {
        if (!tables.isEmpty())
            problems.missingRights.append(
                {right, tables == everyTable ? QStringList() : tables, own});
    };
    QStringList rights;
    for (const Probe &probe : Probes)
        rights << QString::fromLatin1(probe.right);
    rights << QString::fromLatin1(ReferencesRight) << triggerRight;
    for (const QString &right : std::as_const(rights))
        addMissing(right, lacking.value(right), false);
    // What the session lacks as well is named once, above.
    for (const QString &right : std::as_const(rights)) {
        QStringList tables = ownLacking.value(right);
        tables.removeIf([&](const QString &table) { return lacking.value(right).contains(table); });
        addMissing(right, tables, true);
    }

    // The name goes into the statement as it is, so it must be one.
    const bool isName =
        !charset.isEmpty() && std::all_of(charset.cbegin(), charset.cend(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                   (c >= u'0' && c <= u'9') || c == u'_';
        });
    if (isName) {
        const QString hex = QString::fromLatin1(username.toUtf8().toHex());
        if (!query.exec(UsernameRoundTrip.arg(hex, charset)) || !query.next())
            throw classifyError(query.lastError());
        if (query.value(0).toInt() != 1)
            problems.usernameCharset = charset;
    }
    return problems;
}
