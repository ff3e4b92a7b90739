#include "settings/connectionsettings.h"
#include "settings/settingsfile.h"

#include "testsupport.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace testsupport;

Q_DECLARE_METATYPE(RewriteFailure)

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void shouldReadKeyLines_data();
    void shouldReadKeyLines();
    void shouldKeepValuesWhenFileIsMissing();

    void shouldRewriteKeyLinesOnly_data();
    void shouldRewriteKeyLinesOnly();
    void shouldRefuseFileWithoutEveryKeyLine_data();
    void shouldRefuseFileWithoutEveryKeyLine();
    void shouldKeepPermissions_data();
    void shouldKeepPermissions();
    void shouldKeepOwnerAndGroup();
    void shouldLeaveFilesWhenOpeningFails_data();
    void shouldLeaveFilesWhenOpeningFails();
    void shouldKeepOldFileWhenWritingFails();
    void shouldKeepBothFilesWhenReplaceFails();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString conf() const { return dir->filePath(QStringLiteral("Quorvo.conf")); }
    QString tmp() const { return dir->filePath(QStringLiteral("Quorvo.conf.tmp")); }
};

void TestSettingsFile::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    ConnectionSettings::dbHost = QStringLiteral("old-host");
    ConnectionSettings::dbUser = QStringLiteral("old-user");
    ConnectionSettings::dbPassword = QStringLiteral("old-password");
}

void TestSettingsFile::shouldReadKeyLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");

    QTest::newRow("LF") << QByteArray("hname:db.example\nMySQLu:admin\nMySQLp:secret\n")
                        << "db.example"
                        << "admin"
                        << "secret";
    QTest::newRow("CR LF") << QByteArray("hname:db.example\r\nMySQLu:admin\r\nMySQLp:secret\r\n")
                           << "db.example"
                           << "admin"
                           << "secret";
    QTest::newRow("last line without line end") << QByteArray("hname:h\nMySQLu:u\nMySQLp:p") << "h"
                                                << "u"
                                                << "p";
    QTest::newRow("key on several lines, last wins")
        << QByteArray("hname:first\nMySQLp:one\nhname:second\nMySQLp:two\n") << "second"
        << "old-user"
        << "two";
    QTest::newRow("keys in any order") << QByteArray("MySQLp:p\nMySQLu:u\nhname:h\n") << "h"
                                       << "u"
                                       << "p";
    QTest::newRow("password without ':'") << QByteArray("MySQLp\n") << "old-host"
                                          << "old-user"
                                          << "";
    QTest::newRow("password with one ':' and no value") << QByteArray("MySQLp:\n") << "old-host"
                                                        << "old-user"
                                                        << "";
    QTest::newRow("password with several ':'") << QByteArray("MySQLp:ab:cd\n") << "old-host"
                                               << "old-user"
                                               << "";
    QTest::newRow("host and user with extra fields")
        << QByteArray("hname:ab:cd\nMySQLu:u1:x:y\n") << "ab"
        << "u1"
        << "old-password";
    QTest::newRow("host and user without ':' keep their values")
        << QByteArray("hname\nMySQLu\n") << "old-host"
        << "old-user"
        << "old-password";
    QTest::newRow("empty values") << QByteArray("hname:\nMySQLu:\n") << ""
                                  << ""
                                  << "old-password";
    QTest::newRow("blanks and spaces are kept") << QByteArray("hname: h \nMySQLp:  \n") << " h "
                                                << "old-user"
                                                << "  ";
    QTest::newRow("no key lines")
        << QByteArray("HNAME:a\n hname:b\nhname :c\nmysqlu:d\nMySQLP:e\nfree text\n\n# hname:f\n")
        << "old-host"
        << "old-user"
        << "old-password";
    QTest::newRow("empty file") << QByteArray() << "old-host"
                                << "old-user"
                                << "old-password";
    QTest::newRow("missing key keeps its value") << QByteArray("hname:h\n") << "h"
                                                 << "old-user"
                                                 << "old-password";
    QTest::newRow("UTF-8 value") << QByteArray("MySQLp:p\xc3\xa4ss\n") << "old-host"
                                 << "old-user" << QString::fromUtf8("p\xc3\xa4ss");
}

void TestSettingsFile::shouldReadKeyLines()
{
    QFETCH(QByteArray, content);
    writeFile(conf(), content);

    QVERIFY(loadSettingsFile(conf()));
    QTEST(ConnectionSettings::dbHost, "host");
    QTEST(ConnectionSettings::dbUser, "user");
    QTEST(ConnectionSettings::dbPassword, "password");
}

void TestSettingsFile::shouldKeepValuesWhenFileIsMissing()
{
    QVERIFY(!loadSettingsFile(conf()));
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("old-host"));
    QCOMPARE(ConnectionSettings::dbUser, QStringLiteral("old-user"));
    QCOMPARE(ConnectionSettings::dbPassword, QStringLiteral("old-password"));
}

void TestSettingsFile::shouldRewriteKeyLinesOnly_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("other lines and order kept")
        << QByteArray("# Quorvo\nMySQLp:p\nfoo:bar\nhname:h\n\nMySQLu:u\nHNAME:x\n") << "np"
        << QByteArray("# Quorvo\nMySQLp:np\nfoo:bar\nhname:nh\n\nMySQLu:nu\nHNAME:x\n");
    QTest::newRow("every occurrence replaced")
        << QByteArray("hname:a\nMySQLu:b\nhname:c\nMySQLp:d\nMySQLu:e\n") << "np"
        << QByteArray("hname:nh\nMySQLu:nu\nhname:nh\nMySQLp:np\nMySQLu:nu\n");
    QTest::newRow("extra fields dropped") << QByteArray("hname:a:b:c\nMySQLu\nMySQLp:x:y\n") << "np"
                                          << QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n");
    QTest::newRow("CR LF read, own line ends written")
        << QByteArray("hname:h\r\nnote\r\nMySQLu:u\r\nMySQLp:p\r\n") << "np"
        << QByteArray("hname:nh\nnote\nMySQLu:nu\nMySQLp:np\n");
    QTest::newRow("last line gets a line end")
        << QByteArray("note\nhname:h\nMySQLp:p\nMySQLu:u") << "np"
        << QByteArray("note\nhname:nh\nMySQLp:np\nMySQLu:nu\n");
    QTest::newRow("empty password") << QByteArray("hname:h\nMySQLu:u\nMySQLp:old\n") << ""
                                    << QByteArray("hname:nh\nMySQLu:nu\nMySQLp:\n");
}

void TestSettingsFile::shouldRewriteKeyLinesOnly()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, password);
    writeFile(conf(), before);

    QCOMPARE(rewriteSettingsFile(conf(), QStringLiteral("nh"), QStringLiteral("nu"), password),
             RewriteFailure::None);
    QTEST(readFile(conf()), "after");
    QVERIFY(!QFile::exists(tmp()));
}

void TestSettingsFile::shouldRefuseFileWithoutEveryKeyLine_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("no host line") << QByteArray("MySQLu:u\nMySQLp:p\n");
    QTest::newRow("no user line") << QByteArray("hname:h\nMySQLp:p\n");
    QTest::newRow("no password line") << QByteArray("hname:h\nMySQLu:u\n");
    QTest::newRow("password line in capitals only") << QByteArray("hname:h\nMySQLu:u\nMYSQLP:p\n");
    QTest::newRow("host key with a leading blank") << QByteArray(" hname:h\nMySQLu:u\nMySQLp:p\n");
}

void TestSettingsFile::shouldRefuseFileWithoutEveryKeyLine()
{
    QFETCH(QByteArray, content);
    writeFile(conf(), content);
    writeFile(tmp(), "left from an earlier attempt");

    // Whatever the values, one of them would be stored nowhere.
    QCOMPARE(rewriteSettingsFile(conf(), "old-host", "old-user", "old-password"),
             RewriteFailure::KeyLineMissing);
    QCOMPARE(readFile(conf()), content);
    QCOMPARE(readFile(tmp()), QByteArray("left from an earlier attempt"));
}

void TestSettingsFile::shouldKeepPermissions_data()
{
    QTest::addColumn<unsigned>("mode");
    QTest::addColumn<bool>("leftoverTmp");

    QTest::newRow("owner only") << 0600u << false;
    QTest::newRow("group readable") << 0640u << false;
    QTest::newRow("world readable") << 0644u << false;
    QTest::newRow("owner only, open leftover tmp") << 0600u << true;
}

void TestSettingsFile::shouldKeepPermissions()
{
#ifndef Q_OS_UNIX
    QSKIP("Mode bits are a Unix notion");
#else
    QFETCH(unsigned, mode);
    QFETCH(bool, leftoverTmp);
    writeFile(conf(), "hname:h\nMySQLu:u\nMySQLp:secret\n");
    QCOMPARE(::chmod(QFile::encodeName(conf()).constData(), mode), 0);
    if (leftoverTmp) {
        writeFile(tmp(), "stale");
        QCOMPARE(::chmod(QFile::encodeName(tmp()).constData(), 0666), 0);
    }

    QCOMPARE(rewriteSettingsFile(conf(), "nh", "nu", "np"), RewriteFailure::None);
    QCOMPARE(modeOf(conf()), mode);
    QCOMPARE(readFile(conf()), QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n"));
#endif
}

void TestSettingsFile::shouldKeepOwnerAndGroup()
{
#ifndef Q_OS_UNIX
    QSKIP("Owners and groups are a Unix notion");
#else
    if (::geteuid() != 0)
        QSKIP("Only root can save a file that belongs to another user");
    // A service reads the password through the file's group; root saves it.
    writeFile(conf(), "hname:h\nMySQLu:u\nMySQLp:p\n");
    const QByteArray path = QFile::encodeName(conf());
    QCOMPARE(::chown(path.constData(), WithoutRoot::Nobody, WithoutRoot::Nobody), 0);
    QCOMPARE(::chmod(path.constData(), 0640), 0);

    QCOMPARE(rewriteSettingsFile(conf(), "nh", "nu", "np"), RewriteFailure::None);
    struct stat info
    {
    };
    QCOMPARE(::stat(path.constData(), &info), 0);
    QCOMPARE(info.st_uid, WithoutRoot::Nobody);
    QCOMPARE(info.st_gid, gid_t(WithoutRoot::Nobody));
    QCOMPARE(modeOf(conf()), 0640u);
#endif
}

void TestSettingsFile::shouldLeaveFilesWhenOpeningFails_data()
{
    QTest::addColumn<bool>("confIsDirectory");
    QTest::addColumn<bool>("tmpIsDirectory");

    QTest::newRow("settings file missing") << false << false;
    QTest::newRow("settings file is a directory") << true << false;
    QTest::newRow("temporary file name is a directory") << false << true;
}

void TestSettingsFile::shouldLeaveFilesWhenOpeningFails()
{
    QFETCH(bool, confIsDirectory);
    QFETCH(bool, tmpIsDirectory);
    const QByteArray content("hname:h\nMySQLu:u\nMySQLp:p\n");
    if (confIsDirectory)
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("Quorvo.conf")));
    if (tmpIsDirectory) {
        writeFile(conf(), content);
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("Quorvo.conf.tmp")));
    }

    QCOMPARE(rewriteSettingsFile(conf(), "nh", "nu", "np"), RewriteFailure::OpenFailed);
    QCOMPARE(QFileInfo(conf()).isDir(), confIsDirectory);
    QCOMPARE(QFileInfo::exists(conf()), confIsDirectory || tmpIsDirectory);
    if (tmpIsDirectory)
        QCOMPARE(readFile(conf()), content);
    QCOMPARE(QFileInfo(tmp()).isDir(), tmpIsDirectory);
    QCOMPARE(QFileInfo::exists(tmp()), tmpIsDirectory);
}

void TestSettingsFile::shouldKeepOldFileWhenWritingFails()
{
#ifndef Q_OS_UNIX
    QSKIP("Needs a file-size resource limit");
#else
    // A full disk, as a file-size limit: the new file cannot hold the whole content.
    const QByteArray content(
        "# a settings file longer than the limit\nhname:h\nMySQLu:u\nMySQLp:p\n");
    writeFile(conf(), content);

    RewriteFailure result = RewriteFailure::None;
    {
        FileSizeLimit limit(16);
        QVERIFY(limit.isActive());
        result = rewriteSettingsFile(conf(), "nh", "nu", "np");
    }

    QCOMPARE(result, RewriteFailure::WriteFailed);
    QCOMPARE(readFile(conf()), content);
    QVERIFY(!QFile::exists(tmp()));
#endif
}

void TestSettingsFile::shouldKeepBothFilesWhenReplaceFails()
{
#ifndef Q_OS_UNIX
    QSKIP("Needs a directory that refuses new entries");
#else
    // Both files may be written, but the directory takes no rename.
    const QByteArray content("hname:h\nMySQLu:u\nMySQLp:p\n");
    writeFile(conf(), content);
    writeFile(tmp(), "stale");
    RewriteFailure result = RewriteFailure::None;
    {
        WithoutRoot user(dir->path());
        QCOMPARE(::chmod(QFile::encodeName(dir->path()).constData(), 0500), 0);
        result = rewriteSettingsFile(conf(), "nh", "nu", "np");
        QCOMPARE(::chmod(QFile::encodeName(dir->path()).constData(), 0700), 0);
    }

    QCOMPARE(result, RewriteFailure::RenameFailed);
    QCOMPARE(readFile(conf()), content);
    QCOMPARE(readFile(tmp()), QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n"));
#endif
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
