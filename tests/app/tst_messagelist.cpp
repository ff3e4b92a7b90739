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
    const bool manualPage = document.endsWith(u".1.in");
    const std::pair<const char *, const char *> roffEscapes[] = {
        {"\\-", "-"},         {"\\(dq", "\""},      {"\\(aq", "'"},
        {"\\['e]", "\u00e9"}, {"\\[ss]", "\u00df"}, {"\\[~n]", "\u00f1"}};
    QFile file(QStringLiteral(QUORVO_SOURCE_DIR "/") + document);
    if (!file.open(QIODevice::ReadOnly))
        qWarning("%s cannot be read", qPrintable(document));

    QStringList listed;
    bool inSection = false;
    QString previous;
    for (QString line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(manualPage ? u".SH " : u"## "))
            inSection = line == (manualPage ? u".SH DIAGNOSTICS" : u"## Messages");
        const QString cell = line.section(u'|', 1, 1).trimmed();
        if (inSection && manualPage && (previous == u".TP" || previous == u".TQ") &&
            line.startsWith(u".B ")) {
            for (const auto &[escape, character] : roffEscapes)
                line.replace(QLatin1String(escape), QString::fromUtf8(character));
            listed << blanked(line.mid(3));
        } else if (inSection && !manualPage && cell.size() > 1 && cell.startsWith(u'"') &&
                   cell.endsWith(u'"')) {
            listed << blanked(cell.mid(1, cell.size() - 2));
        }
        previous = line;
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
