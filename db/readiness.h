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
    // Lacking where the triggers need it: the account itself lacks it, without the roles that
    // the session has (MariaDB runs a trigger with the rights of its definer alone).
    bool forTriggers = false;
};

// What keeps a run from leaving a database that the Quorvo application can work with, found
// before the run changes anything. Empty when nothing was found.
struct ReadinessProblems
{
    QString database;
    // A server that takes no run of its own (replication.refused()) is refused with nothing else.
    ServerRole replication;
    QList<MissingRight> missingRights; // in the order of the rights the run checks
    // Binary logging is on (or the server is a Galera node), log_bin_trust_function_creators is
    // off and the account lacks SUPER: the server refuses the triggers.
    bool triggersNeedSuper = false;
    // A Galera node on which p_k is missing: the run claims it (see InventoryDb::createSchema),
    // as triggers created on p_k through two nodes at once have hung a node for good.
    bool claimPK = false;
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
               differences.isEmpty() && usernameCharset.isEmpty();
    }
};
