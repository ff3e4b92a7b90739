#include "db/dberror.h"

#include <QDebug>
#include <QSqlError>

int sqlErrorNumber(const QSqlError &error)
{
    bool ok = false;
    const int number = error.nativeErrorCode().toInt(&ok);
    return ok ? number : -1;
}

int classifyError(const QSqlError &error)
{
    qDebug() << error << Qt::endl;

    switch (sqlErrorNumber(error)) {
    case -1:
        return DbError::NoErrorNumber;
    case 2003:
        return DbError::ConnectionFailed;
    case 2006:
    case 2013:
        return DbError::ConnectionLost;
    case 1050:
        return DbError::TableExists;
    case 1062:
        return DbError::DuplicateEntry;
    case 1235:
        return DbError::NotSupported;
    default:
        return DbError::Unclassified;
    }
}
