#include "app/provisioningrun.h"
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

// What README.md names as the rights the account needs on ozrinventory.
const QString NamedRights = QStringLiteral("CREATE, REFERENCES, TRIGGER, INSERT, SELECT");

} // namespace

// How a provisioning run ends: with a database the Quorvo application can use and the account
// stored, with the first difference from such a database, or with the server's reason.
class TestProvisioningRun : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldReportFirstDifference_data();
    void shouldReportFirstDifference();
    void shouldProvisionOrGiveServersReason_data();
    void shouldProvisionOrGiveServersReason();

private:
    // A whole run for the account "admin", in this thread.
    RunResult provision() const;
    int accounts() const;
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

RunResult TestProvisioningRun::provision() const
{
    ProvisioningRun run(connectionName, scratch->databaseName());
    RunResult result;
    connect(&run, &ProvisioningRun::finished, [&result](const RunResult &r) { result = r; });
    run.run(QStringLiteral("admin"), QStringLiteral("secret"));
    return result;
}

int TestProvisioningRun::accounts() const
{
    const QStringList count = scratch->rows(QStringLiteral("select count(*) from users"));
    return count.size() == 1 ? count.first().toInt() : 0; // no table: no account
}

void TestProvisioningRun::shouldReportFirstDifference_data()
{
    QTest::addColumn<QStringList>("before"); // statements before the run
    QTest::addColumn<QStringList>("after");  // and after it, before a second check
    QTest::addColumn<QString>("message");    // empty: no difference

    QTest::newRow("what the run made") << QStringList{} << QStringList{} << QString();
    // The triggers go in over it; the first checkout would fail on the missing column.
    QTest::newRow("pkeys of an older layout")
        << QStringList{"create table pkeys (TagNum int primary key, KeyName varchar(10), "
                       "Total int)"}
        << QStringList{} << "The table pkeys lacks the column InInv.";
    // Its name keeps the trigger of p_k from being made; the run passes that over.
    QTest::newRow("checkout_keys on another table")
        << QStringList{"create table legacy (a int)",
                       "create trigger checkout_keys AFTER INSERT ON legacy FOR EACH ROW "
                       "set @a = 1"}
        << QStringList{} << "The trigger checkout_keys is on the table legacy, not on p_k.";
    // The text column of earlier setups keeps the digest's bytes in a one-byte character set
    // only; this database's own is utf8mb4.
    QTest::newRow("users of earlier setups, in latin1")
        << QStringList{"create table users (username varchar(25) primary key, password "
                       "varchar(30)) character set latin1"}
        << QStringList{} << QString();
    QTest::newRow("users with a text password column in utf8mb4")
        << QStringList{"create table users (username varchar(25) primary key, password "
                       "varchar(30))"}
        << QStringList{}
        << "The column users.password has the type varchar(30) character set utf8mb4; it must "
           "be varbinary(30).";
    QTest::newRow("checkout date kept as text")
        << QStringList{"create table p_k (TransactionID int primary key, Tnumber char(9), "
                       "TagNum int, NumOut int, DateOut varchar(10), DateDue date)"}
        << QStringList{} << "The column p_k.DateOut has the type varchar(10); it must be date.";
    QTest::newRow("account names cut short")
        << QStringList{"create table users (username varchar(16) primary key, password "
                       "varbinary(20))"}
        << QStringList{}
        << "The column users.username has the type varchar(16); it must be varchar(25).";
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

void TestProvisioningRun::shouldReportFirstDifference()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, message);

    QString failure;
    for (const QString &statement : before)
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
    RunResult run = provision();
    QCOMPARE(run.error, 0);
    // Nothing is added to a database the Quorvo application cannot use; elsewhere the digest's
    // bytes are stored unchanged.
    QCOMPARE(accounts(), run.difference ? 0 : 1);
    if (!run.difference)
        QCOMPARE(scratch->value(QStringLiteral("select hex(password) from users")),
                 QString::fromLatin1(
                     testsupport::digestVector(QStringLiteral("even length, lower-case user name"))
                         .digest.toHex()
                         .toUpper()));
    if (!after.isEmpty()) {
        QCOMPARE(run.difference.has_value(), false);
        for (const QString &statement : after)
            QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
        run.difference = InventoryDb(connectionName, scratch->databaseName()).checkSchema();
    }
    QCOMPARE(run.difference ? schemaDifferenceMessage(*run.difference) : QString(), message);
}

// With an account of the case's own that holds only some rights, on a server with binary
// logging on.
void TestProvisioningRun::shouldProvisionOrGiveServersReason_data()
{
    QTest::addColumn<QString>("rights"); // on the database
    QTest::addColumn<bool>("super");
    QTest::addColumn<bool>("trustCreators"); // log_bin_trust_function_creators on the server
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reasonStart");
    QTest::addColumn<int>("tables");
    QTest::addColumn<int>("triggers");

    QTest::newRow("the named rights and SUPER")
        << NamedRights << true << false << 0 << QString() << 9 << 4;
    QTest::newRow("the named rights, the server trusting trigger creators")
        << NamedRights << false << true << 0 << QString() << 9 << 4;
    // Binary logging stops the run at the first trigger, with eight tables made.
    QTest::newRow("no SUPER") << NamedRights << false << false << int{DbError::Unclassified}
                              << "1419: You do not have the SUPER privilege and binary logging "
                                 "is enabled"
                              << 8 << 0;
    // The server asks for SUPER before it looks at the TRIGGER right.
    QTest::newRow("no TRIGGER right")
        << "CREATE, REFERENCES, INSERT, SELECT" << true << false << int{DbError::Unclassified}
        << "1142: TRIGGER command denied to user" << 8 << 0;
}

void TestProvisioningRun::shouldProvisionOrGiveServersReason()
{
    QFETCH(QString, rights);
    QFETCH(bool, super);
    QFETCH(bool, trustCreators);
    QFETCH(int, code);
    QFETCH(QString, reasonStart);
    QVERIFY2(scratch->value(QStringLiteral("select @@log_bin")) == QLatin1String("1"),
             "The test server runs without binary logging; start it with QUORVO_DB_BINLOG=1, as "
             "scripts/test.sh does");

    LimitedAccount account(*admin);
    QVERIFY(account.isCreated());
    QString failure;
    QVERIFY2(account.grant(rights, QStringLiteral("`%1`.*").arg(scratch->databaseName()), &failure),
             qPrintable(failure));
    if (super)
        QVERIFY(account.grant(QStringLiteral("SUPER"), QStringLiteral("*.*")));
    const QString trusted =
        scratch->value(QStringLiteral("select @@global.log_bin_trust_function_creators"));
    const auto restore = qScopeGuard([&] {
        admin->exec(QStringLiteral("set global log_bin_trust_function_creators = %1").arg(trusted));
    });
    QVERIFY(admin->exec(QStringLiteral("set global log_bin_trust_function_creators = %1")
                            .arg(trustCreators ? 1 : 0)));

    ConnectionSettings::dbUser = account.userName();
    ConnectionSettings::dbPassword = LimitedAccount::Password;
    const RunResult run = provision();

    QCOMPARE(run.error, code);
    QCOMPARE(run.added, code == 0);
    QVERIFY(!run.difference); // the check sees every table and trigger with these rights
    QVERIFY2(run.reason.startsWith(reasonStart), qPrintable(run.reason));
    QCOMPARE(run.reason.isEmpty(), code == 0);
    QTEST(scratch
              ->value(QStringLiteral("select count(*) from information_schema.tables where "
                                     "table_schema = database()"))
              .toInt(),
          "tables");
    QTEST(scratch
              ->value(QStringLiteral("select count(*) from information_schema.triggers where "
                                     "trigger_schema = database()"))
              .toInt(),
          "triggers");
}

QTEST_GUILESS_MAIN(TestProvisioningRun)
#include "tst_provisioningrun.moc"
