#include "db/inventorydb.h"

#include "db/dberror.h"
#include "db/grants.h"
#include "db/replication.h"
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
// roles that a session of the account has at login (unless activate_all_roles_on_login adds the
// others there, which MySQL 9.7 did not give a trigger when tried: then the key checkout after
// the schema is made finds the lack).
const char *const TriggerTables[] = {"pkeys", "p_k"};
const QString PKExists = QStringLiteral(
    "select count(*) from information_schema.TABLES where TABLE_SCHEMA = database() and "
    "TABLE_NAME = 'p_k'");
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

// Whether the server would create a trigger, as far as the rights go, and the grants to fall
// back on where binary logging kept it from telling TRIGGER.
struct TriggerAnswer
{
    std::optional<int> error; // nothing where not asked; 0 where it went through after all
    QStringList grants;
    bool grantsOnly = false; // asked without the probe trigger: the grants tell TRIGGER

    bool needsSuper() const { return error == NeedsSuper; }
    bool lacksTrigger(const QString &database, bool wildcards) const
    {
        if (needsSuper() || grantsOnly)
            return holding(grants, QString::fromLatin1(TriggerRight), database,
                           QString::fromLatin1(TriggerTable), wildcards) == Holding::Lacking;
        return error == DeniedOnTable || error == DeniedOnColumn || error == DeniedOnDatabase;
    }
};

// The questions about the account's rights, sent to the server as one batch, and what their
// answers mean. Right by right: the tables that lack it.
class RightsQuestions
{
public:
    // SELECT, INSERT, UPDATE, DELETE and CREATE on every table, as the session has them.
    void askRights()
    {
        for (const Probe &probe : Probes)
            for (const char *table : Tables)
                askRight(probe, QString::fromLatin1(table), lacking);
    }

    // REFERENCES on the tables that foreign keys refer to, and how MySQL reads database patterns.
    void askReferences()
    {
        for (const Reference &reference : References) {
            const QString table = QString::fromLatin1(reference.table);
            const QString from = QString::fromLatin1(reference.from);
            ask(Prepare.arg(ReferenceProbe.arg(quoted(from), quoted(table),
                                               QString::fromLatin1(reference.column))),
                [this, table, from](const StatementOutcome &outcome) {
                    // A lack of CREATE on the table that refers answers first.
                    if (denied(outcome) && !lacking.value(QStringLiteral("CREATE")).contains(from))
                        lacking[QString::fromLatin1(ReferencesRight)] << table;
                });
        }
        ask(PartialRevokesQuery, [this](const StatementOutcome &outcome) {
            mustPass(outcome);
            wildcards = outcome.rows.value(0).value(0) != u"1";
        });
    }

    // SUPER, where binary logging asks for it, and TRIGGER, as creating a trigger needs them.
    void askTriggerCreation() { askTrigger(trigger); }
    // TRIGGER as the grants show it, without the probe trigger: a trigger made on a Galera node
    // goes to every node, and two of them at once have hung a node for good.
    void askTriggerGrants()
    {
        trigger.grantsOnly = true;
        askGrants(trigger);
    }

    // The triggers' rights with the session's role off, then on again.
    void askWithoutRole(const QString &role, bool createsTriggers, bool galera)
    {
        ask(RolesOff, mustPass);
        for (const char *table : TriggerTables) {
            askRight(SelectProbe, QString::fromLatin1(table), ownLacking);
            askRight(UpdateProbe, QString::fromLatin1(table), ownLacking);
        }
        ownTrigger.grantsOnly = createsTriggers && galera;
        if (ownTrigger.grantsOnly)
            askGrants(ownTrigger);
        else if (createsTriggers)
            askTrigger(ownTrigger);
        ask(QStringLiteral("SET ROLE ") + quoted(role), mustPass);
    }

    // The character set of users.username, which the user name must fit.
    void askUsernameCharset()
    {
        ask(UsernameCharsetQuery, [this](const StatementOutcome &outcome) {
            mustPass(outcome);
            charset = outcome.rows.value(0).value(0);
        });
    }

    void send(const QSqlDatabase &db)
    {
        // The one prepared statement goes after the last question that prepares it. A refused
        // PREPARE leaves none behind, and its DEALLOCATE is refused in turn, which tells nothing.
        const auto lastPrepare =
            std::find_if(statements.crbegin(), statements.crend(),
                         [](const QString &statement) { return statement.startsWith(u"PREPARE"); });
        const qsizetype deallocateAt = std::distance(lastPrepare, statements.crend());
        statements.insert(deallocateAt, Deallocate);
        answers.insert(deallocateAt, [](const StatementOutcome &) {});

        const QList<StatementOutcome> outcomes = sendBatch(db, statements, AfterRefusal::GoOn);
        for (qsizetype i = 0; i < outcomes.size(); ++i)
            answers.at(i)(outcomes.at(i));
        QSqlQuery query(db);
        if ((trigger.error == 0 || ownTrigger.error == 0) && !query.exec(DropTriggerProbe))
            throw classifyError(query.lastError());
    }

    // Each right in the order the run checks them, with the tables that lack it; then those
    // that the account lacks without its role and has with it.
    QList<MissingRight> missingRights(const QString &database)
    {
        const QString triggerRight = QString::fromLatin1(TriggerRight);
        if (trigger.lacksTrigger(database, wildcards))
            lacking[triggerRight] << QString::fromLatin1(TriggerTable);
        if (ownTrigger.lacksTrigger(database, wildcards))
            ownLacking[triggerRight] << QString::fromLatin1(TriggerTable);

        QStringList everyTable;
        for (const char *table : Tables)
            everyTable << QString::fromLatin1(table);
        QList<MissingRight> missing;
        // A right lacking on every table is named for the database.
        const auto add = [&](const QString &right, const QStringList &tables, bool forTriggers) {
            if (!tables.isEmpty())
                missing.append({right, tables == everyTable ? QStringList() : tables, forTriggers});
        };
        QStringList rights;
        for (const Probe &probe : Probes)
            rights << QString::fromLatin1(probe.right);
        rights << QString::fromLatin1(ReferencesRight) << triggerRight;
        for (const QString &right : std::as_const(rights))
            add(right, lacking.value(right), false);
        // What the session lacks as well is named once, above.
        for (const QString &right : std::as_const(rights)) {
            QStringList tables = ownLacking.value(right);
            tables.removeIf(
                [&](const QString &table) { return lacking.value(right).contains(table); });
            add(right, tables, true);
        }
        return missing;
    }

    bool needsSuper() const { return trigger.needsSuper(); }
    const QString &usernameCharset() const { return charset; }

private:
    void ask(const QString &statement, std::function<void(const StatementOutcome &)> answer)
    {
        statements << statement;
        answers << std::move(answer);
    }
    void askRight(const Probe &probe, const QString &table, QHash<QString, QStringList> &into)
    {
        ask(Prepare.arg(QString::fromLatin1(probe.statement).arg(quoted(table))),
            [&into, &probe, table](const StatementOutcome &outcome) {
                if (denied(outcome))
                    into[QString::fromLatin1(probe.right)] << table;
            });
    }
    void askTrigger(TriggerAnswer &into)
    {
        ask(TriggerProbe, [&into](const StatementOutcome &outcome) {
            into.error = outcome.refused() ? sqlErrorNumber(outcome.error) : 0;
        });
        askGrants(into);
    }
    void askGrants(TriggerAnswer &into)
    {
        ask(ShowGrants, [&into](const StatementOutcome &outcome) {
            mustPass(outcome);
            for (const QStringList &row : outcome.rows)
                into.grants << row.value(0);
        });
    }

    QStringList statements;
    QList<std::function<void(const StatementOutcome &)>> answers;
    QHash<QString, QStringList> lacking;    // in the session
    QHash<QString, QStringList> ownLacking; // without the session's role
    TriggerAnswer trigger;
    TriggerAnswer ownTrigger;
    bool wildcards = true;
    QString charset;
};

// Whether the name comes back unchanged from the character set; a set that is no plain name
// is not asked about, as it goes into the statement as it is.
bool holdsName(const QSqlDatabase &db, const QString &username, const QString &charset)
{
    const bool isName =
        !charset.isEmpty() && std::all_of(charset.cbegin(), charset.cend(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                   (c >= u'0' && c <= u'9') || c == u'_';
        });
    if (!isName)
        return true;
    QSqlQuery query(db);
    const QString hex = QString::fromLatin1(username.toUtf8().toHex());
    if (!query.exec(UsernameRoundTrip.arg(hex, charset)) || !query.next())
        throw classifyError(query.lastError());
    return query.value(0).toInt() == 1;
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
    // A run here would clash with what the server takes from others, or never be replicated.
    problems.replication = serverRole(*db, mariaDb);
    if (problems.replication.refused())
        return problems;
    const bool galera = problems.replication.galera;

    problems.differences = schemaDifferences(true, &problems.triggersInPlace);
    if (galera) {
        if (!query.exec(PKExists) || !query.next())
            throw classifyError(query.lastError());
        problems.claimPK = query.value(0).toInt() == 0;
    }
    const bool createsTriggers = problems.triggersInPlace.size() < triggerNames().size();
    // The account's own rights count where it is, or becomes, the definer of a trigger.
    const bool definer = createsTriggers || problems.triggersInPlace.values().contains(account);

    RightsQuestions questions;
    questions.askRights();
    if (!mariaDb)
        questions.askReferences();
    // Only a run that creates a trigger needs SUPER and TRIGGER to make one.
    if (createsTriggers && galera)
        questions.askTriggerGrants();
    else if (createsTriggers)
        questions.askTriggerCreation();
    if (mariaDb && !role.isEmpty() && definer)
        questions.askWithoutRole(role, createsTriggers, galera);
    questions.askUsernameCharset();
    questions.send(*db);

    problems.missingRights = questions.missingRights(problems.database);
    problems.triggersNeedSuper = galera
                                     ? createsTriggers && !problems.replication.galeraTrustsTriggers
                                     : questions.needsSuper();
    if (!holdsName(*db, username, questions.usernameCharset()))
        problems.usernameCharset = questions.usernameCharset();
    return problems;
}
