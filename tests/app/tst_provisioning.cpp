#include "app/setup.h"
#include "settings/settingsfile.h"

#include "digestvectors.h"
#include "messagelog.h"
#include "testdatabase.h"
#include "testsupport.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using testdatabase::AdminConnection;
using testsupport::DigestVector;
using testsupport::MessageLog;
using testsupport::red;

namespace {

const QString Connection = QStringLiteral("admins");
const QString Database = QStringLiteral("ozrinventory");

const QString Success = QStringLiteral("The system has been set up and the user has been added.\n"
                                       "Please close this and log into Quorvo.");

const QString Blank = red(QStringLiteral("Blank username or password not allowed"));
const QString TooLong = red(QStringLiteral("The username may be at most 25 characters."));
const QString Failed =
    red(QStringLiteral("The database connection failed. Please try again later."));
const QString Lost =
    red(QStringLiteral("The database connection was lost. Please try again later."));
const QString Taken =
    red(QStringLiteral("There is already a user with that username, please choose another."));
const QString Unknown = red(QStringLiteral("There was an unknown error."));

const QString Destruct = QStringLiteral("destruct \n");

QByteArray settingsFile(const QString &host, const QString &password)
{
    return QStringLiteral("hname:%1\nMySQLu:%2\nMySQLp:%3\n")
        .arg(host, testdatabase::user(), password)
        .toUtf8();
}

// Types the fields and presses OK, as the administrator does; returns the message label's text.
QString press(setup &dialog, const QString &user, const QString &password)
{
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_username"))->setText(user);
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_password"))->setText(password);
    dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
        ->button(QDialogButtonBox::Ok)
        ->click();
    return dialog.findChild<QLabel *>(QStringLiteral("label"))->text();
}

} // namespace

class TestProvisioning : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldRefuseBlankFields_data();
    void shouldRefuseBlankFields();
    void shouldRefuseLongUserName_data();
    void shouldRefuseLongUserName();
    void shouldStoreAccountAndReportSuccess_data();
    void shouldStoreAccountAndReportSuccess();
    void shouldAcceptCorrectedNameOnKeptConnection();
    void shouldReconnectAfterLostConnection();
    void shouldKeepSettingsOfKeptConnection();
    void shouldConnectAnewAfterFailedConnection();
    void shouldKeepConnectionAfterUnknownError();
    void shouldGiveUpConnectionWhenAccountsTableFails();
    void shouldShowBusyCursorWhileRunning();
    void shouldDestroyConnectionObjectOnce();

private:
    QStringList tables() const;
    // The accounts as the server holds them: name and the digest bytes in hex.
    QStringList accounts() const;
    void rewriteSettings(const QString &host, const QString &password);

    std::unique_ptr<AdminConnection> admin;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<testsupport::CurrentDirectory> cwd;
};

void TestProvisioning::init()
{
    admin = std::make_unique<AdminConnection>();
    QUORVO_REQUIRE_SERVER(*admin);
    // A dialog of an earlier case leaves its connection registered.
    QSqlDatabase::removeDatabase(Connection);
    QString failure;
    QVERIFY2(admin->exec(QStringLiteral("DROP DATABASE IF EXISTS ozrinventory"), &failure) &&
                 admin->exec(QStringLiteral("CREATE DATABASE ozrinventory"), &failure),
             qPrintable(failure));

    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    cwd = std::make_unique<testsupport::CurrentDirectory>(dir->path());
    testsupport::writeFile(SettingsFileName,
                           settingsFile(testdatabase::host(), testdatabase::password()));
}

void TestProvisioning::cleanup()
{
    // Every way out of a run gives the cursor back.
    const bool cursorRestored = QApplication::overrideCursor() == nullptr;
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    cwd.reset();
    dir.reset();
    QSqlDatabase::removeDatabase(Connection);
    admin.reset();
    QVERIFY2(cursorRestored, "The busy cursor was left on");
}

QStringList TestProvisioning::tables() const
{
    QStringList names = testdatabase::rows(
        admin->database(), QStringLiteral("select table_name from information_schema.tables "
                                          "where table_schema = 'ozrinventory'"));
    names.sort();
    return names;
}

QStringList TestProvisioning::accounts() const
{
    return testdatabase::rows(admin->database(),
                              QStringLiteral("select username, hex(password) from "
                                             "ozrinventory.users order by username"));
}

void TestProvisioning::rewriteSettings(const QString &host, const QString &password)
{
    QCOMPARE(rewriteSettingsFile(SettingsFileName, {host, testdatabase::user(), password}),
             RewriteFailure::None);
    QVERIFY(loadSettingsFile());
}

void TestProvisioning::shouldRefuseBlankFields_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("no user name") << ""
                                  << "secret";
    QTest::newRow("no password") << "admin"
                                 << "";
    QTest::newRow("neither") << ""
                             << "";
}

void TestProvisioning::shouldRefuseBlankFields()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    setup dialog;
    MessageLog log;
    QCOMPARE(press(dialog, user, password), Blank);
    QVERIFY(!QSqlDatabase::contains(Connection));
    QCOMPARE(log.all().size(), 0);
    QCOMPARE(tables(), QStringList());
}

void TestProvisioning::shouldRefuseLongUserName_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("refused");
    QTest::newRow("25 letters") << QString(25, u'a') << false;
    QTest::newRow("26 letters") << QString(26, u'a') << true;
    QTest::newRow("26 Latin-1 letters") << QString(26, QChar(0xe9)) << true;
    // The server counts characters: 25 outside the BMP fit although they are 50 UTF-16 units.
    QTest::newRow("25 characters outside the BMP")
        << QString::fromUcs4(std::u32string(25, U'\U0001F511').c_str()) << false;
    QTest::newRow("26 characters outside the BMP")
        << QString::fromUcs4(std::u32string(26, U'\U0001F511').c_str()) << true;
}

void TestProvisioning::shouldRefuseLongUserName()
{
    QFETCH(QString, user);
    QFETCH(bool, refused);
    setup dialog;
    if (refused) {
        QCOMPARE(press(dialog, user, QStringLiteral("secret")), TooLong);
        QVERIFY(!QSqlDatabase::contains(Connection));
        QCOMPARE(tables(), QStringList());
    } else {
        QCOMPARE(press(dialog, user, QStringLiteral("secret")), Success);
        QCOMPARE(testdatabase::rows(admin->database(),
                                    QStringLiteral("select username from ozrinventory.users")),
                 QStringList{user});
    }
}

void TestProvisioning::shouldStoreAccountAndReportSuccess_data()
{
    QTest::addColumn<QString>("vector");
    QTest::newRow("plain name and password") << "even length, lower-case user name";
    QTest::newRow("spaces only count as filled in") << "spaces only";
    QTest::newRow("digest with 0x00") << "digest holding 0x00";
    QTest::newRow("Latin-1 characters") << "Latin-1 characters";
}

void TestProvisioning::shouldStoreAccountAndReportSuccess()
{
    QFETCH(QString, vector);
    const DigestVector account = testsupport::digestVector(vector);
    QVERIFY(!account.digest.isEmpty());

    setup dialog;
    dialog.show();
    QCOMPARE(press(dialog, account.user, account.password), Success);
    // OK never closes the dialog, and the fields keep what was typed.
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_username"))->text(),
             account.user);
    QCOMPARE(tables(), (QStringList{"g_r", "groups", "k_r", "p_g", "p_k", "people", "pkeys",
                                    "rooms", "users"}));
    QCOMPARE(accounts(), QStringList{account.user + QStringLiteral(" | ") +
                                     QString::fromLatin1(account.digest.toHex().toUpper())});
}

// Every OK after the first one sends the triggers again, which exist by then.
void TestProvisioning::shouldAcceptCorrectedNameOnKeptConnection()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = testdatabase::sessionOf(Connection);

    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("other")), Taken);
    QCOMPARE(testdatabase::sessionOf(Connection), session);

    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("other")), Success);
    QCOMPARE(testdatabase::sessionOf(Connection), session);
    QCOMPARE(accounts().size(), 2);
}

void TestProvisioning::shouldReconnectAfterLostConnection()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = testdatabase::sessionOf(Connection);
    QVERIFY(admin->killSession(session));

    MessageLog log;
    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Lost);
    QCOMPARE(log.debug().count(Destruct), 1); // the lost connection is given up

    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Success);
    QVERIFY(testdatabase::sessionOf(Connection) != session);
    QCOMPARE(accounts().size(), 2);
}

// New settings reach the connection only once the kept one has been given up.
void TestProvisioning::shouldKeepSettingsOfKeptConnection()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = testdatabase::sessionOf(Connection);

    rewriteSettings(testdatabase::host(), QStringLiteral("not-the-password"));
    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Success);

    QVERIFY(admin->killSession(session));
    QCOMPARE(press(dialog, QStringLiteral("third"), QStringLiteral("secret")), Lost);
    QCOMPARE(press(dialog, QStringLiteral("third"), QStringLiteral("secret")), Failed);

    rewriteSettings(testdatabase::host(), testdatabase::password());
    QCOMPARE(press(dialog, QStringLiteral("third"), QStringLiteral("secret")), Success);
    QCOMPARE(accounts().size(), 3);
}

void TestProvisioning::shouldConnectAnewAfterFailedConnection()
{
    testsupport::writeFile(SettingsFileName,
                           settingsFile(QStringLiteral("127.0.0.250"), testdatabase::password()));
    setup dialog;
    MessageLog log;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Failed);
    QVERIFY(!QSqlDatabase::contains(Connection));
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Failed);
    QCOMPARE(log.debug().size(), 2); // one open error per attempt, no "destruct"

    rewriteSettings(testdatabase::host(), testdatabase::password());
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
}

void TestProvisioning::shouldKeepConnectionAfterUnknownError()
{
    // A checkout table of another shape: its triggers cannot be made (unknown column).
    QVERIFY(admin->exec(QStringLiteral("CREATE TABLE ozrinventory.p_k (TransactionID int)")));
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Unknown);
    const QString session = testdatabase::sessionOf(Connection);
    QVERIFY(accounts().first().startsWith(QStringLiteral("SQL failed"))); // no users table yet

    QVERIFY(admin->exec(QStringLiteral("DROP TABLE ozrinventory.p_k")));
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    QCOMPARE(testdatabase::sessionOf(Connection), session);
}

// Creating the accounts table fails for whatever reason: the connection is given up.
void TestProvisioning::shouldGiveUpConnectionWhenAccountsTableFails()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = testdatabase::sessionOf(Connection);
    QVERIFY(admin->exec(QStringLiteral("DROP TABLE ozrinventory.users")));
    // The kept session may create no new InnoDB table; the existing ones pass.
    QVERIFY(testdatabase::rowsOn(Connection,
                                 QStringLiteral("SET SESSION enforce_storage_engine = MyISAM"))
                .isEmpty());

    MessageLog log;
    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Failed);
    QVERIFY(log.debug().contains(QStringLiteral("Table 1 \n")));
    QCOMPARE(log.debug().count(Destruct), 1);

    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Success);
    QVERIFY(testdatabase::sessionOf(Connection) != session);
    QCOMPARE(accounts().size(), 1);
}

void TestProvisioning::shouldShowBusyCursorWhileRunning()
{
    QList<int> shapes; // the cursor at each message written during a run
    MessageLog log;
    log.onMessage = [&shapes](const MessageLog::Message &) {
        const QCursor *cursor = QApplication::overrideCursor();
        shapes << (cursor ? int{cursor->shape()} : -1);
    };

    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Taken);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!shapes.isEmpty());
    for (int shape : std::as_const(shapes))
        QCOMPARE(shape, int{Qt::WaitCursor});

    QCOMPARE(press(dialog, QString(), QStringLiteral("secret")), Blank);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void TestProvisioning::shouldDestroyConnectionObjectOnce()
{
    MessageLog log;
    {
        setup unused;
    }
    QCOMPARE(log.debug().count(Destruct), 0);
    {
        setup dialog;
        QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
        QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Taken);
        QCOMPARE(log.debug().count(Destruct), 0);
    }
    QCOMPARE(log.debug().count(Destruct), 1);
}

QTEST_MAIN(TestProvisioning)
#include "tst_provisioning.moc"
