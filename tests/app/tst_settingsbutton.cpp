#include "app/setup.h"
#include "settings/connectionsettings.h"

#include "testsupport.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace testsupport;

namespace {

const QString Conf = QStringLiteral("Quorvo.conf");
const QString Tmp = QStringLiteral("Quorvo.conf.tmp");
const QString Explanation =
    QStringLiteral("This will atempt to create the database for Quorvo and add\n"
                   " an initial user. Please give this users information below.");
const QString Saved = QStringLiteral("Your database configuration was successfully saved.");
const QByteArray OnDisk("hname:disk-host\nMySQLu:disk-user\nMySQLp:disk-password\n");

QLineEdit *field(QDialog *dialog, const char *name)
{
    return dialog->findChild<QLineEdit *>(QString::fromLatin1(name));
}

void press(QDialog *dialog, QDialogButtonBox::StandardButton which)
{
    dialog->findChild<QDialogButtonBox *>(QStringLiteral("DataConfig_buttonBox"))
        ->button(which)
        ->click();
}

// Replaces a field's text the way a user does: select everything and type over it.
void typeOver(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void fill(QDialog *dialog, const QString &host, const QString &user, const QString &password)
{
    typeOver(field(dialog, "lineEdit_DataConfigHost"), host);
    typeOver(field(dialog, "lineEdit_DataConfigUser"), user);
    typeOver(field(dialog, "lineEdit_DataConfigPass"), password);
}

} // namespace

class TestSettingsButton : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldShowSavedMessageAfterSave_data();
    void shouldShowSavedMessageAfterSave();
    void shouldOpenWithSavedValuesNextTime();
    void shouldChangeNothingWhenNotSaved_data();
    void shouldChangeNothingWhenNotSaved();

private:
    // Clicks the settings button and hands the modal dialog it opens to `act`; whatever `act`
    // leaves open is cancelled so that the click returns. Returns the message label's text.
    QString openSettings(const std::function<void(QDialog *)> &act);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<CurrentDirectory> cwd;
    std::unique_ptr<setup> mainDialog;
};

void TestSettingsButton::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    cwd = std::make_unique<CurrentDirectory>(dir->path());
    ConnectionSettings::dbHost = QStringLiteral("mem-host");
    ConnectionSettings::dbUser = QStringLiteral("mem-user");
    ConnectionSettings::dbPassword = QStringLiteral("mem-password");
}

void TestSettingsButton::cleanup()
{
    mainDialog.reset();
    cwd.reset();
    dir.reset();
}

QString TestSettingsButton::openSettings(const std::function<void(QDialog *)> &act)
{
    if (!mainDialog) {
        mainDialog = std::make_unique<setup>();
        mainDialog->show();
        if (!QTest::qWaitForWindowExposed(mainDialog.get()))
            qWarning("The setup dialog was not shown");
    }
    bool opened = false;
    // Runs inside the settings dialog's own event loop, once it is on screen.
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        opened = dialog->objectName() == QStringLiteral("DataConfig") && dialog->isModal() &&
                 dialog->parentWidget() == nullptr;
        if (opened)
            act(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    QTest::mouseClick(mainDialog->findChild<QPushButton *>(QStringLiteral("pushButton_db")),
                      Qt::LeftButton);
    if (!opened)
        qWarning("No modal, parentless settings dialog opened");
    return opened ? mainDialog->findChild<QLabel *>(QStringLiteral("label"))->text() : QString();
}

void TestSettingsButton::shouldShowSavedMessageAfterSave_data()
{
    QTest::addColumn<bool>("fileAtStart");
    QTest::addColumn<QString>("before");

    QTest::newRow("over the explanation") << true << Explanation;
    // The save makes the file.
    QTest::newRow("over a red message, no file")
        << false << "<font color='#c00000'>The configuration file could not be read.";
}

void TestSettingsButton::shouldShowSavedMessageAfterSave()
{
    QFETCH(bool, fileAtStart);
    QFETCH(QString, before);
    if (fileAtStart)
        writeFile(Conf, OnDisk);
    mainDialog = std::make_unique<setup>();
    mainDialog->show();
    QVERIFY(mainDialog->findChild<QLabel *>(QStringLiteral("label"))->text().startsWith(before));

    const QString shown = openSettings([](QDialog *dialog) {
        fill(dialog, QStringLiteral("new-host"), QStringLiteral("new-user"),
             QStringLiteral("new-password"));
        press(dialog, QDialogButtonBox::Ok);
        QVERIFY(!dialog->isVisible());
    });

    // Plain text, so in the normal colour.
    QCOMPARE(shown, Saved);
    QCOMPARE(readFile(Conf), QByteArray("hname:new-host\nMySQLu:new-user\nMySQLp:new-password\n"));
    QVERIFY(!QFile::exists(Tmp));
#ifdef Q_OS_UNIX
    if (!fileAtStart)
        QCOMPARE(modeOf(Conf), 0600u);
#endif
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("new-host"));
    QCOMPARE(ConnectionSettings::dbUser, QStringLiteral("new-user"));
    QCOMPARE(ConnectionSettings::dbPassword, QStringLiteral("new-password"));
}

void TestSettingsButton::shouldOpenWithSavedValuesNextTime()
{
    writeFile(Conf, "hname:disk-host\nMySQLu:disk-user\nMySQLp:disk-password\n");
    openSettings([](QDialog *dialog) {
        QCOMPARE(field(dialog, "lineEdit_DataConfigHost")->text(), QStringLiteral("disk-host"));
        QCOMPARE(field(dialog, "lineEdit_DataConfigUser")->text(), QStringLiteral("disk-user"));
        QCOMPARE(field(dialog, "lineEdit_DataConfigPass")->text(), QStringLiteral("disk-password"));
        fill(dialog, QStringLiteral("first-host"), QStringLiteral("first-user"),
             QStringLiteral("typed-password"));
        press(dialog, QDialogButtonBox::Ok);
    });

    QString host, user, password;
    const QString shown = openSettings([&](QDialog *dialog) {
        host = field(dialog, "lineEdit_DataConfigHost")->text();
        user = field(dialog, "lineEdit_DataConfigUser")->text();
        password = field(dialog, "lineEdit_DataConfigPass")->text();
        press(dialog, QDialogButtonBox::Cancel);
    });
    QCOMPARE(host, QStringLiteral("first-host"));
    QCOMPARE(user, QStringLiteral("first-user"));
    QCOMPARE(password, QStringLiteral("typed-password"));
    QCOMPARE(shown, Saved);
    QCOMPARE(readFile(Conf),
             QByteArray("hname:first-host\nMySQLu:first-user\nMySQLp:typed-password\n"));
}

void TestSettingsButton::shouldChangeNothingWhenNotSaved_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("tmpIsDirectory");

    QTest::newRow("Cancel") << "cancel" << false;
    QTest::newRow("Escape") << "escape" << false;
    QTest::newRow("window closed") << "close" << false;
    QTest::newRow("OK with nothing changed") << "ok unchanged" << false;
    QTest::newRow("Cancel after a refused value") << "refused" << false;
    QTest::newRow("Cancel after a failed save") << "failed" << true;
}

void TestSettingsButton::shouldChangeNothingWhenNotSaved()
{
    QFETCH(QString, how);
    QFETCH(bool, tmpIsDirectory);
    writeFile(Conf, OnDisk);
    if (tmpIsDirectory) {
        QVERIFY(QDir().mkdir(Tmp));
        writeFile(Tmp + QStringLiteral("/kept"), ""); // an empty one is removed
    }
    mainDialog = std::make_unique<setup>();
    ConnectionSettings::dbHost = QStringLiteral("mem-host");

    QString errorShown;
    const QString shown = openSettings([&](QDialog *dialog) {
        if (how == u"refused")
            fill(dialog, QStringLiteral("new-host"), QStringLiteral("new:user"), QString());
        else if (how != u"ok unchanged")
            fill(dialog, QStringLiteral("new-host"), QStringLiteral("new-user"), QString());
        if (how == u"escape") {
            QTest::keyClick(dialog, Qt::Key_Escape);
        } else if (how == u"close") {
            dialog->close();
        } else if (how == u"cancel") {
            press(dialog, QDialogButtonBox::Cancel);
        } else {
            press(dialog, QDialogButtonBox::Ok);
            if (how != u"ok unchanged") {
                QVERIFY(dialog->isVisible());
                errorShown =
                    dialog->findChild<QLabel *>(QStringLiteral("DataConfigErrorLabel"))->text();
                press(dialog, QDialogButtonBox::Cancel);
            }
        }
        QVERIFY(!dialog->isVisible());
    });

    QCOMPARE(shown, Explanation);
    QCOMPARE(readFile(Conf), OnDisk);
    QCOMPARE(QFileInfo(Tmp).isDir(), tmpIsDirectory);
    QCOMPARE(QFileInfo::exists(Tmp), tmpIsDirectory);
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("mem-host"));
    QCOMPARE(ConnectionSettings::dbUser, QStringLiteral("disk-user"));
    QCOMPARE(errorShown.isEmpty(), how != u"refused" && how != u"failed");

    // The next opening starts afresh: no old message, the fields from memory.
    QString error = QStringLiteral("unread"), host;
    openSettings([&](QDialog *dialog) {
        error = dialog->findChild<QLabel *>(QStringLiteral("DataConfigErrorLabel"))->text();
        host = field(dialog, "lineEdit_DataConfigHost")->text();
    });
    QCOMPARE(error, QString());
    QCOMPARE(host, QStringLiteral("mem-host"));
}

QTEST_MAIN(TestSettingsButton)
#include "tst_settingsbutton.moc"
