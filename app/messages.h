#pragma once

// Every text that the two windows put into their message labels, whole or as a part of one,
// as the source text of the window's translation context (the class name, which tr() uses). %1, %2
// ... stand for what is filled in at run time: a name from the database, a right, another text of
// this list.
//
// The user guide and the manual page list each of them, and tst_messagelist holds both to this
// list: a new message is one line here, and the test then asks for it in both documents.

// clang-format off
#define QUORVO_MESSAGES(M)                                                                         \
    M(SetupMessage, ConfigUnreadable, "The configuration file could not be read.")                 \
    M(SetupMessage, SaveToMakeConfig,                                                              \
      "Please save the connection under \"Database Configuration\" to make it.")                   \
    M(SetupMessage, ConfigSaved, "Your database configuration was successfully saved.")            \
    M(SetupMessage, BlankInput, "Blank username or password not allowed")                          \
    M(SetupMessage, UsernameBlankAtEnds, "The username may not begin or end with a blank.")        \
    M(SetupMessage, UsernameTooLong, "The username may be at most 25 characters.")                 \
    M(SetupMessage, PasswordNotLatin1,                                                             \
      "The password may hold only Latin-1 characters: letters, digits and signs "                  \
      "of Western European languages, such as é, ß or ñ.")                                         \
    M(SetupMessage, NoServer,                                                                      \
      "No database server is set. Please set the connection under "                                \
      "\"Database Configuration\".")                                                               \
    M(SetupMessage, Running, "Setting up the database. Please wait...")                            \
    M(SetupMessage, Done,                                                                          \
      "The system has been set up and the user has been added.\n"                                  \
      "Please close this and log into Quorvo.")                                                    \
    M(SetupMessage, UserNotAdded, "That user could not be added.")                                 \
    M(SetupMessage, ConnectionFailed, "The database connection failed. Please try again later.")   \
    M(SetupMessage, ConfigLooksUtf8,                                                               \
      "The configuration file looks like UTF-8, but Quorvo reads it in the system's "              \
      "code page, so its letters beyond ASCII do not arrive as written. Save the "                 \
      "connection under \"Database Configuration\" (or save the file as \"ANSI\") to "            \
      "mend that.")                                                                                \
    M(SetupMessage, ConnectionLost, "The database connection was lost. Please try again later.")   \
    M(SetupMessage, NotEncrypted,                                                                  \
      "The server offers no encrypted connection (TLS), so it cannot be verified against the "     \
      "CA certificate %1, and nothing was changed. Turn TLS on at the server, or clear the CA "    \
      "certificate under \"Database Configuration\".")                                             \
    M(SetupMessage, CertificateRejected,                                                           \
      "The server's certificate could not be verified against the CA certificate %1, so "         \
      "nothing was changed.")                                                                      \
    M(SetupMessage, DuplicateUser,                                                                 \
      "There is already a user with that username, please choose another.")                        \
    M(SetupMessage, UsernameRefused,                                                               \
      "The username cannot be stored: the column users.username cannot hold one "                  \
      "of its characters. The account was not added; choose another name.")                        \
    M(SetupMessage, UnknownError, "There was an unknown error.")                                   \
    M(SetupMessage, SchemaLeft,                                                                    \
      "These tables and triggers exist now: %1. Press OK again once the cause is mended: "         \
      "the run keeps them and makes only what is missing.")                                        \
    M(SetupMessage, Deadlock,                                                                      \
      "A statement of the setup clashed with another session at the same time (such as a "         \
      "second run of the setup), on this server or on another node of its cluster. Please "        \
      "press OK again.")                                                                           \
    M(SetupMessage, ReadOnly,                                                                      \
      "The server takes no writes (it is read-only, as replicas and secondaries of a group "       \
      "are): run the setup on the primary.")                                                       \
    M(SetupMessage, PluginRefused,                                                                 \
      "A plugin of the server refused the statement. Group Replication in multi-primary "          \
      "mode with update-everywhere checks refuses the cascading foreign keys of Quorvo's "         \
      "tables.")                                                                                   \
    M(SetupMessage, NotReplicable,                                                                 \
      "Galera refused to replicate the statement: the cluster's wsrep_mode must not hold "         \
      "BINLOG_ROW_FORMAT_ONLY, under which it does not replicate triggers.")                       \
    M(SetupMessage, NotReady, "The database is not ready for Quorvo, and nothing was changed:")    \
    M(SetupMessage, MissingRight, "The account lacks the right %1 on %2: %3")                      \
    M(SetupMessage, OnDatabase, "the database %1")                                                 \
    M(SetupMessage, OnTable, "the table %1")                                                       \
    M(SetupMessage, OnTables, "the tables %1")                                                     \
    M(SetupMessage, NeededBySetupTriggersQuorvo, "the setup, the triggers and Quorvo need it.")    \
    M(SetupMessage, NeededBySetupQuorvo, "the setup and Quorvo need it.")                          \
    M(SetupMessage, NeededToAddAccount,                                                            \
      "the setup needs it to add the account, and Quorvo needs it.")                               \
    M(SetupMessage, NeededByTriggers,                                                              \
      "the triggers on p_k need it to count keys out and in, and Quorvo needs it.")                \
    M(SetupMessage, NeededToCreateTables, "the setup needs it to create the tables.")              \
    M(SetupMessage, NeededForReferences,                                                           \
      "the server asks for it for the foreign keys that refer there.")                             \
    M(SetupMessage, NeededToCreateTriggers,                                                        \
      "the setup needs it to create the triggers, and they need it to run.")                       \
    M(SetupMessage, RightOn, "%1 on %2")                                                           \
    M(SetupMessage, TriggersLackRights,                                                            \
      "The account itself lacks %1: the triggers on p_k run with the rights of the "               \
      "account that created them, without its roles, so grant these rights to the "               \
      "account itself rather than through a role.")                                                \
    M(SetupMessage, TriggersLackDefaultRoleRights,                                                 \
      "The account lacks %1 with its default roles: the triggers on p_k run with the "             \
      "rights of the account that created them and its default roles only, not with "              \
      "mandatory roles or roles activated at login, so grant these rights to the "                 \
      "account itself or to one of its default roles.")                                            \
    M(SetupMessage, NeededByQuorvo, "Quorvo needs it.")                                            \
    M(SetupMessage, TriggersNeedSuper,                                                             \
      "Binary logging is on and log_bin_trust_function_creators is off, so the "                   \
      "server creates the triggers only for an account with SUPER: grant it SUPER, "               \
      "or set log_bin_trust_function_creators = 1.")                                               \
    M(SetupMessage, ServerReadOnly,                                                                \
      "The server runs with %1 on, so it would refuse the changes of Quorvo: turn it "             \
      "off, or set up the server that Quorvo writes to rather than a replica.")                    \
    M(SetupMessage, GtidNonTransactional,                                                          \
      "The table %1 has an engine without transactions, and with "                                 \
      "enforce_gtid_consistency on the server would refuse every key checkout, whose "             \
      "triggers change p_k and pkeys together: convert the table to InnoDB.")                      \
    M(SetupMessage, HourlyLimit,                                                                   \
      "The account's limit %1 is %2 an hour, and one run needs %3: raise it (ALTER "               \
      "USER ... WITH %1 %3, then FLUSH USER_RESOURCES, as what the account used this hour "        \
      "counts too), or set it to 0 for none.")                                                     \
    M(SetupMessage, GaleraNeedsSuper,                                                              \
      "The server is a node of a Galera cluster, which creates the triggers only for an "          \
      "account with SUPER or with log_bin_trust_function_creators on, whether binary "             \
      "logging is on or off: grant the account SUPER, or set "                                     \
      "log_bin_trust_function_creators = 1 on the node that the setup connects to.")               \
    M(SetupMessage, Replica,                                                                       \
      "The server is a replica: it takes its changes from another server, and a run here "         \
      "would clash with them. Run the setup on the primary.")                                      \
    M(SetupMessage, GroupSecondary,                                                                \
      "The server is a secondary of a Group Replication group (or a member not online), "          \
      "which takes no writes. Run the setup on the group's primary.")                              \
    M(SetupMessage, UpdateEverywhere,                                                              \
      "The server is a member of a Group Replication group in multi-primary mode with "            \
      "group_replication_enforce_update_everywhere_checks on, which refuses the cascading "        \
      "foreign keys of Quorvo's tables: run the group in single-primary mode.")                    \
    M(SetupMessage, WsrepModeAgainstTriggers,                                                      \
      "The Galera cluster's wsrep_mode holds %1, under which the nodes do not replicate "          \
      "triggers, and Quorvo counts keys through the triggers on p_k: take %1 out of "              \
      "wsrep_mode on every node.")                                                                 \
    M(SetupMessage, UsernameCharset,                                                               \
      "The username holds a character that the column users.username (character "                  \
      "set %1) cannot store: choose another name.")                                                \
    M(SetupMessage, CheckoutFailed,                                                                \
      "The tables and triggers are in place, but a key could not be checked out and "              \
      "back in through them as Quorvo does it, so no account was added.")                          \
    M(SetupMessage, CheckoutNotDated,                                                              \
      "The trigger now_date_pk did not set the date of the checkout.")                             \
    M(SetupMessage, CheckoutStock,                                                                 \
      "The stock of the key went %1 as it was checked out, the checkout changed and the "          \
      "key checked back in; Quorvo needs 2, 1, 3.")                                                \
    M(SetupMessage, MissingTable, "The database lacks the table %1.")                              \
    M(SetupMessage, MissingColumn, "The table %1 lacks the column %2.")                            \
    M(SetupMessage, WrongColumnType, "The column %1.%2 has the type %3; it must be %4.")           \
    M(SetupMessage, MissingTrigger, "The table %1 lacks the trigger %2.")                          \
    M(SetupMessage, TriggerOnOtherTable, "The trigger %1 is on the table %2, not on %3.")          \
    M(SetupMessage, WrongTriggerEvent, "The trigger %1 runs %2; it must run %3.")                  \
    M(SetupMessage, WrongTriggerBody,                                                              \
      "The trigger %1 does something other than Quorvo needs; it must do: %2")                     \
    M(SetupMessage, ColumnNeedsValue,                                                              \
      "The column %1.%2 must be given a value (it is NOT NULL and has no default): the "           \
      "setup cannot add an account to the table.")                                                 \
    M(SetupMessage, NotUnique,                                                                     \
      "The column %1.%2 has no primary key or unique index: two accounts could "                   \
      "have the same name.")                                                                       \
    M(DataConfigMessage, HostMissing, "You must enter a hostname.")                                \
    M(DataConfigMessage, UserMissing, "You must enter a username.")                                \
    M(DataConfigMessage, NotStorable, "The values may not contain ':' or line breaks.")            \
    M(DataConfigMessage, CaNotStorable,                                                            \
      "The path of the CA certificate may not contain ';' or line breaks.")                        \
    M(DataConfigMessage, CaUnreadable, "The CA certificate could not be read. Nothing was saved.") \
    M(DataConfigMessage, ReadFailed,                                                               \
      "The configuration file could not be read. Nothing was saved.")                              \
    M(DataConfigMessage, CreateFailed,                                                             \
      "A file could not be made beside the configuration file. Nothing was saved.")                \
    M(DataConfigMessage, Busy,                                                                     \
      "Another program is saving the configuration file. Please try again later.")                 \
    M(DataConfigMessage, WriteFailed,                                                              \
      "The new configuration file could not be written. Nothing was saved.")                       \
    M(DataConfigMessage, RenameFailed, "Error, could not rename new config file.")                 \
    M(DataConfigMessage, ValueNotEncodable,                                                        \
      "A new value holds a character that the file's encoding cannot store. "                      \
      "Nothing was saved.")                                                                        \
    M(DataConfigMessage, LinkTargetFolderNotWritable,                                              \
      "Quorvo.conf links to a file in a folder that cannot be written. "                           \
      "Nothing was saved.")                                                                        \
    M(DataConfigMessage, PermissionsNotKept,                                                       \
      "The file's permissions could not be kept. Nothing was saved.")
// clang-format on

// The texts as named constants, SetupMessage::NoServer and the like, for tr() of their window.
namespace SetupMessage {
inline constexpr char Context[] = "setup";
}
namespace DataConfigMessage {
inline constexpr char Context[] = "DataConfig";
}
#define QUORVO_MESSAGE_CONSTANT(window, name, text)                                                \
    namespace window {                                                                             \
    inline constexpr char name[] = text;                                                           \
    }
QUORVO_MESSAGES(QUORVO_MESSAGE_CONSTANT)
#undef QUORVO_MESSAGE_CONSTANT

struct MessageText
{
    const char *context;
    const char *source;
};

// Every one of them, in the order of the list.
inline constexpr MessageText AllMessages[] = {
#define QUORVO_MESSAGE_ENTRY(window, name, text) {window::Context, window::name},
    QUORVO_MESSAGES(QUORVO_MESSAGE_ENTRY)
#undef QUORVO_MESSAGE_ENTRY
};
