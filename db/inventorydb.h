#pragma once

#include "db/checkoutfailure.h"
#include "db/readiness.h"
#include "db/schemadifference.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSqlDatabase;

// The one connection of the setup tool to the inventory database. It exists only while its
// connection is open: the constructor opens it or throws DbError::ConnectionFailed. It uses TLS
// wherever the server offers it; with a CA certificate in ConnectionSettings it verifies the
// server against it and throws DbError::CertificateRejected or DbError::NotEncrypted instead.
//
// Every failure of an operation is thrown as a plain int DbError code; operations that send SQL
// return true otherwise.
class InventoryDb
{
public:
    // Registers the connection under connectionName (dropping a stale registration of that
    // name first), configures it from ConnectionSettings and opens it.
    InventoryDb(const QString &connectionName, const QString &databaseName);
    // Leaves the connection registered and open; the next construction with the same name
    // removes it.
    ~InventoryDb();
    InventoryDb(const InventoryDb &) = delete;

    // Reads which database drivers there are (the plugins' metadata only) in the calling
    // thread; a missing driver shows when the connection is opened. Call it from the thread
    // that outlives the connections, before the first one: the first look-up leaves
    // thread-local state behind, whose clean-up at the end of a thread the Windows (mingw-w64)
    // runtime may run after that state's memory is gone, crashing the thread as it ends. The
    // driver plugin and the client library themselves load when a connection is made, in the
    // thread that makes it. Sets the process's TLS environment too, before other threads run.
    static void lookUpDrivers();
    InventoryDb &operator=(const InventoryDb &) = delete;

    // Whether the server still answers on this connection. A connection that stood idle may
    // have been closed by the server (its idle timeout, a restart) without our knowing.
    bool isAlive();

    bool transaction();
    bool commit();
    bool rollback();

    // Creates the inventory tables and the triggers on p_k. Tables that exist are left as they
    // are, so a repeated run keeps their rows. The triggers named in triggersInPlace are not
    // asked for again: where binary logging is on, a server may refuse even a trigger that
    // exists to an account without SUPER. With claimPK, p_k is created without "if not exists":
    // a cluster orders its DDL, so of two runs at once that found it missing the second stops
    // there (DbError::Deadlock), before its triggers.
    bool createSchema(const QHash<QString, QString> &triggersInPlace = {}, bool claimPK = false);

    // Checks a key out, changes the checkout and checks the key back in as the Quorvo
    // application does, with this account, through the triggers on p_k, inside a transaction
    // that is rolled back: no row stays (a number of p_k's TransactionID may be used up). On
    // MySQL it runs under the account's default roles, as the triggers of other sessions do.
    // Returns what went wrong, or nothing; where p_k or pkeys is not transactional, nothing is
    // tried (the debug output says so). A failed connection is thrown as its code; every way out
    // rolls back first.
    std::optional<CheckoutFailure> checkCheckout();

    // Creates the table of login accounts if it is missing and adds one account.
    bool addUser(QString username, QByteArray digest);

    // Compares the database with what the Quorvo application needs: the eight inventory tables
    // with their columns (and the types the triggers rely on), the four triggers on p_k, then
    // the accounts table where there is one (the types the digest relies on, and a key on the
    // name), in this order.
    // Returns the first difference, or nothing when there is none. Reads only; a failing query
    // is thrown like any other statement. Made for the run before addUser, which creates a
    // missing accounts table.
    std::optional<SchemaDifference> checkSchema();

    // What would keep a run from leaving a database the Quorvo application can work with: the
    // rights of the account as the server will apply them to the run, to the triggers it
    // creates and to the Quorvo application, binary logging that refuses the triggers, tables
    // and triggers that exist in another layout, and a user name that the accounts table cannot
    // hold. Changes nothing, so that a run refused here leaves the database as it was; a failing
    // query is thrown like any other statement.
    ReadinessProblems checkReadiness(const QString &username);

    // The tables and the triggers on p_k of the run that exist now, in the order the run makes
    // them; asked after a failure, so a failing query gives none rather than another error.
    QStringList schemaInPlace();

private:
    // Every difference, in the order of checkSchema; with existingOnly, none for a table or
    // trigger that is missing. Fills inPlace with the triggers that are as Quorvo needs them
    // and the account each runs as, and tables with the names of the tables there are.
    QList<SchemaDifference> schemaDifferences(bool existingOnly,
                                              QHash<QString, QString> *inPlace = nullptr,
                                              QSet<QString> *tables = nullptr);
    // What the trigger of that name does, as the run creates it.
    static QString triggerBody(const QString &name);
    // The triggers on p_k, in the order the run creates them.
    static QStringList triggerNames();

    std::unique_ptr<QSqlDatabase> db;
    QString connName;
};
