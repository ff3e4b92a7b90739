#pragma once

#include <QString>

class QSqlDatabase;

// The part that a server plays in replication, as far as the account may see it. A run writes
// on the server it connects to, which must be the one that takes the writes of the whole set.
struct ServerRole
{
    // It applies the changes of another server. MariaDB tells every account whether its
    // replication runs; MySQL tells only an account with REPLICATION CLIENT or SUPER.
    bool replica = false;
    // A member of a Group Replication group that takes no writes (a secondary, or one not
    // online), or one of a multi-primary group whose update-everywhere checks refuse cascading
    // foreign keys.
    bool groupSecondary = false;
    bool updateEverywhere = false;
    // A node of a Galera cluster; the wsrep_mode flag under which it does not replicate
    // triggers (empty when there is none); whether it would create a trigger for the account,
    // which Galera asks SUPER or trusted creators for with binary logging on or off.
    bool galera = false;
    QString wsrepModeAgainstTriggers;
    bool galeraTrustsTriggers = true;

    // Whether the run must not change this server at all.
    bool refused() const
    {
        return replica || groupSecondary || updateEverywhere || !wsrepModeAgainstTriggers.isEmpty();
    }
};

// Asks the server in one batch; a question that the account may not ask tells nothing. A failed
// connection is thrown as its DbError code.
ServerRole serverRole(const QSqlDatabase &db, bool mariaDb);
