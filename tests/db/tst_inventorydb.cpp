#include "db/inventorydb.h"

#include "db/dberror.h"

#include "messagelog.h"
#include "testdatabase.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using testdatabase::AdminConnection;
using testdatabase::DatabaseCase;
using testdatabase::ScratchDatabase;
using testsupport::MessageLog;

namespace {

const QString Destruct = QStringLiteral("destruct \n");

// Constructs an InventoryDb and returns the code it threw, or 0 when it did not throw.
int constructionCode(const QString &connectionName, const QString &databaseName)
{
    try {
        InventoryDb db(connectionName, databaseName);
    } catch (int code) {
        return code;
    }
    return 0;
}

} // namespace

class TestInventoryDb : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldOpenTheNamedDatabase();
    void shouldThrowConnectionFailed_data();
    void shouldThrowConnectionFailed();
    void shouldGiveUpOnServerThatDoesNotAnswer();
    void shouldReuseNameOfDestroyedObject();
    void shouldForwardTransactionCalls();
    void shouldReportLostConnectionAfterKill();
};

void TestInventoryDb::init()
{
    startCase(QStringLiteral("inventory"));
    QUORVO_REQUIRE_SERVER(*admin);
    QVERIFY(scratch->isCreated());
}

void TestInventoryDb::cleanup()
{
    endCase();
}

void TestInventoryDb::shouldOpenTheNamedDatabase()
{
    MessageLog log;
    {
        InventoryDb db(connectionName, scratch->databaseName());
        QVERIFY(QSqlDatabase::contains(connectionName));
        QCOMPARE(testdatabase::rowsOn(connectionName,
                                      QStringLiteral("select database(), current_user()")),
                 QStringList{scratch->databaseName() + QStringLiteral(" | ") +
                             testdatabase::user() + QStringLiteral("@%")});
        const QSqlDatabase handle = QSqlDatabase::database(connectionName, false);
        QCOMPARE(handle.driverName(), QStringLiteral("QMYSQL"));
        QCOMPARE(handle.port(), 3306);
        // Another session's lock holds a statement for seconds, not for the server's default day.
        QCOMPARE(testdatabase::rowsOn(connectionName, QStringLiteral("select @@lock_wait_timeout, "
                                                                     "@@innodb_lock_wait_timeout")),
                 QStringList{QStringLiteral("10 | 10")});
    }
    QCOMPARE(log.debug(), QStringList{Destruct});
    // The driver warns of every connect option (timeouts included) that it does not take.
    QCOMPARE(log.warnings(), QStringList());
}

void TestInventoryDb::shouldThrowConnectionFailed_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("missingDatabase");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("reasonStart"); // of the reason kept for the user

    // MariaDB's client library answers a refused TCP connection with 2002 (MySQL's with 2003);
    // every failed open is code 1 all the same.
    QTest::newRow("no server on the address") << "127.0.0.250" << QString() << false << "2002"
                                              << "2002: Can't connect to server on '127.0.0.250'";
    QTest::newRow("wrong password") << QString() << "not-the-password" << false << "1045"
                                    << "1045: Access denied for user";
    QTest::newRow("database missing") << QString() << QString() << true << "1049"
                                      << "1049: Unknown database 'quorvo_t";
}

void TestInventoryDb::shouldThrowConnectionFailed()
{
    QFETCH(QString, host);
    QFETCH(QString, password);
    QFETCH(bool, missingDatabase);
    QFETCH(QString, number);
    QFETCH(QString, reasonStart);
    if (!host.isNull())
        ConnectionSettings::dbHost = host;
    if (!password.isNull())
        ConnectionSettings::dbPassword = password;
    const QString database = missingDatabase ? scratch->databaseName() + QStringLiteral("_missing")
                                             : scratch->databaseName();

    MessageLog log;
    QCOMPARE(constructionCode(connectionName, database), 1);

    // The open error alone: no "destruct", since no object came into existence.
    QCOMPARE(log.all().size(), 1);
    QCOMPARE(log.all().first().type, QtDebugMsg);
    const QString message = log.all().first().text;
    QVERIFY2(message.startsWith(
                 QStringLiteral("QSqlError(\"%1\", \"QMYSQL: Unable to connect\", ").arg(number)),
             qPrintable(message));
    QVERIFY2(message.endsWith(QStringLiteral(") \n")), qPrintable(message));
    QVERIFY(!QSqlDatabase::contains(connectionName));

    // The user is shown the server's own reason, since every failed open reads the same.
    QCOMPARE(lastDbFailure().nativeErrorCode(), number);
    const QString reason = dbFailureReason(lastDbFailure());
    QVERIFY2(reason.startsWith(reasonStart), qPrintable(reason));
}

// Stands for a server whose packets are dropped: a listening socket whose queue is full and
// that never accepts, so that the kernel drops every further connection request.
void TestInventoryDb::shouldGiveUpOnServerThatDoesNotAnswer()
{
    QTcpServer silent;
    silent.setListenBacklogSize(0);
    QHostAddress address;
    for (int last = 2; last < 250 && !silent.isListening(); ++last) {
        address = QHostAddress(QStringLiteral("127.0.%1.%2")
                                   .arg(QCoreApplication::applicationPid() % 200 + 20)
                                   .arg(last));
        silent.listen(address, 3306);
    }
    QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
    silent.pauseAccepting();
    QTcpSocket queued;
    queued.connectToHost(address, 3306);
    QVERIFY(queued.waitForConnected(5000));

    ConnectionSettings::dbHost = address.toString();
    MessageLog log;
    QCOMPARE(constructionCode(connectionName, scratch->databaseName()), 1);
    QCOMPARE(log.debug().size(), 1);
    QVERIFY2(log.debug().first().startsWith(QStringLiteral("QSqlError(\"2002\"")),
             qPrintable(log.debug().first()));
    QVERIFY(!QSqlDatabase::contains(connectionName));
}

void TestInventoryDb::shouldReuseNameOfDestroyedObject()
{
    MessageLog log;
    {
        InventoryDb first(connectionName, scratch->databaseName());
    }
    // The destructor leaves the connection registered and open.
    QVERIFY(QSqlDatabase::contains(connectionName));
    QVERIFY(QSqlDatabase::database(connectionName, false).isOpen());
    QCOMPARE(log.debug(), QStringList{Destruct});

    log.clear();
    {
        InventoryDb second(connectionName, scratch->databaseName());
        // Neither "still in use" nor "duplicate connection name".
        QCOMPARE(log.warnings(), QStringList());
        QCOMPARE(testdatabase::rowsOn(connectionName, QStringLiteral("select database()")),
                 QStringList{scratch->databaseName()});
    }
    QCOMPARE(log.all().size(), 2); // "destruct", and whether the session is encrypted
    QCOMPARE(log.debug(), QStringList{Destruct});
}

void TestInventoryDb::shouldForwardTransactionCalls()
{
    QVERIFY(scratch->exec(QStringLiteral("create table t (a int) Engine = Innodb")));
    const QString insert = QStringLiteral("insert into t values (1)");
    const QString count = QStringLiteral("select count(*) from t");

    InventoryDb db(connectionName, scratch->databaseName());
    QVERIFY(db.transaction());
    testdatabase::rowsOn(connectionName, insert);
    QVERIFY(db.rollback());
    QCOMPARE(scratch->value(count), QStringLiteral("0"));

    QVERIFY(db.transaction());
    testdatabase::rowsOn(connectionName, insert);
    QCOMPARE(scratch->value(count), QStringLiteral("0")); // not yet seen by other sessions
    QVERIFY(db.commit());
    QCOMPARE(scratch->value(count), QStringLiteral("1"));

    // On a connection the server has ended, the calls report the failure of the handle's.
    QVERIFY(admin->killSession(testdatabase::sessionOf(connectionName)));
    QVERIFY(!db.transaction());
    QVERIFY(!db.commit());
}

void TestInventoryDb::shouldReportLostConnectionAfterKill()
{
    InventoryDb db(connectionName, scratch->databaseName());
    QVERIFY(admin->killSession(testdatabase::sessionOf(connectionName)));

    MessageLog log;
    int code = 0;
    try {
        db.createSchema();
    } catch (int thrown) {
        code = thrown;
    }
    QCOMPARE(code, 2);
    // The first statement after the kill fails: its label, then the error of the lost session.
    QCOMPARE(log.debug().size(), 2);
    QCOMPARE(log.debug().at(0), QStringLiteral("Table 2 \n"));
    // Over TLS, the closed connection ends in the TLS error 2026.
    QVERIFY2(log.debug().at(1).startsWith(QStringLiteral("QSqlError(\"2013\"")) ||
                 log.debug().at(1).startsWith(QStringLiteral("QSqlError(\"2026\"")),
             qPrintable(log.debug().at(1)));
    QCOMPARE(scratch->rows(QStringLiteral("show tables")), QStringList());
}

QTEST_GUILESS_MAIN(TestInventoryDb)
#include "tst_inventorydb.moc"
