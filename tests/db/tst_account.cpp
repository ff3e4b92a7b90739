#include "db/dberror.h"
#include "db/inventorydb.h"
#include "db/passworddigest.h"

#include "digestvectors.h"
#include "messagelog.h"
#include "testdatabase.h"

#include <QtTest>

#include <memory>

using testdatabase::AdminConnection;
using testdatabase::DatabaseCase;
using testdatabase::ScratchDatabase;
using testsupport::DigestVector;
using testsupport::MessageLog;

namespace {

// Runs addUser and returns the code it threw, or 0 when it returned true.
int addUserCode(InventoryDb &db, const QString &user, const QByteArray &digest)
{
    try {
        return db.addUser(user, digest) ? 0 : -1;
    } catch (int code) {
        return code;
    }
}

} // namespace

class TestAccount : public QObject, private DatabaseCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldDeclareAccountsTable();
    void shouldStoreDigestBytesUnchanged_data();
    void shouldStoreDigestBytesUnchanged();
    void shouldStoreDigestThatTextColumnRefuses();
    void shouldRefuseTakenName_data();
    void shouldRefuseTakenName();
    void shouldAddSecondAccount();
    void shouldThrowConnectionFailedWhenTableCannotBeMade();
    void shouldLeaveLengthOfNameToServer();

private:
    // The accounts as the server holds them: name, then the stored bytes.
    QList<QPair<QString, QByteArray>> accounts() const;

    std::unique_ptr<InventoryDb> db;
};

void TestAccount::init()
{
    startCase(QStringLiteral("account"));
    QUORVO_REQUIRE_SERVER(*admin);
    QVERIFY(scratch->isCreated());
    db = std::make_unique<InventoryDb>(connectionName, scratch->databaseName());
}

void TestAccount::cleanup()
{
    db.reset();
    endCase();
}

QList<QPair<QString, QByteArray>> TestAccount::accounts() const
{
    QList<QPair<QString, QByteArray>> result;
    QSqlQuery query(admin->database());
    if (!query.exec(QStringLiteral("select username, password from `%1`.users order by username")
                        .arg(scratch->databaseName())))
        return {{QStringLiteral("SQL failed: ") + query.lastError().text(), {}}};
    while (query.next())
        result.append({query.value(0).toString(), query.value(1).toByteArray()});
    return result;
}

void TestAccount::shouldDeclareAccountsTable()
{
    QCOMPARE(addUserCode(*db, QStringLiteral("admin"), QByteArray(20, 'x')), 0);
    QCOMPARE(scratch->rows(QStringLiteral("select column_name, column_type, column_key from "
                                          "information_schema.columns where table_schema = "
                                          "database() and table_name = 'users' order by "
                                          "ordinal_position")),
             (QStringList{"username | varchar(25) | PRI", "password | varbinary(30) | "}));
    QCOMPARE(scratch->value(QStringLiteral("select engine from information_schema.tables where "
                                           "table_schema = database() and table_name = 'users'")),
             QStringLiteral("InnoDB"));
}

void TestAccount::shouldStoreDigestBytesUnchanged_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("digest");
    for (const DigestVector &vector : testsupport::digestVectors())
        QTest::newRow(qPrintable(vector.name)) << vector.user << vector.password << vector.digest;
}

void TestAccount::shouldStoreDigestBytesUnchanged()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, digest);

    MessageLog log;
    QCOMPARE(addUserCode(*db, user, hashPassword(user, password)), 0);
    QCOMPARE(log.all().size(), 0);

    const auto stored = accounts();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().first, user);
    QCOMPARE(stored.first().second.toHex(), digest.toHex());
}

// On a utf8mb4 database a text column refuses most digests, since their bytes are not valid
// UTF-8; the binary column keeps them.
void TestAccount::shouldStoreDigestThatTextColumnRefuses()
{
    const DigestVector vector = testsupport::digestVector(QStringLiteral("digest holding 0x00"));
    QCOMPARE(vector.digest.size(), 20);
    QVERIFY(!QUtf8StringView(vector.digest).isValidUtf8());

    QVERIFY(scratch->exec(
        QStringLiteral("create table text_users( username varchar(25) primary key, password "
                       "varchar(30)) Engine = Innodb")));
    QSqlQuery legacy(admin->database());
    QVERIFY_SQL(legacy, prepare(QStringLiteral("insert into `%1`.text_users (username, password) "
                                               "values (?, ?)")
                                    .arg(scratch->databaseName())));
    legacy.bindValue(0, vector.user);
    legacy.bindValue(1, vector.digest);
    QVERIFY(!legacy.exec());
    QCOMPARE(legacy.lastError().nativeErrorCode(), QStringLiteral("1366"));

    QCOMPARE(addUserCode(*db, vector.user, vector.digest), 0);
    QCOMPARE(accounts().value(0).second.toHex(), vector.digest.toHex());
}

void TestAccount::shouldRefuseTakenName_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("sameOnEveryServer");
    QTest::newRow("same name") << "admin" << true;
    // The column compares names without regard to case.
    QTest::newRow("name differing in case") << "ADMIN" << true;
    // Only under a PAD SPACE collation (MariaDB's default; MySQL's is NO PAD) is this the same
    // name: the column's own comparison decides.
    QTest::newRow("name with trailing space") << "admin " << false;
}

void TestAccount::shouldRefuseTakenName()
{
    QFETCH(QString, second);
    QFETCH(bool, sameOnEveryServer);
    const QByteArray firstDigest = hashPassword(QStringLiteral("admin"), QStringLiteral("one"));
    QCOMPARE(addUserCode(*db, QStringLiteral("admin"), firstDigest), 0);

    const bool same =
        scratch->value(
            QStringLiteral("select count(*) from users where username = '%1'").arg(second)) ==
        QLatin1String("1");
    QVERIFY(same || !sameOnEveryServer);
    if (!same) {
        QCOMPARE(addUserCode(*db, second, firstDigest), 0);
        QCOMPARE(accounts().size(), 2);
        return;
    }
    MessageLog log;
    QCOMPARE(addUserCode(*db, second, hashPassword(second, QStringLiteral("two"))),
             int{DbError::DuplicateEntry});
    QCOMPARE(log.debug().size(), 1);
    QVERIFY2(log.debug().first().startsWith(QStringLiteral("QSqlError(\"1062\"")),
             qPrintable(log.debug().first()));

    const auto stored = accounts();
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().first, QStringLiteral("admin"));
    QCOMPARE(stored.first().second, firstDigest);
}

void TestAccount::shouldAddSecondAccount()
{
    const QByteArray first = hashPassword(QStringLiteral("admin"), QStringLiteral("one"));
    const QByteArray second = hashPassword(QStringLiteral("clerk"), QStringLiteral("one"));
    QCOMPARE(addUserCode(*db, QStringLiteral("admin"), first), 0);
    QCOMPARE(addUserCode(*db, QStringLiteral("clerk"), second), 0);
    const auto stored = accounts();
    QCOMPARE(stored.size(), 2);
    QCOMPARE(stored.at(0), qMakePair(QStringLiteral("admin"), first));
    QCOMPARE(stored.at(1), qMakePair(QStringLiteral("clerk"), second));
}

// Whatever stops the table from being made counts as a failed connection, and only the label
// is written. Here it is an account that may use the database but create nothing in it.
void TestAccount::shouldThrowConnectionFailedWhenTableCannotBeMade()
{
    testdatabase::LimitedAccount account(*admin);
    QVERIFY(account.grant(QStringLiteral("SELECT"),
                          QStringLiteral("`%1`.*").arg(scratch->databaseName())));
    db.reset();
    ConnectionSettings::dbUser = account.userName();
    ConnectionSettings::dbPassword = testdatabase::LimitedAccount::Password;
    db = std::make_unique<InventoryDb>(connectionName, scratch->databaseName());
    MessageLog log;
    QCOMPARE(addUserCode(*db, QStringLiteral("admin"), QByteArray(20, 'x')),
             int{DbError::ConnectionFailed});
    QCOMPARE(log.debug(), QStringList{"Table 1 \n"});
    QCOMPARE(scratch->rows(QStringLiteral("show tables")), QStringList());
    // Not in the debug output, but kept for the user.
    QVERIFY2(dbFailureReason(lastDbFailure()).startsWith(QStringLiteral("1142: ")),
             qPrintable(dbFailureReason(lastDbFailure())));
}

// The dialog refuses long names before it connects; here the strict session refuses it rather
// than store it cut short, and the table made before the failed insert stays.
void TestAccount::shouldLeaveLengthOfNameToServer()
{
    const QString longName(26, u'n');
    MessageLog log;
    QCOMPARE(addUserCode(*db, longName, QByteArray(20, 'x')), int{DbError::ValueRefused});
    QCOMPARE(log.debug().size(), 1);
    QVERIFY2(log.debug().first().startsWith(QStringLiteral("QSqlError(\"1406\"")),
             qPrintable(log.debug().first()));
    QCOMPARE(scratch->rows(QStringLiteral("show tables")), QStringList{"users"});
    QCOMPARE(accounts().size(), 0);
}

QTEST_GUILESS_MAIN(TestAccount)
#include "tst_account.moc"
