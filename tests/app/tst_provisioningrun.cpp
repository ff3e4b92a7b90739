#include "app/provisioningrun.h"
#include "settings/connectionsettings.h"
#include "app/schemamessage.h"
#include "db/dberror.h"
#include "db/inventorydb.h"

#include "digestvectors.h"
#include "messagelog.h"
#include "testdatabase.h"

#include <QScopeGuard>
#include <QtTest>

using testdatabase::DatabaseCase;
using testdatabase::LimitedAccount;

namespace {

// The line README.md gives for the account, on the case's database.
const QString ReadmeRights =
    QStringLiteral("SELECT, INSERT, UPDATE, DELETE, CREATE, REFERENCES, TRIGGER");
const QString AllButTrigger = QStringLiteral("SELECT, INSERT, UPDATE, DELETE, CREATE, REFERENCES");

// How a run ended, in short: what kept it from starting, or its error code, or "added".
QStringList outcome(const RunResult &run)
{
    QStringList lines;
    const ServerRole &role = run.notReady.replication;
    if (role.replica || role.groupSecondary || role.updateEverywhere)
        lines << (role.replica ? QStringLiteral("replica") : QStringLiteral("group member"));
    if (!role.wsrepModeAgainstTriggers.isEmpty())
        lines << QStringLiteral("wsrep_mode ") + role.wsrepModeAgainstTriggers;
    for (const MissingRight &missing : run.notReady.missingRights)
        lines << missing.right + QStringLiteral(" on ") +
                     (missing.tables.isEmpty() ? QStringLiteral("the database")
                                               : missing.tables.join(u',')) +
                     (missing.forTriggers ? QStringLiteral(" without roles") : QString());
    if (run.notReady.triggersNeedSuper)
        lines << QStringLiteral("binary logging");
    lines << run.notReady.readOnlySettings;
    for (const QString &table : run.notReady.gtidRefusedTables)
        lines << QStringLiteral("GTID ") + table;
    for (const HourlyLimit &limit : run.notReady.hourlyLimits)
        lines << QStringLiteral("%1 %2 < %3").arg(limit.name).arg(limit.limit).arg(limit.needed);
    for (const SchemaDifference &difference : run.notReady.differences)
        lines << schemaDifferenceMessage(difference);
    if (!run.notReady.usernameCharset.isEmpty())
        lines << QStringLiteral("name not storable in ") + run.notReady.usernameCharset;
    if (const auto &failure = run.checkoutFailure)
        lines << QStringLiteral("checkout: ") + (failure->reason.isEmpty()
                                                     ? QStringLiteral("stock ") + failure->stock
                                                     : failure->reason.section(u':', 0, 0));
    if (run.error != 0)
        lines << QStringLiteral("error %1").arg(run.error);
    if (run.added)
        lines << QStringLiteral("added");
    return lines;
}

} // namespace

// How a provisioning run ends: with a database the Quorvo application can use and the account
// stored, refused beforehand with every problem found and nothing changed, or with a
// difference found after the schema was made.
class TestProvisioningRun : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldReportDifferenceAfterRun_data();
    void shouldReportDifferenceAfterRun();
    void shouldRefuseAndChangeNothing_data();
    void shouldRefuseAndChangeNothing();

private:
    // A whole run in this thread, with the account of ConnectionSettings.
    RunResult provision(const QString &user = QStringLiteral("admin")) const;
    int accounts() const;
    // Tables with their columns, triggers, accounts and keys, as the database holds them there.
    QStringList snapshot(const testdatabase::AdminConnection &on) const;
    // A key checked out and back in by an account with the rights the Quorvo application needs.
    void checkKeysOutAsAnotherAccount();
};

void TestProvisioningRun::init()
{
    startCase(QStringLiteral("outcome"));
    QUORVO_REQUIRE_SERVER(*admin);
    QVERIFY(scratch->isCreated());
}

void TestProvisioningRun::cleanup()
{
    endCase();
}

RunResult TestProvisioningRun::provision(const QString &user) const
{
    ProvisioningRun run(connectionName, scratch->databaseName());
    RunResult result;
    connect(&run, &ProvisioningRun::finished, [&result](const RunResult &r) { result = r; });
    run.run(user, QStringLiteral("secret"));
    return result;
}

int TestProvisioningRun::accounts() const
{
    const QStringList count = scratch->rows(QStringLiteral("select count(*) from users"));
    return count.size() == 1 ? count.first().toInt() : 0; // no table: no account
}

QStringList TestProvisioningRun::snapshot(const testdatabase::AdminConnection &on) const
{
    on.exec(QStringLiteral("USE `%1`").arg(scratch->databaseName()));
    const auto rows = [&on](const QString &sql) { return testdatabase::rows(on.database(), sql); };
    return rows(QStringLiteral(
               "select table_name, column_name, column_type from information_schema.columns "
               "where table_schema = database() order by 1, 2")) +
           rows(QStringLiteral(
               "select trigger_name, event_object_table, action_timing, event_manipulation from "
               "information_schema.triggers where trigger_schema = database() order by 1")) +
           rows(QStringLiteral("select username, hex(password) from users")) +
           rows(QStringLiteral("select TagNum, InInv from pkeys")) +
           rows(QStringLiteral("select TransactionID from p_k"));
}

void TestProvisioningRun::shouldReportDifferenceAfterRun_data()
{
    QTest::addColumn<QStringList>("before"); // statements before the run
    QTest::addColumn<QStringList>("after");  // and after it, before a second check
    QTest::addColumn<QString>("message");    // empty: no difference

    QTest::newRow("what the run made") << QStringList{} << QStringList{} << QString();
    // The text column of earlier setups keeps the digest's bytes in a one-byte character set.
    QTest::newRow("users of earlier setups, in latin1")
        << QStringList{"create table users (username varchar(25) primary key, password "
                       "varchar(30)) character set latin1"}
        << QStringList{} << QString();
    QTest::newRow("a trigger on another event")
        << QStringList{}
        << QStringList{"drop trigger change_keys",
                       "create trigger change_keys AFTER DELETE ON p_k FOR EACH ROW set @a = 1"}
        << "The trigger change_keys runs AFTER DELETE; it must run AFTER UPDATE.";
    QTest::newRow("a trigger gone") << QStringList{} << QStringList{"drop trigger checkin_keys"}
                                    << "The table p_k lacks the trigger checkin_keys.";
    QTest::newRow("a table gone") << QStringList{} << QStringList{"drop table g_r"}
                                  << "The database lacks the table g_r.";
}

void TestProvisioningRun::shouldReportDifferenceAfterRun()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, message);

    QString failure;
    for (const QString &statement : before)
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
    RunResult run = provision();
    QCOMPARE(outcome(run), QStringList{"added"});
    // The digest's bytes are stored unchanged.
    QCOMPARE(scratch->value(QStringLiteral("select hex(password) from users")),
             QString::fromLatin1(
                 testsupport::digestVector(QStringLiteral("even length, lower-case user name"))
                     .digest.toHex()
                     .toUpper()));
    for (const QString &statement : after)
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
    run.difference = InventoryDb(connectionName, scratch->databaseName()).checkSchema();
    QCOMPARE(run.difference ? schemaDifferenceMessage(*run.difference) : QString(), message);
}

// An account of the case's own on a server with binary logging on. Statements may name {db}
// ({db\\_}: with '_' escaped), {account} and {role}; "provisioned" runs the account through once
// first, as "first"; "default role" makes {role} the account's default role, in the server's own
// syntax, as does "replica of nowhere" the server a replica of a source that never answers; a
// statement marked "MySQL:" has no counterpart on MariaDB, which skips the row where it comes first
// and the statement otherwise; a row with one marked "Galera:" or "Group Replication:" runs on a
// server of that set alone.
// Where MySQL answers otherwise for a reason, onMySql holds its outcome.
void TestProvisioningRun::shouldRefuseAndChangeNothing_data()
{
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QStringList>("verdict");
    QTest::addColumn<QStringList>("onMySql"); // empty: as on MariaDB
    QTest::addColumn<QString>("user");

    const auto row = [](const char *name, const QStringList &statements, const QStringList &verdict,
                        const QStringList &onMySql = {},
                        const QString &user = QStringLiteral("admin")) {
        QTest::newRow(name) << statements << verdict << onMySql << user;
    };
    // The server's default, as after a restart: log_bin_trust_function_creators is on for the
    // other rows.
    const QString untrusted = QStringLiteral("set global log_bin_trust_function_creators = 0");
    const QString onDb = QStringLiteral(" ON `{db}`.* TO {account}");
    const auto grant = [&](const QString &rights) { return "GRANT " + rights + onDb; };
    const QStringList added{"added"};
    row("the README's rights", {grant(ReadmeRights)}, added);
    row("SUPER instead of trusted creators",
        {grant(ReadmeRights), "GRANT SUPER ON *.* TO {account}", untrusted}, added);
    // MariaDB runs a trigger with its definer's own rights, without roles; MySQL with the
    // definer's default roles.
    const QStringList throughRole{"CREATE ROLE {role}",
                                  "GRANT " + ReadmeRights + " ON `{db}`.* TO {role}",
                                  "GRANT {role} TO {account}", "default role"};
    const QStringList triggersWithoutRoles{"SELECT on pkeys,p_k without roles",
                                           "UPDATE on pkeys,p_k without roles",
                                           "TRIGGER on p_k without roles"};
    row("through a default role", throughRole, triggersWithoutRoles, added);
    row("through a default role, with TRIGGER granted directly",
        throughRole + QStringList{grant("TRIGGER")}, triggersWithoutRoles.mid(0, 2), added);
    row("through a nested role",
        {"CREATE ROLE {role}", "CREATE ROLE {role}_n",
         "GRANT " + ReadmeRights + " ON `{db}`.* TO {role}_n", "GRANT {role}_n TO {role}",
         "GRANT {role} TO {account}", "default role"},
        triggersWithoutRoles, added);
    // Where binary logging keeps the server from telling TRIGGER, the grants tell it.
    row("through a default role, binary logging without SUPER",
        throughRole + QStringList{untrusted}, triggersWithoutRoles + QStringList{"binary logging"},
        {"binary logging"});
    row("globally", {"GRANT " + ReadmeRights + " ON *.* TO {account}"}, added);
    row("through a wildcard database",
        {"GRANT " + ReadmeRights + " ON `quorvo\\_t%`.* TO {account}"}, added);
    // The server takes the rights of the most specific database grant alone: here the one
    // that names the database, '_' escaped.
    row("a wildcard behind the database's own grant",
        {"GRANT ALL ON `quorvo%`.* TO {account}",
         "GRANT SELECT, INSERT, UPDATE, CREATE, REFERENCES, TRIGGER ON `{db\\_}`.* TO {account}"},
        {"DELETE on the database"});
    // The roles count as one: their most specific database grant alone applies on MariaDB. Of
    // two database patterns that reach the account through roles, MySQL 9.7 applies the
    // wildcard one (`quorvo%` over the database's own name).
    row("a wildcard of a nested role behind the database's own grant",
        {"CREATE ROLE {role}", "CREATE ROLE {role}_n",
         "GRANT SELECT, INSERT, DELETE, CREATE, REFERENCES, TRIGGER ON `{db\\_}`.* TO {role}",
         "GRANT UPDATE ON `quorvo%`.* TO {role}_n", "GRANT {role}_n TO {role}",
         "GRANT {role} TO {account}", "default role"},
        {"UPDATE on the database", "SELECT on pkeys,p_k without roles",
         "TRIGGER on p_k without roles"},
        {"SELECT on the database", "INSERT on the database", "DELETE on the database",
         "CREATE on the database", "TRIGGER on p_k"});
    const QString pk = QStringLiteral("create table p_k (TransactionID int primary key "
                                      "auto_increment, Tnumber char(9), TagNum int, NumOut int, "
                                      "DateOut date, DateDue date)");
    row("TRIGGER on p_k alone",
        {pk, grant(AllButTrigger), "GRANT TRIGGER ON `{db}`.p_k TO {account}"}, added);
    const QStringList rights = ReadmeRights.split(QStringLiteral(", "));
    for (const QString &right : rights) {
        QStringList others = rights;
        others.removeOne(right);
        const QByteArray name = "no " + right.toLatin1();
        // MariaDB never asks for REFERENCES; MySQL asks for it on the tables referred to.
        if (right == u"REFERENCES")
            row(name, {grant(others.join(QStringLiteral(", ")))}, added,
                {"REFERENCES on people,pkeys,groups,rooms"});
        else
            row(name, {grant(others.join(QStringLiteral(", ")))},
                {right + (right == u"TRIGGER" ? " on p_k" : " on the database")});
    }
    row("REFERENCES lacking on one table referred to",
        {grant(ReadmeRights), "provisioned", "REVOKE REFERENCES ON `{db}`.* FROM {account}",
         "GRANT REFERENCES ON `{db}`.people TO {account}",
         "GRANT REFERENCES ON `{db}`.pkeys TO {account}",
         "GRANT REFERENCES ON `{db}`.`groups` TO {account}"},
        added, {"REFERENCES on rooms"});
    // UPDATE on some columns is no right to change the others.
    QStringList columnUpdate{grant(ReadmeRights), "provisioned",
                             "REVOKE UPDATE ON `{db}`.* FROM {account}",
                             "GRANT UPDATE (InInv) ON `{db}`.pkeys TO {account}"};
    for (const char *table : {"people", "p_k", "`groups`", "p_g", "rooms", "k_r", "g_r", "users"})
        columnUpdate << QStringLiteral("GRANT UPDATE ON `{db}`.%1 TO {account}").arg(table);
    row("UPDATE on one column of pkeys", columnUpdate, {"UPDATE on pkeys"});
    // Refused on tables that exist, where no refusal is expected: the check goes on after each.
    row("DELETE on two tables alone, the tables in place",
        {grant(ReadmeRights), "provisioned", "REVOKE DELETE ON `{db}`.* FROM {account}",
         "GRANT DELETE ON `{db}`.people TO {account}", "GRANT DELETE ON `{db}`.p_k TO {account}"},
        {"DELETE on pkeys,groups,p_g,rooms,k_r,g_r,users"});
    row("a partial revoke of TRIGGER",
        {"MySQL: set global partial_revokes = 1", "GRANT " + ReadmeRights + " ON *.* TO {account}",
         "REVOKE TRIGGER ON `{db}`.* FROM {account}"},
        {}, {"TRIGGER on p_k"});
    row("binary logging without SUPER", {grant(ReadmeRights), untrusted}, {"binary logging"});
    // Without the right to see replication, MySQL tells no account that it is a replica.
    row("a replica",
        {grant(ReadmeRights), "MySQL: GRANT REPLICATION CLIENT ON *.* TO {account}",
         "replica of nowhere", "START REPLICA"},
        {"replica"});
    row("a Galera cluster that does not replicate triggers",
        {grant(ReadmeRights), "Galera: set global wsrep_mode = 'BINLOG_ROW_FORMAT_ONLY'"},
        {"wsrep_mode BINLOG_ROW_FORMAT_ONLY"});
    // The group makes its secondaries super read-only.
    row("a Group Replication secondary",
        {grant(ReadmeRights), "Group Replication: set global super_read_only = 1"},
        {"group member"});
    // No trigger is asked for again, so SUPER is not needed.
    row("a second account, the triggers in place, binary logging without SUPER",
        {grant(ReadmeRights), "provisioned", untrusted}, added);
    row("older tables, keyless users, every problem at once",
        {grant(ReadmeRights), untrusted,
         "create table pkeys (TagNum int primary key, KeyName varchar(10), Total int)",
         "create table p_k (TransactionID int primary key, Tnumber char(9), TagNum int, DateOut "
         "varchar(10), DateDue date)",
         "create trigger checkout_keys AFTER INSERT ON pkeys FOR EACH ROW set @a = 1",
         "create table users (username varchar(16), password varchar(30))"},
        {"binary logging", "The table pkeys lacks the column InInv.",
         "The table p_k lacks the column NumOut.",
         "The column p_k.DateOut has the type varchar(10); it must be date.",
         "The trigger checkout_keys is on the table pkeys, not on p_k.",
         "The column users.username has the type varchar(16); it must be varchar(25).",
         "The column users.password has the type varchar(30) character set utf8mb4; it must be "
         "varbinary(30).",
         "The column users.username has no primary key or unique index: two accounts could have "
         "the same name."});
    // A trigger counts keys as the run's would, written as it may be, or not at all.
    row("a trigger written otherwise that does the same",
        {grant(ReadmeRights), pk,
         "CREATE TRIGGER checkout_keys after insert ON p_k FOR EACH ROW begin -- stock\n"
         "  declare `num` int;\n  set num=new.NumOut; /* out */\n  UPDATE `pkeys` SET "
         "InInv=InInv-num WHERE TagNum=NEW.`TagNum`;\nend"},
        added);
    const QString checkoutKeysBody =
        QStringLiteral("BEGIN DECLARE num INT; set num = NEW.NumOut; update pkeys set InInv = "
                       "InInv - num where TagNum = new.TagNum; END");
    const QString doesOther = QStringLiteral(
        "The trigger checkout_keys does something other than Quorvo needs; it must do: ");
    row("a trigger that counts nothing",
        {grant(ReadmeRights), pk,
         "create trigger checkout_keys AFTER INSERT ON p_k FOR EACH ROW set @a = 1"},
        {doesOther + checkoutKeysBody});
    // The servers under test tell table names apart by case (lower_case_table_names = 0).
    row("a trigger that counts another table's keys",
        {grant(ReadmeRights), pk,
         "create trigger checkout_keys AFTER INSERT ON p_k FOR EACH ROW " +
             QString(checkoutKeysBody).replace(QStringLiteral("pkeys"), QStringLiteral("PKEYS"))},
        {doesOther + checkoutKeysBody});
    // Found by checking a key out once everything is in place: nothing stays of that.
    row("the triggers of a dropped definer",
        {grant(ReadmeRights), "provisioned", "drop trigger checkout_keys",
         "create definer = 'quorvo_gone'@'%' trigger checkout_keys AFTER INSERT ON p_k FOR EACH "
         "ROW " +
             checkoutKeysBody},
        {"checkout: 1449"});
    row("a trigger on pkeys that counts as well",
        {grant(ReadmeRights), "provisioned",
         "create trigger quorvo_extra BEFORE UPDATE ON pkeys FOR EACH ROW set NEW.InInv = "
         "NEW.InInv - 1"},
        {"checkout: stock 1, -1, 0"});
    // The check's checkout goes to a person there is, as this older p_k takes none without.
    row("a checkout table that needs a person",
        {grant(ReadmeRights), "provisioned", "insert into people (Tnumber) values ('T00000009')",
         "alter table p_k modify Tnumber char(9) not null default 'T00000000'"},
        added);
    // The key tables of an older setup in MyISAM, which no rollback would undo.
    row("tables without transactions",
        {grant(ReadmeRights),
         "create table pkeys (TagNum int primary key, KeyName varchar(10), Total int, InInv int) "
         "engine = MyISAM",
         pk + " engine = MyISAM",
         "create table k_r (TagNum int, RoomId int, primary key (TagNum, RoomId)) engine = MyISAM"},
        {"checkout not tried", "added"});
    row("a checkout table without transactions beside key tables with them",
        {grant(ReadmeRights), pk + " engine = MyISAM"}, {"checkout not tried", "added"},
        {"GTID p_k (MyISAM)"});
    // Hourly limits that a run would go beyond midway; at the limit it goes through.
    const auto limited = [&](const char *limit, int number) {
        return QStringList{
            grant(ReadmeRights),
            QStringLiteral("ALTER USER {account} WITH %1 %2").arg(limit).arg(number)};
    };
    row("updates one short", limited("MAX_UPDATES_PER_HOUR", 17), {"MAX_UPDATES_PER_HOUR 17 < 18"});
    row("updates enough", limited("MAX_UPDATES_PER_HOUR", 18), added);
    row("statements one short", limited("MAX_QUERIES_PER_HOUR", 92),
        {"MAX_QUERIES_PER_HOUR 92 < 93"}, {"MAX_QUERIES_PER_HOUR 92 < 105"});
    row("statements enough on MariaDB", limited("MAX_QUERIES_PER_HOUR", 93), added,
        {"MAX_QUERIES_PER_HOUR 93 < 105"});
    row("statements enough", limited("MAX_QUERIES_PER_HOUR", 105), added);
    // The check's key and person fit whatever the application's keys and people are.
    row("a key numbered as high as the column goes",
        {grant(ReadmeRights), "provisioned", "insert into pkeys (TagNum) values (2147483647)"},
        added);
    row("a check that keeps every key in stock",
        {grant(ReadmeRights), "provisioned", "alter table pkeys add check (InInv >= 1)"}, added);
    row("a checkout table that needs a person, and no person",
        {grant(ReadmeRights), "provisioned", "alter table p_k modify Tnumber char(9) not null"},
        added);
    row("an accounts table with a column the run cannot fill",
        {grant(ReadmeRights), "create table users (username varchar(25) primary key, password "
                              "varbinary(30), Email varchar(50) not null)"},
        {"The column users.Email must be given a value (it is NOT NULL and has no default): the "
         "setup cannot add an account to the table."});
    // Sessions that the server starts otherwise: the run's own settings hold.
    for (const char *setting :
         {"set global autocommit = 0", "set global init_connect = 'SET autocommit = 0'",
          "set global completion_type = 'RELEASE'",
          "set global sql_mode = 'ANSI_QUOTES,PIPES_AS_CONCAT,NO_BACKSLASH_ESCAPES'",
          "MariaDB: set global sql_mode = 'ORACLE'"})
        row(setting, {grant(ReadmeRights), setting}, added);
    // A server that refuses the application's changes, to an account that could still make them.
    const QString all = QStringLiteral("GRANT ALL ON *.* TO {account}");
    row("read_only", {all, "set global read_only = 1"}, {"read_only"});
    row("super_read_only", {all, "MySQL: set global super_read_only = 1"},
        {"read_only", "super_read_only"});
    // MySQL runs a trigger with its definer's default roles alone.
    const QStringList roleRights{"MySQL: CREATE ROLE {role}",
                                 "GRANT " + ReadmeRights + " ON `{db}`.* TO {role}"};
    row("through a mandatory role activated at login",
        roleRights + QStringList{"set global mandatory_roles = '{role}'",
                                 "set global activate_all_roles_on_login = 1"},
        triggersWithoutRoles);
    row("through a role activated at login",
        roleRights +
            QStringList{"GRANT {role} TO {account}", "set global activate_all_roles_on_login = 1"},
        triggersWithoutRoles);
    // A server that would store the name changed: the name is refused before anything is made.
    const QString nonStrict = QStringLiteral("set global sql_mode = ''");
    row("a name the latin1 database cannot hold",
        {grant(ReadmeRights), nonStrict, "alter database `{db}` character set latin1"},
        {"name not storable in latin1"}, {}, QStringLiteral("Łukasz"));
    row("an emoji in a utf8mb3 column",
        {grant(ReadmeRights), nonStrict,
         "create table users (username varchar(25) primary key, password varbinary(30)) "
         "character set utf8mb3",
         "provisioned"},
        {"name not storable in utf8mb3"}, {}, QStringLiteral("key\U0001F511"));
}

void TestProvisioningRun::shouldRefuseAndChangeNothing()
{
    QFETCH(QStringList, statements);
    QFETCH(QString, user);
    QFETCH(QStringList, onMySql);
    QFETCH(QStringList, verdict);
    const bool mySql = testdatabase::isMySql(admin->database());
    // A server without the variable answers "SQL failed".
    const bool galera = scratch->value(QStringLiteral("select @@wsrep_on")) == u"1";
    const bool group =
        !scratch->value(QStringLiteral("select @@group_replication_group_name")).startsWith(u"SQL");
    const QString marked = statements.join(u'\n');
    if ((!galera && marked.contains(u"Galera: ")) || (!group && marked.contains(u"Group Repl")))
        QSKIP("This row needs a server of the set that it names");
    // Galera asks for SUPER with binary logging on or off.
    QVERIFY2(galera || scratch->value(QStringLiteral("select @@log_bin")) == QLatin1String("1"),
             "The test server runs without binary logging; start it with QUORVO_DB_BINLOG=1, as "
             "scripts/test.sh does");
    const QString mySqlOnly = QStringLiteral("MySQL: ");
    const QString mariaDbOnly = QStringLiteral("MariaDB: ");
    for (const QString &statement : std::as_const(statements))
        if (statement.startsWith(mySql ? mariaDbOnly : mySqlOnly))
            QSKIP("This server has no counterpart of one of this row's statements");
    if (mySql && !onMySql.isEmpty())
        verdict = onMySql;

    LimitedAccount account(*admin);
    QVERIFY(account.isCreated());
    const QString role = testdatabase::uniqueName(QStringLiteral("quorvo_r"));
    // The server's settings that rows change, as they were; super_read_only before read_only.
    QStringList globals;
    for (const char *name : {"log_bin_trust_function_creators", "sql_mode", "autocommit",
                             "completion_type", "init_connect", "super_read_only", "read_only",
                             "mandatory_roles", "activate_all_roles_on_login", "wsrep_mode"}) {
        const QStringList value = testdatabase::rows(
            admin->database(),
            QStringLiteral("select if(@@global.%1 regexp '^[0-9]+$', @@global.%1, "
                           "quote(@@global.%1))")
                .arg(name));
        if (!value.value(0).startsWith(QStringLiteral("SQL failed")))
            globals << QStringLiteral("set global %1 = %2").arg(name, value.value(0));
    }
    const auto restore = qScopeGuard([&] {
        for (const QString &global : std::as_const(globals))
            admin->exec(global);
        admin->exec(QStringLiteral("DROP ROLE IF EXISTS %1, %1_n").arg(role));
        if (statements.contains(QStringLiteral("replica of nowhere")))
            admin->exec(QStringLiteral("STOP REPLICA")) &&
                admin->exec(QStringLiteral("RESET REPLICA ALL"));
        // A partial revoke keeps the setting on until its account is gone.
        if (mySql) {
            account.drop();
            admin->exec(QStringLiteral("set global partial_revokes = 0"));
        }
    });
    QVERIFY(admin->exec(QStringLiteral("set global log_bin_trust_function_creators = 1")));
    ConnectionSettings::dbUser = account.userName();
    ConnectionSettings::dbPassword = LimitedAccount::Password;
    QString failure;
    for (QString statement : statements) {
        if (statement == u"provisioned") {
            QCOMPARE(outcome(provision(QStringLiteral("first"))), QStringList{"added"});
            continue;
        }
        if (statement == u"replica of nowhere")
            statement =
                QStringLiteral("CHANGE %1 TO %2HOST = '127.0.0.250', %2PORT = 9, %2USER = 'x'")
                    .arg(mySql ? "REPLICATION SOURCE" : "MASTER", mySql ? "SOURCE_" : "MASTER_");
        if (!mySql && statement.startsWith(mySqlOnly))
            continue;
        if (statement == u"default role")
            statement = QStringLiteral("SET DEFAULT ROLE {role} %1 {account}")
                            .arg(mySql ? QStringLiteral("TO") : QStringLiteral("FOR"));
        QString escaped = scratch->databaseName();
        statement
            .remove(
                QRegularExpression(QStringLiteral("^(MySQL|MariaDB|Galera|Group Replication): ")))
            .replace(QStringLiteral("{db\\_}"), escaped.replace(u'_', QStringLiteral("\\_")))
            .replace(QStringLiteral("{db}"), scratch->databaseName())
            .replace(QStringLiteral("{account}"),
                     QStringLiteral("'%1'@'%'").arg(account.userName()))
            .replace(QStringLiteral("{role}"), role);
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
    }

    const QStringList before = snapshot(*admin);
    testsupport::MessageLog log;
    const RunResult run = provision(user);
    QStringList found = outcome(run);
    if (log.debug().join(u'\n').contains(QStringLiteral("not transactional")))
        found.prepend(QStringLiteral("checkout not tried"));
    // Joined, so that a failure shows both lists whole.
    QCOMPARE(found.join(u'\n'), verdict.join(u'\n'));
    // Every other server of the set ends as this one, once replication has brought it there.
    const QStringList after = snapshot(*admin);
    if (run.added)
        QCOMPARE(scratch->value(
                     QStringLiteral("select count(*) from users where username = '%1'").arg(user)),
                 QStringLiteral("1"));
    else
        QCOMPARE(after, before);
    for (const QString &node : testdatabase::otherNodes()) {
        const testdatabase::AdminConnection other(node);
        QVERIFY2(other.isOpen(), qPrintable(other.errorText()));
        QTRY_COMPARE_WITH_TIMEOUT(snapshot(other), after, 20000);
    }
    // A Galera cluster takes the checkout on another node; a replica takes no writes.
    if (galera && !testdatabase::otherNodes().isEmpty())
        ConnectionSettings::dbHost = testdatabase::otherNodes().first();
    if (run.added)
        checkKeysOutAsAnotherAccount();
}

// The triggers run with the rights of the account that made them; the Quorvo application uses
// another session, here another account with the rights it needs itself.
void TestProvisioningRun::checkKeysOutAsAnotherAccount()
{
    LimitedAccount clerk(*admin);
    QVERIFY(clerk.grant(QStringLiteral("SELECT, INSERT, UPDATE, DELETE"),
                        QStringLiteral("`%1`.*").arg(scratch->databaseName())));
    // A Galera node applies the grant made on another a moment later: its login waits for it.
    if (testdatabase::otherNodes().contains(ConnectionSettings::dbHost)) {
        const testdatabase::AdminConnection node(ConnectionSettings::dbHost);
        QVERIFY(node.exec(QStringLiteral("set session wsrep_sync_wait = 1")) &&
                node.exec(QStringLiteral("select 1")));
    }
    ConnectionSettings::dbUser = clerk.userName();
    ConnectionSettings::dbPassword = LimitedAccount::Password;
    const QString clerkConnection = testdatabase::uniqueName(QStringLiteral("clerk"));
    const auto removeClerk = qScopeGuard([&] { QSqlDatabase::removeDatabase(clerkConnection); });
    InventoryDb clerkDb(clerkConnection, scratch->databaseName());
    for (const char *statement :
         {"insert into people (Tnumber) values ('T00000001')",
          "insert into pkeys (TagNum, Total, InInv) values (7, 5, 5)",
          "insert into p_k (Tnumber, TagNum, NumOut) values ('T00000001', 7, 2)"})
        QCOMPARE(testdatabase::rowsOn(clerkConnection, QString::fromLatin1(statement)).join(u'\n'),
                 QString());
    const QString stock = QStringLiteral("select InInv from pkeys where TagNum = 7");
    QCOMPARE(testdatabase::rowsOn(clerkConnection, stock), QStringList{"3"});
    QCOMPARE(testdatabase::rowsOn(clerkConnection, QStringLiteral("delete from p_k")).join(u'\n'),
             QString());
    QCOMPARE(testdatabase::rowsOn(clerkConnection, stock), QStringList{"5"});
}

QTEST_GUILESS_MAIN(TestProvisioningRun)
#include "tst_provisioningrun.moc"
