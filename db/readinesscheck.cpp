#include "db/inventorydb.h"

#include "db/dberror.h"

#include <QHash>
#include <QRegularExpression>
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
const char *const EveryTableRights[] = {"SELECT", "INSERT", "UPDATE",
                                        "DELETE", "CREATE", "REFERENCES"};
// The triggers run with the rights of the account that created them: now_date_pk sets a
// column of p_k, the other three update pkeys; both need SELECT and UPDATE, asked for above.
const char *const TriggerTable = "p_k";
const char *const TriggerRight = "TRIGGER";

using Rights = QSet<QString>;

// One line of SHOW GRANTS that grants rights on all databases, a database (name pattern) or a
// table. Column rights and routine rights are not counted.
struct Grant
{
    QString grantee;
    bool global = false;
    QString database; // a pattern ('%', '_', '\' escapes) where table is empty
    QString table;
    Rights rights;
};

QString unquote(QString identifier)
{
    return identifier.mid(1, identifier.size() - 2)
        .replace(QStringLiteral("``"), QStringLiteral("`"));
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

std::optional<Grant> parseGrant(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^GRANT (.+) ON (\*|`(?:[^`]|``)*`)\.(\*|`(?:[^`]|``)*`) TO ((?:`(?:[^`]|``)*`)(?:@`(?:[^`]|``)*`)?|\S+))"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    Grant grant;
    grant.rights = parseRights(match.captured(1));
    grant.grantee = match.captured(4);
    if (match.captured(2) == u"*")
        grant.global = true;
    else
        grant.database = unquote(match.captured(2));
    if (match.captured(3) != u"*")
        grant.table = unquote(match.captured(3));
    return grant;
}

// Whether a database name pattern of a grant covers the name: '%' any run of characters, '_'
// any one, '\' takes the next character as it is.
bool covers(const QString &pattern, const QString &name)
{
    QString expression;
    for (int i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) == u'\\' && i + 1 < pattern.size())
            expression += QRegularExpression::escape(pattern.at(++i));
        else if (pattern.at(i) == u'%')
            expression += QStringLiteral(".*");
        else if (pattern.at(i) == u'_')
            expression += u'.';
        else
            expression += QRegularExpression::escape(pattern.at(i));
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                              QRegularExpression::DotMatchesEverythingOption)
        .match(name)
        .hasMatch();
}

// Of several database grants to one grantee that cover a name, the server takes only the most
// specific: a name without wildcards first, then the one whose first wildcard comes latest.
int specificity(const QString &pattern)
{
    for (int i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) == u'\\' && i + 1 < pattern.size())
            ++i;
        else if (pattern.at(i) == u'%' || pattern.at(i) == u'_')
            return pattern == u"%" ? 1 : std::min(i + 2, 127);
    }
    return pattern.isEmpty() ? 0 : 128;
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

    if (rightsKnown) {
        Rights global;
        QHash<QString, QList<const Grant *>> databaseGrants; // by grantee, those that cover it
        QHash<QString, Rights> tableRights;
        for (const Grant &grant : std::as_const(grants)) {
            if (grant.global)
                global += grant.rights;
            else if (!grant.table.isEmpty() && grant.database == problems.database)
                tableRights[grant.table] += grant.rights;
            else if (grant.table.isEmpty() && covers(grant.database, problems.database))
                databaseGrants[grant.grantee] << &grant;
        }
        Rights onDatabase = global;
        for (const QList<const Grant *> &ofGrantee : std::as_const(databaseGrants)) {
            int best = 0;
            for (const Grant *grant : ofGrantee)
                best = std::max(best, specificity(grant->database));
            for (const Grant *grant : ofGrantee)
                if (specificity(grant->database) == best)
                    onDatabase += grant->rights;
        }

        const auto lacking = [&](const QString &right, const QStringList &tables) {
            QStringList without;
            for (const QString &table : tables)
                if (!holds(onDatabase, right) && !holds(tableRights.value(table), right))
                    without << table;
            return without;
        };
        QStringList everyTable;
        for (const char *table : Tables)
            everyTable << QString::fromLatin1(table);
        for (const char *right : EveryTableRights) {
            const QStringList without = lacking(QString::fromLatin1(right), everyTable);
            if (!without.isEmpty())
                problems.missingRights.append(
                    {QString::fromLatin1(right), without == everyTable ? QStringList() : without});
        }
        const QStringList triggerTable{QString::fromLatin1(TriggerTable)};
        if (!lacking(QString::fromLatin1(TriggerRight), triggerTable).isEmpty())
            problems.missingRights.append({QString::fromLatin1(TriggerRight), triggerTable});

        problems.triggersNeedSuper =
            binaryLogging && !creatorsTrusted && !holds(global, QStringLiteral("SUPER"));
    }

    problems.differences = schemaDifferences(true);

    if (!query.exec(UsernameCharsetQuery) || !query.next())
        throw classifyError(query.lastError());
    const QString charset = query.value(0).toString();
    // The name goes into the statement as it is, so it must be one.
    static const QRegularExpression charsetName(QStringLiteral("^[A-Za-z0-9_]+$"));
    if (charsetName.match(charset).hasMatch()) {
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
