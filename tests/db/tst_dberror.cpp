#include "db/dberror.h"

#include "messagelog.h"

#include <QSqlError>
#include <QtTest>

#include <thread>
#include <type_traits>

using testsupport::MessageLog;

// The one handler of the setup dialog catches int; a code of any other type would pass it by.
static_assert(std::is_same_v<decltype(classifyError(QSqlError())), int>);

class TestDbError : public QObject
{
    Q_OBJECT

private slots:
    void shouldClassifyByNumberAlone_data();
    void shouldClassifyByNumberAlone();
    void shouldReachAnIntHandlerUnchanged();
    void shouldKeepLastFailurePerThread();
};

void TestDbError::shouldClassifyByNumberAlone_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("driverText");
    QTest::addColumn<QString>("databaseText");
    QTest::addColumn<int>("code");

    const QString driver = QStringLiteral("QMYSQL: Unable to execute query");
    QTest::newRow("no number") << "" << QString() << QString() << 100;
    QTest::newRow("number that is not a number") << "HY000" << driver << "x" << 100;
    QTest::newRow("cannot connect") << "2003"
                                    << "QMYSQL: Unable to connect"
                                    << "Can't connect to MySQL server" << 1;
    QTest::newRow("server gone away") << "2006" << driver << "Server has gone away" << 2;
    QTest::newRow("lost during query")
        << "2013" << driver << "Lost connection to server during query" << 2;
    QTest::newRow("lost over TLS")
        << "2026" << driver << "TLS/SSL error: unexpected eof while reading" << 2;
    QTest::newRow("table exists") << "1050" << driver << "Table 'people' already exists" << 3;
    QTest::newRow("duplicate entry") << "1062"
                                     << "QMYSQL: Unable to execute statement"
                                     << "Duplicate entry 'admin' for key 'PRIMARY'" << 4;
    QTest::newRow("duplicate entry, whatever the texts say") << "1062"
                                                             << "QMYSQL: Unable to connect"
                                                             << "Server has gone away" << 4;
    QTest::newRow("not supported") << "1235" << driver << "This version doesn't yet support" << 5;
    QTest::newRow("trigger exists") << "1359" << driver << "Trigger already exists" << -100;
    QTest::newRow("connection refused, MariaDB client") << "2002"
                                                        << "QMYSQL: Unable to connect"
                                                        << "Can't connect to server" << -100;
    QTest::newRow("connection killed") << "1927" << driver << "Connection was killed" << -100;
    QTest::newRow("string too long") << "1406" << driver << "Data too long" << 6;
    QTest::newRow("character the column lacks") << "1366" << driver << "Incorrect string" << 6;
    QTest::newRow("deadlock, or a conflict between Galera nodes")
        << "1213" << driver << "Deadlock found" << int(DbError::Deadlock);
    QTest::newRow("read-only") << "1290" << driver << "--read-only option"
                               << int(DbError::ReadOnly);
    QTest::newRow("a plugin's rules")
        << "3098" << driver << "external plugin" << int(DbError::PluginRefused);
    QTest::newRow("not replicated by Galera")
        << "4165" << driver << "Galera replication" << int(DbError::NotReplicable);
    QTest::newRow("zero") << "0" << driver << "" << -100;
    QTest::newRow("minus two") << "-2" << driver << "" << -100;
}

void TestDbError::shouldClassifyByNumberAlone()
{
    QFETCH(QString, number);
    QFETCH(QString, driverText);
    QFETCH(QString, databaseText);
    const QSqlError error(driverText, databaseText, QSqlError::StatementError, number);

    MessageLog log;
    QTEST(classifyError(error), "code");

    // One debug message per call, whatever the result: the error as Qt's debug stream writes it,
    // then the end of line.
    QCOMPARE(log.all().size(), 1);
    QCOMPARE(log.debug(), QStringList{QStringLiteral("QSqlError(\"%1\", \"%2\", \"%3\") \n")
                                          .arg(number, driverText, databaseText)});
}

void TestDbError::shouldReachAnIntHandlerUnchanged()
{
    const QSqlError duplicate(QString(), QString(), QSqlError::StatementError,
                              QStringLiteral("1062"));
    try {
        throw classifyError(duplicate);
    } catch (int code) {
        QCOMPARE(code, int{DbError::DuplicateEntry});
        return;
    } catch (...) {
    }
    QFAIL("The code did not reach the handler for int");
}

// A run on a worker thread must not read, or overwrite, the failure of another thread.
void TestDbError::shouldKeepLastFailurePerThread()
{
    const auto error = [](const char *number) {
        return QSqlError(QString(), QString(), QSqlError::StatementError,
                         QString::fromLatin1(number));
    };
    classifyError(error("1062"));
    QString seenOnWorker;
    std::thread worker([&] {
        seenOnWorker = lastDbFailure().nativeErrorCode();
        classifyError(error("1419"));
        seenOnWorker += QLatin1Char('/') + lastDbFailure().nativeErrorCode();
    });
    worker.join();
    QCOMPARE(seenOnWorker, QStringLiteral("/1419"));
    QCOMPARE(lastDbFailure().nativeErrorCode(), QStringLiteral("1062"));
}

QTEST_GUILESS_MAIN(TestDbError)
#include "tst_dberror.moc"
