#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// One line of SHOW GRANTS, as far as it gives or takes rights on databases and tables.
struct GrantLine
{
    enum class Kind {
        Grant,  // GRANT <rights> ON <level> TO <grantee>
        Revoke, // MySQL's partial revoke: REVOKE <rights> ON <database>.* FROM <grantee>
        Other,  // no rights on tables: a granted role, PROXY, a routine, SET DEFAULT ROLE
    };

    Kind kind = Kind::Other;
    bool global = false; // ON *.*
    QString database;    // unquoted, as stored: a name pattern where table is empty
    QString table;       // unquoted; empty for the whole database
    // Upper case, as the server names them; ALL for ALL PRIVILEGES. Rights on some columns
    // only are left out: they are no right on the table.
    QSet<QString> rights;
};

// Reads a line in the forms that MariaDB and MySQL print: names in backticks, or in double
// quotes under ANSI_QUOTES. Nothing where the line is in a form not known here; its rights
// are then unknown, never missing.
std::optional<GrantLine> readGrantLine(QStringView line);

// Whether a database pattern of a grant covers the name. With wildcards, '%' stands for any
// run of characters and '_' for any one, and '\' takes the next character as it is; without
// (MySQL with partial_revokes on), the pattern is the name itself, '\' and all.
bool patternCovers(QStringView pattern, QStringView name, bool wildcards = true);

enum class Holding { Held, Lacking, Unknown };

// Whether the grants give `right` on the table of the database. Lacking only where every line
// could be read and none gives it. Of several database patterns that cover the name the
// server applies one, which the lines do not tell: where they disagree, Unknown. The lines
// are taken to be the grants in force: those of the account with the roles the server
// activates for what is asked (none, for a MariaDB trigger).
Holding holding(const QStringList &lines, const QString &right, const QString &database,
                const QString &table, bool wildcards = true);
