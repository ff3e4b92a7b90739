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
    case Kind::WrongTriggerBody:
        return QCoreApplication::translate("setup",
                                           "The trigger %1 does something other than Quorvo "
                                           "needs; it must do: %2")
            .arg(difference.trigger, difference.expected);
    case Kind::NotUnique:
        return QCoreApplication::translate("setup",
                                           "The column %1.%2 has no primary key or unique index: "
                                           "two accounts could have the same name.")
            .arg(difference.table, difference.column);
    }
    return {};
}

namespace {

// Who needs the right on these tables (none: all of them), and what for. The triggers read and
// change p_k and pkeys alone.
QString neededFor(const QString &right, const QStringList &tables)
{
    const bool triggerTables = tables.isEmpty() || tables.contains(QStringLiteral("p_k")) ||
                               tables.contains(QStringLiteral("pkeys"));
    if (right == u"SELECT")
        return triggerTables
                   ? QCoreApplication::translate("setup",
                                                 "the setup, the triggers and Quorvo need it.")
                   : QCoreApplication::translate("setup", "the setup and Quorvo need it.");
    if (right == u"INSERT" && (tables.isEmpty() || tables.contains(QStringLiteral("users"))))
        return QCoreApplication::translate("setup",
                                           "the setup needs it to add the account, and Quorvo "
                                           "needs it.");
    if (right == u"UPDATE" && triggerTables)
        return QCoreApplication::translate("setup",
                                           "the triggers on p_k need it to count keys out and "
                                           "in, and Quorvo needs it.");
    if (right == u"CREATE")
        return QCoreApplication::translate("setup", "the setup needs it to create the tables.");
    if (right == u"REFERENCES")
        return QCoreApplication::translate("setup",
                                           "the server asks for it for the foreign keys that "
                                           "refer there.");
    if (right == u"TRIGGER")
        return QCoreApplication::translate("setup",
                                           "the setup needs it to create the triggers, and they "
                                           "need it to run.");
    return QCoreApplication::translate("setup", "Quorvo needs it.");
}

} // namespace

QStringList readinessMessages(const ReadinessProblems &problems)
{
    QStringList messages;
    // The rights that the triggers lack go in one sentence, with the one reason for them all.
    QStringList forTriggers;
    for (const MissingRight &missing : problems.missingRights) {
        const QString where =
            missing.tables.isEmpty()
                ? QCoreApplication::translate("setup", "the database %1").arg(problems.database)
            : missing.tables.size() == 1
                ? QCoreApplication::translate("setup", "the table %1").arg(missing.tables.first())
                : QCoreApplication::translate("setup", "the tables %1")
                      .arg(missing.tables.join(QStringLiteral(", ")));
        if (missing.forTriggers)
            forTriggers
                << QCoreApplication::translate("setup", "%1 on %2").arg(missing.right, where);
        else
            messages << QCoreApplication::translate("setup",
                                                    "The account lacks the right %1 on %2: %3")
                            .arg(missing.right, where, neededFor(missing.right, missing.tables));
    }
    if (!forTriggers.isEmpty())
        messages << QCoreApplication::translate(
                        "setup", "The account itself lacks %1: the triggers on p_k run with the "
                                 "rights of the account that created them, without its roles, so "
                                 "grant these rights to the account itself rather than through a "
                                 "role.")
                        .arg(forTriggers.join(QStringLiteral("; ")));
    if (problems.triggersNeedSuper)
        messages << QCoreApplication::translate(
            "setup", "Binary logging is on and log_bin_trust_function_creators is off, so the "
                     "server creates the triggers only for an account with SUPER: grant it "
                     "SUPER, or set log_bin_trust_function_creators = 1.");
    for (const SchemaDifference &difference : problems.differences)
        messages << schemaDifferenceMessage(difference);
    if (!problems.usernameCharset.isEmpty())
        messages << QCoreApplication::translate(
                        "setup", "The username holds a character that the column users.username "
                                 "(character set %1) cannot store: choose another name.")
                        .arg(problems.usernameCharset);
    return messages;
}

QString checkoutFailureMessage()
{
    return QCoreApplication::translate("setup",
                                       "The tables and triggers are in place, but a key could not "
                                       "be checked out and back in through them as Quorvo does "
                                       "it, so no account was added.");
}

QString checkoutFailureReason(const CheckoutFailure &failure)
{
    if (!failure.reason.isEmpty())
        return failure.reason;
    if (!failure.dated)
        return QCoreApplication::translate("setup",
                                           "The trigger now_date_pk did not set the date of the "
                                           "checkout.");
    return QCoreApplication::translate("setup",
                                       "The stock of the key went %1 as it was checked out, the "
                                       "checkout changed and the key checked back in; Quorvo "
                                       "needs 1, 0, 2.")
        .arg(failure.stock);
}
