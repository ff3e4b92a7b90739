#include "app/schemamessage.h"

#include "app/messages.h"

#include <QCoreApplication>

namespace {

// The texts belong to the setup dialog, whose context they share.
QString text(const char *source)
{
    return QCoreApplication::translate("setup", source);
}

} // namespace

QString schemaDifferenceMessage(const SchemaDifference &difference)
{
    using Kind = SchemaDifference::Kind;
    switch (difference.kind) {
    case Kind::MissingTable:
        return text(SetupMessage::MissingTable).arg(difference.table);
    case Kind::MissingColumn:
        return text(SetupMessage::MissingColumn).arg(difference.table, difference.column);
    case Kind::WrongColumnType:
        return text(SetupMessage::WrongColumnType)
            .arg(difference.table, difference.column, difference.found, difference.expected);
    case Kind::MissingTrigger:
        return text(SetupMessage::MissingTrigger).arg(difference.table, difference.trigger);
    case Kind::TriggerOnOtherTable:
        return text(SetupMessage::TriggerOnOtherTable)
            .arg(difference.trigger, difference.found, difference.table);
    case Kind::WrongTriggerEvent:
        return text(SetupMessage::WrongTriggerEvent)
            .arg(difference.trigger, difference.found, difference.expected);
    case Kind::WrongTriggerBody:
        return text(SetupMessage::WrongTriggerBody).arg(difference.trigger, difference.expected);
    case Kind::NotUnique:
        return text(SetupMessage::NotUnique).arg(difference.table, difference.column);
    case Kind::ColumnNeedsValue:
        return text(SetupMessage::ColumnNeedsValue).arg(difference.table, difference.column);
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
        return text(triggerTables ? SetupMessage::NeededBySetupTriggersQuorvo
                                  : SetupMessage::NeededBySetupQuorvo);
    if (right == u"INSERT" && (tables.isEmpty() || tables.contains(QStringLiteral("users"))))
        return text(SetupMessage::NeededToAddAccount);
    if (right == u"UPDATE" && triggerTables)
        return text(SetupMessage::NeededByTriggers);
    if (right == u"CREATE")
        return text(SetupMessage::NeededToCreateTables);
    if (right == u"REFERENCES")
        return text(SetupMessage::NeededForReferences);
    if (right == u"TRIGGER")
        return text(SetupMessage::NeededToCreateTriggers);
    return text(SetupMessage::NeededByQuorvo);
}

} // namespace

QStringList readinessMessages(const ReadinessProblems &problems)
{
    QStringList messages;
    const ServerRole &role = problems.replication;
    if (role.replica)
        messages << text(SetupMessage::Replica);
    if (role.groupSecondary)
        messages << text(SetupMessage::GroupSecondary);
    if (role.updateEverywhere)
        messages << text(SetupMessage::UpdateEverywhere);
    if (!role.wsrepModeAgainstTriggers.isEmpty())
        messages << text(SetupMessage::WsrepModeAgainstTriggers).arg(role.wsrepModeAgainstTriggers);
    // The rights that the triggers lack go in one sentence, with the one reason for them all.
    QStringList forTriggers;
    for (const MissingRight &missing : problems.missingRights) {
        const QString where =
            missing.tables.isEmpty() ? text(SetupMessage::OnDatabase).arg(problems.database)
            : missing.tables.size() == 1
                ? text(SetupMessage::OnTable).arg(missing.tables.first())
                : text(SetupMessage::OnTables).arg(missing.tables.join(QStringLiteral(", ")));
        if (missing.forTriggers)
            forTriggers << text(SetupMessage::RightOn).arg(missing.right, where);
        else
            messages << text(SetupMessage::MissingRight)
                            .arg(missing.right, where, neededFor(missing.right, missing.tables));
    }
    if (!forTriggers.isEmpty())
        messages << text(problems.triggersUseDefaultRoles
                             ? SetupMessage::TriggersLackDefaultRoleRights
                             : SetupMessage::TriggersLackRights)
                        .arg(forTriggers.join(QStringLiteral("; ")));
    if (problems.triggersNeedSuper)
        messages << text(role.galera ? SetupMessage::GaleraNeedsSuper
                                     : SetupMessage::TriggersNeedSuper);
    for (const QString &setting : problems.readOnlySettings)
        messages << text(SetupMessage::ServerReadOnly).arg(setting);
    for (const QString &table : problems.gtidRefusedTables)
        messages << text(SetupMessage::GtidNonTransactional).arg(table);
    for (const HourlyLimit &limit : problems.hourlyLimits)
        messages << text(SetupMessage::HourlyLimit)
                        .arg(limit.name, QString::number(limit.limit),
                             QString::number(limit.needed));
    for (const SchemaDifference &difference : problems.differences)
        messages << schemaDifferenceMessage(difference);
    if (!problems.usernameCharset.isEmpty())
        messages << text(SetupMessage::UsernameCharset).arg(problems.usernameCharset);
    return messages;
}

QString checkoutFailureMessage()
{
    return text(SetupMessage::CheckoutFailed);
}

QString checkoutFailureReason(const CheckoutFailure &failure)
{
    if (!failure.reason.isEmpty())
        return failure.reason;
    if (!failure.dated)
        return text(SetupMessage::CheckoutNotDated);
    return text(SetupMessage::CheckoutStock).arg(failure.stock);
}
