#include "db/inventorydb.h"

#include "db/dberror.h"

#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

const QString ServerQuery =
    QStringLiteral("select database(), version(), @@log_bin, @@log_bin_trust_function_creators");
// The account's own grants, those of the role enabled in the session (with the roles granted to
// it) and those to PUBLIC. information_schema shows only the first of these.
const QString GrantsQuery = QStringLiteral("SHOW GRANTS");
// The character set that the user name is stored in: the column's, or the database's for the
// accounts table that the run is yet to create.
const QString UsernameCharsetQuery = QStringLiteral(
    "select coalesce((select CHARACTER_SET_NAME from information_schema.COLUMNS where "
    "TABLE_SCHEMA = database() and TABLE_NAME = 'users' and COLUMN_NAME = 'username'), "
    "@@character_set_database)");
// Whether the name comes back unchanged from that character set. A character that it lacks
// turns into '?' there, which a server out of strict mode would store, and a strict one refuse
// only after the tables were made.
const QString UsernameRoundTrip =
    QStringLiteral("select cast(convert(convert(? using %1) using utf8mb4) as binary) = "
                   "cast(convert(? using utf8mb4) as binary)");

// Every table of the run. The Quorvo application reads and changes each of them with the
// account of Quorvo.conf, and the run creates each one (also when it exists: "if not exists"
// asks for the right first).
const char *const Tables[] = {"people", "pkeys", "p_k", "groups", "p_g",
                              "rooms",  "k_r",   "g_r", "users"};

// The rights that every table needs. The triggers run with the rights of the account that
// created them: now_date_pk sets a column of p_k, the other three update pkeys, so both need
// SELECT and UPDATE, as the application needs all four on every table. Where the grants cannot
// tell them, the server is asked: preparing a statement checks the rights on its tables, also on
// tables that do not exist yet, and executes nothing. %1 is the table.
struct Probe
{
    const char *right;
    const char *statement;
};
const Probe Probes[] = {
    {"SELECT", "select * from %1"}, // every column: rights on some of them are not enough
    {"INSERT", "insert into %1 () values ()"},
    {"UPDATE", "update %1 set quorvo_probe = 1"},
    {"DELETE", "delete from %1"},
    {"CREATE", "create table %1 (quorvo_probe int)"},
};
constexpr int TableAccessDenied = 1142;
constexpr int ColumnAccessDenied = 1143;

// Rights that preparing a statement does not check; they are read from SHOW GRANTS instead.
const char *const ReferencesRight = "REFERENCES";
const char *const TriggerTable = "p_k";
const char *const TriggerRight = "TRIGGER";

using Rights = QSet<QString>;

// One line of SHOW GRANTS that grants rights on all databases, a database (name pattern) or a
// table. Column rights and routine rights are not counted.
struct Grant
{
    bool global = false;
    QString database; // a pattern ('%', '_', '\' escapes) where table is empty
    QString table;
    Rights rights;
};

QString quoted(QString identifier)
{
    return u'`' + identifier.replace(u'`', QStringLiteral("``")) + u'`';
}

Rights parseRights(const QString &list)
{
    Rights rights;
    int depth = 0;
    QString current;
    const auto take = [&] {
        const QString right = current.trimmed().toUpper();
        current.clear();
        if (right.isEmpty() || right.contains(u'('))
            return; // a right on some columns only
        if (right == u"ALL" || right == u"ALL PRIVILEGES")
            rights << QStringLiteral("ALL");
        else
            rights << right;
    };
    for (QChar c : list) {
        if (c == u'(')
            ++depth;
        else if (c == u')')
            --depth;
        if (c == u',' && depth == 0)
            take();
        else
            current += c;
    }
    take();
    return rights;
}

// A name of a grant line at `at`: '*', or quoted in backticks with a backtick in it doubled.
// Moves `at` past it; nothing where none stands there.
std::optional<QString> readName(const QString &line, qsizetype &at)
{
    if (at < line.size() && line.at(at) == u'*') {
        ++at;
        return QStringLiteral("*");
    }
    if (at >= line.size() || line.at(at) != u'`')
        return std::nullopt;
    QString name;
    for (qsizetype i = at + 1; i < line.size(); ++i) {
        if (line.at(i) != u'`') {
            name += line.at(i);
        } else if (i + 1 < line.size() && line.at(i + 1) == u'`') {
            name += u'`';
            ++i;
        } else {
            at = i + 1;
            return name;
        }
    }
    return std::nullopt;
}

// "GRANT <rights> ON <database>.<table> TO <grantee>". Read by hand rather than with a regular
// expression: that would leave per-thread state in the run's thread, which the Windows runtime
// frees wrongly when the thread ends.
std::optional<Grant> parseGrant(const QString &line)
{
    const QString head = QStringLiteral("GRANT ");
    if (!line.startsWith(head))
        return std::nullopt;
    // The rights end at " ON " outside the parentheses of a list of columns.
    qsizetype on = -1;
    int depth = 0;
    for (qsizetype i = head.size(); i < line.size() && on < 0; ++i) {
        if (line.at(i) == u'(')
            ++depth;
        else if (line.at(i) == u')')
            --depth;
        else if (depth == 0 && QStringView(line).sliced(i).startsWith(u" ON "))
            on = i;
    }
    if (on < 0)
        return std::nullopt;
    qsizetype at = on + 4;
    const std::optional<QString> database = readName(line, at);
    if (!database || at >= line.size() || line.at(at) != u'.')
        return std::nullopt;
    ++at;
    const std::optional<QString> table = readName(line, at);
    if (!table || !QStringView(line).sliced(at).startsWith(u" TO "))
        return std::nullopt;

    Grant grant;
    grant.rights = parseRights(line.mid(head.size(), on - head.size()));
    grant.global = *database == u"*";
    if (!grant.global)
        grant.database = *database;
    if (*table != u"*")
        grant.table = *table;
    return grant;
}

// Whether a database name pattern of a grant covers the name: '%' any run of characters, '_'
// any one, '\' takes the next character as it is.
bool covers(QStringView pattern, QStringView name)
{
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype afterPercent = -1; // where the pattern goes on after the last '%'
    qsizetype percentTook = 0;   // up to where the name was taken by that '%'
    while (n < name.size()) {
        if (p < pattern.size() && pattern.at(p) == u'%') {
            afterPercent = ++p;
            percentTook = n;
            continue;
        }
        if (p < pattern.size()) {
            const bool escaped = pattern.at(p) == u'\\' && p + 1 < pattern.size();
            const QChar c = pattern.at(escaped ? p + 1 : p);
            if ((!escaped && c == u'_') || c == name.at(n)) {
                p += escaped ? 2 : 1;
                ++n;
                continue;
            }
        }
        if (afterPercent < 0)
            return false;
        // The last '%' takes one more character, and the rest is tried again after it.
        p = afterPercent;
        n = ++percentTook;
    }
    while (p < pattern.size() && pattern.at(p) == u'%')
        ++p;
    return p == pattern.size();
}

bool holds(const Rights &rights, const QString &right)
{
    return rights.contains(right) || rights.contains(QStringLiteral("ALL"));
}

} // namespace

ReadinessProblems InventoryDb::checkReadiness(const QString &username)
{
    ReadinessProblems problems;
    QSqlQuery query(*db);
    if (!query.exec(ServerQuery) || !query.next())
        throw classifyError(query.lastError());
    problems.database = query.value(0).toString();
    const bool mariaDb = query.value(1).toString().contains(QStringLiteral("MariaDB"));
    const bool binaryLogging = query.value(2).toInt() != 0;
    const bool creatorsTrusted = query.value(3).toInt() != 0;

    // Where the account may not see its grants, or they come in a form not known here, nothing
    // is refused for its rights: only a lack that was seen counts.
    QList<Grant> grants;
    bool rightsKnown = query.exec(GrantsQuery);
    while (rightsKnown && query.next()) {
        const QString line = query.value(0).toString();
        if (const auto grant = parseGrant(line))
            grants << *grant;
        // MySQL lists a granted role by name only, without the rights it brings.
        else if (!mariaDb && line.startsWith(QStringLiteral("GRANT `")))
            rightsKnown = false;
    }
    rightsKnown = rightsKnown && !grants.isEmpty();

    QStringList everyTable;
    for (const char *table : Tables)
        everyTable << QString::fromLatin1(table);
    // A right lacking on every table is named for the database.
    const auto addMissing = [&](const char *right, const QStringList &without) {
        if (!without.isEmpty())
            problems.missingRights.append(
                {QString::fromLatin1(right), without == everyTable ? QStringList() : without});
    };

    // The grants that cover the database, and the patterns they name.
    Rights global;
    Rights onDatabase;
    QHash<QString, Rights> tableRights;
    QSet<QString> patterns;
    for (const Grant &grant : std::as_const(grants)) {
        if (grant.global) {
            global += grant.rights;
        } else if (!grant.table.isEmpty() && grant.database == problems.database) {
            tableRights[grant.table] += grant.rights;
        } else if (grant.table.isEmpty() && covers(grant.database, problems.database)) {
            onDatabase += grant.rights;
            patterns << grant.database;
        }
    }
    onDatabase += global;
    const auto lacking = [&](const QString &right, const QStringList &tables) {
        QStringList without;
        for (const QString &table : tables)
            if (!holds(onDatabase, right) && !holds(tableRights.value(table), right))
                without << table;
        return without;
    };
    // Of several database grants that cover the name, the server takes one alone (for the
    // account, and one for its roles), and which one is not to be read off SHOW GRANTS: then the
    // server is asked. One pattern, or none, means what it says.
    const bool askServer = !rightsKnown || patterns.size() > 1;

    for (const Probe &probe : Probes) {
        if (!askServer) {
            addMissing(probe.right, lacking(QString::fromLatin1(probe.right), everyTable));
            continue;
        }
        QStringList without;
        for (const QString &table : std::as_const(everyTable)) {
            QSqlQuery statement(*db);
            const QString name = quoted(problems.database) + u'.' + quoted(table);
            if (statement.prepare(QString::fromLatin1(probe.statement).arg(name)))
                continue;
            const int number = sqlErrorNumber(statement.lastError());
            if (number == TableAccessDenied || number == ColumnAccessDenied)
                without << table;
            else if (number < 1000 || number >= 2000)
                throw classifyError(statement.lastError()); // the client's: the connection
        }
        addMissing(probe.right, without);
    }

    // Where several patterns cover the name, any of them counts for these: only a lack that
    // was seen refuses.
    if (rightsKnown) {
        addMissing(ReferencesRight, lacking(QString::fromLatin1(ReferencesRight), everyTable));
        const QStringList triggerTable{QString::fromLatin1(TriggerTable)};
        addMissing(TriggerRight, lacking(QString::fromLatin1(TriggerRight), triggerTable));
        problems.triggersNeedSuper =
            binaryLogging && !creatorsTrusted && !holds(global, QStringLiteral("SUPER"));
    }

    problems.differences = schemaDifferences(true);

    if (!query.exec(UsernameCharsetQuery) || !query.next())
        throw classifyError(query.lastError());
    const QString charset = query.value(0).toString();
    // The name goes into the statement as it is, so it must be one.
    const bool isName =
        !charset.isEmpty() && std::all_of(charset.cbegin(), charset.cend(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                   (c >= u'0' && c <= u'9') || c == u'_';
        });
    if (isName) {
        query.prepare(UsernameRoundTrip.arg(charset));
        query.addBindValue(username);
        query.addBindValue(username);
        if (!query.exec() || !query.next())
            throw classifyError(query.lastError());
        if (query.value(0).toInt() != 1)
            problems.usernameCharset = charset;
    }
    return problems;
}
