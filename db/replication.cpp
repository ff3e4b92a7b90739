#include "db/replication.h"

#include "db/statementbatch.h"

#include <QHash>
#include <QStringList>

namespace {

// Readable by every account, as the variables a run depends on.
const QString MariaDbVariables = QStringLiteral(
    "select lower(VARIABLE_NAME), VARIABLE_VALUE from information_schema.GLOBAL_VARIABLES where "
    "VARIABLE_NAME in ('WSREP_ON', 'WSREP_PROVIDER', 'WSREP_MODE', "
    "'LOG_BIN_TRUST_FUNCTION_CREATORS') union all select lower(VARIABLE_NAME), VARIABLE_VALUE "
    "from information_schema.GLOBAL_STATUS where VARIABLE_NAME = 'SLAVES_RUNNING'");
const QString MySqlVariables = QStringLiteral(
    "select VARIABLE_NAME, VARIABLE_VALUE from performance_schema.global_variables where "
    "VARIABLE_NAME in ('group_replication_group_name', 'group_replication_single_primary_mode', "
    "'group_replication_enforce_update_everywhere_checks', 'super_read_only')");
// Also a replica whose replication is stopped for now; refused without the rights to see it.
const QString MariaDbReplicas = QStringLiteral("SHOW ALL SLAVES STATUS");
const QString MySqlReplicas = QStringLiteral("SHOW REPLICA STATUS");
// Galera makes a trigger for SUPER without trusted creators; MariaDB lists the account's own
// global rights there.
const QString SuperQuery = QStringLiteral(
    "select count(*) from information_schema.USER_PRIVILEGES where PRIVILEGE_TYPE = 'SUPER'");
// Galera answers a trigger under this flag with 4165, before it checks any right.
const QString RowFormatOnly = QStringLiteral("BINLOG_ROW_FORMAT_ONLY");

bool on(const QString &value)
{
    return value == u"ON" || value == u"1";
}

} // namespace

ServerRole serverRole(const QSqlDatabase &db, bool mariaDb)
{
    // The question that may be refused goes last, so that a refusal sends nothing again.
    QStringList statements{mariaDb ? MariaDbVariables : MySqlVariables};
    if (mariaDb)
        statements << SuperQuery;
    statements << (mariaDb ? MariaDbReplicas : MySqlReplicas);
    const QList<StatementOutcome> outcomes = sendBatch(db, statements, AfterRefusal::GoOn);
    const StatementOutcome &replicas = outcomes.last();
    QHash<QString, QString> variables;
    for (const QStringList &row : outcomes.at(0).rows)
        variables.insert(row.value(0), row.value(1));

    ServerRole role;
    // Rows of a replica's channels; none on a server that replicates from nowhere.
    role.replica = !replicas.refused() && !replicas.rows.isEmpty();
    if (mariaDb) {
        role.replica =
            role.replica || variables.value(QStringLiteral("slaves_running")).toInt() > 0;
        role.galera =
            on(variables.value(QStringLiteral("wsrep_on"))) &&
            variables.value(QStringLiteral("wsrep_provider"), QStringLiteral("none")) != u"none";
        if (role.galera) {
            if (variables.value(QStringLiteral("wsrep_mode")).split(u',').contains(RowFormatOnly))
                role.wsrepModeAgainstTriggers = RowFormatOnly;
            role.galeraTrustsTriggers =
                on(variables.value(QStringLiteral("log_bin_trust_function_creators"))) ||
                outcomes.at(1).rows.value(0).value(0).toInt() > 0;
        }
    } else if (!variables.value(QStringLiteral("group_replication_group_name")).isEmpty()) {
        // The group makes its secondaries, and members not online, super read-only.
        role.groupSecondary = on(variables.value(QStringLiteral("super_read_only")));
        role.updateEverywhere =
            !role.groupSecondary &&
            !on(variables.value(QStringLiteral("group_replication_single_primary_mode"))) &&
            on(variables.value(
                QStringLiteral("group_replication_enforce_update_everywhere_checks")));
    }
    return role;
}
