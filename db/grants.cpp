#include "db/grants.h"

#include "db/sqltext.h"

// Read by hand rather than with regular expressions: those leave per-thread state in the run's
// thread, which the Windows runtime frees wrongly when the thread ends.

namespace {

// Where `word` stands from `from` on, outside quotes and the parentheses of a list of
// columns; -1 where it does not.
qsizetype findOutside(QStringView line, QStringView word, qsizetype from)
{
    int depth = 0;
    for (qsizetype i = from; i < line.size(); ++i) {
        const qsizetype end = pastQuoted(line, i);
        if (end < 0) {
            return -1;
        } else if (end != i) {
            i = end - 1;
        } else if (line.at(i) == u'(') {
            ++depth;
        } else if (line.at(i) == u')') {
            --depth;
        } else if (depth == 0 && line.sliced(i).startsWith(word)) {
            return i;
        }
    }
    return -1;
}

// A name at `at`: '*', quoted, or bare. Moves `at` past it; nothing where none stands there.
std::optional<QString> readName(QStringView line, qsizetype &at)
{
    if (at >= line.size())
        return std::nullopt;
    const QChar first = line.at(at);
    if (first == u'*') {
        ++at;
        return QStringLiteral("*");
    }
    if (first == u'`' || first == u'"') {
        const qsizetype end = pastQuoted(line, at);
        if (end < 0)
            return std::nullopt;
        QString name = line.sliced(at + 1, end - at - 2).toString();
        name.replace(QString(2, first), QString(first));
        at = end;
        return name;
    }
    qsizetype end = at;
    while (end < line.size() &&
           (line.at(end).isLetterOrNumber() || line.at(end) == u'_' || line.at(end) == u'$'))
        ++end;
    if (end == at)
        return std::nullopt;
    const QString name = line.sliced(at, end - at).toString();
    at = end;
    return name;
}

QSet<QString> readRights(QStringView list)
{
    QSet<QString> rights;
    qsizetype start = 0;
    while (start <= list.size()) {
        qsizetype comma = findOutside(list, u",", start);
        if (comma < 0)
            comma = list.size();
        const QString right = list.sliced(start, comma - start).trimmed().toString().toUpper();
        start = comma + 1;
        if (right.isEmpty() || right == u"USAGE" || right.contains(u'('))
            continue; // no right, or one on some columns only
        rights << (right == u"ALL PRIVILEGES" ? QStringLiteral("ALL") : right);
    }
    return rights;
}

bool gives(const GrantLine &grant, const QString &right)
{
    return grant.rights.contains(right) || grant.rights.contains(QStringLiteral("ALL"));
}

} // namespace

std::optional<GrantLine> readGrantLine(QStringView line)
{
    GrantLine grant;
    QStringView grantee;
    if (line.startsWith(u"SET DEFAULT ROLE "))
        return grant;
    if (line.startsWith(u"GRANT ")) {
        grant.kind = GrantLine::Kind::Grant;
        grantee = u" TO ";
    } else if (line.startsWith(u"REVOKE ")) {
        grant.kind = GrantLine::Kind::Revoke;
        grantee = u" FROM ";
    } else {
        return std::nullopt;
    }
    const qsizetype head = line.indexOf(u' ') + 1;
    const qsizetype on = findOutside(line, u" ON ", head);
    if (on < 0) {
        // A granted role: "GRANT `r1` TO `u1`@`%`", or MySQL's "GRANT `r1`@`%`,`r2`@`%` TO …".
        if (grant.kind == GrantLine::Kind::Grant && findOutside(line, grantee, head) > 0)
            return GrantLine{};
        return std::nullopt;
    }
    grant.rights = readRights(line.sliced(head, on - head));

    qsizetype at = on + 4;
    const QStringView level = line.sliced(at);
    if (level.startsWith(u"PROCEDURE ") || level.startsWith(u"FUNCTION ") ||
        level.startsWith(u"PACKAGE ") || grant.rights == QSet<QString>{QStringLiteral("PROXY")})
        return GrantLine{}; // rights on routines, or to act as another account
    const std::optional<QString> database = readName(line, at);
    if (!database || at >= line.size() || line.at(at) != u'.')
        return std::nullopt;
    ++at;
    const std::optional<QString> table = readName(line, at);
    if (!table || !line.sliced(at).startsWith(grantee))
        return std::nullopt;
    grant.global = *database == u"*";
    if (grant.global && *table != u"*")
        return std::nullopt;
    if (!grant.global)
        grant.database = *database;
    if (*table != u"*")
        grant.table = *table;
    // MySQL revokes from a database only; anything else is a form not known here.
    if (grant.kind == GrantLine::Kind::Revoke && (grant.global || !grant.table.isEmpty()))
        return std::nullopt;
    return grant;
}

bool patternCovers(QStringView pattern, QStringView name, bool wildcards)
{
    if (!wildcards)
        return pattern == name;
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

Holding holding(const QStringList &lines, const QString &right, const QString &database,
                const QString &table, bool wildcards)
{
    bool unreadable = false;
    bool global = false;
    bool revoked = false;
    bool onTable = false;
    int patterns = 0;
    int patternsGiving = 0;
    for (const QString &line : lines) {
        const std::optional<GrantLine> grant = readGrantLine(line);
        if (!grant) {
            unreadable = true;
        } else if (grant->kind == GrantLine::Kind::Revoke) {
            // Partial revokes name a database, never a pattern.
            revoked = revoked || (grant->database == database && gives(*grant, right));
        } else if (grant->kind == GrantLine::Kind::Other) {
            continue;
        } else if (grant->global) {
            global = global || gives(*grant, right);
        } else if (!grant->table.isEmpty()) {
            onTable = onTable || (grant->database == database && grant->table == table &&
                                  gives(*grant, right));
        } else if (patternCovers(grant->database, database, wildcards)) {
            ++patterns;
            patternsGiving += gives(*grant, right) ? 1 : 0;
        }
    }
    if (onTable || (global && !revoked) || (patterns > 0 && patternsGiving == patterns))
        return Holding::Held;
    if (unreadable || patternsGiving > 0)
        return Holding::Unknown;
    return Holding::Lacking;
}
