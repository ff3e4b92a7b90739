#include "app/wordbreaks.h"

#include <QFontMetrics>

namespace {

constexpr QChar ZeroWidthSpace(0x200b);

// Where a line may break anyway; a no-break space is none.
bool breaksLine(QChar c)
{
    return c.isSpace() && c != QChar::Nbsp;
}

} // namespace

QString breakLongWords(const QString &markup, const QFontMetrics &metrics, int widest)
{
    QString result;
    result.reserve(markup.size());
    int run = 0; // width of the word so far since its last break
    for (qsizetype i = 0; i < markup.size();) {
        const QChar c = markup.at(i);
        qsizetype length = 1;
        int width = 0;
        if (c == u'<') {
            // A tag such as <br> or <font ...> ends the word before it.
            const qsizetype end = markup.indexOf(u'>', i);
            length = (end < 0 ? markup.size() : end + 1) - i;
            run = 0;
        } else if (const qsizetype end = c == u'&' ? markup.indexOf(u';', i) : -1;
                   end > i && end - i <= 8) {
            // An entity (&lt;, &quot;) shows as one character, whose width is guessed generously.
            length = end + 1 - i;
            width = metrics.horizontalAdvance(u'W');
        } else if (breaksLine(c)) {
            run = 0;
        } else {
            if (c.isHighSurrogate() && i + 1 < markup.size())
                length = 2;
            width = metrics.horizontalAdvance(markup.mid(i, length));
        }
        // Never between a letter and the accent that follows it.
        if (width > 0 && run > 0 && run + width > widest && !c.isMark()) {
            result += ZeroWidthSpace;
            run = 0;
        }
        run += width;
        result += QStringView(markup).mid(i, length);
        i += length;
    }
    return result;
}
