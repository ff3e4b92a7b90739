#include "app/dataconfig.h"
#include "app/setup.h"
#include "app/showerror.h"

#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

using namespace testsupport;

namespace {

enum class Window { Setup, DataConfig };

// Every text the two windows can show in their message labels.
const char *const SetupTexts[] = {
    "This will atempt to create the database for Quorvo and add\n an initial user. Please give "
    "this users information below.",
    "Your database configuration was successfully saved.",
    "Setting up the database. Please wait...",
    "The system has been set up and the user has been added.\nPlease close this and log into "
    "Quorvo.",
};
const char *const SetupFailures[] = {
    "The configuration file could not be read.<br>/home/administrator/Quorvo Setup/Quorvo.conf: "
    "Permission denied",
    "The configuration file could not be read.<br>/home/administrator/Quorvo Setup/Quorvo.conf: "
    "No such file or directory<br>Please save the connection under \"Database Configuration\" "
    "to make it.",
    "Blank username or password not allowed",
    "The username may be at most 25 characters.",
    "The password may hold only Latin-1 characters: letters, digits and signs of Western "
    "European languages, such as é, ß or ñ.",
    "No database server is set. Please set the connection under \"Database Configuration\".",
    "The database connection failed. Please try again later.",
    "The database connection was lost. Please try again later.",
    "There is already a user with that username, please choose another.",
    "There was an unknown error.",
    "That user could not be added.",
    // The server's reason on the next line, the longest it gives, and one with names in it that
    // cannot be broken.
    "There was an unknown error.<br>1419: You do not have the SUPER privilege and binary logging "
    "is enabled (you *might* want to use the less safe log_bin_trust_function_creators variable)",
    "The database connection failed. Please try again later.<br>1045: Access denied for user "
    "'quorvo_inventory_admin'@'workstation-17.example.org' (using password: YES)",
    "The column users.password has the type varchar(30) character set utf8mb4; it must be "
    "varbinary(30).",
    "The trigger checkout_keys is on the table people, not on p_k.",
    "The trigger change_keys runs AFTER DELETE; it must run AFTER UPDATE.",
    "The database is not ready for Quorvo, and nothing was changed:<br>The account itself lacks "
    "SELECT on the tables pkeys, p_k; UPDATE on the tables pkeys, p_k; TRIGGER on the table p_k: "
    "the triggers on p_k run with the rights of the account that created them, without its "
    "roles, so grant these rights to the account itself rather than through a role.",
    "The tables and triggers are in place, but a key could not be checked out and back in "
    "through them as Quorvo does it, so no account was added.<br>1449: The user specified as a "
    "definer ('quorvo_former_admin'@'workstation-17.example.org') does not exist",
};
const char *const DataConfigFailures[] = {
    "You must enter a hostname.",
    "You must enter a username.",
    "The values may not contain ':' or line breaks.",
    "Error, could not remove old config file.",
    // Each save failure with the file and the reason on the next line.
    "The configuration file could not be read. Nothing was saved.<br>/home/administrator/Quorvo "
    "Setup/Quorvo.conf: Is a directory",
    "A file could not be made beside the configuration file. Nothing was saved.<br>/home/"
    "administrator/Quorvo Setup/Quorvo.conf.tmp: Permission denied",
    "Another program is saving the configuration file. Please try again later.<br>/home/"
    "administrator/Quorvo Setup/Quorvo.conf.lock: locked by quorvo-setup, process 4711 on "
    "workstation-17",
    "The new configuration file could not be written. Nothing was saved.<br>/home/administrator/"
    "Quorvo Setup/Quorvo.conf.tmp: No space left on device",
    "Error, could not rename new config file.<br>/home/administrator/Quorvo Setup/Quorvo.conf: "
    "Operation not permitted",
    "A new value holds a character that the file's encoding cannot store. Nothing was saved."
    "<br>/home/administrator/Quorvo Setup/Quorvo.conf: encoded as windows-1252",
    "Quorvo.conf links to a file in a folder that cannot be written. Nothing was saved.<br>/srv/"
    "quorvo/Quorvo.conf.tmp: Permission denied",
    "The file's permissions could not be kept. Nothing was saved.<br>/home/administrator/Quorvo "
    "Setup/Quorvo.conf.tmp: Operation not permitted",
};

// A widget is cut off where it has less room than it asks for at least.
QString cutOff(const QWidget *widget)
{
    const QSize least = widget->minimumSizeHint();
    const int height =
        widget->hasHeightForWidth() ? widget->heightForWidth(widget->width()) : least.height();
    if (widget->width() < least.width() || widget->height() < height)
        return QStringLiteral("%1 is %2x%3 but needs %4x%5")
            .arg(widget->objectName())
            .arg(widget->width())
            .arg(widget->height())
            .arg(least.width())
            .arg(height);
    return {};
}

std::unique_ptr<QDialog> make(Window window)
{
    if (window == Window::Setup)
        return std::make_unique<setup>();
    return std::make_unique<DataConfig>();
}

QRect inWindow(const QWidget *widget)
{
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

} // namespace

Q_DECLARE_METATYPE(Window)

class TestDialogLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void shouldShowEveryTextWhole_data();
    void shouldShowEveryTextWhole();
    void shouldKeepTheOrderFromTopToBottom_data();
    void shouldKeepTheOrderFromTopToBottom();

private:
    QTemporaryDir dir;
    std::unique_ptr<CurrentDirectory> cwd;
    QFont defaultFont;
};

void TestDialogLayout::initTestCase()
{
    QVERIFY2(QGuiApplication::primaryScreen()->size() == QSize(1024, 768),
             "The screen of 1024x768 is set up by the test's QT_QPA_PLATFORM in CTest");
    QVERIFY(dir.isValid());
    cwd = std::make_unique<CurrentDirectory>(dir.path());
    writeFile(QStringLiteral("Quorvo.conf"), "hname:127.0.0.1\nMySQLu:quorvo\nMySQLp:secret\n");
    defaultFont = QApplication::font();
}

void TestDialogLayout::cleanup()
{
    QApplication::setFont(defaultFont);
}

void TestDialogLayout::shouldShowEveryTextWhole_data()
{
    QTest::addColumn<Window>("window");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("failure");
    QTest::addColumn<qreal>("scale");

    const auto add = [](Window window, const auto &texts, bool failure) {
        for (const qreal scale : {1.0, 1.25})
            for (const char *text : texts)
                QTest::addRow("%.40s at %.2f", text, scale)
                    << window << QString::fromUtf8(text) << failure << scale;
    };
    add(Window::Setup, SetupTexts, false);
    add(Window::Setup, SetupFailures, true);
    add(Window::DataConfig, DataConfigFailures, true);
    // A name longer than a line, in a reason on a screen of 1024x768.
    QTest::newRow("1000-character word")
        << Window::Setup
        << QStringLiteral("The database connection failed. Please "
                          "try again later.<br>1045: Access denied "
                          "for user '%1'@'pc17'")
               .arg(QString(1000, u'q'))
        << true << 1.25;
}

void TestDialogLayout::shouldShowEveryTextWhole()
{
    QFETCH(Window, window);
    QFETCH(QString, text);
    QFETCH(bool, failure);
    QFETCH(qreal, scale);

    QFont font = defaultFont;
    font.setPointSizeF(font.pointSizeF() * scale);
    QApplication::setFont(font);

    const std::unique_ptr<QDialog> dialog = make(window);
    auto *label = dialog->findChild<QLabel *>(
        window == Window::Setup ? QStringLiteral("label") : QStringLiteral("DataConfigErrorLabel"));
    QVERIFY(label);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const QSize startSize = dialog->size();

    if (failure)
        showError(label, text);
    else
        label->setText(text);
    QTest::qWait(0);
    // The layout settles once the label's new size hint is handled.
    QCoreApplication::sendPostedEvents();

    QVERIFY(dialog->width() >= startSize.width() && dialog->height() >= startSize.height());
    QVERIFY(dialog->screen()->availableGeometry().contains(dialog->frameGeometry()));
    // Whole, with at most places to break added.
    QCOMPARE(label->text().remove(QChar(0x200b)), failure ? red(text) : text);
    QList<QWidget *> shown;
    for (QWidget *widget : dialog->findChildren<QWidget *>())
        if (widget->isVisible())
            shown << widget;
    for (const QWidget *widget : std::as_const(shown)) {
        const QString cut = cutOff(widget);
        QVERIFY2(cut.isEmpty(), qPrintable(cut));
        QVERIFY2(dialog->rect().contains(inWindow(widget)), qPrintable(widget->objectName()));
    }
    for (const QWidget *a : std::as_const(shown))
        for (const QWidget *b : std::as_const(shown))
            if (a < b && !a->isAncestorOf(b) && !b->isAncestorOf(a))
                QVERIFY2(
                    !inWindow(a).intersects(inWindow(b)),
                    qPrintable(a->objectName() + QStringLiteral(" overlaps ") + b->objectName()));
}

void TestDialogLayout::shouldKeepTheOrderFromTopToBottom_data()
{
    QTest::addColumn<Window>("window");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("setup") << Window::Setup
                           << QStringList{"label", "widget", "pushButton_db", "buttonBox"};
    QTest::newRow("DataConfig") << Window::DataConfig
                                << QStringList{"layoutWidget", "DataConfigErrorLabel",
                                               "DataConfig_buttonBox"};
}

void TestDialogLayout::shouldKeepTheOrderFromTopToBottom()
{
    QFETCH(Window, window);
    QFETCH(QStringList, names);
    const std::unique_ptr<QDialog> dialog = make(window);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

    int bottom = 0;
    for (const QString &name : std::as_const(names)) {
        const auto *widget = dialog->findChild<QWidget *>(name);
        QVERIFY2(widget && widget->y() >= bottom, qPrintable(name));
        bottom = widget->geometry().bottom();
    }
    // The settings button stands at the right, under the fields.
    if (window == Window::Setup)
        QCOMPARE(dialog->findChild<QWidget *>(QStringLiteral("pushButton_db"))->geometry().right(),
                 dialog->findChild<QWidget *>(QStringLiteral("widget"))->geometry().right());
}

QTEST_MAIN(TestDialogLayout)
#include "tst_dialoglayout.moc"
