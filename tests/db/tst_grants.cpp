#include "db/grants.h"

#include <QtTest>

Q_DECLARE_METATYPE(Holding)

namespace {

// A line as the reader sees it, in short: "GRANT <database>.<table> <RIGHTS,...>", or the
// kind alone for the lines that give nothing on tables, or "unreadable".
QString reading(const QString &line)
{
    const std::optional<GrantLine> grant = readGrantLine(line);
    if (!grant)
        return QStringLiteral("unreadable");
    if (grant->kind == GrantLine::Kind::Other)
        return QStringLiteral("other");
    QStringList rights(grant->rights.cbegin(), grant->rights.cend());
    rights.sort();
    return QStringLiteral("%1 %2.%3 %4")
        .arg(grant->kind == GrantLine::Kind::Grant ? QStringLiteral("GRANT")
                                                   : QStringLiteral("REVOKE"),
             grant->global ? QStringLiteral("*") : grant->database,
             grant->table.isEmpty() ? QStringLiteral("*") : grant->table, rights.join(u','));
}

} // namespace

// What SHOW GRANTS says about a right on a table, read the way the servers print it.
class TestGrants : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadLine_data();
    void shouldReadLine();
    void shouldTellHolding_data();
    void shouldTellHolding();
};

void TestGrants::shouldReadLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reading");
    const auto row = [](const char *name, const char *line, const char *reading) {
        QTest::newRow(name) << QString::fromUtf8(line) << QString::fromUtf8(reading);
    };

    row("a pattern with '_' escaped", "GRANT SELECT, INSERT ON `e\\_1`.* TO `u1`@`%`",
        "GRANT e\\_1.* INSERT,SELECT");
    row("a backtick doubled, a quote inside", "GRANT ALL PRIVILEGES ON `we``ird'db`.* TO `u1`@`%`",
        "GRANT we`ird'db.* ALL");
    row("ANSI_QUOTES", "GRANT ALL PRIVILEGES ON \"we`ird\"\"db\".* TO \"u1\"@\"%\"",
        "GRANT we`ird\"db.* ALL");
    row("' ON ' inside a name", "GRANT DELETE ON `a ON b`.`t TO u` TO `u1`@`%`",
        "GRANT a ON b.t TO u DELETE");
    row("a table, with rights on columns left out",
        "GRANT SELECT (`a`), UPDATE (`a`, `b`), TRIGGER ON `e1`.`p_k` TO `u1`@`%`",
        "GRANT e1.p_k TRIGGER");
    row("USAGE, MariaDB's password",
        "GRANT USAGE ON *.* TO `u1`@`%` IDENTIFIED BY PASSWORD '*D8\\'21'", "GRANT *.* ");
    row("with grant option", "GRANT UPDATE ON `e%`.* TO `u1`@`%` WITH GRANT OPTION",
        "GRANT e%.* UPDATE");
    row("to a role", "GRANT DELETE ON `e1`.* TO `r 2`", "GRANT e1.* DELETE");
    row("MySQL's dynamic rights", "GRANT BINLOG_ADMIN,SET_ANY_DEFINER ON *.* TO `u2`@`%`",
        "GRANT *.* BINLOG_ADMIN,SET_ANY_DEFINER");
    row("MySQL's partial revoke", "REVOKE INSERT, TRIGGER ON `e1`.* FROM `u2`@`%`",
        "REVOKE e1.* INSERT,TRIGGER");
    row("MariaDB's role", "GRANT `r1` TO `u1`@`%` WITH ADMIN OPTION", "other");
    row("MySQL's roles", "GRANT `r1`@`%`,`rr`@`%` TO `u2`@`%`", "other");
    row("MariaDB's default role", "SET DEFAULT ROLE `r1` FOR `u1`@`%`", "other");
    row("a routine", "GRANT EXECUTE ON PROCEDURE `db`.`p` TO `u`@`%`", "other");
    row("proxy", "GRANT PROXY ON ''@'%' TO 'root'@'localhost' WITH GRANT OPTION", "other");
    row("a name never closed", "GRANT SELECT ON `e1.* TO `u`@`%`", "unreadable");
    row("three parts", "GRANT SELECT ON e1.t.c TO `u`@`%`", "unreadable");
    row("another statement", "CREATE USER `u`@`%`", "unreadable");
    row("a revoke from a table", "REVOKE SELECT ON `e1`.`t` FROM `u`@`%`", "unreadable");
}

void TestGrants::shouldReadLine()
{
    QFETCH(QString, line);
    QTEST(reading(line), "reading");
}

void TestGrants::shouldTellHolding_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("table");  // of TRIGGER, the right asked for
    QTest::addColumn<bool>("wildcards"); // false: MySQL with partial_revokes on
    QTest::addColumn<Holding>("holding");

    const QString to = QStringLiteral(" TO `u`@`%`");
    const auto on = [&](const QString &rights, const QString &level) {
        return QStringLiteral("GRANT ") + rights + QStringLiteral(" ON ") + level + to;
    };
    const QString usage = on(QStringLiteral("USAGE"), QStringLiteral("*.*"));
    const QString pk = QStringLiteral("p_k");
    const auto row = [&](const char *name, const QStringList &lines, Holding holding,
                         const QString &table = QStringLiteral("p_k"), bool wildcards = true) {
        QTest::newRow(name) << lines << table << wildcards << holding;
    };

    row("nothing but USAGE", {usage}, Holding::Lacking);
    row("everything on every database", {on("ALL PRIVILEGES", "*.*")}, Holding::Held);
    row("on the database", {usage, on("SELECT, TRIGGER", "`ozrinventory`.*")}, Holding::Held);
    row("a pattern that covers it", {on("TRIGGER", "`ozr%`.*")}, Holding::Held);
    row("a pattern that does not cover it", {on("ALL", "`ozr\\_%`.*")}, Holding::Lacking);
    row("one character any", {on("TRIGGER", "`ozrinventor_`.*")}, Holding::Held);
    row("one character more than the name", {on("TRIGGER", "`ozrinventory_`.*")}, Holding::Lacking);
    row("patterns that disagree", {on("TRIGGER", "`ozr%`.*"), on("SELECT", "`ozrinv%`.*")},
        Holding::Unknown);
    row("patterns that agree", {on("SELECT", "`ozr%`.*"), on("SELECT", "`%`.*")}, Holding::Lacking);
    row("on the table", {on("TRIGGER", "`ozrinventory`.`p_k`")}, Holding::Held);
    row("on another table", {on("TRIGGER", "`ozrinventory`.`p_k`")}, Holding::Lacking,
        QStringLiteral("pkeys"));
    row("on the table of another database", {on("TRIGGER", "`ozr`.`p_k`")}, Holding::Lacking);
    row("to PUBLIC", {usage, "GRANT TRIGGER ON `ozrinventory`.`p_k` TO PUBLIC"}, Holding::Held);
    row("a granted role alone", {usage, "GRANT `r1` TO `u`@`%`"}, Holding::Lacking);
    row("revoked from the database",
        {on("ALL PRIVILEGES", "*.*"), "REVOKE TRIGGER ON `ozrinventory`.* FROM `u`@`%`"},
        Holding::Lacking, pk, false);
    row("revoked from another database",
        {on("ALL PRIVILEGES", "*.*"), "REVOKE TRIGGER ON `ozr`.* FROM `u`@`%`"}, Holding::Held, pk,
        false);
    row("a line that cannot be read", {usage, "GRANT TRIGGER ON a.b.c" + to}, Holding::Unknown);
    row("a line that cannot be read beside the right",
        {"GRANT TRIGGER ON a.b.c" + to, on("TRIGGER", "*.*")}, Holding::Held);
    row("a pattern taken as a name", {on("TRIGGER", "`ozr%`.*")}, Holding::Lacking, pk, false);
    row("the name without wildcards", {on("TRIGGER", "`ozrinventory`.*")}, Holding::Held, pk,
        false);
}

void TestGrants::shouldTellHolding()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, table);
    QFETCH(bool, wildcards);
    QTEST(
        holding(lines, QStringLiteral("TRIGGER"), QStringLiteral("ozrinventory"), table, wildcards),
        "holding");
}

QTEST_GUILESS_MAIN(TestGrants)
#include "tst_grants.moc"
