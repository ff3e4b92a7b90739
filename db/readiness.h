#pragma once

#include "db/replication.h"
#include "db/schemadifference.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// A right on the database that the account lacks, as the server answers (or, where binary
// logging keeps it from telling TRIGGER, as the grants show).
struct MissingRight
{
    QString right;      // as the server names it: "UPDATE"
    QStringList tables; // the tables it lacks it on; empty where it lacks it on every one
    // Lacking where the triggers need it: the account lacks it with the roles that a trigger of
    // its own runs with, and has it with those of the session.
    bool forTriggers = false;
};

// An hourly limit of the account that one run would go beyond.
struct HourlyLimit
{
    QString name; // as the server names it: "MAX_UPDATES_PER_HOUR"
    int limit = 0;
    int needed = 0; // what one run needs
};

// What keeps a run from leaving a database that the Quorvo application can work with, found
// before the run changes anything. Empty when nothing was found.
struct ReadinessProblems
{
    QString database;
    // A server that takes no run of its own (replication.refused()) is refused with nothing else.
    ServerRole replication;
    QList<MissingRight> missingRights; // in the order of the rights the run checks
    // How the triggers run where missingRights holds rights forTriggers: true on MySQL, with the
    // definer's default roles (and none that mandatory_roles or activate_all_roles_on_login
    // gives a session); false on MariaDB, without any of its roles.
    bool triggersUseDefaultRoles = false;
    // Binary logging is on (or the server is a Galera node), log_bin_trust_function_creators is
    // off and the account lacks SUPER: the server refuses the triggers.
    bool triggersNeedSuper = false;
    // A Galera node on which p_k is missing: the run claims it (see InventoryDb::createSchema),
    // as triggers created on p_k through two nodes at once have hung a node for good.
    bool claimPK = false;
    // The settings that make the server refuse the Quorvo application's changes, as the server
    // names them ("read_only"); empty where none is on.
    QStringList readOnlySettings;
    // p_k or pkeys in an engine without transactions ("p_k (MyISAM)") beside the other in one
    // with them, on a server that enforces GTID consistency: it refuses every checkout, whose
    // trigger changes both in one statement.
    QStringList gtidRefusedTables;
    QList<HourlyLimit> hourlyLimits;
    // Tables and triggers that exist and differ from what is needed; missing ones are not
    // listed, as the run creates them.
    QList<SchemaDifference> differences;
    // The character set of users.username (of the database, where the run is yet to create
    // the table) when it lacks a character of the user name; empty otherwise.
    QString usernameCharset;
    // No problem: the triggers that are in place as Quorvo needs them, which the run does not
    // create again, each with the account it runs as ('user@host').
    QHash<QString, QString> triggersInPlace;

    bool isEmpty() const
    {
        return !replication.refused() && missingRights.isEmpty() && !triggersNeedSuper &&
               readOnlySettings.isEmpty() && gtidRefusedTables.isEmpty() &&
               hourlyLimits.isEmpty() && differences.isEmpty() && usernameCharset.isEmpty();
    }
};
