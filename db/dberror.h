#pragma once

#include <QSqlError>
#include <QString>

// Failure codes of every database operation. They are thrown and caught as a plain int, so
// the one handler in the setup dialog (catch (int)) sees every one of them.
namespace DbError {
enum : int {
    ConnectionFailed = 1,
    ConnectionLost = 2,
    TableExists = 3,
    DuplicateEntry = 4,
    NotSupported = 5,
    ValueRefused = 6, // a value the column cannot hold, refused by a strict session
    // With a CA certificate given: the server offered no TLS, or its certificate failed the check.
    NotEncrypted = 7,
    CertificateRejected = 8,
    // A clash with another session at the same time: a deadlock, a certification conflict with
    // another node of a Galera cluster, or another run that made the tables meanwhile.
    Deadlock = 9,
    ReadOnly = 10,
    PluginRefused = 11, // a plugin's rules, such as Group Replication's checks
    NotReplicable = 12, // a statement that Galera would not replicate under its wsrep_mode
    NoErrorNumber = 100,
    Unclassified = -100,
};
}

// Writes the error to the debug stream, records it as this thread's last failure and returns
// its DbError code; the caller throws it.
int classifyError(const QSqlError &error);

// The server's or client library's error number, -1 where the error carries none.
int sqlErrorNumber(const QSqlError &error);

// The error behind the last DbError thrown on this thread (a default QSqlError before the
// first). A thrown int carries no more than its code; this keeps the server's own reason for
// the one who catches it. Per thread, so that a run on a worker thread reads its own.
QSqlError lastDbFailure();
void recordDbFailure(const QSqlError &error);

// The reason as the user is shown it: "<number>: <server's text>", the client library's text
// where the server gave none; empty when the error carries neither number nor text.
QString dbFailureReason(const QSqlError &error);
