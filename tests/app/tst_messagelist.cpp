#include "app/messages.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

// Each part filled in at run time as "{}": %1, %2 ... in the program's texts, {table} and the
// like in the documents, which name it for the reader. A line break as a space.
QString blanked(QString text)
{
    static const QRegularExpression part(QStringLiteral("%[1-9]|\\{[^}]*\\}"));
    return text.replace(u'\n', u' ').replace(part, QStringLiteral("{}"));
}

// The messages a document lists: in the user guide the quoted first cell of each table row in
// "## Messages", in the manual page the .B line after each .TP or .TQ in DIAGNOSTICS.
QStringList listedIn(const QString &document)
{
    QFile file(QStringLiteral(QUORVO_SOURCE_DIR "/") + document);
    if (!file.open(QIODevice::ReadOnly))
        qWarning("%s cannot be read", qPrintable(document));
    const bool manualPage = document.endsWith(u".1.in");
    const QString section = QString::fromUtf8(file.readAll())
                                .section(manualPage ? ".SH DIAGNOSTICS\n" : "## Messages\n", 1)
                                .section(manualPage ? "\n.SH " : "\n## ", 0, 0);
    const QRegularExpression entry(manualPage ? QStringLiteral("^\\.T[PQ]\n\\.B (.*)$")
                                              : QStringLiteral("^\\| *\"([^|]*)\" *\\|"),
                                   QRegularExpression::MultilineOption);
    const std::pair<const char *, const char *> roffEscapes[] = {
        {"\\-", "-"},         {"\\(dq", "\""},      {"\\(aq", "'"},
        {"\\['e]", "\u00e9"}, {"\\[ss]", "\u00df"}, {"\\[~n]", "\u00f1"}};

    QStringList listed;
    for (const QRegularExpressionMatch &match : entry.globalMatch(section)) {
        QString message = match.captured(1);
        for (const auto &[escape, character] : roffEscapes)
            message.replace(QLatin1String(escape), QString::fromUtf8(character));
        listed << blanked(message);
    }
    return listed;
}

} // namespace

class TestMessageList : public QObject
{
    Q_OBJECT

private slots:
    void shouldListEveryMessageAndNoOther_data();
    void shouldListEveryMessageAndNoOther();
};

void TestMessageList::shouldListEveryMessageAndNoOther_data()
{
    QTest::addColumn<QString>("document");
    QTest::newRow("user guide") << "docs/user-guide.md";
    QTest::newRow("manual page") << "packaging/quorvo-setup.1.in";
}

void TestMessageList::shouldListEveryMessageAndNoOther()
{
    QFETCH(QString, document);
    const QStringList listed = listedIn(document);
    QStringList shown;
    for (const MessageText &message : AllMessages)
        shown << blanked(QString::fromUtf8(message.source));

    for (const QString &message : std::as_const(shown))
        QVERIFY2(listed.contains(message), qPrintable(QStringLiteral("Not listed: ") + message));
    for (const QString &message : listed)
        QVERIFY2(shown.contains(message), qPrintable(QStringLiteral("Never shown: ") + message));
}

QTEST_GUILESS_MAIN(TestMessageList)
#include "tst_messagelist.moc"
