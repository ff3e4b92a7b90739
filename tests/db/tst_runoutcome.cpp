#include "db/dberror.h"
#include "db/inventorydb.h"

#include "app/schemamessage.h"

#include "messagelog.h"
#include "testdatabase.h"

#include <QScopeGuard>
#include <QtTest>

#include <optional>

using testdatabase::DatabaseCase;
using testdatabase::LimitedAccount;

namespace {

// What README.md names as the rights the account needs on ozrinventory.
const QString NamedRights = QStringLiteral("CREATE, REFERENCES, TRIGGER, INSERT, SELECT");

struct RunOutcome
{
    int code = 0; // the DbError thrown, 0 when none was
    std::optional<SchemaDifference> difference;
};

} // namespace

// How a provisioning run through the database code ends: with a database the Quorvo
// application can use, with the first difference from one, or with the server's reason.
class TestRunOutcome : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldReportFirstDifference_data();
    void shouldReportFirstDifference();
    void shouldThrowWhenTheCheckCannotRead();
    void shouldProvisionOrGiveServersReason_data();
    void shouldProvisionOrGiveServersReason();

private:
    // Connects, creates the schema, adds the account "admin" and checks, as the dialog's run
    // does. The digest is plain letters, which any text column takes too, so that an old text
    // password column is met by the check rather than by the insert.
    RunOutcome provision() const;
};

void TestRunOutcome::init()
{
    startCase(QStringLiteral("outcome"));
    QUORVO_REQUIRE_SERVER(*admin);
    QVERIFY(scratch->isCreated());
}

void TestRunOutcome::cleanup()
{
    endCase();
}

RunOutcome TestRunOutcome::provision() const
{
    RunOutcome outcome;
    try {
        InventoryDb db(connectionName, scratch->databaseName());
        db.createSchema();
        db.addUser(QStringLiteral("admin"), QByteArray(20, 'x'));
        outcome.difference = db.checkSchema();
    } catch (int code) {
        outcome.code = code;
    }
    return outcome;
}

void TestRunOutcome::shouldReportFirstDifference_data()
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
    QTest::newRow("users with the old text password column")
        << QStringList{"create table users (username varchar(25) primary key, password "
                       "varchar(30))"}
        << QStringList{}
        << "The column users.password has the type varchar(30); it must be varbinary(30).";
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

void TestRunOutcome::shouldReportFirstDifference()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, message);

    QString failure;
    for (const QString &statement : before)
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
    RunOutcome run = provision();
    QCOMPARE(run.code, 0);
    if (!after.isEmpty()) {
        QCOMPARE(run.difference.has_value(), false);
        for (const QString &statement : after)
            QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
        run.difference = InventoryDb(connectionName, scratch->databaseName()).checkSchema();
    }
    QCOMPARE(run.difference ? schemaDifferenceMessage(*run.difference) : QString(), message);
}

// A failing read is thrown like any failing statement, with the server's reason kept.
void TestRunOutcome::shouldThrowWhenTheCheckCannotRead()
{
    InventoryDb db(connectionName, scratch->databaseName());
    QVERIFY(admin->killSession(testdatabase::sessionOf(connectionName)));
    testsupport::MessageLog log;
    int code = 0;
    try {
        db.checkSchema();
    } catch (int thrown) {
        code = thrown;
    }
    QCOMPARE(code, int{DbError::ConnectionLost});
    QCOMPARE(log.debug().size(), 1);
    QCOMPARE(lastDbFailure().nativeErrorCode(), QStringLiteral("2013"));
}

// With an account of the case's own that holds only some rights, on a server with binary
// logging on.
void TestRunOutcome::shouldProvisionOrGiveServersReason_data()
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

void TestRunOutcome::shouldProvisionOrGiveServersReason()
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
    const RunOutcome run = provision();

    QCOMPARE(run.code, code);
    if (code == 0)
        QVERIFY(!run.difference); // the check sees every table and trigger with these rights
    else
        QVERIFY2(dbFailureReason(lastDbFailure()).startsWith(reasonStart),
                 qPrintable(dbFailureReason(lastDbFailure())));
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

QTEST_GUILESS_MAIN(TestRunOutcome)
#include "tst_runoutcome.moc"
