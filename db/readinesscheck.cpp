#include "db/inventorydb.h"

#include "db/dberror.h"
#include "db/grants.h"
#include "db/layout.h"
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

// "a = default, b = default" for the columns of the table that the Quorvo application uses: an
// UPDATE right on some columns only is no right to change the others.
QString setToDefault(const QString &table)
{
    QStringList assignments;
    const auto add = [&](const auto &columns) {
        for (const ExpectedColumn &column : columns)
            if (table == QLatin1String(column.table))
                assignments << QString::fromLatin1(column.column) + QStringLiteral(" = default");
    };
    add(InventoryColumns);
    add(AccountColumns);
    return assignments.join(QStringLiteral(", "));
}

// The server checks the rights on the tables of a statement when it prepares it, also on
// tables that do not exist yet, and executes nothing: a lack answers 1142 or 1143. Each is
// prepared with SQL's PREPARE, so that all go to the server in one batch. %1 is the table, %2
// its columns set to their defaults. A column that an older table lacks answers 1054, which is
// no lack of the right: the layout check names that column.
struct Probe
{
    const char *right;
    const char *statement;
};
const Probe Probes[] = {
    {"SELECT", "select * from %1"}, // every column: rights on some of them are not enough
    {"INSERT", "insert into %1 () values ()"},
    {"UPDATE", "update %1 set %2"},
    {"DELETE", "delete from %1"},
    {"CREATE", "create table %1 (quorvo_probe int)"},
};
const Probe &SelectProbe = Probes[0];
const Probe &UpdateProbe = Probes[2];
const Probe &CreateProbe = Probes[4]; // the one a table that does not exist yet passes
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
// which never does: it is always refused.
const QString TriggerProbe =
    QStringLiteral("create trigger quorvo_probe before insert on p_k for each row follows "
                   "quorvo_none set @quorvo_probe = 1");
const QString DropTriggerProbe = QStringLiteral("drop trigger if exists quorvo_probe");
constexpr int NeedsSuper = 1419;
const char *const TriggerTable = "p_k";
const char *const TriggerRight = "TRIGGER";

// The triggers read p_k and pkeys, and change both (now_date_pk sets the new row's date), with
// the rights of their definer. MariaDB gives a trigger its definer's own rights and PUBLIC's,
// none of its roles, default or not; MySQL gives it the definer's default roles alone, not the
// mandatory roles nor those that activate_all_roles_on_login adds to a session. The rights are
// asked once more under those roles, then under the session's again.
const char *const TriggerTables[] = {"pkeys", "p_k"};
const QString RolesOff = QStringLiteral("SET ROLE NONE");
const QString DefaultRoles = QStringLiteral("SET ROLE DEFAULT");
const QString SetRole = QStringLiteral("SET ROLE ");

// Settings that make the server refuse the Quorvo application's changes (each where the server
// has it), and the one under which it refuses changes to tables without transactions that a
// transaction or another table's change comes with.
const QString ServerSettingsQuery =
    QStringLiteral("SHOW GLOBAL VARIABLES WHERE Variable_name IN ('read_only', 'super_read_only', "
                   "'innodb_read_only', 'enforce_gtid_consistency')");
const QString GtidConsistency = QStringLiteral("enforce_gtid_consistency");

// The account's hourly limits, in the server's CREATE USER of it: "WITH MAX_QUERIES_PER_HOUR 100
// MAX_UPDATES_PER_HOUR 5". A server that does not show it has none to go by.
const QString ShowOwnAccount = QStringLiteral("SHOW CREATE USER CURRENT_USER()");
const QString MaxQueries = QStringLiteral("MAX_QUERIES_PER_HOUR");
const QString MaxUpdates = QStringLiteral("MAX_UPDATES_PER_HOUR");
// What a run sends besides the check's questions and the triggers it makes, as the servers
// count it: the connection's settings, the tables, the schema check, the key checkout and the
// account; on MySQL MySqlQueriesMore besides (two for its roles around the key checkout, two for
// the questions on replication, three more that it counts where the check's probes end their
// queries; as measured on MySQL 9.7, where MariaDB counts none of these).
// Statements that change data are the tables, the triggers to make and UpdatesBesideSchema more.
constexpr int QueriesBesideQuestions = 37;
constexpr int MySqlQueriesMore = 7;
constexpr int UpdatesBesideSchema = 6;
constexpr int InventoryTables = 8;
// The tables of the triggers, as they exist, with whether their engine has transactions.
const QString TriggerTableEnginesQuery = QStringLiteral(
    "select t.TABLE_NAME, t.ENGINE, coalesce(e.TRANSACTIONS, 'NO') = 'YES' from "
    "information_schema.TABLES t left join information_schema.ENGINES e on e.ENGINE = t.ENGINE "
    "where t.TABLE_SCHEMA = database() and t.TABLE_NAME in ('p_k', 'pkeys')");

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
    // The tables there are: a question on any other is refused (1146 where the right is held).
    // Where the server runs compound statements, the probes go in one, refused or not.
    RightsQuestions(QSet<QString> tables, bool inCompound)
        : existing(std::move(tables)), compound(inCompound)
    {}

    // SELECT, INSERT, UPDATE, DELETE and CREATE on every table, as the session has them.

    // SELECT, INSERT, UPDATE, DELETE and CREATE on every table of the run, as the session has
    // them. The Quorvo application reads and changes each of them with the account of
    // Quorvo.conf, and the run creates each one (also when it exists: "if not exists" asks for
    // the right first).
    void askRights()
    {
        for (const Probe &probe : Probes)
            for (const QString &table : layoutTables())
                askRight(probe, table, lacking);
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

    // The triggers' rights with the roles that they run with (switched to by rolesOfTriggers),
    // then with the session's roles again (restoreRoles).
    void askWithTriggersRoles(const QString &rolesOfTriggers, const QString &restoreRoles,
                              bool createsTriggers, bool galera)
    {
        ask(rolesOfTriggers, mustPass);
        for (const char *table : TriggerTables) {
            askRight(SelectProbe, QString::fromLatin1(table), ownLacking);
            askRight(UpdateProbe, QString::fromLatin1(table), ownLacking);
        }
        ownTrigger.grantsOnly = createsTriggers && galera;
        if (ownTrigger.grantsOnly)
            askGrants(ownTrigger);
        else if (createsTriggers)
            askTrigger(ownTrigger);
        ask(restoreRoles, mustPass);
    }

    // The settings that refuse the application's changes, and where GTID consistency refuses
    // its checkouts.
    void askServerSettings()
    {
        ask(ServerSettingsQuery, [this](const StatementOutcome &outcome) {
            mustPass(outcome);
            for (const QStringList &row : outcome.rows) {
                const QString value = row.value(1).toUpper();
                if (row.value(0) == GtidConsistency)
                    gtidConsistency = value == u"ON";
                else if (value != u"OFF" && value != u"0")
                    readOnly << row.value(0);
            }
            // Both lines where super_read_only turned read_only on: turning it off leaves
            // read_only on.
        });
        ask(TriggerTableEnginesQuery, [this](const StatementOutcome &outcome) {
            mustPass(outcome);
            engines = outcome.rows;
        });
    }

    // The account's hourly limits.
    void askHourlyLimits()
    {
        ask(ShowOwnAccount, [this](const StatementOutcome &outcome) {
            const QStringList words =
                outcome.rows.value(0).value(0).split(u' ', Qt::SkipEmptyParts);
            for (qsizetype i = 0; i + 1 < words.size(); ++i)
                if (words.at(i) == MaxQueries || words.at(i) == MaxUpdates)
                    limits.insert(words.at(i), words.at(i + 1).toInt());
        });
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
        // PREPARE leaves none behind, and its DEALLOCATE is refused in turn (as expected where
        // that one is), which tells nothing.
        const auto lastPrepare =
            std::find_if(statements.crbegin(), statements.crend(),
                         [](const QString &statement) { return statement.startsWith(u"PREPARE"); });
        const qsizetype deallocateAt = std::distance(lastPrepare, statements.crend());
        statements.insert(deallocateAt, Deallocate);
        answers.insert(deallocateAt, [](const StatementOutcome &) {});
        refusals.insert(deallocateAt, refusals.value(deallocateAt - 1));
        probes.insert(deallocateAt, probes.value(deallocateAt - 1));
        for (qsizetype &at : triggerProbes)
            at += at >= deallocateAt ? 1 : 0;

        const QList<StatementOutcome> outcomes =
            sendBatch(db, statements, AfterRefusal::GoOn, refusals, probes);
        // An answer may throw: a probe trigger that the server made after all goes first.
        const bool probeMade =
            std::any_of(triggerProbes.cbegin(), triggerProbes.cend(), [&](qsizetype at) {
                return outcomes.at(at).sent && !outcomes.at(at).refused();
            });
        QSqlQuery query(db);
        if (probeMade && !query.exec(DropTriggerProbe))
            throw classifyError(query.lastError());
        for (qsizetype i = 0; i < outcomes.size(); ++i)
            answers.at(i)(outcomes.at(i));
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

        const QStringList everyTable = layoutTables();
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
    const QStringList &readOnlySettings() const { return readOnly; }
    // "p_k (MyISAM)" for a trigger table without transactions where the other one has them, or
    // is yet to be made (with them), and the server enforces GTID consistency.
    QStringList gtidRefusedTables() const
    {
        QStringList refused;
        if (!gtidConsistency)
            return refused;
        const bool someTransactional =
            engines.size() < 2 ||
            std::any_of(engines.cbegin(), engines.cend(),
                        [](const QStringList &row) { return row.value(2) == u"1"; });
        for (const QStringList &row : engines)
            if (row.value(2) != u"1" && someTransactional)
                refused << QStringLiteral("%1 (%2)").arg(row.value(0), row.value(1));
        return refused;
    }
    const QString &usernameCharset() const { return charset; }
    // The limits lower than one run needs, where it makes that many triggers.
    QList<HourlyLimit> hourlyLimitsBelow(int triggersToMake, bool mySql) const
    {
        const int needed[] = {int(statements.size()) + QueriesBesideQuestions + triggersToMake +
                                  (mySql ? MySqlQueriesMore : 0),
                              InventoryTables + triggersToMake + UpdatesBesideSchema};
        QList<HourlyLimit> below;
        int i = 0;
        for (const QString &name : {MaxQueries, MaxUpdates}) {
            const int limit = limits.value(name);
            if (limit > 0 && limit < needed[i])
                below.append({name, limit, needed[i]});
            ++i;
        }
        return below;
    }

private:
    void ask(const QString &statement, std::function<void(const StatementOutcome &)> answer)
    {
        statements << statement;
        answers << std::move(answer);
        refusals << false;
        probes << false;
    }
    void askRight(const Probe &probe, const QString &table, QHash<QString, QStringList> &into)
    {
        QString statement = QString::fromLatin1(probe.statement).arg(quoted(table));
        if (&probe == &UpdateProbe)
            statement = statement.arg(setToDefault(table));
        ask(Prepare.arg(statement), [&into, &probe, table](const StatementOutcome &outcome) {
            if (denied(outcome))
                into[QString::fromLatin1(probe.right)] << table;
        });
        refusals.last() = &probe != &CreateProbe && !existing.contains(table);
        probes.last() = compound;
    }
    // The grants first: the probe's refusal ends the batch.
    void askTrigger(TriggerAnswer &into)
    {
        askGrants(into);
        triggerProbes << statements.size();
        ask(TriggerProbe, [&into](const StatementOutcome &outcome) {
            into.error = outcome.refused() ? sqlErrorNumber(outcome.error) : 0;
        });
        refusals.last() = true;
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
    QList<bool> refusals; // expected, by statement
    QList<bool> probes;   // that a compound statement may hold
    QSet<QString> existing;
    bool compound;
    QHash<QString, QStringList> lacking;    // in the session
    QHash<QString, QStringList> ownLacking; // with the roles the triggers run with
    TriggerAnswer trigger;
    TriggerAnswer ownTrigger;
    QList<qsizetype> triggerProbes; // where in the batch
    bool wildcards = true;
    QString charset;
    QHash<QString, int> limits;
    QStringList readOnly;
    bool gtidConsistency = false;
    QList<QStringList> engines;
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

    QSet<QString> tables;
    problems.differences = schemaDifferences(true, &problems.triggersInPlace, &tables);
    // On Galera, a run that finds p_k missing claims it (see createSchema).
    problems.claimPK = galera && !tables.contains(QStringLiteral("p_k"));
    const bool createsTriggers = problems.triggersInPlace.size() < triggerNames().size();
    // The account's own rights count where it is, or becomes, the definer of a trigger.
    const bool definer = createsTriggers || problems.triggersInPlace.values().contains(account);

    RightsQuestions questions(std::move(tables), mariaDb);
    questions.askRights();
    if (!mariaDb)
        questions.askReferences();
    questions.askUsernameCharset();
    // Only a run that creates a trigger needs SUPER and TRIGGER to make one.
    if (createsTriggers && galera)
        questions.askTriggerGrants();
    else if (createsTriggers)
        questions.askTriggerCreation();
    // MariaDB runs the triggers without roles, MySQL with the definer's default roles: those that
    // the session has at login, unless mandatory_roles or activate_all_roles_on_login add others.
    problems.triggersUseDefaultRoles = !mariaDb;
    if (definer && mariaDb && !role.isEmpty())
        questions.askWithTriggersRoles(RolesOff, SetRole + quoted(role), createsTriggers, galera);
    else if (definer && !mariaDb && role != u"NONE")
        questions.askWithTriggersRoles(DefaultRoles, SetRole + role, createsTriggers, galera);
    questions.askServerSettings();
    questions.askHourlyLimits();
    questions.send(*db);

    problems.missingRights = questions.missingRights(problems.database);
    problems.triggersNeedSuper = galera
                                     ? createsTriggers && !problems.replication.galeraTrustsTriggers
                                     : questions.needsSuper();
    problems.readOnlySettings = questions.readOnlySettings();
    problems.gtidRefusedTables = questions.gtidRefusedTables();
    problems.hourlyLimits = questions.hourlyLimitsBelow(
        int(triggerNames().size() - problems.triggersInPlace.size()), !mariaDb);
    if (!holdsName(*db, username, questions.usernameCharset()))
        problems.usernameCharset = questions.usernameCharset();
    return problems;
}
