#pragma once

#include <QList>
#include <QSqlError>
#include <QString>
#include <QStringList>

class QSqlDatabase;

// What became of one statement of a batch.
struct StatementOutcome
{
    bool sent = false;       // false: an earlier statement failed and the batch stopped there
    QSqlError error;         // the server's refusal; not valid where the statement went through
    QList<QStringList> rows; // of a statement that selects: each row's columns as text

    bool refused() const { return error.isValid(); }
};

// Whether the batch goes on with the statements after one that the server refuses.
enum class AfterRefusal { GoOn, Stop };

// Sends the statements in as few queries as it can without sending a text twice. The server
// stops a query at the first statement it refuses and leaves the rest unanswered, so a statement
// whose refusal the caller expects (refusalExpected, by index; a probe on a table that does not
// exist) ends its query; with no refusal expected a whole batch costs one round trip. Where the
// server runs compound statements (MariaDB), the caller may name the statements whose refusal
// is an answer like any other and that such a statement may hold (caught, by index; not CREATE
// TRIGGER): each run of them goes into one, which answers for each and goes on, refused or not.
// After a refusal that came unexpected the rest of its query goes again (AfterRefusal::GoOn),
// or nothing more (Stop). A failure of the connection is thrown as its DbError code. Returns one
// outcome per statement, in their order.
QList<StatementOutcome> sendBatch(const QSqlDatabase &db, const QStringList &statements,
                                  AfterRefusal afterRefusal,
                                  const QList<bool> &refusalExpected = {},
                                  const QList<bool> &caught = {});

// Whether the error is the server's answer to a statement, rather than the client library's
// (a connection that failed or was lost, 2000-2999).
bool isServerAnswer(const QSqlError &error);
