#include "settings/connectionsettings.h"
#include "app/dataconfig.h"

#include "testsupport.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace testsupport;

namespace {

const QString Conf = QStringLiteral("Quorvo.conf");
const QString Tmp = QStringLiteral("Quorvo.conf.tmp");
const QByteArray OnDisk("# Quorvo\nhname:disk-host\nMySQLu:disk-user\nMySQLp:disk-password\n");

// What a failed save leaves behind on disk.
enum class Damage { FileIsDirectory, TmpIsDirectory, DiskFull, RenameRefused };

} // namespace

Q_DECLARE_METATYPE(Damage)

class TestDataConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldBuildForm_data();
    void shouldBuildForm();
    void shouldCreateObjectsInFormOrder();
    void shouldLeaveGridRowOneEmpty();
    void shouldTranslateTextsInTheDataConfigContext();
    void shouldOpenWithCurrentSettingsAndMaskedPassword();

    void shouldRefuseInput_data();
    void shouldRefuseInput();
    void shouldCloseAsRejectedWhenNothingChanged();
    void shouldSaveAndCloseAsAccepted_data();
    void shouldSaveAndCloseAsAccepted();
    void shouldStayOpenWhenSaveFails_data();
    void shouldStayOpenWhenSaveFails();
    void shouldCloseAfterFailedSaveIsRetried();
    void shouldCheckCaCertificate_data();
    void shouldCheckCaCertificate();

private:
    // Fills a field as typed; text with control characters arrives by paste, as it would.
    static void enter(QLineEdit *field, const QString &text);
    void fill(const QString &host, const QString &user, const QString &password);
    void pressOk();
    void pressCancel();
    QString shownError() const;
    // Sets up the damage on disk and returns what the settings file then holds.
    QByteArray damage(Damage kind);
    void clickOkDamaged(Damage kind);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<CurrentDirectory> cwd;
    std::unique_ptr<DataConfig> dialog;
};

void TestDataConfig::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    cwd = std::make_unique<CurrentDirectory>(dir->path());
    writeFile(Conf, OnDisk);
    ConnectionSettings::dbHost = QStringLiteral("mem-host");
    ConnectionSettings::dbUser = QStringLiteral("mem-user");
    ConnectionSettings::dbPassword = QStringLiteral("mem-password");
    ConnectionSettings::dbCaFile.clear();
    dialog = std::make_unique<DataConfig>();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
}

void TestDataConfig::cleanup()
{
    dialog.reset();
    cwd.reset();
    dir.reset();
}

void TestDataConfig::enter(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    const bool control =
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
    if (control) {
        QGuiApplication::clipboard()->setText(text);
        QTest::keySequence(field, QKeySequence::Paste);
    } else {
        QTest::keyClicks(field, text);
    }
    QCOMPARE(field->text(), text);
}

void TestDataConfig::fill(const QString &host, const QString &user, const QString &password)
{
    enter(dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigHost")), host);
    enter(dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigUser")), user);
    enter(dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigPass")), password);
}

void TestDataConfig::pressOk()
{
    dialog->findChild<QDialogButtonBox *>(QStringLiteral("DataConfig_buttonBox"))
        ->button(QDialogButtonBox::Ok)
        ->click();
}

void TestDataConfig::pressCancel()
{
    dialog->findChild<QDialogButtonBox *>(QStringLiteral("DataConfig_buttonBox"))
        ->button(QDialogButtonBox::Cancel)
        ->click();
}

QString TestDataConfig::shownError() const
{
    return dialog->findChild<QLabel *>(QStringLiteral("DataConfigErrorLabel"))->text();
}

void TestDataConfig::shouldBuildForm_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QPoint>("cell"); // row, column; (-1, -1) outside the grid
    QTest::addColumn<QString>("text");

    const QPoint none(-1, -1);
    QTest::newRow("buttons") << "DataConfig_buttonBox"
                             << "QDialogButtonBox"
                             << "DataConfig" << none << QString();
    QTest::newRow("field box") << "layoutWidget"
                               << "QWidget"
                               << "DataConfig" << none << QString();
    QTest::newRow("host label") << "DataConfigHostL"
                                << "QLabel"
                                << "layoutWidget" << QPoint(0, 0) << "Datbase Hostname";
    QTest::newRow("host field") << "lineEdit_DataConfigHost"
                                << "QLineEdit"
                                << "layoutWidget" << QPoint(0, 1) << QString();
    QTest::newRow("user field") << "lineEdit_DataConfigUser"
                                << "QLineEdit"
                                << "layoutWidget" << QPoint(2, 1) << QString();
    QTest::newRow("password label") << "DataConfigPassL"
                                    << "QLabel"
                                    << "layoutWidget" << QPoint(3, 0) << "Database Password";
    QTest::newRow("password field") << "lineEdit_DataConfigPass"
                                    << "QLineEdit"
                                    << "layoutWidget" << QPoint(3, 1) << QString();
    QTest::newRow("user label") << "DataConfigUserL"
                                << "QLabel"
                                << "layoutWidget" << QPoint(2, 0) << "Database Username";
    QTest::newRow("CA certificate label") << "DataConfigCaL"
                                          << "QLabel"
                                          << "layoutWidget" << QPoint(4, 0) << "CA Certificate";
    QTest::newRow("CA certificate field") << "lineEdit_DataConfigCa"
                                          << "QLineEdit"
                                          << "layoutWidget" << QPoint(4, 1) << QString();
    QTest::newRow("error label") << "DataConfigErrorLabel"
                                 << "QLabel"
                                 << "DataConfig" << none << QString();
}

void TestDataConfig::shouldBuildForm()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QPoint, cell);

    QCOMPARE(dialog->objectName(), QStringLiteral("DataConfig"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Database Configuration"));
    QCOMPARE(dialog->size(), QSize(400, 300));
    QVERIFY(dialog->isWindow());

    auto *widget = dialog->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parent()->objectName(), parentName);
    QVERIFY(widget->isVisible());

    auto *grid = dialog->findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    const int index = grid->indexOf(widget);
    QCOMPARE(index >= 0, cell != QPoint(-1, -1));
    if (index >= 0) {
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        QCOMPARE(QPoint(row, column), cell);
        QCOMPARE(rowSpan, 1);
        QCOMPARE(columnSpan, 1);
        QCOMPARE(grid->itemAt(index)->alignment(), Qt::Alignment());
    }
    if (auto *label = qobject_cast<QLabel *>(widget))
        QTEST(label->text(), "text");
}

void TestDataConfig::shouldCreateObjectsInFormOrder()
{
    auto namedChildren = [](const QObject *parent) {
        QStringList names;
        for (const QObject *child : parent->children())
            if (!child->objectName().isEmpty() && !child->objectName().startsWith(u"qt_"))
                names << child->objectName();
        return names;
    };
    QCOMPARE(namedChildren(dialog.get()), QStringList({"dialogLayout", "DataConfig_buttonBox",
                                                       "layoutWidget", "DataConfigErrorLabel"}));
    // In screen order, each label before its field, as assistive technology reads them.
    QCOMPARE(namedChildren(dialog->findChild<QWidget *>(QStringLiteral("layoutWidget"))),
             QStringList({"gridLayout", "DataConfigHostL", "lineEdit_DataConfigHost",
                          "DataConfigUserL", "lineEdit_DataConfigUser", "DataConfigPassL",
                          "lineEdit_DataConfigPass", "DataConfigCaL", "lineEdit_DataConfigCa"}));

    // Tab goes from field to field in the order they were made: host, user, password, CA.
    auto *host = dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigHost"));
    host->setFocus();
    QTest::keyClick(host, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("lineEdit_DataConfigUser"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("lineEdit_DataConfigPass"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("lineEdit_DataConfigCa"));
}

void TestDataConfig::shouldLeaveGridRowOneEmpty()
{
    auto *grid = dialog->findChild<QGridLayout *>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->count(), 8);
    QVERIFY(!grid->itemAtPosition(1, 0));
    QVERIFY(!grid->itemAtPosition(1, 1));
    QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
    // Spacing stays the style's, as nothing sets it.
    QWidget plain;
    const QGridLayout fresh(&plain);
    QCOMPARE(grid->horizontalSpacing(), fresh.horizontalSpacing());
    QCOMPARE(grid->verticalSpacing(), fresh.verticalSpacing());

    auto *box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("DataConfig_buttonBox"));
    QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(box->orientation(), Qt::Horizontal);
    auto *error = dialog->findChild<QLabel *>(QStringLiteral("DataConfigErrorLabel"));
    QCOMPARE(error->alignment(), Qt::AlignCenter);
    QCOMPARE(error->text(), QString());
}

void TestDataConfig::shouldTranslateTextsInTheDataConfigContext()
{
    MarkingTranslator translator("DataConfig");
    QVERIFY(QCoreApplication::installTranslator(&translator));
    DataConfig translated;
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(translated.windowTitle(), QStringLiteral("[Database Configuration]"));
    QCOMPARE(translated.findChild<QLabel *>(QStringLiteral("DataConfigHostL"))->text(),
             QStringLiteral("[Datbase Hostname]"));
    QCOMPARE(translated.findChild<QLabel *>(QStringLiteral("DataConfigUserL"))->text(),
             QStringLiteral("[Database Username]"));
    QCOMPARE(translated.findChild<QLabel *>(QStringLiteral("DataConfigPassL"))->text(),
             QStringLiteral("[Database Password]"));
}

void TestDataConfig::shouldOpenWithCurrentSettingsAndMaskedPassword()
{
    auto *host = dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigHost"));
    auto *user = dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigUser"));
    auto *password = dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigPass"));
    QCOMPARE(host->text(), QStringLiteral("mem-host"));
    QCOMPARE(user->text(), QStringLiteral("mem-user"));
    QCOMPARE(password->text(), QStringLiteral("mem-password"));
    QCOMPARE(host->echoMode(), QLineEdit::Normal);
    QCOMPARE(user->echoMode(), QLineEdit::Normal);
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QVERIFY(!password->displayText().contains(QStringLiteral("mem-password")));
    QCOMPARE(password->displayText().size(), QStringLiteral("mem-password").size());
}

void TestDataConfig::shouldRefuseInput_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");

    const QString noHost = QStringLiteral("You must enter a hostname.");
    const QString noUser = QStringLiteral("You must enter a username.");
    const QString unfit = QStringLiteral("The values may not contain ':' or line breaks.");

    QTest::newRow("host empty") << ""
                                << "u"
                                << "p" << noHost;
    QTest::newRow("host and user empty, host named first") << ""
                                                           << ""
                                                           << "p" << noHost;
    QTest::newRow("user empty") << "h"
                                << ""
                                << "p" << noUser;
    QTest::newRow("user empty counts before ':'") << "h:1"
                                                  << ""
                                                  << "p" << noUser;
    QTest::newRow("host empty counts before line break") << ""
                                                         << "u\nv"
                                                         << "p" << noHost;
    QTest::newRow("':' in host") << "::1"
                                 << "u"
                                 << "p" << unfit;
    QTest::newRow("':' in user") << "h"
                                 << "do:main"
                                 << "p" << unfit;
    QTest::newRow("':' in password") << "h"
                                     << "u"
                                     << "pa:ss" << unfit;
    QTest::newRow("':' alone as password") << "h"
                                           << "u"
                                           << ":" << unfit;
    QTest::newRow("line feed in host") << "h\nMySQLu:root"
                                       << "u"
                                       << "p" << unfit;
    QTest::newRow("line feed in user") << "h"
                                       << "u\n"
                                       << "p" << unfit;
    QTest::newRow("line feed in password") << "h"
                                           << "u"
                                           << "p\nhname:evil" << unfit;
    QTest::newRow("carriage return in user") << "h"
                                             << "u\rv"
                                             << "p" << unfit;
    QTest::newRow("CR LF in password") << "h"
                                       << "u"
                                       << "p\r\nq" << unfit;
    QTest::newRow("':' in password, host and user unchanged") << "mem-host"
                                                              << "mem-user"
                                                              << "mem:password" << unfit;
}

void TestDataConfig::shouldRefuseInput()
{
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, message);
    fill(host, user, password);

    pressOk();

    QCOMPARE(shownError(), red(message));
    QVERIFY(dialog->isVisible());
    // Nothing written: the file as it was, no temporary twin, the settings in memory unchanged.
    QCOMPARE(readFile(Conf), OnDisk);
    QVERIFY(!QFile::exists(Tmp));
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("mem-host"));
    QCOMPARE(ConnectionSettings::dbUser, QStringLiteral("mem-user"));
    QCOMPARE(ConnectionSettings::dbPassword, QStringLiteral("mem-password"));

    // A Cancel afterwards closes it as usual, still without writing.
    pressCancel();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(readFile(Conf), OnDisk);
}

void TestDataConfig::shouldCloseAsRejectedWhenNothingChanged()
{
    // The file holds other values than memory; OK with the values as opened leaves it alone.
    pressOk();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(shownError(), QString());
    QCOMPARE(readFile(Conf), OnDisk);
    QVERIFY(!QFile::exists(Tmp));
}

void TestDataConfig::shouldSaveAndCloseAsAccepted_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("all three changed")
        << "db.example"
        << "admin"
        << "s3cret" << QByteArray("# Quorvo\nhname:db.example\nMySQLu:admin\nMySQLp:s3cret\n");
    // Only the values that differ from memory are written; the file's other lines stay.
    QTest::newRow("host changed only")
        << "10.0.0.5"
        << "mem-user"
        << "mem-password"
        << QByteArray("# Quorvo\nhname:10.0.0.5\nMySQLu:disk-user\nMySQLp:disk-password\n");
    QTest::newRow("password differs in case only")
        << "mem-host"
        << "mem-user"
        << "MEM-password"
        << QByteArray("# Quorvo\nhname:disk-host\nMySQLu:disk-user\nMySQLp:MEM-password\n");
    QTest::newRow("empty password stored as an empty value")
        << "mem-host"
        << "mem-user" << QString()
        << QByteArray("# Quorvo\nhname:disk-host\nMySQLu:disk-user\nMySQLp:\n");
    QTest::newRow("blanks kept as typed")
        << " "
        << " u "
        << "p" << QByteArray("# Quorvo\nhname: \nMySQLu: u \nMySQLp:p\n");
    QTest::newRow("tab is no line break")
        << "mem-host"
        << "mem-user"
        << "one\ttwo"
        << QByteArray("# Quorvo\nhname:disk-host\nMySQLu:disk-user\nMySQLp:one\ttwo\n");
}

void TestDataConfig::shouldSaveAndCloseAsAccepted()
{
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(QString, password);
    fill(host, user, password);

    pressOk();

    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QTEST(readFile(Conf), "stored");
    QVERIFY(!QFile::exists(Tmp));
    // Memory follows only when the caller reads the file again.
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("mem-host"));
    QCOMPARE(ConnectionSettings::dbPassword, QStringLiteral("mem-password"));
}

QByteArray TestDataConfig::damage(Damage kind)
{
    switch (kind) {
    case Damage::FileIsDirectory:
        QFile::remove(Conf);
        QDir().mkdir(Conf);
        return {};
    case Damage::TmpIsDirectory:
        // Not empty: an empty one is removed.
        QDir().mkdir(Tmp);
        writeFile(Tmp + QStringLiteral("/kept"), "");
        return OnDisk;
    case Damage::DiskFull:
        // Longer than the file size limit, which the lock file stays within.
        writeFile(Conf, QByteArray(300, '#') + '\n' + OnDisk);
        return QByteArray(300, '#') + '\n' + OnDisk;
    case Damage::RenameRefused:
        return OnDisk;
    }
    return {};
}

// Presses OK while the file system refuses what `kind` names.
void TestDataConfig::clickOkDamaged(Damage kind)
{
#ifdef Q_OS_UNIX
    if (kind == Damage::DiskFull) {
        // The new file cannot take the whole content.
        FileSizeLimit limit(256);
        QVERIFY(limit.isActive());
        pressOk();
        return;
    }
    if (kind == Damage::RenameRefused) {
        // Anybody may add a file to a sticky folder, but only its owner may replace it.
        const QByteArray path = QFile::encodeName(dir->path());
        QCOMPARE(::chmod(path.constData(), 01777), 0);
        {
            const WithoutRoot user;
            pressOk();
        }
        QCOMPARE(::chmod(path.constData(), 0700), 0);
        return;
    }
#endif
    pressOk();
}

void TestDataConfig::shouldStayOpenWhenSaveFails_data()
{
    QTest::addColumn<Damage>("kind");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason");      // on the next line: which file and why
    QTest::addColumn<QByteArray>("tmpAfter"); // null: no such file

    const QString notSaved = QStringLiteral(" Nothing was saved.");
    QTest::newRow("settings file is a directory")
        << Damage::FileIsDirectory << "The configuration file could not be read." + notSaved
        << "Quorvo.conf: Is a directory" << QByteArray();
    QTest::newRow("temporary name taken by a directory")
        << Damage::TmpIsDirectory
        << "A file could not be made beside the configuration file." + notSaved
        << "Quorvo.conf.tmp: Is a directory" << QByteArray();
#ifdef Q_OS_UNIX
    QTest::newRow("disk full") << Damage::DiskFull
                               << "The new configuration file could not be written." + notSaved
                               << "Quorvo.conf.tmp: File too large" << QByteArray();
    QTest::newRow("rename refused")
        << Damage::RenameRefused << "Error, could not rename new config file."
        << "Quorvo.conf: Operation not permitted"
        << QByteArray("# Quorvo\nhname:new-host\nMySQLu:new-user\nMySQLp:new-password\n");
#endif
}

void TestDataConfig::shouldStayOpenWhenSaveFails()
{
    QFETCH(Damage, kind);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    QFETCH(QByteArray, tmpAfter);
#ifdef Q_OS_UNIX
    if (kind == Damage::RenameRefused && ::geteuid() != 0)
        QSKIP("Only root can give the folder and the file to another user than the one saving");
#endif
    const QByteArray before = damage(kind);
    fill(QStringLiteral("new-host"), QStringLiteral("new-user"), QStringLiteral("new-password"));

    clickOkDamaged(kind);

    QCOMPARE(shownError(), red(message + QStringLiteral("<br>") + dir->path() + '/' + reason));
    QVERIFY(dialog->isVisible());
    QCOMPARE(readFile(Conf), before);
    QCOMPARE(QFileInfo(Conf).isDir(), kind == Damage::FileIsDirectory);
    QCOMPARE(QFileInfo(Tmp).isDir(), kind == Damage::TmpIsDirectory);
    QCOMPARE(QFileInfo(Tmp).isFile(), !tmpAfter.isNull());
    QCOMPARE(readFile(Tmp), tmpAfter);
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("mem-host"));

    // Cancel leaves the files as the failure left them.
    pressCancel();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(readFile(Conf), before);
    QCOMPARE(readFile(Tmp), tmpAfter);
}

void TestDataConfig::shouldCloseAfterFailedSaveIsRetried()
{
    damage(Damage::TmpIsDirectory);
    fill(QStringLiteral("new-host"), QStringLiteral("new-user"), QString());
    pressOk();
    QVERIFY(shownError().startsWith(red("A file could not be made").chopped(7)));
    QVERIFY(dialog->isVisible());

    // Emptied, the leftover folder is no obstacle: the same OK stores the values and closes.
    QVERIFY(QFile::remove(Tmp + QStringLiteral("/kept")));
    pressOk();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(readFile(Conf), QByteArray("# Quorvo\nhname:new-host\nMySQLu:new-user\nMySQLp:\n"));
    QVERIFY(!QFile::exists(Tmp));
}

// A CA certificate is saved only where it can be read and the driver's options can hold its path.
void TestDataConfig::shouldCheckCaCertificate_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QString>("message"); // empty: saved
    QTest::newRow("readable file") << "ca.pem" << QString();
    QTest::newRow("';' in the path")
        << "a;b.pem"
        << "The path of the CA certificate may not contain ';' or line breaks.";
    QTest::newRow("missing file") << "none.pem"
                                  << "The CA certificate could not be read. Nothing was saved.<br>"
                                     "{dir}/none.pem: No such file or directory";
}

void TestDataConfig::shouldCheckCaCertificate()
{
    QFETCH(QString, caFile);
    QFETCH(QString, message);
    writeFile(QStringLiteral("ca.pem"), "-----BEGIN CERTIFICATE-----\n");
    enter(dialog->findChild<QLineEdit *>(QStringLiteral("lineEdit_DataConfigCa")), caFile);
    pressOk();
    const bool saved = message.isEmpty();
    QCOMPARE(shownError(), saved ? message : red(message.replace("{dir}", dir->path())));
    QCOMPARE(readFile(Conf), saved ? OnDisk + "MySQLca:" + caFile.toUtf8() + '\n' : OnDisk);
}

QTEST_MAIN(TestDataConfig)
#include "tst_dataconfig.moc"
