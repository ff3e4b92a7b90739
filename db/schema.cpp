#include "db/inventorydb.h"

#include "db/dberror.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// Each table is created after the tables it references. `groups` is quoted because MySQL 8
// reserves the word; the table is the same.
const QString CreatePeople = QStringLiteral(
    "create table IF NOT EXISTS people( Tnumber char(9) primary key DEFAULT 'T00000000', "
    "LastName varchar(15) DEFAULT 'LastName', FirstName varchar(15) DEFAULT 'FirstName', "
    "strAddr varchar(75) DEFAULT 'No address given.', HPhone varchar(20) DEFAULT 'No home "
    "phone given.', WPhone varchar(20) DEFAULT 'No work phone given.', CPhone varchar(20) "
    "DEFAULT 'No cell phone given.', email varchar(50) DEFAULT 'No e-mail address "
    "given.') Engine = Innodb;");
const QString CreatePkeys =
    QStringLiteral("create table IF NOT EXISTS pkeys( TagNum int primary key, KeyName varchar(10) "
                   "DEFAULT 'KeyName', Total int DEFAULT 1, InInv int DEFAULT 1) Engine = Innodb;");
const QString CreatePK = QStringLiteral(
    "create table IF NOT EXISTS p_k (TransactionID int primary key AUTO_INCREMENT, "
    "Tnumber char(9) DEFAULT 'T00000000', TagNum int DEFAULT 0, NumOut int DEFAULT 1, "
    "DateOut date, DateDue date DEFAULT null, FOREIGN KEY (Tnumber) REFERENCES "
    "people(Tnumber), FOREIGN KEY (TagNum) REFERENCES pkeys(TagNum) ON DELETE cascade) "
    "Engine=Innodb;");
const QString CreateGroups = QStringLiteral(
    "create table IF NOT EXISTS `groups` ( Gid int primary key auto_increment, GroupName "
    "varchar(40) DEFAULT 'GroupName' UNIQUE) Engine = Innodb;");
const QString CreatePG = QStringLiteral(
    "create table IF NOT EXISTS p_g ( Tnumber char(9) DEFAULT 'T00000000', Gid int "
    "DEFAULT 0, PRIMARY KEY (Tnumber, Gid), FOREIGN KEY (Tnumber) REFERENCES "
    "people(Tnumber) ON DELETE cascade, FOREIGN KEY (Gid) REFERENCES `groups`(Gid) ON "
    "DELETE cascade) Engine = Innodb;");
const QString CreateRooms = QStringLiteral(
    "create table IF NOT EXISTS rooms ( RoomId int primary key auto_increment, RoomName "
    "varchar(10) DEFAULT 'RoomName' UNIQUE ) Engine = Innodb;");
const QString CreateKR = QStringLiteral(
    "create table IF NOT EXISTS k_r ( TagNum int DEFAULT 0, RoomId int DEFAULT 0, PRIMARY "
    "KEY (TagNum, RoomId), FOREIGN KEY (TagNum) REFERENCES pkeys(TagNum) ON DELETE "
    "cascade, FOREIGN KEY (RoomId) REFERENCES rooms(RoomID)ON DELETE cascade ) Engine = "
    "Innodb;");
const QString CreateGR = QStringLiteral(
    "create table IF NOT EXISTS g_r ( Gid int DEFAULT 0, RoomId int DEFAULT 0, PRIMARY "
    "KEY (Gid, RoomId), FOREIGN KEY (Gid) REFERENCES `groups`(Gid) ON DELETE cascade, "
    "FOREIGN KEY (RoomId) REFERENCES rooms(RoomID) ON DELETE cascade ) Engine = Innodb;");

// DELIMITER is a command of the mysql client, not of the server: servers answer both with an
// error, which changes nothing and is not looked at. The triggers need no delimiter, as each
// goes whole in one call.
const QString DelimiterBackslash = QStringLiteral("set DELIMITER = \\");
const QString DelimiterSemicolon = QStringLiteral("set DELIMITER = ;");

// Each trigger goes as one statement with the semicolons of its body inside.
const QString CreateNowDatePk = QStringLiteral(
    "create trigger now_date_pk BEFORE INSERT ON p_k FOR EACH ROW set NEW.DateOut=now();");
const QString CreateCheckoutKeys = QStringLiteral(
    "create trigger checkout_keys AFTER INSERT ON p_k FOR EACH ROW BEGIN DECLARE num INT; "
    "set num = NEW.NumOut; update pkeys set InInv = InInv - num where TagNum = "
    "new.TagNum; END");
const QString CreateChangeKeys = QStringLiteral(
    "create trigger change_keys AFTER UPDATE ON p_k FOR EACH ROW BEGIN DECLARE num INT; "
    "set num = OLD.NumOut - NEW.NumOut; update pkeys set InInv = InInv + num where TagNum "
    "= new.TagNum; END");
const QString CreateCheckinKeys = QStringLiteral(
    "create trigger checkin_keys AFTER DELETE ON p_k FOR EACH ROW BEGIN DECLARE num INT; "
    "set num = OLD.NumOut; update pkeys set InInv = InInv + num where TagNum = "
    "OLD.TagNum; END");

struct Step
{
    const char *label; // shown on the debug output when the statement fails
    const QString &statement;
};

const Step TableSteps[] = {
    {"Table 2", CreatePeople}, {"Table 3", CreatePkeys}, {"Table 4", CreatePK},
    {"Table 5", CreateGroups}, {"Table 6", CreatePG},    {"Table 7", CreateRooms},
    {"Table 8", CreateKR},     {"Table 9", CreateGR},
};
const Step &PkeysStep = TableSteps[1];
const Step &PKStep = TableSteps[2];
constexpr int TableExists = 1050;

const Step TriggerSteps[] = {
    {"Trigger 1", CreateNowDatePk},
    {"Trigger 2", CreateCheckoutKeys},
    {"Trigger 3", CreateChangeKeys},
    {"Trigger 4", CreateCheckinKeys},
};

// Servers that allow several triggers per event answer a trigger that exists with this number
// rather than with "not supported"; both mean the trigger is already in place from an earlier
// run.
constexpr int TriggerExists = 1359;

QString triggerName(const Step &step)
{
    return step.statement.section(u' ', 2, 2);
}

} // namespace

QString InventoryDb::triggerBody(const QString &name)
{
    const QString head = QStringLiteral(" FOR EACH ROW ");
    for (const Step &step : TriggerSteps) {
        const QString &statement = step.statement;
        if (triggerName(step) == name)
            return statement.mid(statement.indexOf(head) + head.size());
    }
    return {};
}

QStringList InventoryDb::triggerNames()
{
    QStringList names;
    for (const Step &step : TriggerSteps)
        names << triggerName(step);
    return names;
}

bool InventoryDb::createSchema(const QHash<QString, QString> &triggersInPlace, bool claimPK)
{
    // Plain text, not prepared: MySQL refuses CREATE TRIGGER as a prepared statement.
    QSqlQuery query(*db);

    for (const Step &step : TableSteps) {
        QString statement = step.statement;
        if (&step == &PKStep && claimPK)
            statement.remove(QStringLiteral("IF NOT EXISTS "));
        if (query.exec(statement))
            continue;
        if (claimPK && sqlErrorNumber(query.lastError()) == TableExists) {
            classifyError(query.lastError());
            throw int{DbError::Deadlock};
        }
        qDebug() << step.label << Qt::endl;
        if (&step == &PkeysStep)
            qDebug() << db->lastError() << Qt::endl;
        throw classifyError(query.lastError());
    }

    query.exec(DelimiterBackslash);
    for (const Step &step : TriggerSteps) {
        if (triggersInPlace.contains(triggerName(step)) || query.exec(step.statement))
            continue;
        qDebug() << step.label << Qt::endl;
        const QSqlError error = query.lastError();
        const int code = classifyError(error);
        if (code != DbError::NotSupported && sqlErrorNumber(error) != TriggerExists)
            throw code;
    }
    query.exec(DelimiterSemicolon);
    return true;
}
