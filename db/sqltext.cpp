#include "db/sqltext.h"

qsizetype pastQuoted(QStringView sql, qsizetype at)
{
    const QChar quote = sql.at(at);
    if (quote != u'`' && quote != u'"' && quote != u'\'')
        return at;
    for (qsizetype i = at + 1; i < sql.size(); ++i) {
        if (quote == u'\'' && sql.at(i) == u'\\')
            ++i;
        else if (sql.at(i) == quote && i + 1 < sql.size() && sql.at(i + 1) == quote)
            ++i;
        else if (sql.at(i) == quote)
            return i + 1;
    }
    return -1;
}
