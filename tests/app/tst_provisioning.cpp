#include "app/setup.h"
#include "settings/connectionsettings.h"
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
#include <QRegularExpression>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTimer>
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
const QString NotLatin1 = red(QStringLiteral(
    "The password may hold only Latin-1 characters: letters, digits and signs of Western "
    "European languages, such as é, ß or ñ."));
const QString NoHost = red(QStringLiteral(
    "No database server is set. Please set the connection under \"Database Configuration\"."));
const QString TooLong = red(QStringLiteral("The username may be at most 25 characters."));
const QString BlankEnd = red(QStringLiteral("The username may not begin or end with a blank."));
// Failures the server caused: the message, then the server's number on the next line (as
// waitForRun() leaves it, without the server's text).
const QString Failed = QStringLiteral("The database connection failed. Please try again later.");
const QString Lost = QStringLiteral("The database connection was lost. Please try again later.");
const QString Taken =
    QStringLiteral("There is already a user with that username, please choose another.");
const QString Unknown = QStringLiteral("There was an unknown error.");
const QString NotEncrypted = QStringLiteral(
    "The server offers no encrypted connection (TLS), so it cannot be verified against the CA "
    "certificate {ca}, and nothing was changed. Turn TLS on at the server, or clear the CA "
    "certificate under \"Database Configuration\".");
const QString Unverified = QStringLiteral("The server's certificate could not be verified against "
                                          "the CA certificate {ca}, so nothing was changed.");
const QString NoCheckout =
    QStringLiteral("The tables and triggers are in place, but a key could not be checked out and "
                   "back in through them as Quorvo does it, so no account was added.");

QString because(const QString &message, int serverError)
{
    return red(QStringLiteral("%1<br>%2").arg(message).arg(serverError));
}

const QString Destruct = QStringLiteral("destruct \n");

QByteArray settingsFile(const QString &host, const QString &password)
{
    return QStringLiteral("hname:%1\nMySQLu:%2\nMySQLp:%3\n")
        .arg(host, testdatabase::user(), password)
        .toUtf8();
}

QAbstractButton *button(setup &dialog, QDialogButtonBox::StandardButton which)
{
    return dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(which);
}

// Types the fields and presses OK, as the administrator does; the run goes on in the background.
void click(setup &dialog, const QString &user, const QString &password)
{
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_username"))->setText(user);
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_password"))->setText(password);
    button(dialog, QDialogButtonBox::Ok)->click();
}

// Waits for the run in progress, if any, to end (OK is enabled again); returns the label's text.
QString waitForRun(setup &dialog)
{
    // Far longer than any bounded wait of a run: a run that hangs fails the case here.
    for (int waited = 0; waited < 120000 && !button(dialog, QDialogButtonBox::Ok)->isEnabled();
         waited += 10)
        QTest::qWait(10);
    // The server's text after its number depends on its version and language.
    static const QRegularExpression reasonText(QStringLiteral("(<br>\\d+): [^<]+"));
    return dialog.findChild<QLabel *>(QStringLiteral("label"))
        ->text()
        .replace(reasonText, QStringLiteral("\\1"));
}

QString press(setup &dialog, const QString &user, const QString &password)
{
    click(dialog, user, password);
    return waitForRun(dialog);
}

} // namespace

class TestProvisioning : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldRefuseBeforeConnecting_data();
    void shouldRefuseBeforeConnecting();
    void shouldRefuseLongUserName_data();
    void shouldRefuseLongUserName();
    void shouldStoreAccountAndReportSuccess_data();
    void shouldStoreAccountAndReportSuccess();
    void shouldAcceptCorrectedNameOnKeptConnection();
    void shouldReplaceConnectionClosedBetweenRuns();
    void shouldKeepSettingsOfKeptConnection();
    void shouldConnectAnewAfterFailedConnection();
    void shouldListEveryProblemAndKeepConnection();
    void shouldEndWaitForLockedTable_data();
    void shouldEndWaitForLockedTable();
    void shouldShowBusyCursorWhileRunning();
    void shouldIgnoreButtonsDuringRun();
    void shouldTakeDoubleClickForOnePress();
    void shouldConnectWithSavedSettings();
    void shouldEncryptWhereServerOffersTls_data();
    void shouldEncryptWhereServerOffersTls();
    void shouldDestroyConnectionObjectOnce();

private:
    QStringList tables() const;
    // The server session of the program's connection: the one session on ozrinventory.
    QString programSession() const;
    // The accounts as the server holds them: name and the digest bytes in hex.
    QStringList accounts() const;
    void rewriteSettings(const QString &host, const QString &password);

    std::unique_ptr<AdminConnection> admin;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<testsupport::CurrentDirectory> cwd;
};

void TestProvisioning::init()
{
    // The cases press OK again as soon as a run has ended, far sooner than a person could: each
    // press counts as one of its own.
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(0);
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
    ConnectionSettings::dbCaFile.clear();
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

QString TestProvisioning::programSession() const
{
    return testdatabase::value(admin->database(),
                               QStringLiteral("select id from information_schema.processlist "
                                              "where db = 'ozrinventory'"));
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

// Nothing is sent anywhere: no connection, no table, not a line of debug output.
void TestProvisioning::shouldRefuseBeforeConnecting_data()
{
    QTest::addColumn<QByteArray>("settings"); // null: no settings file
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");

    const QByteArray good = settingsFile(testdatabase::host(), testdatabase::password());
    QTest::newRow("no user name") << good << ""
                                  << "secret" << Blank;
    QTest::newRow("no password") << good << "admin"
                                 << "" << Blank;
    QTest::newRow("neither") << good << ""
                             << "" << Blank;
    QTest::newRow("user name of blanks") << good << " \t "
                                         << "secret" << Blank;
    // The server would take "admin " for "admin"; a login would never match its digest.
    QTest::newRow("blank at the end") << good << "bob "
                                      << "secret" << BlankEnd;
    QTest::newRow("tab at the start") << good << "\tbob"
                                      << "secret" << BlankEnd;
    QTest::newRow("password beyond Latin-1")
        << good << "admin" << QStringLiteral("пароль") << NotLatin1;
    // What keeps the file from being read, rather than a host to set where nothing can be saved.
    QTest::newRow("no settings file")
        << QByteArray() << "admin"
        << "secret"
        << red(QStringLiteral("The configuration file could not be read.<br>{cwd}/Quorvo.conf: No "
                              "such file or directory<br>Please save the connection under "
                              "\"Database Configuration\" to make it."));
    QTest::newRow("no host in the settings")
        << QByteArray("hname:\nMySQLu:root\nMySQLp:\n") << "admin"
        << "secret" << NoHost;
}

void TestProvisioning::shouldRefuseBeforeConnecting()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QVERIFY(QFile::remove(SettingsFileName));
    if (!settings.isNull())
        testsupport::writeFile(SettingsFileName, settings);
    // As in a process just started: nothing read yet.
    ConnectionSettings::dbHost.clear();
    ConnectionSettings::dbUser.clear();
    ConnectionSettings::dbPassword.clear();

    QFETCH(QString, message);
    setup dialog;
    MessageLog log;
    QCOMPARE(press(dialog, user, password),
             message.replace(QStringLiteral("{cwd}"), QDir::currentPath().toHtmlEscaped()));
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
    QTest::newRow("longest name, password with blanks") << "25 characters";
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

// Every OK after the first one finds the tables and triggers in place.
void TestProvisioning::shouldAcceptCorrectedNameOnKeptConnection()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = programSession();

    dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_password"))->setFocus();
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("other")), because(Taken, 1062));
    QCOMPARE(programSession(), session);
    // The name is to be corrected: its field has the keyboard focus.
    QCOMPARE(dialog.focusWidget()->objectName(), QStringLiteral("lineEdit_username"));
    // So also where the accounts table cannot hold it.
    QVERIFY(admin->exec(QStringLiteral("alter table ozrinventory.users convert to character set "
                                       "latin1")));
    dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_password"))->setFocus();
    QVERIFY(press(dialog, QStringLiteral("Ωmega"), QStringLiteral("other")).contains("latin1"));
    QCOMPARE(dialog.focusWidget()->objectName(), QStringLiteral("lineEdit_username"));

    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("other")), Success);
    QCOMPARE(programSession(), session);
    QCOMPARE(accounts().size(), 2);
}

// A connection that the server closed while the window stood idle is replaced without a word.
void TestProvisioning::shouldReplaceConnectionClosedBetweenRuns()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = programSession();
    QVERIFY(admin->killSession(session));

    MessageLog log;
    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Success);
    QCOMPARE(log.debug().count(Destruct), 1);
    QVERIFY(programSession() != session);
    QCOMPARE(accounts().size(), 2);
}

// Settings read behind the dialog's back reach the connection only once the kept one is gone.
void TestProvisioning::shouldKeepSettingsOfKeptConnection()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = programSession();

    rewriteSettings(testdatabase::host(), QStringLiteral("not-the-password"));
    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Success);

    QVERIFY(admin->killSession(session));
    QCOMPARE(press(dialog, QStringLiteral("third"), QStringLiteral("secret")),
             because(Failed, 1045));

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
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")),
             because(Failed, 2002));
    QVERIFY(!QSqlDatabase::contains(Connection));
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")),
             because(Failed, 2002));
    QCOMPARE(log.debug().size(), 2); // one open error per attempt, no "destruct"

    rewriteSettings(testdatabase::host(), testdatabase::password());
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
}

// Every problem on a line of its own, as text, under one line that says nothing was changed.
void TestProvisioning::shouldListEveryProblemAndKeepConnection()
{
    QVERIFY(admin->exec(QStringLiteral("CREATE TABLE ozrinventory.pkeys (TagNum int)")));
    QVERIFY(admin->exec(QStringLiteral("CREATE TABLE ozrinventory.users (username varchar(25), "
                                       "password varbinary(30))")));
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")),
             red(QStringLiteral(
                 "The database is not ready for Quorvo, and nothing was changed:<br>"
                 "The table pkeys lacks the column KeyName.<br>"
                 "The table pkeys lacks the column Total.<br>"
                 "The table pkeys lacks the column InInv.<br>"
                 "The column users.username has no primary key or unique index: two accounts "
                 "could have the same name.")));
    QCOMPARE(tables(), (QStringList{"pkeys", "users"}));
    QCOMPARE(accounts(), QStringList());
    const QString session = programSession();

    QVERIFY(admin->exec(QStringLiteral("DROP TABLE ozrinventory.pkeys, ozrinventory.users")));
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    QCOMPARE(programSession(), session);
}

// Another session holds a table of the run; each run ends within the session's lock bound. A
// failed accounts table gives up the connection, as does a connection lost during the run.
void TestProvisioning::shouldEndWaitForLockedTable_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<bool>("killed"); // the run's session is ended while it waits
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("kept");
    // MySQL lets "create table if not exists" pass a table that another session holds, and the
    // statement after it waits instead: the key checkout for p_k, the insert for users.
    QTest::addColumn<QString>("mysqlMessage");
    QTest::addColumn<bool>("mysqlKept");

    // A failure after the first change says what exists now.
    const QString unknownWithAllLeft = red(
        Unknown + QStringLiteral("<br>1205<br>These tables and triggers exist now: people, pkeys, "
                                 "p_k, groups, p_g, rooms, k_r, g_r, users, now_date_pk, "
                                 "checkout_keys, change_keys, checkin_keys. Press OK again once "
                                 "the cause is mended: the run keeps them and makes only what is "
                                 "missing."));
    QTest::newRow("checkouts") << "p_k" << false << unknownWithAllLeft << true
                               << because(NoCheckout, 1205) << true;
    QTest::newRow("accounts") << "users" << false << because(Failed, 1205) << false
                              << unknownWithAllLeft << true;
    QTest::newRow("connection lost while waiting")
        << "p_k" << true << because(Lost, 2013) << false << because(Lost, 2013) << false;
}

void TestProvisioning::shouldEndWaitForLockedTable()
{
    QFETCH(QString, table);
    QFETCH(bool, killed);
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    const QString session = programSession();

    QVERIFY(admin->exec(QStringLiteral("LOCK TABLES ozrinventory.%1 WRITE").arg(table)));
    click(dialog, QStringLiteral("clerk"), QStringLiteral("secret"));
    if (killed) {
        const QString waiting =
            QStringLiteral("select id from information_schema.processlist "
                           "where state like '%lock%' and id <> connection_id()");
        // The run gets to the held table after its checks, later on a busy machine; it then
        // waits there for 10 s, which the polling sees at once.
        QTRY_COMPARE_WITH_TIMEOUT(testdatabase::value(admin->database(), waiting), session, 30000);
        QVERIFY(admin->killSession(session));
    }
    const bool mysql = testdatabase::isMySql(admin->database());
    // Over TLS the library reports the end of the session as a TLS error.
    QTEST(waitForRun(dialog).replace(QStringLiteral("<br>2026"), QStringLiteral("<br>2013")),
          mysql ? "mysqlMessage" : "message");
    QVERIFY(admin->exec(QStringLiteral("UNLOCK TABLES")));

    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")), Success);
    QTEST(programSession() == session, mysql ? "mysqlKept" : "kept");
    QCOMPARE(accounts().size(), 2);
}

void TestProvisioning::shouldShowBusyCursorWhileRunning()
{
    setup dialog;
    for (const QString &expected : {Success, because(Taken, 1062)}) {
        click(dialog, QStringLiteral("admin"), QStringLiteral("secret"));
        // The outcome of the run before is gone while this one is in progress.
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(),
                 QStringLiteral("Setting up the database. Please wait..."));
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QCOMPARE(waitForRun(dialog), expected);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }
    QCOMPARE(press(dialog, QString(), QStringLiteral("secret")), Blank);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

// Keys and clicks made during a run start no second run and do not close the window.
void TestProvisioning::shouldIgnoreButtonsDuringRun()
{
    setup dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *settingsButton = dialog.findChild<QPushButton *>(QStringLiteral("pushButton_db"));
    click(dialog, QStringLiteral("admin"), QStringLiteral("secret"));
    QVERIFY(!settingsButton->isEnabled());
    button(dialog, QDialogButtonBox::Ok)->click();
    button(dialog, QDialogButtonBox::Cancel)->click();
    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    QVERIFY(dialog.isVisible());

    // The close asked for during the run happens once it has ended, with the account stored.
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 60000);
    QCOMPARE(dialog.result(), int{QDialog::Rejected});
    QCOMPARE(accounts().size(), 1);
}

// The second click of a double click starts nothing, also when the first one's run has ended.
void TestProvisioning::shouldTakeDoubleClickForOnePress()
{
    // Longer than any run, so that it surely ends before the second press.
    QGuiApplication::styleHints()->setMouseDoubleClickInterval(120000);
    setup dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(waitForRun(dialog), Success);
    QCOMPARE(accounts().size(), 1);

    QGuiApplication::styleHints()->setMouseDoubleClickInterval(100);
    QTest::qWait(100);
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")),
             because(Taken, 1062));
}

// Settings saved through the settings button are used at the very next OK.
void TestProvisioning::shouldConnectWithSavedSettings()
{
    setup dialog;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), Success);

    QTimer::singleShot(0, [] {
        auto *config = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(config);
        config->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigPass"))
            ->setText(QStringLiteral("not-the-password"));
        config->accept();
    });
    dialog.findChild<QPushButton *>(QStringLiteral("pushButton_db"))->click();
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(),
             QStringLiteral("Your database configuration was successfully saved."));
    // The session of the old settings is closed at once, not left open until the next run.
    QTRY_VERIFY(programSession().startsWith(QStringLiteral("0 rows")));

    QCOMPARE(press(dialog, QStringLiteral("clerk"), QStringLiteral("secret")),
             because(Failed, 1045));
    QCOMPARE(accounts().size(), 1);
}

// TLS wherever the server offers it, asked of the server that demands it; with a CA certificate,
// only to a server whose certificate it signed.
void TestProvisioning::shouldEncryptWhereServerOffersTls_data()
{
    QTest::addColumn<QString>("demand");  // what the server or the account asks for
    QTest::addColumn<QString>("ca");      // "own": the one that signed the server's certificate
    QTest::addColumn<QString>("overTls"); // the outcome where the server offers TLS
    QTest::addColumn<QString>("inClear"); // and where it offers none
    const QString none, refused = because(Failed, 1045), clear = red(NotEncrypted);
    QTest::newRow("offered") << none << none << Success << Success;
    QTest::newRow("require_secure_transport")
        << QStringLiteral("SET GLOBAL require_secure_transport = ON") << none << Success << refused;
    QTest::newRow("REQUIRE SSL account")
        << QStringLiteral("ALTER USER '{user}'@'%' REQUIRE SSL") << none << Success << refused;
    QTest::newRow("right CA") << none << QStringLiteral("own") << Success << clear;
    QTest::newRow("wrong CA") // one that signed nothing
        << none << QStringLiteral("unrelated") << because(Unverified, 2026) << clear;
}

void TestProvisioning::shouldEncryptWhereServerOffersTls()
{
    QFETCH(QString, demand);
    QFETCH(QString, ca);
    QFETCH(QString, overTls);
    QFETCH(QString, inClear);
    const QSqlDatabase server = admin->database();
    const bool tls = testdatabase::isMySql(server) ||
                     testdatabase::value(server, QStringLiteral("select @@have_ssl")) == "YES";
    if (ca == u"own" && tls)
        ca = testdatabase::value(server, QStringLiteral("select concat(if(@@ssl_ca like '/%', '', "
                                                        "@@datadir), @@ssl_ca)"));
    if (ca == u"NULL")
        QSKIP("The server's certificate is self-signed (see QUORVO_DB_OWN_CA)");
    if (ca == u"own" || ca == u"unrelated") // without TLS, "own" has no certificate to go by
        ca = QFINDTESTDATA("../data/unrelated-ca.pem");
    testdatabase::LimitedAccount account(*admin);
    QVERIFY(account.grant(QStringLiteral("ALL PRIVILEGES"), QStringLiteral("*.*")));
    // An empty CA certificate line, as the settings dialog leaves it, reads as none.
    testsupport::writeFile(SettingsFileName,
                           QStringLiteral("hname:%1\nMySQLu:%2\nMySQLp:%3\nMySQLca:%4\n")
                               .arg(testdatabase::host(), account.userName(),
                                    testdatabase::LimitedAccount::Password, ca)
                               .toUtf8());
    const auto relax = qScopeGuard(
        [this] { admin->exec(QStringLiteral("SET GLOBAL require_secure_transport = OFF")); });
    QVERIFY(demand.isEmpty() || admin->exec(demand.replace("{user}", account.userName())));

    const QString expected = (tls ? overTls : inClear).replace(QStringLiteral("{ca}"), ca);
    setup dialog;
    MessageLog log;
    QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")), expected);
    // The debug output says whether the run was encrypted.
    if (expected == Success)
        QCOMPARE(log.texts(QtInfoMsg).first().startsWith(QStringLiteral("Encrypted: TLSv1.")), tls);
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
        QCOMPARE(press(dialog, QStringLiteral("admin"), QStringLiteral("secret")),
                 because(Taken, 1062));
        QCOMPARE(log.debug().count(Destruct), 0);
    }
    QCOMPARE(log.debug().count(Destruct), 1);
}

QTEST_MAIN(TestProvisioning)
#include "tst_provisioning.moc"
