#pragma once

#include <QLabel>
#include <QString>

// Shows a failure in red, replacing whatever the label showed. The message goes in as markup,
// so the label's automatic text format renders the colour.
inline void showError(QLabel *label, const QString &message)
{
    label->setText(QStringLiteral("<font color='red'>%1</font>").arg(message, 0, QLatin1Char(' ')));
}

// A message with its reason on the next line. The reason goes in as text: a server's words or a
// file name may hold '<' or '&'.
inline QString withReason(const QString &message, const QString &reason)
{
    return message + QStringLiteral("<br>") + reason.toHtmlEscaped();
}
