#include "app/schemamessage.h"

#include <QCoreApplication>

// The texts belong to the setup dialog, whose context they share.
QString schemaDifferenceMessage(const SchemaDifference &difference)
{
    using Kind = SchemaDifference::Kind;
    switch (difference.kind) {
    case Kind::MissingTable:
        return QCoreApplication::translate("setup", "The database lacks the table %1.")
            .arg(difference.table);
    case Kind::MissingColumn:
        return QCoreApplication::translate("setup", "The table %1 lacks the column %2.")
            .arg(difference.table, difference.column);
    case Kind::WrongColumnType:
        return QCoreApplication::translate("setup",
                                           "The column %1.%2 has the type %3; it must be %4.")
            .arg(difference.table, difference.column, difference.found, difference.expected);
    case Kind::MissingTrigger:
        return QCoreApplication::translate("setup", "The table %1 lacks the trigger %2.")
            .arg(difference.table, difference.trigger);
    case Kind::TriggerOnOtherTable:
        return QCoreApplication::translate("setup", "The trigger %1 is on the table %2, not on %3.")
            .arg(difference.trigger, difference.found, difference.table);
    case Kind::WrongTriggerEvent:
        return QCoreApplication::translate("setup", "The trigger %1 runs %2; it must run %3.")
            .arg(difference.trigger, difference.found, difference.expected);
    }
    return {};
}
