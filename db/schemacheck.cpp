#include "db/inventorydb.h"

#include "db/dberror.h"
#include "db/layout.h"
#include "db/sqltext.h"
#include "db/statementbatch.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

struct ExpectedTrigger
{
    const char *name;
    const char *timingAndEvent;
};

const char *const TriggerTable = "p_k";
const ExpectedTrigger ExpectedTriggers[] = {
    {"now_date_pk", "BEFORE INSERT"},
    {"checkout_keys", "AFTER INSERT"},
    {"change_keys", "AFTER UPDATE"},
    {"checkin_keys", "AFTER DELETE"},
};

// The server shows only what the account has some right on; with the rights the run needs,
// that is every table and trigger of the database.
const QString ColumnsQuery = QStringLiteral(
    "select table_name, column_name, data_type, column_type, character_maximum_length, "
    "character_set_name, is_nullable = 'NO' and column_default is null and "
    "coalesce(generation_expression, '') = '' and extra not like '%auto_increment%' from "
    "information_schema.columns where table_schema = database()");
// With the way the server compares table names: 0 as they are written, 1 and 2 without regard
// to letter case.
const QString TriggersQuery = QStringLiteral(
    "select trigger_name, event_object_table, action_timing, event_manipulation, "
    "action_statement, definer, @@lower_case_table_names from information_schema.triggers "
    "where trigger_schema = database()");

const QString InPlaceQuery = QStringLiteral(
    "select table_name from information_schema.tables where table_schema = database() union "
    "all select trigger_name from information_schema.triggers where trigger_schema = database() "
    "and event_object_table = 'p_k'");

// A piece of a statement: a word (a keyword or a name, quoted or not) or anything else (a sign,
// a string) as it is written.
struct Token
{
    QString text;
    bool word;
};

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

// The statement without its blanks and comments, and without the semicolons that may end it.
QList<Token> tokens(QStringView sql)
{
    QList<Token> result;
    qsizetype i = 0;
    while (i < sql.size()) {
        const QChar c = sql.at(i);
        const QStringView rest = sql.sliced(i);
        qsizetype end = i + 1;
        if (c.isSpace()) {
            i = end;
            continue;
        }
        if (c == u'#' || rest.startsWith(u"-- ")) {
            const qsizetype lineEnd = sql.indexOf(u'\n', i);
            i = lineEnd < 0 ? sql.size() : lineEnd + 1;
            continue;
        }
        if (rest.startsWith(u"/*")) {
            const qsizetype commentEnd = sql.indexOf(u"*/", i + 2);
            i = commentEnd < 0 ? sql.size() : commentEnd + 2;
            continue;
        }
        if (c == u'`' || c == u'"' || c == u'\'') {
            end = pastQuoted(sql, i);
            if (end < 0)
                end = sql.size();
            // A name in backticks is the name; strings, and names in double quotes, stay as
            // they are written.
            if (c == u'`' && end - i >= 2)
                result.append({sql.sliced(i + 1, end - i - 2)
                                   .toString()
                                   .replace(QStringLiteral("``"), QStringLiteral("`")),
                               true});
            else
                result.append({sql.sliced(i, end - i).toString(), false});
        } else if (isWordCharacter(c)) {
            while (end < sql.size() && isWordCharacter(sql.at(end)))
                ++end;
            result.append({sql.sliced(i, end - i).toString(), true});
        } else {
            result.append({QString(c), false});
        }
        i = end;
    }
    while (!result.isEmpty() && result.last().text == u";")
        result.removeLast();
    return result;
}

// Whether a trigger body does what the expected one does, token by token: blanks, comments,
// the quoting of names and the letter case of keywords, columns and variables change nothing.
// The table after UPDATE is another table where the server tells names apart by case.
bool sameBody(QStringView found, QStringView expected, bool tableNamesByCase)
{
    const QList<Token> foundTokens = tokens(found);
    const QList<Token> expectedTokens = tokens(expected);
    if (foundTokens.size() != expectedTokens.size())
        return false;
    for (qsizetype i = 0; i < expectedTokens.size(); ++i) {
        const Token &want = expectedTokens.at(i);
        const Token &have = foundTokens.at(i);
        const bool tableName =
            i > 0 && expectedTokens.at(i - 1).text.compare(u"update", Qt::CaseInsensitive) == 0;
        const Qt::CaseSensitivity cs =
            want.word && !(tableName && tableNamesByCase) ? Qt::CaseInsensitive : Qt::CaseSensitive;
        if (want.word != have.word || want.text.compare(have.text, cs) != 0)
            return false;
    }
    return true;
}

// Unique indexes on users.username alone, whole: one on more columns, or on a prefix of the name,
// lets two accounts share a name.
const QString UniqueUsernameQuery = QStringLiteral(
    "select index_name from information_schema.statistics where table_schema = database() and "
    "table_name = 'users' and non_unique = 0 group by index_name having count(*) = 1 and "
    "lower(max(column_name)) = 'username' and max(sub_part) is null");

// The widest name the setup dialog accepts, in characters.
constexpr int AccountNameLength = 25;
constexpr int DigestLength = 20;

struct FoundColumn
{
    QString dataType; // lower case, without length: "varchar"
    QString columnType;
    qlonglong length;     // characters for text, bytes for binary strings; 0 for other types
    QString characterSet; // of text columns; empty for others
    bool needsValue;      // an insert that leaves it out is refused: NOT NULL, no default
    QString name;         // as the table writes it
};

bool fits(Need need, const FoundColumn &found)
{
    const QString &type = found.dataType;
    switch (need) {
    case Need::Name:
        return true;
    case Need::Integer:
        return type == u"tinyint" || type == u"smallint" || type == u"mediumint" ||
               type == u"int" || type == u"bigint";
    case Need::Date:
        return type == u"date" || type == u"datetime" || type == u"timestamp";
    case Need::AccountName:
        return (type == u"varchar" || type == u"char") && found.length >= AccountNameLength;
    case Need::PasswordBytes:
        // binary(n) pads a shorter value with zero bytes, which a login would then compare. The
        // varchar(30) of earlier setups keeps every byte in a one-byte character set, where a
        // multi-byte one refuses or changes digests that are no valid text in it.
        return (type == u"varbinary" && found.length >= DigestLength) ||
               (type == u"binary" && found.length == DigestLength) || type == u"tinyblob" ||
               type == u"blob" || type == u"mediumblob" || type == u"longblob" ||
               (type == u"varchar" && found.length >= DigestLength &&
                (found.characterSet == u"latin1" || found.characterSet == u"binary"));
    }
    return false;
}

} // namespace

QList<SchemaDifference> InventoryDb::schemaDifferences(bool existingOnly,
                                                       QHash<QString, QString> *inPlace,
                                                       QSet<QString> *tableNames)
{
    using Kind = SchemaDifference::Kind;
    QList<SchemaDifference> differences;
    // In one round trip; the key on the accounts' name counts only where there is the table.
    const QList<StatementOutcome> read =
        sendBatch(*db, {ColumnsQuery, TriggersQuery, UniqueUsernameQuery}, AfterRefusal::Stop);
    for (const StatementOutcome &outcome : read)
        if (outcome.refused())
            throw classifyError(outcome.error);

    // Table names as the server stores them; column names, which the server matches without
    // regard to case, in lower case.
    QHash<QString, QHash<QString, FoundColumn>> tables;
    for (const QStringList &row : read.at(0).rows)
        tables[row.value(0)].insert(row.value(1).toLower(),
                                    {row.value(2).toLower(), row.value(3),
                                     row.value(4).toLongLong(), row.value(5).toLower(),
                                     row.value(6) == u"1", row.value(1)});
    if (tableNames)
        for (auto table = tables.cbegin(); table != tables.cend(); ++table)
            tableNames->insert(table.key());

    const auto compareColumns = [&](const auto &expectedColumns) {
        QString lastMissing;
        for (const ExpectedColumn &expected : expectedColumns) {
            const QString table = QString::fromLatin1(expected.table);
            const QString column = QString::fromLatin1(expected.column);
            const auto foundTable = tables.constFind(table);
            if (foundTable == tables.cend()) {
                if (!existingOnly && table != lastMissing)
                    differences.append({Kind::MissingTable, table, {}, {}, {}, {}});
                lastMissing = table;
                continue;
            }
            const auto found = foundTable->constFind(column.toLower());
            if (found == foundTable->cend()) {
                differences.append({Kind::MissingColumn, table, column, {}, {}, {}});
            } else if (!fits(expected.need, *found)) {
                QString foundType = found->columnType;
                if (expected.need == Need::PasswordBytes && !found->characterSet.isEmpty())
                    foundType += QStringLiteral(" character set ") + found->characterSet;
                differences.append({Kind::WrongColumnType,
                                    table,
                                    column,
                                    {},
                                    QString::fromLatin1(expected.type),
                                    foundType});
            }
        }
    };
    compareColumns(InventoryColumns);

    // Trigger names are unique within a database, so a name on another table keeps the
    // trigger of p_k from being created.
    struct FoundTrigger
    {
        QString table;
        QString timingAndEvent;
        QString body;
        QString definer;
    };
    QHash<QString, FoundTrigger> triggers;
    bool tableNamesByCase = true;
    for (const QStringList &row : read.at(1).rows) {
        triggers.insert(row.value(0),
                        {row.value(1),
                         row.value(2).toUpper() + QLatin1Char(' ') + row.value(3).toUpper(),
                         row.value(4), row.value(5)});
        tableNamesByCase = row.value(6).toInt() == 0;
    }

    const QString table = QString::fromLatin1(TriggerTable);
    for (const ExpectedTrigger &expected : ExpectedTriggers) {
        const QString name = QString::fromLatin1(expected.name);
        const QString timingAndEvent = QString::fromLatin1(expected.timingAndEvent);
        const auto found = triggers.constFind(name);
        if (found == triggers.cend()) {
            if (!existingOnly)
                differences.append({Kind::MissingTrigger, table, {}, name, {}, {}});
        } else if (found->table != table) {
            differences.append({Kind::TriggerOnOtherTable, table, {}, name, {}, found->table});
        } else if (found->timingAndEvent != timingAndEvent) {
            differences.append(
                {Kind::WrongTriggerEvent, table, {}, name, timingAndEvent, found->timingAndEvent});
        } else if (const QString body = triggerBody(name);
                   !sameBody(found->body, body, tableNamesByCase)) {
            // One that counts keys otherwise, or not at all, leaves the stock wrong.
            differences.append({Kind::WrongTriggerBody, table, {}, name, body, {}});
        } else if (inPlace) {
            inPlace->insert(name, found->definer);
        }
    }

    // A run creates the accounts table with the first account.
    const QString users = QStringLiteral("users");
    if (!tables.contains(users))
        return differences;
    compareColumns(AccountColumns);
    // The run's insert fills only the name and the digest.
    for (auto column = tables[users].cbegin(); column != tables[users].cend(); ++column) {
        const bool filled =
            std::any_of(std::begin(AccountColumns), std::end(AccountColumns),
                        [&](const ExpectedColumn &expected) {
                            return column.key() == QString::fromLatin1(expected.column).toLower();
                        });
        if (column->needsValue && !filled)
            differences.append({Kind::ColumnNeedsValue, users, column->name, {}, {}, {}});
    }
    // Without a key the server stores a second account of the same name, and a login would
    // take either one.
    if (read.at(2).rows.isEmpty())
        differences.append({Kind::NotUnique, users, QStringLiteral("username"), {}, {}, {}});
    return differences;
}

QStringList InventoryDb::schemaInPlace()
{
    QSqlQuery query(*db);
    QStringList existing;
    if (query.exec(InPlaceQuery))
        while (query.next())
            existing << query.value(0).toString();
    QStringList inPlace;
    for (const QString &name : layoutTables() + triggerNames())
        if (existing.contains(name))
            inPlace << name;
    return inPlace;
}

std::optional<SchemaDifference> InventoryDb::checkSchema()
{
    const QList<SchemaDifference> differences = schemaDifferences(false);
    if (differences.isEmpty())
        return std::nullopt;
    return differences.first();
}
