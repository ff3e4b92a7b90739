#pragma once

#include <QString>

class QFontMetrics;

// The markup with a zero-width space put into every word wider than `widest` pixels, after each
// stretch of at most that width, so that a word-wrapping label can break the word there instead
// of growing to its whole width. Tags and character entities stay whole; the visible text is
// unchanged.
QString breakLongWords(const QString &markup, const QFontMetrics &metrics, int widest);
