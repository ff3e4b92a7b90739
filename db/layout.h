#pragma once

#include <QString>
#include <QStringList>

// The tables of the Quorvo application and the columns it uses, as the setup tool creates them:
// the one list that the checks go by.

// What a column must be beyond its name. Only where another type would break a trigger, the
// password digest or a login of the Quorvo application is the type looked at.
enum class Need {
    Name,
    Integer,       // counted or compared as a number by the triggers
    Date,          // set from now() by now_date_pk
    AccountName,   // holds every name the dialog accepts
    PasswordBytes, // holds the 20 digest bytes unchanged
};

struct ExpectedColumn
{
    const char *table;
    const char *column;
    Need need;
    const char *type; // as the setup tool creates it
};

// In the order the tables are created, so the first difference reported is the first one a run
// would have met.
inline constexpr ExpectedColumn InventoryColumns[] = {
    {"people", "Tnumber", Need::Name, "char(9)"},
    {"people", "LastName", Need::Name, "varchar(15)"},
    {"people", "FirstName", Need::Name, "varchar(15)"},
    {"people", "strAddr", Need::Name, "varchar(75)"},
    {"people", "HPhone", Need::Name, "varchar(20)"},
    {"people", "WPhone", Need::Name, "varchar(20)"},
    {"people", "CPhone", Need::Name, "varchar(20)"},
    {"people", "email", Need::Name, "varchar(50)"},
    {"pkeys", "TagNum", Need::Integer, "int"},
    {"pkeys", "KeyName", Need::Name, "varchar(10)"},
    {"pkeys", "Total", Need::Integer, "int"},
    {"pkeys", "InInv", Need::Integer, "int"},
    {"p_k", "TransactionID", Need::Name, "int"},
    {"p_k", "Tnumber", Need::Name, "char(9)"},
    {"p_k", "TagNum", Need::Integer, "int"},
    {"p_k", "NumOut", Need::Integer, "int"},
    {"p_k", "DateOut", Need::Date, "date"},
    {"p_k", "DateDue", Need::Name, "date"},
    {"groups", "Gid", Need::Name, "int"},
    {"groups", "GroupName", Need::Name, "varchar(40)"},
    {"p_g", "Tnumber", Need::Name, "char(9)"},
    {"p_g", "Gid", Need::Name, "int"},
    {"rooms", "RoomId", Need::Name, "int"},
    {"rooms", "RoomName", Need::Name, "varchar(10)"},
    {"k_r", "TagNum", Need::Name, "int"},
    {"k_r", "RoomId", Need::Name, "int"},
    {"g_r", "Gid", Need::Name, "int"},
    {"g_r", "RoomId", Need::Name, "int"},
};
// Looked at last, and only where the table exists: a run creates it with the first account.
inline constexpr ExpectedColumn AccountColumns[] = {
    {"users", "username", Need::AccountName, "varchar(25)"},
    {"users", "password", Need::PasswordBytes, "varbinary(30)"},
};

// Every table of the run, in the order it creates them, the accounts table last.
inline QStringList layoutTables()
{
    QStringList names;
    for (const ExpectedColumn &column : InventoryColumns)
        if (names.isEmpty() || names.last() != QLatin1String(column.table))
            names << QString::fromLatin1(column.table);
    names << QString::fromLatin1(AccountColumns[0].table);
    return names;
}
