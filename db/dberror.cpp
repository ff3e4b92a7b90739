#include "db/dberror.h"

#include <QDebug>
#include <QSqlError>
#include <QThreadStorage>

namespace {

// Qt's per-thread storage rather than thread_local: Qt frees it when a thread ends, where the
// Windows (mingw-w64) runtime may destroy a thread_local after its memory is gone, crashing
// the run's thread as it ends and leaving the program hanging at exit.
QThreadStorage<QSqlError> lastFailure;

} // namespace

int sqlErrorNumber(const QSqlError &error)
{
    bool ok = false;
    const int number = error.nativeErrorCode().toInt(&ok);
    return ok ? number : -1;
}

int classifyError(const QSqlError &error)
{
    qDebug() << error << Qt::endl;
    recordDbFailure(error);

    switch (sqlErrorNumber(error)) {
    case -1:
        return DbError::NoErrorNumber;
    case 2003:
        return DbError::ConnectionFailed;
    case 2006:
    case 2013:
    case 2026: // over TLS, a connection that the server closed ends in a TLS error
        return DbError::ConnectionLost;
    case 1050:
        return DbError::TableExists;
    case 1062:
        return DbError::DuplicateEntry;
    case 1235:
        return DbError::NotSupported;
    case 1213:
        return DbError::Deadlock;
    case 1290:
        return DbError::ReadOnly;
    case 3098:
        return DbError::PluginRefused;
    case 4165:
        return DbError::NotReplicable;
    case 1366: // a character the column's character set lacks
    case 1406: // longer than the column
        return DbError::ValueRefused;
    default:
        return DbError::Unclassified;
    }
}

QSqlError lastDbFailure()
{
    return lastFailure.localData();
}

void recordDbFailure(const QSqlError &error)
{
    lastFailure.setLocalData(error);
}

QString dbFailureReason(const QSqlError &error)
{
    const QString number = error.nativeErrorCode().trimmed();
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (number.isEmpty() || text.isEmpty())
        return number + text;
    return number + QStringLiteral(": ") + text;
}
