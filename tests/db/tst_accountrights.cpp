#include "db/dberror.h"

#include "provisioningrun.h"
#include "testdatabase.h"

#include <QScopeGuard>
#include <QtTest>

using testdatabase::DatabaseCase;
using testdatabase::LimitedAccount;
using testdatabase::RunOutcome;

namespace {

// What README.md names as the rights the account needs on ozrinventory.
const QString NamedRights = QStringLiteral("CREATE, REFERENCES, TRIGGER, INSERT, SELECT");

} // namespace

// Runs with an account of the case's own that holds only some rights, on a server with binary
// logging on.
class TestAccountRights : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldProvisionOrGiveServersReason_data();
    void shouldProvisionOrGiveServersReason();
};

void TestAccountRights::init()
{
    startCase(QStringLiteral("rights"));
    QUORVO_REQUIRE_SERVER(*admin);
    QVERIFY(scratch->isCreated());
    QVERIFY2(scratch->value(QStringLiteral("select @@log_bin")) == QLatin1String("1"),
             "The test server runs without binary logging; start it with QUORVO_DB_BINLOG=1, as "
             "scripts/test.sh does");
}

void TestAccountRights::cleanup()
{
    endCase();
}

void TestAccountRights::shouldProvisionOrGiveServersReason_data()
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

void TestAccountRights::shouldProvisionOrGiveServersReason()
{
    QFETCH(QString, rights);
    QFETCH(bool, super);
    QFETCH(bool, trustCreators);
    QFETCH(int, code);
    QFETCH(QString, reasonStart);

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
    const RunOutcome run = testdatabase::provision(connectionName, scratch->databaseName());

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

QTEST_GUILESS_MAIN(TestAccountRights)
#include "tst_accountrights.moc"
