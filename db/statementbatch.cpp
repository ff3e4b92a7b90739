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

namespace {

// A compound statement whose handler turns the refusal of each statement in it into a row with
// the error's number (0 for none) and text, so that the server goes on with the next one.
const QString CompoundStart = QStringLiteral(
    "BEGIN NOT ATOMIC DECLARE CONTINUE HANDLER FOR SQLEXCEPTION GET DIAGNOSTICS CONDITION 1 "
    "@quorvo_errno = MYSQL_ERRNO, @quorvo_error = MESSAGE_TEXT");
const QString CaughtStatement =
    QStringLiteral("SET @quorvo_errno = 0;\n%1;\nSELECT @quorvo_errno, @quorvo_error");
const QString CompoundEnd = QStringLiteral("END");
const QString Separator = QStringLiteral(";\n");

// Statements first to last of a query: alone, or those that may be caught, in one compound
// statement.
struct Part
{
    qsizetype first;
    qsizetype last;
    bool compound;
};

} // namespace

QList<StatementOutcome> sendBatch(const QSqlDatabase &db, const QStringList &statements,
                                  AfterRefusal afterRefusal, const QList<bool> &refusalExpected,
                                  const QList<bool> &caught)
{
    QList<StatementOutcome> outcomes(statements.size());
    QSqlQuery query(db);
    // The server answers each statement, or stops with an error; an end without one leaves the
    // rest unanswered.
    const auto unanswered = [&](qsizetype answered) {
        return classifyError(QSqlError(QStringLiteral("The server answered %1 of %2 statements.")
                                           .arg(answered)
                                           .arg(statements.size())));
    };
    const auto nextResult = [&](qsizetype answered) {
        const bool ok = query.nextResult();
        if (!ok && !query.lastError().isValid())
            throw unanswered(answered);
        return ok;
    };
    qsizetype next = 0;
    while (next < statements.size()) {
        QList<Part> parts;
        QStringList texts;
        for (qsizetype at = next; at < statements.size();) {
            Part part{at, at, caught.value(at)};
            if (part.compound) {
                while (part.last + 1 < statements.size() && caught.value(part.last + 1))
                    ++part.last;
                QStringList compound{CompoundStart};
                for (qsizetype i = part.first; i <= part.last; ++i)
                    compound << CaughtStatement.arg(statements.at(i));
                compound << CompoundEnd;
                texts << compound.join(Separator);
            } else {
                texts << statements.at(at);
            }
            parts << part;
            at = part.last + 1;
            if (!part.compound && refusalExpected.value(part.first))
                break;
        }
        // The QMYSQL driver opens every connection with multi-statement support.
        bool ok = query.exec(texts.join(Separator));
        qsizetype refused = -1;
        for (qsizetype i = 0;;) {
            const Part &part = parts.at(i);
            if (part.compound) {
                // A row for each statement, then the compound statement's own end.
                for (qsizetype at = part.first; at <= part.last; ++at) {
                    if (!ok)
                        throw classifyError(query.lastError());
                    if (!query.next())
                        throw unanswered(at);
                    outcomes[at].sent = true;
                    if (const int number = query.value(0).toInt())
                        outcomes[at].error =
                            QSqlError(QString(), query.value(1).toString(),
                                      QSqlError::StatementError, QString::number(number));
                    ok = nextResult(at + 1);
                }
                if (!ok)
                    throw classifyError(query.lastError());
            } else {
                StatementOutcome &outcome = outcomes[part.first];
                outcome.sent = true;
                if (!ok) {
                    outcome.error = query.lastError();
                    refused = part.first;
                    break;
                }
                if (query.isSelect()) {
                    while (query.next()) {
                        QStringList columns;
                        for (int c = 0; c < query.record().count(); ++c)
                            columns << query.value(c).toString();
                        outcome.rows << columns;
                    }
                }
            }
            if (++i == parts.size())
                break;
            ok = nextResult(part.last + 1);
        }
        if (refused >= 0) {
            if (!isServerAnswer(outcomes[refused].error))
                throw classifyError(outcomes[refused].error);
            if (afterRefusal == AfterRefusal::Stop)
                break;
            next = refused + 1;
        } else {
            next = parts.last().last + 1;
        }
    }
    return outcomes;
}
