#pragma once

#include <QStringView>

// Where the quoted text that begins at `at` ends: just past its closing quote; `at` where no
// quote stands there, and -1 where it is never closed. Names are quoted in backticks (or double
// quotes under ANSI_QUOTES), strings in single quotes. A quote doubled inside belongs to the
// text, and so does, in a string, the character after a '\'.
qsizetype pastQuoted(QStringView sql, qsizetype at);
