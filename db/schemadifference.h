#pragma once

#include <QString>

// A place where the database differs from what the Quorvo application needs, as
// InventoryDb::checkSchema finds it. Names are those of the database; `expected` is what the
// setup tool would have created, `found` what the database holds instead.
struct SchemaDifference
{
    enum class Kind {
        MissingTable,        // table
        MissingColumn,       // table, column
        WrongColumnType,     // table, column; expected and found column types, "varbinary(30)"
        MissingTrigger,      // trigger, and the table it belongs on
        TriggerOnOtherTable, // trigger, the table it belongs on; found: the table it is on
        WrongTriggerEvent,   // trigger, its table; expected and found timing and event
        WrongTriggerBody,    // trigger, its table; expected: what it must do
        NotUnique,           // table, column: no primary key or unique index on it alone
        ColumnNeedsValue,    // table, column: NOT NULL without a default, which an insert of
                             // the setup leaves out
    };

    Kind kind;
    QString table;
    QString column;
    QString trigger;
    QString expected;
    QString found;
};
