#include "app/failurealert.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>

namespace {

const char *const MessageLabelProperty = "messageLabel";
// The text of the failure the label shows, as set on it.
const char *const FailureProperty = "failureText";
const char *const AnnouncerName = "outcomeAnnouncer";

class MessageLabelInterface : public QAccessibleWidget
{
public:
    explicit MessageLabelInterface(QLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {}

    QAccessible::Role role() const override
    {
        return showsFailure() ? QAccessible::AlertMessage : QAccessible::StaticText;
    }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        const QString shown = label()->text();
        QString plain = shown;
        if (Qt::mightBeRichText(shown)) {
            QTextDocument document;
            document.setHtml(shown);
            plain = document.toPlainText();
        }
        // The zero-width spaces that let long words wrap are not read out.
        plain.remove(QChar(0x200B));
        return showsFailure() ? tr("Error: %1").arg(plain) : plain;
    }

    // The companion is no part of the window's content (see AnnouncerInterface).
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

private:
    QLabel *label() const { return static_cast<QLabel *>(widget()); }

    bool showsFailure() const
    {
        const QVariant failure = label()->property(FailureProperty);
        return failure.isValid() && failure.toString() == label()->text();
    }

    static QString tr(const char *source)
    {
        return QCoreApplication::translate("failurealert", source);
    }
};

// The companion of a message label hangs from the application, not from its window: a screen
// reader speaks an object that appears in a dialog after the dialog's title and its texts, the
// label among them, so the outcome would be heard twice.
class AnnouncerInterface : public QAccessibleWidget
{
public:
    explicit AnnouncerInterface(QWidget *announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification)
    {}

    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(qApp);
    }
};

QAccessibleInterface *messageLabelInterface(const QString &, QObject *object)
{
    auto *label = qobject_cast<QLabel *>(object);
    if (label && label->property(MessageLabelProperty).toBool())
        return new MessageLabelInterface(label);
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget && widget->objectName() == QLatin1String(AnnouncerName))
        return new AnnouncerInterface(widget);
    return nullptr;
}

// A line edit that gets the focus by Tab (as a dialog's first field does when the dialog shows)
// selects its text at once, and so moves its caret before Qt tells of the focus; a screen reader
// then takes the field for the one it is in already and does not say which field it is. So such
// a field gets the focus as if by another way, and its text is selected just after Qt has told
// of the focus.
class SelectAfterFocus : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::FocusIn)
            return false;
        auto *edit = qobject_cast<QLineEdit *>(watched);
        if (!edit)
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason &&
            reason != Qt::ShortcutFocusReason)
            return false;
        QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(edit, &plain);
        QMetaObject::invokeMethod(
            edit,
            [edit] {
                if (edit->window()->focusWidget() == edit && !edit->hasSelectedText())
                    edit->selectAll();
            },
            Qt::QueuedConnection);
        return true;
    }
};

QWidget *announcerOf(QLabel *label)
{
    return label->findChild<QWidget *>(QLatin1String(AnnouncerName), Qt::FindDirectChildrenOnly);
}

// A screen reader hears nothing of a window before it is first active: an outcome shown while the
// window is made is announced then.
class AnnounceWhenActive : public QObject
{
public:
    static constexpr const char *Name = "announceWhenActive";

    explicit AnnounceWhenActive(QLabel *label) : QObject(label)
    {
        setObjectName(QLatin1String(Name));
        label->window()->installEventFilter(this);
    }

    bool eventFilter(QObject *window, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate) {
            window->removeEventFilter(this);
            deleteLater();
            announceOutcome(static_cast<QLabel *>(parent()));
        }
        return false;
    }
};

} // namespace

void installScreenReaderSupport()
{
    QAccessible::installFactory(&messageLabelInterface);
    qApp->installEventFilter(new SelectAfterFocus(qApp));
}

void addAnnouncer(QLabel *label)
{
    auto *announcer = new QWidget(label);
    announcer->setObjectName(QLatin1String(AnnouncerName));
    // It paints nothing and takes no input; a pixel keeps it inside the label for those that
    // look where an object is.
    announcer->setAttribute(Qt::WA_TransparentForMouseEvents);
    announcer->setGeometry(0, 0, 1, 1);
    announcer->hide();
}

void announceOutcome(QLabel *label)
{
    QWidget *announcer = announcerOf(label);
    if (!announcer)
        return;
    // Screen readers speak a notification when it appears; one with nothing to say stays hidden.
    announcer->hide();
    const QString spoken = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
    if (spoken.isEmpty())
        return;
    if (!label->window()->isVisible()) {
        if (!label->findChild<QObject *>(QLatin1String(AnnounceWhenActive::Name)))
            new AnnounceWhenActive(label);
        return;
    }
    announcer->setAccessibleName(spoken);
    announcer->show();
}

void announceFailure(QLabel *label)
{
    label->setProperty(FailureProperty, label->text());
    // Hiding and showing at once changes nothing on screen (the layout runs later, once), but
    // tells assistive technology that the alert has appeared. The companion goes first, so that
    // it does not reappear with the label under the last outcome's name.
    if (label->isVisible()) {
        if (QWidget *announcer = announcerOf(label))
            announcer->hide();
        label->hide();
        label->show();
    }
    announceOutcome(label);
}
