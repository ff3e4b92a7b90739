#include "db/inventorydb.h"

#include "app/schemamessage.h"
#include "db/dberror.h"

#include "messagelog.h"
#include "provisioningrun.h"
#include "testdatabase.h"

#include <QtTest>

using testdatabase::DatabaseCase;
using testdatabase::RunOutcome;

class TestSchemaCheck : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldReportFirstDifference_data();
    void shouldReportFirstDifference();
    void shouldThrowWhenTheCheckCannotRead();

private:
    // Every column and trigger of the database, to see that the check changes nothing.
    QStringList layout() const;
};

void TestSchemaCheck::init()
{
    startCase(QStringLiteral("check"));
    QUORVO_REQUIRE_SERVER(*admin);
    QVERIFY(scratch->isCreated());
}

void TestSchemaCheck::cleanup()
{
    endCase();
}

QStringList TestSchemaCheck::layout() const
{
    return scratch->rows(QStringLiteral(
        "select table_name, column_name, column_type from information_schema.columns where "
        "table_schema = database() union all select trigger_name, event_object_table, "
        "concat(action_timing, ' ', event_manipulation) from information_schema.triggers where "
        "trigger_schema = database() order by 1, 2"));
}

void TestSchemaCheck::shouldReportFirstDifference_data()
{
    QTest::addColumn<QStringList>("before"); // statements before the run
    QTest::addColumn<QStringList>("after");  // and after it, before the check
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

void TestSchemaCheck::shouldReportFirstDifference()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, message);

    QString failure;
    for (const QString &statement : before)
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));
    const RunOutcome run = testdatabase::provision(connectionName, scratch->databaseName());
    QCOMPARE(run.code, 0);
    for (const QString &statement : after)
        QVERIFY2(scratch->exec(statement, &failure), qPrintable(failure));

    const QStringList layoutBefore = layout();
    std::optional<SchemaDifference> difference;
    {
        InventoryDb db(connectionName, scratch->databaseName());
        difference = db.checkSchema();
    }
    QCOMPARE(difference ? schemaDifferenceMessage(*difference) : QString(), message);
    QCOMPARE(layout(), layoutBefore);
}

// A failing read is thrown like any failing statement, with the server's reason kept.
void TestSchemaCheck::shouldThrowWhenTheCheckCannotRead()
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

QTEST_GUILESS_MAIN(TestSchemaCheck)
#include "tst_schemacheck.moc"
