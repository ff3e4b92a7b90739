#pragma once

// The server that scripts/test.sh starts, as the tests labelled "db" use it: MariaDB 10.11,
// then the same tests again against MariaDB 11.8 and MySQL 9.7.
//
//   QUORVO_TEST_DB_HOST      address of the server (default 127.0.0.1; the port is always 3306)
//   QUORVO_TEST_DB_USER      an account with all privileges on *.* (default quorvo_test)
//   QUORVO_TEST_DB_PASSWORD  its password (default quorvo-test-password)
//   QUORVO_TEST_SKIP_DB=1    skip the database tests when the server cannot be reached.
//                            Without it an unreachable server fails them, so that a run without
//                            a server never passes quietly.
//
// Some cases need the server to run with binary logging on (scripts/test.sh starts it with
// QUORVO_DB_BINLOG=1); against one without, they fail and say so.

#include "settings/connectionsettings.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTest>

#include <memory>

// Like QVERIFY, and on failure prints what the driver said.
#define QVERIFY_SQL(query, call) QVERIFY2((query).call, qPrintable((query).lastError().text()))

// For init(): ends the case as failed, or as skipped where QUORVO_TEST_SKIP_DB=1, when the
// administrative connection could not be opened.
#define QUORVO_REQUIRE_SERVER(admin)                                                               \
    do {                                                                                           \
        if (!(admin).isOpen()) {                                                                   \
            if (testdatabase::skipWhenUnreachable())                                               \
                QSKIP("No test database server, and QUORVO_TEST_SKIP_DB=1");                       \
            QFAIL(qPrintable(QStringLiteral("The test database server cannot be reached: ") +      \
                             (admin).errorText()));                                                \
        }                                                                                          \
    } while (false)

namespace testdatabase {

inline QString host()
{
    return qEnvironmentVariable("QUORVO_TEST_DB_HOST", QStringLiteral("127.0.0.1"));
}
inline QString user()
{
    return qEnvironmentVariable("QUORVO_TEST_DB_USER", QStringLiteral("quorvo_test"));
}
inline QString password()
{
    return qEnvironmentVariable("QUORVO_TEST_DB_PASSWORD", QStringLiteral("quorvo-test-password"));
}
// The other servers of a cluster or a primary's replicas, where host() is one of a set:
// QUORVO_TEST_DB_NODES, their addresses separated by commas.
inline QStringList otherNodes()
{
    return qEnvironmentVariable("QUORVO_TEST_DB_NODES").split(u',', Qt::SkipEmptyParts);
}
inline bool skipWhenUnreachable()
{
    return qEnvironmentVariableIntValue("QUORVO_TEST_SKIP_DB") == 1;
}

// Points the program's connection settings at the test server, as the settings file would.
inline void useTestServer()
{
    ConnectionSettings::dbHost = host();
    ConnectionSettings::dbUser = user();
    ConnectionSettings::dbPassword = password();
}

// Unique within the run, and across test programs running side by side.
inline QString uniqueName(const QString &prefix)
{
    static int counter = 0;
    return QStringLiteral("%1_%2_%3")
        .arg(prefix)
        .arg(QCoreApplication::applicationPid())
        .arg(++counter);
}

// The first column of each row, the columns of a row joined by " | ". When the statement fails
// the one entry says so, which makes any comparison fail with the driver's words in it.
inline QStringList rows(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        return {QStringLiteral("SQL failed: %1 [%2]").arg(query.lastError().text(), sql)};
    QStringList result;
    while (query.next()) {
        QStringList columns;
        for (int i = 0; i < query.record().count(); ++i)
            columns << (query.isNull(i) ? QStringLiteral("NULL") : query.value(i).toString());
        result << columns.join(QStringLiteral(" | "));
    }
    return result;
}

// The single value a statement selects, or a text that says why there is none.
inline QString value(const QSqlDatabase &db, const QString &sql)
{
    const QStringList all = rows(db, sql);
    return all.size() == 1 ? all.first()
                           : QStringLiteral("%1 rows: %2").arg(all.size()).arg(all.join(u';'));
}

// Where MySQL and MariaDB answer differently for a reason of their own (how a column type is
// shown, the syntax of roles), a test expects the answer of the server it talks to.
inline bool isMySql(const QSqlDatabase &db)
{
    return !value(db, QStringLiteral("select version()")).contains(QLatin1String("MariaDB"));
}

// A connection of the tests' own under a name of its own, on no particular database.
class AdminConnection
{
public:
    explicit AdminConnection(const QString &server = host())
        : name(uniqueName(QStringLiteral("quorvo_admin")))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
        db.setHostName(server);
        db.setUserName(user());
        db.setPassword(password());
        db.setPort(3306);
        db.setConnectOptions(QStringLiteral("MYSQL_OPT_CONNECT_TIMEOUT=10"));
        opened = db.open();
        if (!opened)
            error = db.lastError().text();
    }
    ~AdminConnection()
    {
        database().close();
        QSqlDatabase::removeDatabase(name);
    }
    AdminConnection(const AdminConnection &) = delete;
    AdminConnection &operator=(const AdminConnection &) = delete;

    bool isOpen() const { return opened; }
    QString errorText() const { return error; }
    QSqlDatabase database() const { return QSqlDatabase::database(name, false); }

    bool exec(const QString &sql, QString *failure = nullptr) const
    {
        QSqlQuery query(database());
        const bool ok = query.exec(sql);
        if (!ok && failure)
            *failure = query.lastError().text();
        return ok;
    }

    // Ends another session the way an administrator or a restarting server would, and waits
    // until the server has let go of it.
    bool killSession(const QString &sessionId) const
    {
        if (!exec(QStringLiteral("KILL CONNECTION %1").arg(sessionId)))
            return false;
        const QString stillThere =
            QStringLiteral("select count(*) from information_schema.processlist where id = %1")
                .arg(sessionId);
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (value(database(), stillThere) == QLatin1String("0"))
                return true;
            QTest::qWait(10);
        }
        return false;
    }

private:
    QString name;
    bool opened = false;
    QString error;
};

// A database of the case's own, dropped again when this goes.
class ScratchDatabase
{
public:
    explicit ScratchDatabase(const AdminConnection &adminConnection)
        : admin(adminConnection), name(uniqueName(QStringLiteral("quorvo_t")))
    {
        created = admin.exec(QStringLiteral("CREATE DATABASE `%1`").arg(name));
    }
    ~ScratchDatabase()
    {
        if (created)
            admin.exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name));
    }
    ScratchDatabase(const ScratchDatabase &) = delete;
    ScratchDatabase &operator=(const ScratchDatabase &) = delete;

    bool isCreated() const { return created; }
    const QString &databaseName() const { return name; }

    // Runs a statement inside this database.
    bool exec(const QString &sql, QString *failure = nullptr) const
    {
        return admin.exec(QStringLiteral("USE `%1`").arg(name), failure) &&
               admin.exec(sql, failure);
    }
    QStringList rows(const QString &sql) const
    {
        admin.exec(QStringLiteral("USE `%1`").arg(name));
        return testdatabase::rows(admin.database(), sql);
    }
    QString value(const QString &sql) const
    {
        admin.exec(QStringLiteral("USE `%1`").arg(name));
        return testdatabase::value(admin.database(), sql);
    }

private:
    const AdminConnection &admin;
    QString name;
    bool created = false;
};

// An account of the case's own that holds only the rights granted to it, dropped again when
// this goes.
class LimitedAccount
{
public:
    static inline const QString Password = QStringLiteral("quorvo-limited-password");

    explicit LimitedAccount(const AdminConnection &adminConnection)
        : admin(adminConnection), name(uniqueName(QStringLiteral("quorvo_a")))
    {
        created = admin.exec(
            QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY '%2'").arg(name, Password));
    }
    ~LimitedAccount() { drop(); }
    LimitedAccount(const LimitedAccount &) = delete;
    LimitedAccount &operator=(const LimitedAccount &) = delete;

    bool isCreated() const { return created; }
    const QString &userName() const { return name; }

    // Drops the account now rather than when this goes.
    void drop()
    {
        if (created)
            admin.exec(QStringLiteral("DROP USER '%1'@'%'").arg(name));
        created = false;
    }

    // rights: "CREATE, INSERT"; on: "`db`.*" or "*.*".
    bool grant(const QString &rights, const QString &on, QString *failure = nullptr) const
    {
        return admin.exec(QStringLiteral("GRANT %1 ON %2 TO '%3'@'%'").arg(rights, on, name),
                          failure);
    }

private:
    const AdminConnection &admin;
    QString name;
    bool created = false;
};

// What every case on a scratch database works with. A test class inherits it beside QObject,
// calls startCase() from init() (then QUORVO_REQUIRE_SERVER(*admin)) and endCase() from
// cleanup(), after it has destroyed the program's objects on the connection.
class DatabaseCase
{
protected:
    void startCase(const QString &prefix)
    {
        connectionName = uniqueName(prefix);
        useTestServer();
        admin = std::make_unique<AdminConnection>();
        if (admin->isOpen())
            scratch = std::make_unique<ScratchDatabase>(*admin);
    }
    void endCase()
    {
        scratch.reset();
        admin.reset();
        QSqlDatabase::removeDatabase(connectionName);
    }

    QString connectionName; // the program's connection of this case
    std::unique_ptr<AdminConnection> admin;
    std::unique_ptr<ScratchDatabase> scratch;
};

// The server session behind a registered connection of the program, seen through a second
// handle on the same connection. The handle goes before the caller continues, so that a later
// removeDatabase of that name finds no handle in use.
inline QString sessionOf(const QString &connectionName)
{
    return value(QSqlDatabase::database(connectionName, false),
                 QStringLiteral("select connection_id()"));
}

// A statement sent on a registered connection of the program, in its own session.
inline QStringList rowsOn(const QString &connectionName, const QString &sql)
{
    return rows(QSqlDatabase::database(connectionName, false), sql);
}

} // namespace testdatabase
