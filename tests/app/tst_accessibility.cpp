#include "app/dataconfig.h"
#include "app/failurealert.h"
#include "app/setup.h"

#include "testsupport.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace testsupport;

namespace {

QAccessibleInterface *accessible(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

// WCAG 2's relative luminance, with the 0.05 of flare that its contrast ratio adds.
double lit(const QColor &c)
{
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF()) +
           0.05;
}

// The roles a label had each time it was shown: assistive technology announces an alert then.
class ShowRecorder : public QObject
{
public:
    QList<QAccessible::Role> roles;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            roles << accessible(watched)->role();
        return false;
    }
};

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installScreenReaderSupport(); }
    void init();
    void cleanup();

    void shouldNameEveryFieldByItsLabel_data();
    void shouldNameEveryFieldByItsLabel();
    void shouldAlertReadableFailures_data();
    void shouldAlertReadableFailures();
    void shouldStartInTheFirstField();
    void shouldGiveFocusBackAfterFailedRun();
    void shouldBindAltDToSettings();

private:
    QDialog *window(bool inSetup) const { return inSetup ? main.get() : config.get(); }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<CurrentDirectory> cwd;
    std::unique_ptr<QDialog> main;
    std::unique_ptr<QDialog> config;
};

void TestAccessibility::init()
{
    dir = std::make_unique<QTemporaryDir>();
    cwd = std::make_unique<CurrentDirectory>(dir->path());
    // Nothing listens there: a run fails at once.
    writeFile(QStringLiteral("Quorvo.conf"), "hname:127.0.0.253\nMySQLu:quorvo\nMySQLp:x\n");
    main = std::make_unique<setup>();
    config = std::make_unique<DataConfig>();
}

void TestAccessibility::cleanup()
{
    config.reset();
    main.reset();
    QApplication::setPalette(QPalette());
    cwd.reset();
    dir.reset();
}

// The data tag is the field's name; the host's is spelt right for speech, unlike its label.
void TestAccessibility::shouldNameEveryFieldByItsLabel_data()
{
    QTest::addColumn<bool>("inSetup");
    QTest::addColumn<QStringList>("fieldAndLabel");

    QTest::newRow("Username") << true << QStringList{"lineEdit_username", "label_2"};
    QTest::newRow("Password") << true << QStringList{"lineEdit_password", "label_3"};
    QTest::newRow("Database hostname")
        << false << QStringList{"lineEdit_DataConfigHost", "DataConfigHostL"};
    QTest::newRow("Database Username")
        << false << QStringList{"lineEdit_DataConfigUser", "DataConfigUserL"};
    QTest::newRow("Database Password")
        << false << QStringList{"lineEdit_DataConfigPass", "DataConfigPassL"};
    QTest::newRow("CA certificate of the server")
        << false << QStringList{"lineEdit_DataConfigCa", "DataConfigCaL"};
}

void TestAccessibility::shouldNameEveryFieldByItsLabel()
{
    QFETCH(bool, inSetup);
    QFETCH(QStringList, fieldAndLabel);
    QAccessibleInterface *field =
        accessible(window(inSetup)->findChild<QLineEdit *>(fieldAndLabel[0]));
    QAccessibleInterface *label =
        accessible(window(inSetup)->findChild<QLabel *>(fieldAndLabel[1]));

    QCOMPARE(field->role(), QAccessible::EditableText);
    QCOMPARE(field->text(QAccessible::Name), QString::fromUtf8(QTest::currentDataTag()));
    const auto labelledBy = field->relations(QAccessible::Label);
    QCOMPARE(labelledBy.size(), 1);
    QCOMPARE(labelledBy.first().first, label);
    // Read in screen order, each label just before its field.
    QCOMPARE(field->parent()->indexOfChild(label), field->parent()->indexOfChild(field) - 1);
}

void TestAccessibility::shouldAlertReadableFailures_data()
{
    QTest::addColumn<bool>("inSetup");
    QTest::addColumn<QColor>("background");

    QTest::newRow("Blank username or password not allowed, light") << true << QColor("#efefef");
    QTest::newRow("Blank username or password not allowed, dark") << true << QColor("#222020");
    QTest::newRow("You must enter a hostname., white") << false << QColor("#ffffff");
    QTest::newRow("You must enter a hostname., dark") << false << QColor("#222020");
}

// OK with an empty field, twice: each failure is announced, the repeated one too.
void TestAccessibility::shouldAlertReadableFailures()
{
    QFETCH(bool, inSetup);
    QFETCH(QColor, background);
    QPalette palette;
    palette.setColor(QPalette::Window, background);
    QApplication::setPalette(palette);
    window(inSetup)->show();
    QVERIFY(QTest::qWaitForWindowExposed(window(inSetup))); // the palette has reached the label
    auto *label = window(inSetup)->findChild<QLabel *>(inSetup ? "label" : "DataConfigErrorLabel");
    QAccessibleInterface *iface = accessible(label);
    const QString before = iface->text(QAccessible::Name);
    QCOMPARE(iface->role(), QAccessible::StaticText);
    ShowRecorder shown;
    label->installEventFilter(&shown);
    // The object that screen readers speak by itself; it is no part of the window.
    auto *announcer = label->findChild<QWidget *>(QStringLiteral("outcomeAnnouncer"));
    announcer->installEventFilter(&shown);
    QCOMPARE(accessible(announcer)->parent(), accessible(qApp));

    window(inSetup)->findChild<QLineEdit *>()->clear();
    for (int press = 0; press < 2; ++press)
        window(inSetup)->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(iface->role(), QAccessible::AlertMessage);
    const QString message = QString::fromUtf8(QTest::currentDataTag()).section(u',', 0, 0);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Error: ") + message);
    const QList<QAccessible::Role> each{QAccessible::AlertMessage, QAccessible::Notification};
    QCOMPARE(shown.roles, each + each);
    QCOMPARE(accessible(announcer)->text(QAccessible::Name), iface->text(QAccessible::Name));

    static const QRegularExpression font(QStringLiteral("^<font color='(#[0-9a-f]{6})'>"));
    const QColor red(font.match(label->text()).captured(1));
    QVERIFY2(std::max(lit(red), lit(background)) / std::min(lit(red), lit(background)) >= 4.5,
             qPrintable(red.name() + QStringLiteral(" on ") + background.name()));
    QVERIFY(red.hslHue() == 0 && red.red() >= 2 * red.green());

    label->setText(before); // any other text is plain again
    QCOMPARE(iface->role(), QAccessible::StaticText);
    QCOMPARE(iface->text(QAccessible::Name), before);
}

// Enter in the password field starts a run that fails; the focus comes back to that field.
void TestAccessibility::shouldGiveFocusBackAfterFailedRun()
{
    main->show();
    QVERIFY(QTest::qWaitForWindowActive(main.get()));
    main->findChild<QLineEdit *>(QStringLiteral("lineEdit_username"))->setText("admin");
    auto *password = main->findChild<QLineEdit *>(QStringLiteral("lineEdit_password"));
    password->setText(QStringLiteral("secret"));
    password->setFocus();
    QTest::keyClick(password, Qt::Key_Return);
    QVERIFY(!password->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(password->isEnabled(), 30000);
    QCOMPARE(QApplication::focusWidget(), password);
}

// OK comes first in the Tab order; what is typed first goes into the first field all the same.
void TestAccessibility::shouldStartInTheFirstField()
{
    for (const auto &[inSetup, field] :
         {std::pair(true, "lineEdit_username"), std::pair(false, "lineEdit_DataConfigHost")}) {
        window(inSetup)->show();
        QVERIFY(QTest::qWaitForWindowActive(window(inSetup)));
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(field));
        // Selected once the focus has been told: typing replaces the host.
        QTRY_COMPARE(static_cast<QLineEdit *>(QApplication::focusWidget())->selectedText(),
                     inSetup ? QString() : QStringLiteral("127.0.0.253"));
        window(inSetup)->hide();
    }
}

// The caption stays as it is; the end-to-end test presses Alt+D in the real window.
void TestAccessibility::shouldBindAltDToSettings()
{
    auto *button = main->findChild<QPushButton *>(QStringLiteral("pushButton_db"));
    QCOMPARE(button->text(), QStringLiteral("Database Configuration"));
    QCOMPARE(accessible(button)->actionInterface()->keyBindingsForAction(
                 QAccessibleActionInterface::pressAction()),
             QStringList{QStringLiteral("Alt+D")});
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
