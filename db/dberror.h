#pragma once

class QSqlError;

// Failure codes of every database operation. They are thrown and caught as a plain int, so
// the one handler in the setup dialog (catch (int)) sees every one of them.
namespace DbError {
enum : int {
    ConnectionFailed = 1,
    ConnectionLost = 2,
    TableExists = 3,
    DuplicateEntry = 4,
    NotSupported = 5,
    NoErrorNumber = 100,
    Unclassified = -100,
};
}

// Writes the error to the debug stream and returns its DbError code; the caller throws it.
int classifyError(const QSqlError &error);

// The server's or client library's error number, -1 where the error carries none.
int sqlErrorNumber(const QSqlError &error);
