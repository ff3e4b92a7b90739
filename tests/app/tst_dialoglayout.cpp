#include "app/dataconfig.h"
#include "app/messages.h"
#include "app/setup.h"
#include "app/showerror.h"

#include "testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace testsupport;

namespace {

enum class Window { Setup, DataConfig };

// The messages that the windows show in the normal colour; the others are failures, in red.
const char *const Plain[] = {SetupMessage::ConfigSaved, SetupMessage::Running, SetupMessage::Done};

// Messages with a reason on the next line: the longest the server gives, one with names in it
// that cannot be broken, and a file's.
const std::pair<MessageText, const char *> WithReasons[] = {
    {{SetupMessage::Context, SetupMessage::UnknownError},
     "1419: You do not have the SUPER privilege and binary logging is enabled (you *might* want "
     "to use the less safe log_bin_trust_function_creators variable)"},
    {{SetupMessage::Context, SetupMessage::ConnectionFailed},
     "1045: Access denied for user 'quorvo_inventory_admin'@'workstation-17.example.org' (using "
     "password: YES)"},
    {{SetupMessage::Context, SetupMessage::CheckoutFailed},
     "1449: The user specified as a definer ('quorvo_former_admin'@'workstation-17.example.org') "
     "does not exist"},
    {{DataConfigMessage::Context, DataConfigMessage::Busy},
     "/home/administrator/Quorvo Setup/Quorvo.conf.lock: locked by quorvo-setup, process 4711 on "
     "workstation-17"},
};

// A message with each part that is filled in at run time as a long name from the database.
QString filled(const MessageText &message)
{
    QString text = QCoreApplication::translate(message.context, message.source);
    while (text.contains(u'%'))
        text = text.arg(QStringLiteral("inventory_key_checkouts_2026"));
    return text;
}

Window windowOf(const MessageText &message)
{
    return qstrcmp(message.context, SetupMessage::Context) == 0 ? Window::Setup
                                                                : Window::DataConfig;
}

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

    for (const qreal scale : {1.0, 1.25}) {
        for (const MessageText &message : AllMessages)
            QTest::addRow("%.40s at %.2f", message.source, scale)
                << windowOf(message) << filled(message)
                << (std::find(std::begin(Plain), std::end(Plain), message.source) ==
                    std::end(Plain))
                << scale;
        for (const auto &[message, reason] : WithReasons)
            QTest::addRow("%.40s with a reason at %.2f", message.source, scale)
                << windowOf(message) << withReason(filled(message), QString::fromUtf8(reason))
                << true << scale;
        // Null: the explanation the window opens with.
        QTest::addRow("explanation at %.2f", scale) << Window::Setup << QString() << false << scale;
    }
    // A name longer than a line, in a reason on a screen of 1024x768.
    QTest::newRow("1000-character word")
        << Window::Setup
        << withReason(
               filled({SetupMessage::Context, SetupMessage::ConnectionFailed}),
               QStringLiteral("1045: Access denied for user '%1'@'pc17'").arg(QString(1000, u'q')))
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

    if (text.isNull())
        text = label->text();
    else if (failure)
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
