#include "app/provisioningrun.h"
#include "settings/connectionsettings.h"
#include "app/schemamessage.h"
#include "db/dberror.h"
#include "db/inventorydb.h"

#include "digestvectors.h"
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
    for (const MissingRight &missing : run.notReady.missingRights)
        lines << missing.right + QStringLiteral(" on ") +
                     (missing.tables.isEmpty() ? QStringLiteral("the database")
                                               : missing.tables.join(u','));
    if (run.notReady.triggersNeedSuper)
        lines << QStringLiteral("binary logging");
    for (const SchemaDifference &difference : run.notReady.differences)
        lines << schemaDifferenceMessage(difference);
    if (!run.notReady.usernameCharset.isEmpty())
        lines << QStringLiteral("name not storable in ") + run.notReady.usernameCharset;
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
    void shouldLetAnotherAccountCheckKeysOutWithReadmeRights();

private:
    // A whole run in this thread, with the account of ConnectionSettings.
    RunResult provision(const QString &user = QStringLiteral("admin")) const;
    int accounts() const;
    // Tables with their columns, triggers and accounts, as the database holds them.
    QStringList snapshot() const;
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

QStringList TestProvisioningRun::snapshot() const
{
    return scratch->rows(QStringLiteral(
               "select table_name, column_name, column_type from information_schema.columns "
               "where table_schema = database() order by 1, 2")) +
           scratch->rows(QStringLiteral(
               "select trigger_name, event_object_table, action_timing, event_manipulation from "
               "information_schema.triggers where trigger_schema = database() order by 1")) +
           scratch->rows(QStringLiteral("select username, hex(password) from users"));
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
// syntax.
void TestProvisioningRun::shouldRefuseAndChangeNothing_data()
{
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<bool>("trustCreators"); // log_bin_trust_function_creators on the server
    QTest::addColumn<QString>("user");
    QTest::addColumn<QStringList>("outcome");

    const QString onDb = QStringLiteral(" ON `{db}`.* TO {account}");
    const auto grant = [&](const QString &rights) { return "GRANT " + rights + onDb; };
    QTest::newRow("the README's rights")
        << QStringList{grant(ReadmeRights)} << true << "admin" << QStringList{"added"};
    QTest::newRow("SUPER instead of trusted creators")
        << QStringList{grant(ReadmeRights), "GRANT SUPER ON *.* TO {account}"} << false << "admin"
        << QStringList{"added"};
    QTest::newRow("through a role")
        << QStringList{"CREATE ROLE {role}", "GRANT " + ReadmeRights + " ON `{db}`.* TO {role}",
                       "GRANT {role} TO {account}", "default role"}
        << true << "admin" << QStringList{"added"};
    QTest::newRow("globally") << QStringList{"GRANT " + ReadmeRights + " ON *.* TO {account}"}
                              << true << "admin" << QStringList{"added"};
    QTest::newRow("through a wildcard database")
        << QStringList{"GRANT " + ReadmeRights + " ON `quorvo\\_t%`.* TO {account}"} << true
        << "admin" << QStringList{"added"};
    // The server takes the rights of the most specific database grant alone: here the one
    // that names the database, '_' escaped.
    QTest::newRow("a wildcard behind the database's own grant")
        << QStringList{"GRANT ALL ON `quorvo%`.* TO {account}",
                       "GRANT SELECT, INSERT, UPDATE, CREATE, REFERENCES, TRIGGER ON `{db\\_}`.* "
                       "TO {account}"}
        << true << "admin" << QStringList{"DELETE on the database"};
    // The roles count as one: their most specific database grant alone applies.
    QTest::newRow("a wildcard of a nested role behind the database's own grant")
        << QStringList{"CREATE ROLE {role}",
                       "CREATE ROLE {role}_n",
                       "GRANT SELECT, INSERT, DELETE, CREATE, REFERENCES, TRIGGER ON `{db\\_}`.* "
                       "TO {role}",
                       "GRANT UPDATE ON `quorvo%`.* TO {role}_n",
                       "GRANT {role}_n TO {role}",
                       "GRANT {role} TO {account}",
                       "default role"}
        << true << "admin" << QStringList{"UPDATE on the database"};
    QTest::newRow("TRIGGER on p_k alone")
        << QStringList{"create table p_k (TransactionID int primary key auto_increment, Tnumber "
                       "char(9), TagNum int, NumOut int, DateOut date, DateDue date)",
                       grant(AllButTrigger), "GRANT TRIGGER ON `{db}`.p_k TO {account}"}
        << true << "admin" << QStringList{"added"};
    const QStringList rights = ReadmeRights.split(QStringLiteral(", "));
    for (const QString &right : rights) {
        QStringList others = rights;
        others.removeOne(right);
        QTest::addRow("no %s", qPrintable(right))
            << QStringList{grant(others.join(QStringLiteral(", ")))} << true << "admin"
            << QStringList{right + (right == u"TRIGGER" ? " on p_k" : " on the database")};
    }
    QTest::newRow("binary logging without SUPER")
        << QStringList{grant(ReadmeRights)} << false << "admin" << QStringList{"binary logging"};
    QTest::newRow("older tables, keyless users, every problem at once")
        << QStringList{grant(ReadmeRights),
                       "create table pkeys (TagNum int primary key, KeyName varchar(10), Total "
                       "int)",
                       "create table p_k (TransactionID int primary key, Tnumber char(9), TagNum "
                       "int, DateOut varchar(10), DateDue date)",
                       "create trigger checkout_keys AFTER INSERT ON pkeys FOR EACH ROW set @a = 1",
                       "create table users (username varchar(16), password varchar(30))"}
        << false << "admin"
        << QStringList{"binary logging",
                       "The table pkeys lacks the column InInv.",
                       "The table p_k lacks the column NumOut.",
                       "The column p_k.DateOut has the type varchar(10); it must be date.",
                       "The trigger checkout_keys is on the table pkeys, not on p_k.",
                       "The column users.username has the type varchar(16); it must be "
                       "varchar(25).",
                       "The column users.password has the type varchar(30) character set "
                       "utf8mb4; it must be varbinary(30).",
                       "The column users.username has no primary key or unique index: two "
                       "accounts could have the same name."};
    // A trigger counts keys as the run's would, written as it may be, or not at all.
    const QString pk = QStringLiteral("create table p_k (TransactionID int primary key "
                                      "auto_increment, Tnumber char(9), TagNum int, NumOut int, "
                                      "DateOut date, DateDue date)");
    QTest::newRow("a trigger written otherwise that does the same")
        << QStringList{grant(ReadmeRights), pk,
                       "CREATE TRIGGER checkout_keys after insert ON p_k FOR EACH ROW begin\n"
                       "  declare num int;\n  set num=new.NumOut;\n  UPDATE pkeys SET "
                       "InInv=InInv-num WHERE TagNum=new.TagNum;\nend"}
        << true << "admin" << QStringList{"added"};
    QTest::newRow("a trigger that counts nothing")
        << QStringList{grant(ReadmeRights), pk,
                       "create trigger checkout_keys AFTER INSERT ON p_k FOR EACH ROW set @a = 1"}
        << true << "admin"
        << QStringList{"The trigger checkout_keys does something other than Quorvo needs; it must "
                       "do: BEGIN DECLARE num INT; set num = NEW.NumOut; update pkeys set InInv = "
                       "InInv - num where TagNum = new.TagNum; END"};
    // A server that would store the name changed: the name is refused before anything is made.
    const QString nonStrict = QStringLiteral("set global sql_mode = ''");
    QTest::newRow("a name the latin1 database cannot hold")
        << QStringList{grant(ReadmeRights), nonStrict, "alter database `{db}` character set latin1"}
        << true << QStringLiteral("Łukasz") << QStringList{"name not storable in latin1"};
    QTest::newRow("an emoji in a utf8mb3 column")
        << QStringList{grant(ReadmeRights), nonStrict,
                       "create table users (username varchar(25) primary key, password "
                       "varbinary(30)) character set utf8mb3",
                       "provisioned"}
        << true << QStringLiteral("key\U0001F511") << QStringList{"name not storable in utf8mb3"};
}

// Where MySQL applies the same grants otherwise, the outcome it gives. Of two database patterns
// that reach the account through roles, MySQL 9.7 applies the wildcard one (`quorvo%` over the
// database's own name, as tried by hand), MariaDB the most specific one.
const QHash<QString, QStringList> MySqlOutcomes = {
    {QStringLiteral("a wildcard of a nested role behind the database's own grant"),
     {"SELECT on the database", "INSERT on the database", "DELETE on the database",
      "CREATE on the database"}},
};

void TestProvisioningRun::shouldRefuseAndChangeNothing()
{
    QFETCH(QStringList, statements);
    QFETCH(bool, trustCreators);
    QFETCH(QString, user);
    QVERIFY2(scratch->value(QStringLiteral("select @@log_bin")) == QLatin1String("1"),
             "The test server runs without binary logging; start it with QUORVO_DB_BINLOG=1, as "
             "scripts/test.sh does");

    LimitedAccount account(*admin);
    QVERIFY(account.isCreated());
    const QString role = testdatabase::uniqueName(QStringLiteral("quorvo_r"));
    const QString globals = scratch->value(
        QStringLiteral("select concat(@@global.log_bin_trust_function_creators, ', sql_mode = ', "
                       "quote(@@global.sql_mode))"));
    const auto restore = qScopeGuard([&] {
        admin->exec(QStringLiteral("set global log_bin_trust_function_creators = ") + globals);
        admin->exec(QStringLiteral("DROP ROLE IF EXISTS %1, %1_n").arg(role));
    });
    QVERIFY(admin->exec(QStringLiteral("set global log_bin_trust_function_creators = %1")
                            .arg(trustCreators ? 1 : 0)));
    ConnectionSettings::dbUser = account.userName();
    ConnectionSettings::dbPassword = LimitedAccount::Password;
    QString failure;
    for (QString statement : statements) {
        if (statement == u"provisioned") {
            QCOMPARE(outcome(provision(QStringLiteral("first"))), QStringList{"added"});
            continue;
        }
        if (statement == u"default role")
            statement = testdatabase::setDefaultRole(admin->database(), QStringLiteral("{role}"),
                                                     QStringLiteral("{account}"));
        QString escaped = scratch->databaseName();
        statement.replace(QStringLiteral("{db\\_}"), escaped.replace(u'_', QStringLiteral("\\_")))
            .replace(QStringLiteral("{db}"), scratch->databaseName())
            .replace(QStringLiteral("{account}"),
                     QStringLiteral("'%1'@'%'").arg(account.userName()))
            .replace(QStringLiteral("{role}"), role);
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
    }

    const QStringList before = snapshot();
    const RunResult run = provision(user);
    QFETCH(QStringList, outcome);
    if (testdatabase::isMySql(admin->database()))
        outcome = MySqlOutcomes.value(QString::fromUtf8(QTest::currentDataTag()), outcome);
    QCOMPARE(::outcome(run), outcome);
    if (!run.added)
        QCOMPARE(snapshot(), before);
}

// The triggers run with the rights of the account that made them; the Quorvo application uses
// another session, here another account with the rights it needs itself.
void TestProvisioningRun::shouldLetAnotherAccountCheckKeysOutWithReadmeRights()
{
    LimitedAccount setupAccount(*admin);
    LimitedAccount clerk(*admin);
    const QString onDb = QStringLiteral("`%1`.*").arg(scratch->databaseName());
    QVERIFY(setupAccount.grant(ReadmeRights, onDb) &&
            clerk.grant(QStringLiteral("SELECT, INSERT, UPDATE, DELETE"), onDb));
    const QString trusted =
        scratch->value(QStringLiteral("select @@global.log_bin_trust_function_creators"));
    const auto restore = qScopeGuard([&] {
        admin->exec(QStringLiteral("set global log_bin_trust_function_creators = ") + trusted);
    });
    QVERIFY(admin->exec(QStringLiteral("set global log_bin_trust_function_creators = 1")));
    ConnectionSettings::dbUser = setupAccount.userName();
    ConnectionSettings::dbPassword = LimitedAccount::Password;
    QCOMPARE(outcome(provision()), QStringList{"added"});

    ConnectionSettings::dbUser = clerk.userName();
    const QString clerkConnection = testdatabase::uniqueName(QStringLiteral("clerk"));
    const auto removeClerk = qScopeGuard([&] { QSqlDatabase::removeDatabase(clerkConnection); });
    InventoryDb clerkDb(clerkConnection, scratch->databaseName());
    for (const char *statement :
         {"insert into people (Tnumber) values ('T00000001')",
          "insert into pkeys (TagNum, Total, InInv) values (7, 5, 5)",
          "insert into p_k (Tnumber, TagNum, NumOut) values ('T00000001', 7, 2)"})
        QCOMPARE(testdatabase::rowsOn(clerkConnection, QString::fromLatin1(statement)),
                 QStringList());
    QCOMPARE(scratch->value(QStringLiteral("select InInv from pkeys")), QStringLiteral("3"));
    QCOMPARE(testdatabase::rowsOn(clerkConnection, QStringLiteral("delete from p_k")),
             QStringList());
    QCOMPARE(scratch->value(QStringLiteral("select InInv from pkeys")), QStringLiteral("5"));
}

QTEST_GUILESS_MAIN(TestProvisioningRun)
#include "tst_provisioningrun.moc"
