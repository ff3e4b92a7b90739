#include "db/inventorydb.h"

#include "db/clientplugins.h"
#include "db/dberror.h"
#include "db/tlsoptions.h"
#include "settings/connectionsettings.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <optional>

namespace {

const QString DriverName = QStringLiteral("QMYSQL");
constexpr int Port = 3306; // the settings file has no port

// Every wait has an end. A server that drops our packets would hold a run for minutes at the
// connect, one that stops answering for as long as TCP keeps trying; a read or write that runs
// out ends the statement as a lost connection.
const QString ConnectOptions = QStringLiteral(
    "MYSQL_OPT_CONNECT_TIMEOUT=10;MYSQL_OPT_READ_TIMEOUT=30;MYSQL_OPT_WRITE_TIMEOUT=30;");
// The library fails a TLS handshake that it was asked to verify with this client error.
constexpr int TlsFailed = 2026;
// Another session holding a table (the Quorvo application in the middle of a transaction, say)
// would otherwise keep a statement waiting for a day, the server's default. Both limits stay
// below the read timeout, so a lock wait ends with the server's own refusal.
//
// The rest makes the session the same on every server, whatever its defaults or init_connect
// say: each statement takes effect when it ends (autocommit), and a COMMIT or ROLLBACK neither
// opens a transaction nor ends the session (completion_type). The mode is set whole, not added
// to: modes such as ORACLE, ANSI_QUOTES, PIPES_AS_CONCAT or NO_BACKSLASH_ESCAPES would change how
// the run's statements read. Strict, so that a value a column cannot hold is refused where
// another mode would store it changed (a name cut short, a letter as '?') and report success.
// The triggers keep this mode, in which the application's checkouts run them: their bodies store
// only whole numbers and dates, which every strict mode takes as they are.
const QString SessionSettings[] = {
    QStringLiteral("SET SESSION lock_wait_timeout = 10"),
    QStringLiteral("SET SESSION innodb_lock_wait_timeout = 10"),
    QStringLiteral("SET SESSION autocommit = 1"),
    QStringLiteral("SET SESSION completion_type = 'NO_CHAIN'"),
    QStringLiteral("SET SESSION sql_mode = 'STRICT_TRANS_TABLES,STRICT_ALL_TABLES,"
                   "ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION'"),
};
// An older server lacks some of these settings; it goes without them.
constexpr int UnknownSystemVariable = 1193;

// The constructor throws a bare code: the reason goes to the debug output and is kept for the
// one who catches it.
void logFailure(const QSqlError &error)
{
    qDebug() << error << Qt::endl;
    recordDbFailure(error);
}

// A session that refuses a setting it knows is not used: it fails like a connection that could
// not be opened.
bool applySessionSettings(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    for (const QString &setting : SessionSettings) {
        if (query.exec(setting))
            continue;
        if (sqlErrorNumber(query.lastError()) == UnknownSystemVariable) {
            qDebug() << "Skipped:" << setting << query.lastError() << Qt::endl;
            continue;
        }
        logFailure(query.lastError());
        return false;
    }
    return true;
}

// Names the session's TLS version and cipher in the debug output. False where the session is in
// clear text: the server offered no TLS, and the library went on without it. Nothing where the
// server could not be asked (the reason is logged).
std::optional<bool> reportTls(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral(
            "SHOW SESSION STATUS WHERE Variable_name IN ('Ssl_version', 'Ssl_cipher')"))) {
        logFailure(query.lastError());
        return std::nullopt;
    }
    QString version;
    QString cipher;
    while (query.next())
        (query.value(0).toString() == QLatin1String("Ssl_cipher") ? cipher : version) =
            query.value(1).toString();
    if (cipher.isEmpty()) {
        qInfo() << "Not encrypted: the server offered no TLS" << Qt::endl;
        return false;
    }
    qInfo().noquote() << "Encrypted:" << version << cipher << Qt::endl;
    return true;
}

} // namespace

InventoryDb::InventoryDb(const QString &connectionName, const QString &databaseName)
{
    // An earlier object leaves its connection registered; no handle of it is alive any more.
    QSqlDatabase::removeDatabase(connectionName);
    db = std::make_unique<QSqlDatabase>(QSqlDatabase::addDatabase(DriverName, connectionName));
    connName = db->connectionName();

    db->setHostName(ConnectionSettings::dbHost);
    db->setDatabaseName(databaseName);
    db->setUserName(ConnectionSettings::dbUser);
    db->setPassword(ConnectionSettings::dbPassword);
    db->setPort(Port);
    const QString &caFile = ConnectionSettings::dbCaFile;
    // Whether the host name is checked as well is the client library's choice: the driver has no
    // option for it that every Qt version knows.
    db->setConnectOptions(ConnectOptions + tlsoptions::connectOptions(caFile));
    clientplugins::offerToLibrary();
    int failure = DbError::ConnectionFailed;
    if (db->open()) {
        const std::optional<bool> encrypted = reportTls(*db);
        // A server that was to be verified is refused before any statement of the run.
        if (encrypted == false && !caFile.isEmpty()) {
            recordDbFailure(QSqlError());
            failure = DbError::NotEncrypted;
        } else if (encrypted && applySessionSettings(*db)) {
            return;
        }
    } else {
        logFailure(db->lastError());
        if (!caFile.isEmpty() && sqlErrorNumber(db->lastError()) == TlsFailed)
            failure = DbError::CertificateRejected;
    }
    // removeDatabase warns while a handle of the connection is alive, and leaves that handle
    // unusable: the handle goes first.
    db.reset();
    QSqlDatabase::removeDatabase(connectionName);
    throw int{failure};
}

void InventoryDb::lookUpDrivers()
{
    QSqlDatabase::drivers();
    tlsoptions::skipSystemCaBundle();
}

InventoryDb::~InventoryDb()
{
    qDebug() << "destruct" << Qt::endl;
}

bool InventoryDb::isAlive()
{
    QSqlQuery query(*db);
    return query.exec(QStringLiteral("DO 0"));
}

bool InventoryDb::transaction()
{
    return db->transaction();
}

bool InventoryDb::commit()
{
    return db->commit();
}

bool InventoryDb::rollback()
{
    return db->rollback();
}
