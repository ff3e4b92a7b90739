#include "app/setup.h"
#include "app/showerror.h"
#include "settings/connectionsettings.h"

#include "testsupport.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

using namespace testsupport;

namespace {

const QString Explanation =
    QStringLiteral("This will atempt to create the database for Quorvo and add\n"
                   " an initial user. Please give this users information below.");

} // namespace

class TestSetupDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void shouldShowForm_data();
    void shouldShowForm();
    void shouldOfferOkAndCancelOnly();
    void shouldShowPasswordInClear();
    void shouldExplainWhenSettingsAreRead();
    void shouldShowRedMessageWhenSettingsAreMissing_data();
    void shouldShowRedMessageWhenSettingsAreMissing();
    void shouldShowOnlyTheLatestError_data();
    void shouldShowOnlyTheLatestError();
    void shouldTranslateTextsInTheSetupContext();
    void shouldCloseOnCancelAndEscape_data();
    void shouldCloseOnCancelAndEscape();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<CurrentDirectory> cwd;
};

void TestSetupDialog::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    cwd = std::make_unique<CurrentDirectory>(dir->path());
    writeFile(QStringLiteral("Quorvo.conf"), "hname:127.0.0.1\nMySQLu:quorvo\nMySQLp:secret\n");
}

void TestSetupDialog::cleanup()
{
    cwd.reset();
    dir.reset();
}

void TestSetupDialog::shouldShowForm_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("message label") << "label" << Explanation;
    QTest::newRow("settings button") << "pushButton_db"
                                     << "Database Configuration";
    QTest::newRow("buttons") << "buttonBox" << QString();
    QTest::newRow("field box") << "widget" << QString();
    QTest::newRow("user name label") << "label_2"
                                     << "Username";
    QTest::newRow("password label") << "label_3"
                                    << "Password";
}

void TestSetupDialog::shouldShowForm()
{
    QFETCH(QString, name);
    setup dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(dialog.size(), QSize(320, 240));

    auto *widget = dialog.findChild<QWidget *>(name);
    QVERIFY(widget);
    QVERIFY(widget->isVisible());
    if (auto *label = qobject_cast<QLabel *>(widget))
        QTEST(label->text(), "text");
    if (auto *button = qobject_cast<QPushButton *>(widget))
        QTEST(button->text(), "text");
}

void TestSetupDialog::shouldOfferOkAndCancelOnly()
{
    setup dialog;
    auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QVERIFY(box);
    QCOMPARE(box->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(box->orientation(), Qt::Horizontal);
}

void TestSetupDialog::shouldShowPasswordInClear()
{
    setup dialog;
    dialog.show();
    auto *password = dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_password"));
    auto *user = dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_username"));
    QVERIFY(password && user);
    QTest::keyClicks(password, QStringLiteral("s3cret"));
    QCOMPARE(password->displayText(), QStringLiteral("s3cret"));
    QTest::keyClicks(user, QStringLiteral("admin"));
    QCOMPARE(user->displayText(), QStringLiteral("admin"));
}

void TestSetupDialog::shouldExplainWhenSettingsAreRead()
{
    ConnectionSettings::dbHost.clear();
    setup dialog;
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(), Explanation);
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(ConnectionSettings::dbUser, QStringLiteral("quorvo"));
    QCOMPARE(ConnectionSettings::dbPassword, QStringLiteral("secret"));
}

void TestSetupDialog::shouldShowRedMessageWhenSettingsAreMissing_data()
{
    QTest::addColumn<bool>("folder"); // a folder in the place of the file
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << false << "The configuration file could not be read."
                             << "No such file or directory<br>Please save the connection under "
                                "\"Database Configuration\" to make it.";
    QTest::newRow("a folder") << true << "The configuration file could not be read."
                              << "Is a directory";
}

void TestSetupDialog::shouldShowRedMessageWhenSettingsAreMissing()
{
    QFETCH(bool, folder);
    QFETCH(QString, message);
    QFETCH(QString, reason);
    // The path goes on the label as text, though it looks like markup.
    const QString inside = dir->filePath(QStringLiteral("R&D <b>"));
    QVERIFY(QDir().mkdir(inside));
    const CurrentDirectory cd(inside);
    QVERIFY(!folder || QDir().mkdir(QStringLiteral("Quorvo.conf")));
    ConnectionSettings::dbHost = QStringLiteral("kept");
    setup dialog;
    dialog.show();
    auto *label = dialog.findChild<QLabel *>(QStringLiteral("label"));
    QCOMPARE(label->text(), red(message + QStringLiteral("<br>") + dir->path() +
                                QStringLiteral("/R&amp;D &lt;b&gt;/Quorvo.conf: ") + reason));
    QCOMPARE(label->textFormat(), Qt::AutoText);
    QTextDocument shown;
    shown.setHtml(label->text());
    QCOMPARE(shown.toPlainText(),
             message + QLatin1Char('\n') + inside + QStringLiteral("/Quorvo.conf: ") +
                 QString(reason).replace(QStringLiteral("<br>"), QStringLiteral("\n")));
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("kept"));
    // Still usable: the fields take input and the settings button is there.
    QVERIFY(dialog.findChild<QPushButton *>(QStringLiteral("pushButton_db"))->isEnabled());
    QVERIFY(dialog.findChild<QLineEdit *>(QStringLiteral("lineEdit_username"))->isEnabled());
}

void TestSetupDialog::shouldShowOnlyTheLatestError_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << "Second" << red(QStringLiteral("Second"));
    QTest::newRow("empty") << "" << red(QString());
    QTest::newRow("placeholder-like text kept")
        << "%1 and %2" << QStringLiteral("<font color='#c00000'>%1 and %2</font>");
}

void TestSetupDialog::shouldShowOnlyTheLatestError()
{
    QFETCH(QString, message);
    QLabel label(QStringLiteral("before"));
    showError(&label, QStringLiteral("First"));
    showError(&label, message);
    QTEST(label.text(), "shown");
}

void TestSetupDialog::shouldTranslateTextsInTheSetupContext()
{
    MarkingTranslator translator("setup");
    QVERIFY(QCoreApplication::installTranslator(&translator));
    setup dialog;
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("[Dialog]"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_2"))->text(),
             QStringLiteral("[Username]"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("pushButton_db"))->text(),
             QStringLiteral("[Database Configuration]"));
}

void TestSetupDialog::shouldCloseOnCancelAndEscape_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Escape") << true;
}

void TestSetupDialog::shouldCloseOnCancelAndEscape()
{
    QFETCH(bool, escape);
    setup dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (escape)
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Cancel)
            ->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

QTEST_MAIN(TestSetupDialog)
#include "tst_setupdialog.moc"
