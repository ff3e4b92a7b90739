#pragma once

#include "settings/settingsfile.h"

#include <QDir>
#include <QString>

class QLabel;

// Shows a failure in red, replacing whatever the label showed, and announces it to assistive
// technology (failurealert.h). The message goes in as markup, so the label's automatic text
// format renders the colour. A word wider than half the screen (a long host or account name in a
// server's reason, a deep path) gets places to break, so that the window never has to grow past
// the screen to show it whole.
void showError(QLabel *label, const QString &message);

// A message with its reason on the next line. The reason goes in as text: a server's words or a
// file name may hold '<' or '&'.
inline QString withReason(const QString &message, const QString &reason)
{
    return message + QStringLiteral("<br>") + reason.toHtmlEscaped();
}

// Which file a failure concerns, in the form the system shows paths in (C:\...\Quorvo.conf on
// Windows), and why.
inline QString fileReason(const FileProblem &problem)
{
    return QDir::toNativeSeparators(problem.path) + QStringLiteral(": ") + problem.reason;
}
