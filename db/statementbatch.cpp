#include "db/statementbatch.h"

#include "db/dberror.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

bool isServerAnswer(const QSqlError &error)
{
    const int number = sqlErrorNumber(error);
    return number >= 1000 && (number < 2000 || number >= 3000);
}

QList<StatementOutcome> sendBatch(const QSqlDatabase &db, const QStringList &statements,
                                  AfterRefusal afterRefusal, const QList<bool> &refusalExpected)
{
    QList<StatementOutcome> outcomes(statements.size());
    QSqlQuery query(db);
    qsizetype next = 0;
    while (next < statements.size()) {
        qsizetype last = next;
        while (last + 1 < statements.size() && !refusalExpected.value(last))
            ++last;
        // The QMYSQL driver opens every connection with multi-statement support.
        bool ok = query.exec(statements.mid(next, last + 1 - next).join(QStringLiteral(";\n")));
        qsizetype at = next;
        for (;;) {
            StatementOutcome &outcome = outcomes[at];
            outcome.sent = true;
            if (!ok) {
                outcome.error = query.lastError();
                break;
            }
            if (query.isSelect()) {
                while (query.next()) {
                    QStringList columns;
                    for (int i = 0; i < query.record().count(); ++i)
                        columns << query.value(i).toString();
                    outcome.rows << columns;
                }
            }
            if (at == last)
                break;
            ok = query.nextResult();
            ++at;
            // The server answers each statement, or stops with an error; an end without one
            // leaves the rest unanswered.
            if (!ok && !query.lastError().isValid())
                throw classifyError(QSqlError(QStringLiteral("The server answered %1 of %2 "
                                                             "statements.")
                                                  .arg(at)
                                                  .arg(statements.size())));
        }
        if (outcomes[at].refused()) {
            if (!isServerAnswer(outcomes[at].error))
                throw classifyError(outcomes[at].error);
            if (afterRefusal == AfterRefusal::Stop)
                break;
        }
        next = at + 1;
    }
    return outcomes;
}
