#include "db/dberror.h"
#include "db/inventorydb.h"

#include "messagelog.h"
#include "testdatabase.h"

#include <QtTest>

#include <memory>

using testdatabase::AdminConnection;
using testdatabase::DatabaseCase;
using testdatabase::ScratchDatabase;
using testsupport::MessageLog;

namespace {

const QStringList AllTables = {QStringLiteral("g_r"),   QStringLiteral("groups"),
                               QStringLiteral("k_r"),   QStringLiteral("p_g"),
                               QStringLiteral("p_k"),   QStringLiteral("people"),
                               QStringLiteral("pkeys"), QStringLiteral("rooms")};

const QStringList AllTriggers = {
    QStringLiteral("now_date_pk | BEFORE | INSERT | p_k"),
    QStringLiteral("checkout_keys | AFTER | INSERT | p_k"),
    QStringLiteral("change_keys | AFTER | UPDATE | p_k"),
    QStringLiteral("checkin_keys | AFTER | DELETE | p_k"),
};

// Runs createSchema and returns the code it threw, or 0 when it returned true.
int schemaCode(InventoryDb &db)
{
    try {
        return db.createSchema() ? 0 : -1;
    } catch (int code) {
        return code;
    }
}

// Columns and references as the server shows them. The rows below are written as MariaDB shows
// them; MySQL shows integer types without their display width, text defaults without quotes,
// and a reference without an action on delete as NO ACTION (the same as RESTRICT in InnoDB).
QStringList asShownBy(const QSqlDatabase &server, QStringList rows)
{
    if (!testdatabase::isMySql(server))
        return rows;
    for (QString &row : rows) {
        QStringList fields = row.split(QStringLiteral(" | "));
        fields[1].replace(QStringLiteral("int(11)"), QStringLiteral("int"));
        if (fields[2].startsWith(u'\''))
            fields[2] = fields[2].mid(1, fields[2].size() - 2);
        fields[3].replace(QStringLiteral("RESTRICT"), QStringLiteral("NO ACTION"));
        row = fields.join(QStringLiteral(" | "));
    }
    return rows;
}

} // namespace

class TestSchema : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldCreateTable_data();
    void shouldCreateTable();
    void shouldCreateTriggersInOrder();
    void shouldKeepInventoryInStepWithCheckouts();
    void shouldCascadeDeletesExceptFromCheckoutsToPeople();
    void shouldKeepRowsOnRepeatedRun();
    void shouldSendEveryStatementAsPlainText();
    void shouldStopAtFailingStep_data();
    void shouldStopAtFailingStep();

private:
    QStringList tables() const;
    QStringList triggers() const;
    // The object's own server session: statements it has received, and those of them that
    // came as prepared statements.
    QPair<int, int> sessionCounters() const;

    std::unique_ptr<InventoryDb> db;
};

void TestSchema::init()
{
    startCase(QStringLiteral("schema"));
    QUORVO_REQUIRE_SERVER(*admin);
    QVERIFY(scratch->isCreated());
    db = std::make_unique<InventoryDb>(connectionName, scratch->databaseName());
}

void TestSchema::cleanup()
{
    db.reset();
    endCase();
}

QStringList TestSchema::tables() const
{
    QStringList names = scratch->rows(QStringLiteral("show tables"));
    names.sort();
    return names;
}

QStringList TestSchema::triggers() const
{
    return scratch->rows(
        QStringLiteral("select trigger_name, action_timing, event_manipulation, "
                       "event_object_table from information_schema.triggers where "
                       "trigger_schema = database() order by created, action_order"));
}

QPair<int, int> TestSchema::sessionCounters() const
{
    // SHOW is the one way that both MariaDB and MySQL answer.
    const QStringList values = testdatabase::rowsOn(
        connectionName, QStringLiteral("show session status where variable_name in "
                                       "('Questions', 'Com_stmt_prepare')"));
    QPair<int, int> counters{-1, -1};
    for (const QString &row : values) {
        const QStringList fields = row.split(QStringLiteral(" | "));
        (fields.first() == u"Questions" ? counters.first : counters.second) = fields.last().toInt();
    }
    return counters;
}

void TestSchema::shouldCreateTable_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns"); // name | type | default | key | extra
    QTest::addColumn<QStringList>("references");

    QTest::newRow("people") << "people"
                            << QStringList{
                                   "Tnumber | char(9) | 'T00000000' | PRI | ",
                                   "LastName | varchar(15) | 'LastName' |  | ",
                                   "FirstName | varchar(15) | 'FirstName' |  | ",
                                   "strAddr | varchar(75) | 'No address given.' |  | ",
                                   "HPhone | varchar(20) | 'No home phone given.' |  | ",
                                   "WPhone | varchar(20) | 'No work phone given.' |  | ",
                                   "CPhone | varchar(20) | 'No cell phone given.' |  | ",
                                   "email | varchar(50) | 'No e-mail address given.' |  | ",
                               }
                            << QStringList{};
    QTest::newRow("pkeys") << "pkeys"
                           << QStringList{
                                  "TagNum | int(11) | NULL | PRI | ",
                                  "KeyName | varchar(10) | 'KeyName' |  | ",
                                  "Total | int(11) | 1 |  | ",
                                  "InInv | int(11) | 1 |  | ",
                              }
                           << QStringList{};
    QTest::newRow("p_k") << "p_k"
                         << QStringList{
                                "TransactionID | int(11) | NULL | PRI | auto_increment",
                                "Tnumber | char(9) | 'T00000000' | MUL | ",
                                "TagNum | int(11) | 0 | MUL | ",
                                "NumOut | int(11) | 1 |  | ",
                                "DateOut | date | NULL |  | ",
                                "DateDue | date | NULL |  | ",
                            }
                         << QStringList{"TagNum | pkeys | TagNum | CASCADE",
                                        "Tnumber | people | Tnumber | RESTRICT"};
    QTest::newRow("groups") << "groups"
                            << QStringList{
                                   "Gid | int(11) | NULL | PRI | auto_increment",
                                   "GroupName | varchar(40) | 'GroupName' | UNI | ",
                               }
                            << QStringList{};
    QTest::newRow("p_g") << "p_g"
                         << QStringList{
                                "Tnumber | char(9) | 'T00000000' | PRI | ",
                                "Gid | int(11) | 0 | PRI | ",
                            }
                         << QStringList{"Gid | groups | Gid | CASCADE",
                                        "Tnumber | people | Tnumber | CASCADE"};
    QTest::newRow("rooms") << "rooms"
                           << QStringList{
                                  "RoomId | int(11) | NULL | PRI | auto_increment",
                                  "RoomName | varchar(10) | 'RoomName' | UNI | ",
                              }
                           << QStringList{};
    QTest::newRow("k_r") << "k_r"
                         << QStringList{
                                "TagNum | int(11) | 0 | PRI | ",
                                "RoomId | int(11) | 0 | PRI | ",
                            }
                         << QStringList{"RoomId | rooms | RoomId | CASCADE",
                                        "TagNum | pkeys | TagNum | CASCADE"};
    QTest::newRow("g_r") << "g_r"
                         << QStringList{
                                "Gid | int(11) | 0 | PRI | ",
                                "RoomId | int(11) | 0 | PRI | ",
                            }
                         << QStringList{"Gid | groups | Gid | CASCADE",
                                        "RoomId | rooms | RoomId | CASCADE"};
}

void TestSchema::shouldCreateTable()
{
    QFETCH(QString, table);
    MessageLog log;
    QCOMPARE(schemaCode(*db), 0);
    QCOMPARE(log.all().size(), 0);
    QCOMPARE(tables(), AllTables);

    QFETCH(QStringList, columns);
    QCOMPARE(scratch->rows(QStringLiteral("select column_name, column_type, column_default, "
                                          "column_key, extra from information_schema.columns "
                                          "where table_schema = database() and table_name = '%1' "
                                          "order by ordinal_position")
                               .arg(table)),
             asShownBy(admin->database(), columns));
    QFETCH(QStringList, references);
    QCOMPARE(
        scratch->rows(QStringLiteral("select k.column_name, k.referenced_table_name, "
                                     "k.referenced_column_name, r.delete_rule from "
                                     "information_schema.key_column_usage k join "
                                     "information_schema.referential_constraints r on "
                                     "r.constraint_schema = k.table_schema and r.constraint_name = "
                                     "k.constraint_name where k.table_schema = database() and "
                                     "k.table_name = '%1' order by k.column_name")
                          .arg(table)),
        asShownBy(admin->database(), references));
    QCOMPARE(scratch->value(QStringLiteral("select engine from information_schema.tables where "
                                           "table_schema = database() and table_name = '%1'")
                                .arg(table)),
             QStringLiteral("InnoDB"));
}

void TestSchema::shouldCreateTriggersInOrder()
{
    QCOMPARE(schemaCode(*db), 0);
    QCOMPARE(triggers(), AllTriggers);
}

void TestSchema::shouldKeepInventoryInStepWithCheckouts()
{
    QCOMPARE(schemaCode(*db), 0);
    QVERIFY(scratch->exec(QStringLiteral("insert into people (Tnumber) values ('T00000001')")));
    QVERIFY(
        scratch->exec(QStringLiteral("insert into pkeys (TagNum, Total, InInv) values (7, 5, 5)")));
    const QString inInventory = QStringLiteral("select InInv from pkeys where TagNum = 7");

    // The checkout date is the server's, whatever the insert says.
    QVERIFY(scratch->exec(QStringLiteral("insert into p_k (Tnumber, TagNum, NumOut, DateOut) "
                                         "values ('T00000001', 7, 2, '2000-01-01')")));
    QCOMPARE(scratch->value(inInventory), QStringLiteral("3"));
    QCOMPARE(
        scratch->value(QStringLiteral("select datediff(curdate(), DateOut) in (0, 1) from p_k")),
        QStringLiteral("1"));

    QVERIFY(scratch->exec(QStringLiteral("update p_k set NumOut = 1")));
    QCOMPARE(scratch->value(inInventory), QStringLiteral("4"));
    QVERIFY(scratch->exec(QStringLiteral("update p_k set NumOut = 4")));
    QCOMPARE(scratch->value(inInventory), QStringLiteral("1"));

    QVERIFY(scratch->exec(QStringLiteral("delete from p_k")));
    QCOMPARE(scratch->value(inInventory), QStringLiteral("5"));
}

void TestSchema::shouldCascadeDeletesExceptFromCheckoutsToPeople()
{
    QCOMPARE(schemaCode(*db), 0);
    QVERIFY(scratch->exec(QStringLiteral("insert into people (Tnumber) values ('T00000001')")));
    QVERIFY(scratch->exec(QStringLiteral("insert into pkeys (TagNum) values (7), (8)")));
    QVERIFY(scratch->exec(QStringLiteral("insert into p_k (Tnumber, TagNum) values ('T00000001', "
                                         "7), ('T00000001', 8)")));
    QVERIFY(scratch->exec(QStringLiteral("insert into `groups` (GroupName) values ('Staff')")));
    QVERIFY(scratch->exec(QStringLiteral("insert into rooms (RoomName) values ('A1')")));
    QVERIFY(
        scratch->exec(QStringLiteral("insert into p_g (Tnumber, Gid) values ('T00000001', 1)")));
    QVERIFY(scratch->exec(QStringLiteral("insert into k_r (TagNum, RoomId) values (7, 1)")));
    QVERIFY(scratch->exec(QStringLiteral("insert into g_r (Gid, RoomId) values (1, 1)")));

    // A person with keys out cannot go.
    QString failure;
    QVERIFY(!scratch->exec(QStringLiteral("delete from people"), &failure));
    QVERIFY2(failure.contains(QStringLiteral("foreign key constraint")), qPrintable(failure));

    QVERIFY(scratch->exec(QStringLiteral("delete from pkeys where TagNum = 7")));
    QCOMPARE(scratch->rows(QStringLiteral("select TagNum from p_k")), QStringList{"8"});
    QCOMPARE(scratch->rows(QStringLiteral("select TagNum from k_r")), QStringList());

    QVERIFY(scratch->exec(QStringLiteral("delete from rooms")));
    QCOMPARE(scratch->rows(QStringLiteral("select Gid from g_r")), QStringList());

    QVERIFY(scratch->exec(QStringLiteral("delete from `groups`")));
    QCOMPARE(scratch->rows(QStringLiteral("select Gid from p_g")), QStringList());

    // The references hold: no link to a group that is not there.
    QVERIFY(
        !scratch->exec(QStringLiteral("insert into p_g (Tnumber, Gid) values ('T00000001', 0)")));
    // With the keys back, the person can go.
    QVERIFY(scratch->exec(QStringLiteral("delete from p_k")));
    QVERIFY(scratch->exec(QStringLiteral("delete from people")));
}

// Servers that allow several triggers per event answer the second run's triggers with 1359,
// which is passed over like "not supported": the run succeeds and the rows stay.
void TestSchema::shouldKeepRowsOnRepeatedRun()
{
    QCOMPARE(schemaCode(*db), 0);
    QVERIFY(scratch->exec(QStringLiteral("insert into people (Tnumber) values ('T00000001')")));
    QVERIFY(
        scratch->exec(QStringLiteral("insert into pkeys (TagNum, Total, InInv) values (7, 5, 5)")));
    QVERIFY(scratch->exec(QStringLiteral("insert into p_k (Tnumber, TagNum, NumOut) values "
                                         "('T00000001', 7, 2)")));

    MessageLog log;
    QCOMPARE(schemaCode(*db), 0);
    QStringList labels;
    for (const QString &message : log.debug()) {
        if (message.startsWith(QStringLiteral("QSqlError(")))
            QVERIFY2(message.startsWith(QStringLiteral("QSqlError(\"1359\"")), qPrintable(message));
        else
            labels << message;
    }
    QCOMPARE(labels, (QStringList{"Trigger 1 \n", "Trigger 2 \n", "Trigger 3 \n", "Trigger 4 \n"}));
    QCOMPARE(log.all().size(), 8); // each label followed by its error

    QCOMPARE(tables(), AllTables);
    QCOMPARE(triggers(), AllTriggers);
    QCOMPARE(scratch->rows(QStringLiteral("select Tnumber, TagNum, NumOut from p_k")),
             QStringList{"T00000001 | 7 | 2"});
    QCOMPARE(scratch->value(QStringLiteral("select InInv from pkeys")), QStringLiteral("3"));
}

// MySQL refuses CREATE TRIGGER as a prepared statement, so the schema goes as plain text, one
// whole statement per call. The server's own counters of the session show it.
void TestSchema::shouldSendEveryStatementAsPlainText()
{
    for (int run = 1; run <= 2; ++run) {
        const auto before = sessionCounters();
        QCOMPARE(schemaCode(*db), 0);
        const auto after = sessionCounters();
        QVERIFY(before.first >= 0);
        // Eight tables, four triggers and the two DELIMITER statements, also on the second run
        // when every trigger exists; plus the second status query itself.
        QCOMPARE(after.first - before.first, 14 + 1);
        QCOMPARE(after.second - before.second, 0);
    }
}

void TestSchema::shouldStopAtFailingStep_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<bool>("createOnlyExisting");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QStringList>("tablesAfter");
    QTest::addColumn<QStringList>("triggersAfter");

    // An account that may create only the tables that exist fails at the first table that does
    // not exist yet; the tables before it are made to exist.
    QTest::newRow("people, on an empty database")
        << QStringList{} << true << QStringList{"Table 2 \n"} << 1 << QStringList{}
        << QStringList{};
    QTest::newRow("pkeys, with the connection's error as well")
        << QStringList{"people"} << true
        << QStringList{"Table 3 \n", "QSqlError(\"\", \"\", \"\") \n"} << 2 << QStringList{"people"}
        << QStringList{};
    QTest::newRow("g_r, the last table")
        << QStringList{"people", "pkeys", "p_k", "`groups`", "p_g", "rooms", "k_r"} << true
        << QStringList{"Table 9 \n"} << 8
        << QStringList{"groups", "k_r", "p_g", "p_k", "people", "pkeys", "rooms"} << QStringList{};
    // A people table whose key does not match the reference from p_k.
    QTest::newRow("p_k, after creating people and pkeys")
        << QStringList{"people (Tnumber int primary key)"} << false << QStringList{"Table 4 \n"}
        << 3 << QStringList{"people", "pkeys"} << QStringList{};
    // A p_k table without NumOut: the first trigger goes in, the second fails.
    QTest::newRow("Trigger 2, and no statement after it")
        << QStringList{"p_k (DateOut date)"} << false << QStringList{"Trigger 2 \n"} << 8 + 1 + 2
        << AllTables << QStringList{AllTriggers.first()};
}

void TestSchema::shouldStopAtFailingStep()
{
    QFETCH(QStringList, existing);
    QFETCH(bool, createOnlyExisting);
    QFETCH(QStringList, labels);
    QFETCH(int, sent);

    for (const QString &table : existing) {
        const QString definition =
            table.contains(u'(') ? table : table + QStringLiteral(" (a int)");
        QString failure;
        QVERIFY2(scratch->exec(QStringLiteral("create table ") + definition, &failure),
                 qPrintable(failure));
    }
    testdatabase::LimitedAccount account(*admin);
    if (createOnlyExisting) {
        // Rights on the tables it references let it make p_k and the links, but no new table.
        const QString onDb = QStringLiteral("`%1`.").arg(scratch->databaseName());
        QVERIFY(account.grant(QStringLiteral("SELECT, REFERENCES"), onDb + u'*'));
        for (const QString &table : existing)
            QVERIFY(account.grant(QStringLiteral("CREATE"), onDb + table));
        db.reset();
        ConnectionSettings::dbUser = account.userName();
        ConnectionSettings::dbPassword = testdatabase::LimitedAccount::Password;
        db = std::make_unique<InventoryDb>(connectionName, scratch->databaseName());
    }

    const auto before = sessionCounters();
    MessageLog log;
    QCOMPARE(schemaCode(*db), int{DbError::Unclassified});
    const auto after = sessionCounters();

    // The label (and for pkeys the connection's error), then the statement's error.
    QStringList debug = log.debug();
    QCOMPARE(debug.size(), labels.size() + 1);
    QVERIFY2(debug.takeLast().startsWith(QStringLiteral("QSqlError(\"")), "no statement error");
    QCOMPARE(debug, labels);

    QCOMPARE(after.first - before.first, sent + 1);
    QTEST(tables(), "tablesAfter");
    QTEST(triggers(), "triggersAfter");
}

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
