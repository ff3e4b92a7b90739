#include "app/failurealert.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QLabel>
#include <QTextDocument>

namespace {

const char *const MessageLabelProperty = "messageLabel";
// The text of the failure the label shows, as set on it.
const char *const FailureProperty = "failureText";

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

QAccessibleInterface *messageLabelInterface(const QString &, QObject *object)
{
    auto *label = qobject_cast<QLabel *>(object);
    if (label && label->property(MessageLabelProperty).toBool())
        return new MessageLabelInterface(label);
    return nullptr;
}

} // namespace

void installFailureAlerts()
{
    QAccessible::installFactory(&messageLabelInterface);
}

void announceFailure(QLabel *label)
{
    label->setProperty(FailureProperty, label->text());
    // Hiding and showing at once changes nothing on screen (the layout runs later, once), but
    // tells assistive technology that the alert has appeared.
    if (label->isVisible()) {
        label->hide();
        label->show();
    }
}
