#include "app/dataconfig.h"
#include "app/failurealert.h"
#include "app/setup.h"
#include "settings/connectionsettings.h"

#include "testsupport.h"

#include <QAccessible>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cmath>

using namespace testsupport;

namespace {

// The roles that a message label had each time it was shown: assistive technology announces an
// alert as it appears.
class ShowRecorder : public QObject
{
public:
    QList<QAccessible::Role> roles;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            roles << QAccessible::queryAccessibleInterface(watched)->role();
        return false;
    }
};

// The interfaces below `iface` in the order a screen reader reads them.
void walk(QAccessibleInterface *iface, QList<QAccessibleInterface *> *order)
{
    order->append(iface);
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), order);
}

// WCAG 2's contrast of two colours, from their relative luminances.
double contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        double sum = 0;
        const double weights[] = {0.2126, 0.7152, 0.0722};
        const double channels[] = {c.redF(), c.greenF(), c.blueF()};
        for (int i = 0; i < 3; ++i) {
            const double v = channels[i];
            sum += weights[i] * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
        }
        return sum + 0.05;
    };
    return std::max(luminance(a), luminance(b)) / std::min(luminance(a), luminance(b));
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void shouldNameEveryFieldByItsLabel_data();
    void shouldNameEveryFieldByItsLabel();
    void shouldAlertReadableFailures_data();
    void shouldAlertReadableFailures();
    void shouldGiveFocusBackAfterFailedRun();
    void shouldOpenSettingsWithAltD();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<CurrentDirectory> cwd;
    std::unique_ptr<setup> main;
    std::unique_ptr<DataConfig> config;
};

void TestAccessibility::initTestCase()
{
    installFailureAlerts();
}

void TestAccessibility::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
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

void TestAccessibility::shouldNameEveryFieldByItsLabel_data()
{
    QTest::addColumn<bool>("inSetup");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("name");

    QTest::newRow("user name") << true << "lineEdit_username"
                               << "label_2"
                               << "Username";
    QTest::newRow("password") << true << "lineEdit_password"
                              << "label_3"
                              << "Password";
    // Spelt right for speech, unlike the label.
    QTest::newRow("host") << false << "lineEdit_DataConfigHost"
                          << "DataConfigHostL"
                          << "Database hostname";
    QTest::newRow("database user") << false << "lineEdit_DataConfigUser"
                                   << "DataConfigUserL"
                                   << "Database Username";
    QTest::newRow("database password") << false << "lineEdit_DataConfigPass"
                                       << "DataConfigPassL"
                                       << "Database Password";
}

void TestAccessibility::shouldNameEveryFieldByItsLabel()
{
    QFETCH(bool, inSetup);
    QFETCH(QString, field);
    QFETCH(QString, label);
    QWidget *window = inSetup ? static_cast<QWidget *>(main.get()) : config.get();
    QAccessibleInterface *fieldIface =
        QAccessible::queryAccessibleInterface(window->findChild<QLineEdit *>(field));
    QAccessibleInterface *labelIface =
        QAccessible::queryAccessibleInterface(window->findChild<QLabel *>(label));
    QVERIFY(fieldIface && labelIface);

    QCOMPARE(fieldIface->role(), QAccessible::EditableText);
    QTEST(fieldIface->text(QAccessible::Name), "name");
    const auto labelledBy = fieldIface->relations(QAccessible::Label);
    QCOMPARE(labelledBy.size(), 1);
    QCOMPARE(labelledBy.first().first, labelIface);
    // Read from the window down, the label comes just before its field.
    QList<QAccessibleInterface *> order;
    walk(QAccessible::queryAccessibleInterface(window), &order);
    QVERIFY(order.contains(fieldIface));
    QCOMPARE(order.indexOf(labelIface), order.indexOf(fieldIface) - 1);
}

void TestAccessibility::shouldAlertReadableFailures_data()
{
    QTest::addColumn<bool>("inSetup");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QString>("message");

    const QString blank = QStringLiteral("Blank username or password not allowed");
    const QString noHost = QStringLiteral("You must enter a hostname.");
    QTest::newRow("setup, light") << true << QColor(0xef, 0xef, 0xef) << blank;
    QTest::newRow("setup, dark") << true << QColor(0x22, 0x20, 0x20) << blank;
    QTest::newRow("settings, white") << false << QColor(Qt::white) << noHost;
    QTest::newRow("settings, dark") << false << QColor(0x22, 0x20, 0x20) << noHost;
}

void TestAccessibility::shouldAlertReadableFailures()
{
    QFETCH(bool, inSetup);
    QFETCH(QColor, background);
    QFETCH(QString, message);
    QPalette palette;
    palette.setColor(QPalette::Window, background);
    QApplication::setPalette(palette);
    QDialog *window = inSetup ? static_cast<QDialog *>(main.get()) : config.get();
    auto *label = window->findChild<QLabel *>(inSetup ? "label" : "DataConfigErrorLabel");
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(label);
    QCOMPARE(iface->role(), QAccessible::StaticText);
    const QString before = iface->text(QAccessible::Name);
    QVERIFY(!before.startsWith(QStringLiteral("Error:")));
    ShowRecorder shown;
    label->installEventFilter(&shown);

    // OK with an empty field, twice: each failure is announced, also the repeated one.
    window->findChild<QLineEdit *>(inSetup ? "lineEdit_username" : "lineEdit_DataConfigHost")
        ->clear();
    for (int press = 0; press < 2; ++press)
        window->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(iface->role(), QAccessible::AlertMessage);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Error: ") + message);
    QCOMPARE(shown.roles, (QList{QAccessible::AlertMessage, QAccessible::AlertMessage}));

    static const QRegularExpression font(QStringLiteral("^<font color='(#[0-9a-f]{6})'>"));
    const QColor colour(font.match(label->text()).captured(1));
    QVERIFY2(contrast(colour, background) >= 4.5,
             qPrintable(colour.name() + QStringLiteral(" on ") + background.name()));
    QCOMPARE(colour.hslHue(), 0);
    QVERIFY(colour.red() >= 2 * colour.green());

    // Any other text is plain again.
    label->setText(before);
    QCOMPARE(iface->role(), QAccessible::StaticText);
    QCOMPARE(iface->text(QAccessible::Name), before);
}

void TestAccessibility::shouldGiveFocusBackAfterFailedRun()
{
    main->show();
    QVERIFY(QTest::qWaitForWindowActive(main.get()));
    auto *password = main->findChild<QLineEdit *>(QStringLiteral("lineEdit_password"));
    QTest::keyClicks(main->findChild<QLineEdit *>(QStringLiteral("lineEdit_username")),
                     QStringLiteral("admin"));
    password->setFocus();
    QTest::keyClicks(password, QStringLiteral("secret"));
    QTest::keyClick(password, Qt::Key_Return);
    QVERIFY(!password->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(password->isEnabled(), 30000);

    QCOMPARE(QApplication::focusWidget(), password);
    QAccessibleInterface *iface =
        QAccessible::queryAccessibleInterface(main->findChild<QLabel *>(QStringLiteral("label")));
    QCOMPARE(iface->role(), QAccessible::AlertMessage);
    QVERIFY(iface->text(QAccessible::Name)
                .startsWith(QStringLiteral("Error: The database connection failed.")));
}

void TestAccessibility::shouldOpenSettingsWithAltD()
{
    auto *button = main->findChild<QPushButton *>(QStringLiteral("pushButton_db"));
    QCOMPARE(button->text(), QStringLiteral("Database Configuration"));
    QAccessibleActionInterface *action =
        QAccessible::queryAccessibleInterface(button)->actionInterface();
    QCOMPARE(action->keyBindingsForAction(QAccessibleActionInterface::pressAction()),
             QStringList{QStringLiteral("Alt+D")});

    main->show();
    QVERIFY(QTest::qWaitForWindowActive(main.get()));
    QString opened;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            opened = modal->windowTitle();
            modal->close();
        }
    });
    poll.start(10);
    QTest::keyClick(main.get(), Qt::Key_D, Qt::AltModifier);
    QTRY_COMPARE(opened, QStringLiteral("Database Configuration"));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
