#include "settings/connectionsettings.h"
#include "settings/settingsfile.h"

#include "testsupport.h"

#include <QLockFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <sys/xattr.h>

#include <cerrno>
#endif

using namespace testsupport;

Q_DECLARE_METATYPE(RewriteFailure)
Q_DECLARE_METATYPE(SettingsChanges)

namespace {

const QString HostKey = QStringLiteral("hname");
const QString PasswordKey = QStringLiteral("MySQLp");
const SettingsChanges AllNew{QStringLiteral("nh"), QStringLiteral("nu"), QStringLiteral("np")};
// Written in Windows-1252, as a German Windows editor saves it.
const QByteArray EightBit("# Zugangsdaten f\xfcr den Schl\xfcsselserver\r\nhname:h\r\n"
                          "MySQLu:u\r\nMySQLp:p\xe4ss\r\n");

// Text as a Windows editor saves it as "Unicode": UTF-16 after its byte order mark.
QByteArray utf16(const QString &text, QStringConverter::Encoding order)
{
    QStringEncoder encoder(order, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}
const QString Unicode = QStringLiteral("# f\u00fcr \u20ac\r\nhname:h\r\nMySQLu:u\r\n");
const QString UnicodeSaved = QStringLiteral("# f\u00fcr \u20ac\r\nhname:nh\r\nMySQLu:u\r\n"
                                            "MySQLp:p\u00e4ss\u0151\r\n");
const SettingsChanges UnicodeChanges{QStringLiteral("nh"), {}, QStringLiteral("p\u00e4ss\u0151")};

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void shouldReadKeyLines_data();
    void shouldReadKeyLines();
    void shouldKeepValuesWhenFileIsMissing();
    void shouldTellKeyLinesThatLookLikeUtf8_data();
    void shouldTellKeyLinesThatLookLikeUtf8();

    void shouldRewriteChangedKeyLinesOnly_data();
    void shouldRewriteChangedKeyLinesOnly();
    void shouldRefuseWithoutWriting_data();
    void shouldRefuseWithoutWriting();
    void shouldKeepPermissions_data();
    void shouldKeepPermissions();
    void shouldKeepOwnerAndGroup();
    void shouldGrantNoneThatTheFoldersAccessListNames();
    void shouldLeaveFilesWhenOpeningFails_data();
    void shouldLeaveFilesWhenOpeningFails();
    void shouldKeepOldFileWhenWritingFails();
    void shouldKeepBothFilesWhenReplaceFails();
    void shouldKeepEveryChangeOfRacingSaves();

    void shouldTreatNonRegularFileAsUnreadable_data();
    void shouldTreatNonRegularFileAsUnreadable();
    void shouldWriteThroughNoLinkButTheSettingsFile_data();
    void shouldWriteThroughNoLinkButTheSettingsFile();
    void shouldNarrowModeWhenOwnerCannotBeKept_data();
    void shouldNarrowModeWhenOwnerCannotBeKept();

private:
    // Saves as the user "nobody" when run as root, so that permission bits count, in our folder
    // with `folderMode`; the folder and what is in it stay with their owners.
#ifdef Q_OS_UNIX
    void rewriteWithoutRoot(unsigned folderMode, RewriteFailure &result);
#endif

    std::unique_ptr<QTemporaryDir> dir;
    QString conf() const
    {
        return dir->filePath(QStringLiteral("Quorvo.conf"));
    }
    QString tmp() const
    {
        return dir->filePath(QStringLiteral("Quorvo.conf.tmp"));
    }
};

void TestSettingsFile::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    ConnectionSettings::dbHost = QStringLiteral("old-host");
    ConnectionSettings::dbUser = QStringLiteral("old-user");
    ConnectionSettings::dbPassword = QStringLiteral("old-password");
    ConnectionSettings::dbCaFile.clear();
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
    QTest::newRow("Windows-1252") << EightBit + "MySQLp:\x80uro\n"
                                  << "h"
                                  << "u" << QStringLiteral("\u20acuro");
    QTest::newRow("UTF-16 LE") << utf16(UnicodeSaved, QStringConverter::Utf16LE) << "nh"
                               << "u" << QStringLiteral("p\u00e4ss\u0151");
    QTest::newRow("one byte that is no UTF-8 makes the whole file 8-bit")
        << QByteArray("# f\xfcr\nMySQLp:p\xc3\xa4ss\n") << "old-host"
        << "old-user" << QStringLiteral("p\u00c3\u00a4ss");
}

void TestSettingsFile::shouldReadKeyLines()
{
    QFETCH(QByteArray, content);
    writeFile(conf(), content);
    ConnectionSettings::dbCaFile = QStringLiteral("old-ca.pem");

    QVERIFY(loadSettingsFile(conf()));
    QTEST(ConnectionSettings::dbHost, "host");
    QTEST(ConnectionSettings::dbUser, "user");
    QTEST(ConnectionSettings::dbPassword, "password");
    QVERIFY2(ConnectionSettings::dbCaFile.isEmpty(), "a file without the CA line verifies nothing");
}

void TestSettingsFile::shouldKeepValuesWhenFileIsMissing()
{
    QVERIFY(!loadSettingsFile(conf()));
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("old-host"));
    QCOMPARE(ConnectionSettings::dbUser, QStringLiteral("old-user"));
    QCOMPARE(ConnectionSettings::dbPassword, QStringLiteral("old-password"));
}

// Where the system's code page is not UTF-8, the values of these files arrive as other letters.
void TestSettingsFile::shouldTellKeyLinesThatLookLikeUtf8_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("utf8");

    QTest::newRow("UTF-8 password, as Notepad saves it")
        << QByteArray("hname:h\r\nMySQLu:u\r\nMySQLp:p\xc3\xa4ss\xe2\x82\xac\r\n") << true;
    QTest::newRow("UTF-8 user") << QByteArray("MySQLu:J\xc3\xb6rg\n") << true;
    QTest::newRow("ASCII only") << QByteArray("hname:h\nMySQLu:u\nMySQLp:secret\n") << false;
    QTest::newRow("UTF-8 in other lines only")
        << QByteArray("# Zugangsdaten f\xc3\xbcr Quorvo\nMySQLp:secret\n") << false;
    QTest::newRow("8-bit code page") << EightBit << false;
    QTest::newRow("UTF-8 after its byte order mark")
        << QByteArray("\xef\xbb\xbfMySQLp:p\xc3\xa4ss\n") << false;
    QTest::newRow("UTF-16") << utf16(UnicodeSaved, QStringConverter::Utf16LE) << false;
}

void TestSettingsFile::shouldTellKeyLinesThatLookLikeUtf8()
{
    QFETCH(QByteArray, content);
    QVERIFY(!keyLinesLookLikeUtf8(conf()));
    writeFile(conf(), content);
    QTEST(keyLinesLookLikeUtf8(conf()), "utf8");
}

void TestSettingsFile::shouldRewriteChangedKeyLinesOnly_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<SettingsChanges>("changes");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("other lines and order kept")
        << QByteArray("# Quorvo\nMySQLp:p\nfoo:bar\nhname:h\n\nMySQLu:u\nHNAME:x\n") << AllNew
        << QByteArray("# Quorvo\nMySQLp:np\nfoo:bar\nhname:nh\n\nMySQLu:nu\nHNAME:x\n");
    QTest::newRow("every occurrence replaced")
        << QByteArray("hname:a\nMySQLu:b\nhname:c\nMySQLp:d\nMySQLu:e\n") << AllNew
        << QByteArray("hname:nh\nMySQLu:nu\nhname:nh\nMySQLp:np\nMySQLu:nu\n");
    QTest::newRow("extra fields of a changed line dropped")
        << QByteArray("hname:a:b:c\nMySQLu\nMySQLp:x:y\n") << AllNew
        << QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n");
    QTest::newRow("line ends kept, also on changed lines")
        << QByteArray("hname:h\r\nnote\r\nMySQLu:u\nMySQLp:p\r\n") << AllNew
        << QByteArray("hname:nh\r\nnote\r\nMySQLu:nu\nMySQLp:np\r\n");
    QTest::newRow("last line without line end keeps none")
        << QByteArray("note\nhname:h\nMySQLp:p\nMySQLu:u") << AllNew
        << QByteArray("note\nhname:nh\nMySQLp:np\nMySQLu:nu");
    QTest::newRow("empty password") << QByteArray("hname:h\nMySQLu:u\nMySQLp:old\n")
                                    << SettingsChanges{{}, {}, QStringLiteral("")}
                                    << QByteArray("hname:h\nMySQLu:u\nMySQLp:\n");
    QTest::newRow("unread password survives a new host")
        << QByteArray("hname:h\nMySQLu:u:x\nMySQLp:ab:cd\n")
        << SettingsChanges{QStringLiteral("nh"), {}, {}}
        << QByteArray("hname:nh\nMySQLu:u:x\nMySQLp:ab:cd\n");
    // Only a changed value needs its line.
    QTest::newRow("no password line, host changed")
        << QByteArray("hname:h\nMySQLu:u\n") << SettingsChanges{QStringLiteral("nh"), {}, {}}
        << QByteArray("hname:nh\nMySQLu:u\n");
    QTest::newRow("Windows-1252 file stays Windows-1252")
        << EightBit << SettingsChanges{QStringLiteral("h\u00f6st"), {}, QStringLiteral("\u20acuro")}
        << QByteArray("# Zugangsdaten f\xfcr den Schl\xfcsselserver\r\nhname:h\xf6st\r\n"
                      "MySQLu:u\r\nMySQLp:\x80uro\r\n");
    QTest::newRow("UTF-8 file stays UTF-8")
        << QByteArray("# f\xc3\xbcr\nhname:h\nMySQLu:u\nMySQLp:p\n")
        << SettingsChanges{{}, {}, QStringLiteral("p\u00e4ss")}
        << QByteArray("# f\xc3\xbcr\nhname:h\nMySQLu:u\nMySQLp:p\xc3\xa4ss\n");
    QTest::newRow("byte order mark kept")
        << QByteArray("\xef\xbb\xbfhname:h\nMySQLu:u\nMySQLp:p\n")
        << SettingsChanges{QStringLiteral("nh"), {}, {}}
        << QByteArray("\xef\xbb\xbfhname:nh\nMySQLu:u\nMySQLp:p\n");
    QTest::newRow("UTF-16 LE stays UTF-16 LE")
        << utf16(Unicode, QStringConverter::Utf16LE) << UnicodeChanges
        << utf16(UnicodeSaved, QStringConverter::Utf16LE);
    QTest::newRow("UTF-16 BE stays UTF-16 BE")
        << utf16(Unicode, QStringConverter::Utf16BE) << UnicodeChanges
        << utf16(UnicodeSaved, QStringConverter::Utf16BE);
    // A missing line is added for a changed value only; the unchanged ones come from memory in
    // a new file.
    QTest::newRow("missing file made with all three lines")
        << QByteArray() << SettingsChanges{QStringLiteral("nh"), {}, {}}
        << QByteArray("hname:nh\nMySQLu:old-user\nMySQLp:old-password\n");
    QTest::newRow("empty file") << QByteArray("") << AllNew
                                << QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n");
    QTest::newRow("missing lines added in key order at the end")
        << QByteArray("MYSQLP:p\nMySQLu:u\n") << AllNew
        << QByteArray("MYSQLP:p\nMySQLu:nu\nhname:nh\nMySQLp:np\n");
    // The CA certificate's line holds a Windows path whole.
    QTest::newRow("CA certificate line added at the end")
        << QByteArray("hname:h\nMySQLu:u\nMySQLp:p\n")
        << SettingsChanges{{}, {}, {}, QStringLiteral("C:\\Quorvo\\ca.pem")}
        << QByteArray("hname:h\nMySQLu:u\nMySQLp:p\nMySQLca:C:\\Quorvo\\ca.pem\n");
    QTest::newRow("CA certificate line replaced whole")
        << QByteArray("MySQLca:D:\\old.pem\nhname:h\n")
        << SettingsChanges{{}, {}, {}, QStringLiteral("ca:1.pem")}
        << QByteArray("MySQLca:ca:1.pem\nhname:h\n");
    QTest::newRow("missing line after a last line without line end, in the file's style")
        << QByteArray("hname:h\r\nMySQLu:u") << SettingsChanges{{}, {}, QStringLiteral("np")}
        << QByteArray("hname:h\r\nMySQLu:u\r\nMySQLp:np\r\n");
}

void TestSettingsFile::shouldRewriteChangedKeyLinesOnly()
{
    QFETCH(QByteArray, before);
    QFETCH(SettingsChanges, changes);
    if (!before.isNull()) // null: no file
        writeFile(conf(), before);

    QCOMPARE(rewriteSettingsFile(conf(), changes), RewriteFailure::None);
    QTEST(readFile(conf()), "after");
    QVERIFY(loadSettingsFile(conf()));
    QCOMPARE(ConnectionSettings::dbCaFile, changes.caFile.value_or(QString()));
    QVERIFY(!QFile::exists(tmp()));
    QVERIFY(!QFile::exists(conf() + QStringLiteral(".lock")));
#ifdef Q_OS_UNIX
    if (before.isNull())
        QCOMPARE(modeOf(conf()), 0600u);
#endif
}

void TestSettingsFile::shouldRefuseWithoutWriting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<SettingsChanges>("changes");
    QTest::addColumn<RewriteFailure>("failure");

    // Written as '?', the host would silently be another one.
    QTest::newRow("character that Windows-1252 lacks")
        << EightBit << SettingsChanges{QStringLiteral("h\u0151st"), {}, {}}
        << RewriteFailure::ValueNotEncodable;
    QTest::newRow("another save holds the lock") << EightBit << AllNew << RewriteFailure::Busy;
    // A changed line written after half a character would read back as other characters.
    QTest::newRow("UTF-16 with an odd byte")
        << utf16(QStringLiteral("hname:h\r\nMySQLu:u"), QStringConverter::Utf16LE) + 'x'
        << SettingsChanges{{}, {}, QStringLiteral("p")} << RewriteFailure::ReadFailed;
    QTest::newRow("UTF-16 with half a character pair")
        << utf16(QStringLiteral("hname:h\r\n"), QStringConverter::Utf16BE) +
               QByteArray("\xD8\x3D\x00\x0D\x00\x0A", 6)
        << SettingsChanges{{}, {}, QStringLiteral("p")} << RewriteFailure::ReadFailed;
}

void TestSettingsFile::shouldRefuseWithoutWriting()
{
    QFETCH(QByteArray, content);
    QFETCH(SettingsChanges, changes);
    QFETCH(RewriteFailure, failure);
    writeFile(conf(), content);
    writeFile(tmp(), "left from an earlier attempt");
    QLockFile otherSave(conf() + QStringLiteral(".lock"));
    QVERIFY(failure != RewriteFailure::Busy || otherSave.lock());

    QCOMPARE(rewriteSettingsFile(conf(), changes), failure);
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

    QCOMPARE(rewriteSettingsFile(conf(), AllNew), RewriteFailure::None);
    QCOMPARE(modeOf(conf()), mode);
    QCOMPARE(readFile(conf()), QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n"));
#endif
}

// A folder's default access list would hand the new file to whoever it names.
void TestSettingsFile::shouldGrantNoneThatTheFoldersAccessListNames()
{
#ifndef Q_OS_LINUX
    QSKIP("Access lists as extended attributes are a Linux notion");
#else
    // Owner rw, the user "nobody" r, group r, mask r, others nothing: the layout the kernel
    // keeps (version 2; tag, permissions, id per entry, in tag order).
    QByteArray acl;
    const auto put = [&acl](quint16 tag, quint16 perm, quint32 id) {
        acl.append(reinterpret_cast<const char *>(&tag), 2)
            .append(reinterpret_cast<const char *>(&perm), 2)
            .append(reinterpret_cast<const char *>(&id), 4);
    };
    const quint32 version = 2;
    acl.append(reinterpret_cast<const char *>(&version), 4);
    put(0x01, 6, ~0u);
    put(0x02, 4, 65534);
    put(0x04, 4, ~0u);
    put(0x10, 4, ~0u);
    put(0x20, 0, ~0u);
    writeFile(conf(), "hname:h\nMySQLu:u\nMySQLp:secret\n");
    QCOMPARE(::chmod(QFile::encodeName(conf()).constData(), 0640), 0);
    if (::setxattr(QFile::encodeName(dir->path()).constData(), "system.posix_acl_default",
                   acl.constData(), acl.size(), 0) != 0)
        QSKIP("This file system keeps no access lists");

    QCOMPARE(rewriteSettingsFile(conf(), AllNew), RewriteFailure::None);
    QCOMPARE(
        ::getxattr(QFile::encodeName(conf()).constData(), "system.posix_acl_access", nullptr, 0),
        ssize_t(-1));
    QCOMPARE(errno, ENODATA);
    QCOMPARE(modeOf(conf()), 0640u);
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

    QCOMPARE(rewriteSettingsFile(conf(), AllNew), RewriteFailure::None);
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
    QTest::addColumn<QString>("folder"); // the name at which a folder with a file in it stands
    QTest::addColumn<RewriteFailure>("failure");

    QTest::newRow("settings file is a directory") << "Quorvo.conf" << RewriteFailure::ReadFailed;
    QTest::newRow("temporary file name is a directory")
        << "Quorvo.conf.tmp" << RewriteFailure::CreateFailed;
    // It would look like a lock that another save holds for ever.
    QTest::newRow("lock file name is a directory")
        << "Quorvo.conf.lock" << RewriteFailure::CreateFailed;
}

void TestSettingsFile::shouldLeaveFilesWhenOpeningFails()
{
    QFETCH(QString, folder);
    const QByteArray content("hname:h\nMySQLu:u\nMySQLp:p\n");
    const bool confIsDirectory = folder == u"Quorvo.conf";
    if (!confIsDirectory)
        writeFile(conf(), content);
    QVERIFY(QDir(dir->path()).mkdir(folder));
    writeFile(dir->filePath(folder) + QStringLiteral("/kept"), "");

    QTEST(rewriteSettingsFile(conf(), AllNew), "failure");
    QVERIFY(QFileInfo(dir->filePath(folder)).isDir());
    if (!confIsDirectory)
        QCOMPARE(readFile(conf()), content);
    QCOMPARE(QFileInfo::exists(tmp()), folder == u"Quorvo.conf.tmp");
}

void TestSettingsFile::shouldKeepOldFileWhenWritingFails()
{
#ifndef Q_OS_UNIX
    QSKIP("Needs a file-size resource limit");
#else
    // A full disk, as a file-size limit: the new file cannot hold the whole content.
    // Longer than the limit, which the lock file stays within.
    const QByteArray content = QByteArray(300, '#') + "\nhname:h\nMySQLu:u\nMySQLp:p\n";
    writeFile(conf(), content);

    RewriteFailure result = RewriteFailure::None;
    {
        FileSizeLimit limit(256);
        QVERIFY(limit.isActive());
        result = rewriteSettingsFile(conf(), AllNew);
    }

    QCOMPARE(result, RewriteFailure::WriteFailed);
    QCOMPARE(readFile(conf()), content);
    QVERIFY(!QFile::exists(tmp()));
#endif
}

#ifdef Q_OS_UNIX
void TestSettingsFile::rewriteWithoutRoot(unsigned folderMode, RewriteFailure &result)
{
    const QByteArray folder = QFile::encodeName(dir->path());
    QCOMPARE(::chmod(folder.constData(), folderMode), 0);
    {
        const WithoutRoot user;
        result = rewriteSettingsFile(conf(), AllNew);
    }
    QCOMPARE(::chmod(folder.constData(), 0700), 0);
}
#endif

void TestSettingsFile::shouldKeepBothFilesWhenReplaceFails()
{
#ifndef Q_OS_UNIX
    QSKIP("Needs a sticky folder");
#else
    if (::geteuid() != 0)
        QSKIP("Only root can give the folder and the file to another user than the one saving");
    // Anybody may add a file to a sticky folder, but only its owner may replace it.
    const QByteArray content("hname:h\nMySQLu:u\nMySQLp:p\n");
    writeFile(conf(), content);
    RewriteFailure result = RewriteFailure::None;
    rewriteWithoutRoot(01777, result);

    QCOMPARE(result, RewriteFailure::RenameFailed);
    QCOMPARE(readFile(conf()), content);
    QCOMPARE(readFile(tmp()), QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n"));
#endif
}

void TestSettingsFile::shouldTreatNonRegularFileAsUnreadable_data()
{
    QTest::addColumn<QByteArray>("linkTo"); // empty: the settings file is a FIFO

    QTest::newRow("FIFO") << QByteArray();
    QTest::newRow("link to a device without end") << QByteArray("/dev/zero");
}

void TestSettingsFile::shouldTreatNonRegularFileAsUnreadable()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs and device files are a Unix notion");
#else
    QFETCH(QByteArray, linkTo);
    const QByteArray path = QFile::encodeName(conf());
    QCOMPARE(linkTo.isEmpty() ? ::mkfifo(path.constData(), 0600)
                              : ::symlink(linkTo.constData(), path.constData()),
             0);

    // Neither waits for a writer nor reads on without end.
    QVERIFY(!loadSettingsFile(conf()));
    QCOMPARE(ConnectionSettings::dbHost, QStringLiteral("old-host"));
    QCOMPARE(rewriteSettingsFile(conf(), AllNew), RewriteFailure::ReadFailed);
    QVERIFY(!QFileInfo(conf()).isFile());
    QVERIFY(!QFileInfo::exists(tmp()));
#endif
}

void TestSettingsFile::shouldWriteThroughNoLinkButTheSettingsFile_data()
{
    QTest::addColumn<QByteArray>("confLink"); // empty: Quorvo.conf is a regular file
    QTest::addColumn<QByteArray>("tmpLink");  // a leftover Quorvo.conf.tmp; "|": a FIFO
    QTest::addColumn<bool>("writable");       // the folder of the file that the link leads to

    const QByteArray shared("shared/settings.conf");
    QTest::newRow("settings file links to a file") << shared << QByteArray() << true;
    QTest::newRow("linked file's folder not writable") << shared << QByteArray() << false;
    QTest::newRow("leftover tmp links to another file") << QByteArray() << shared << true;
    QTest::newRow("leftover tmp is a FIFO") << QByteArray() << QByteArray("|") << true;
}

void TestSettingsFile::shouldWriteThroughNoLinkButTheSettingsFile()
{
#ifndef Q_OS_UNIX
    QSKIP("Needs symbolic links and FIFOs");
#else
    QFETCH(QByteArray, confLink);
    QFETCH(QByteArray, tmpLink);
    QFETCH(bool, writable);
    const QByteArray content("# shared\nhname:h\nMySQLu:u\nMySQLp:p\n");
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("shared")));
    const QString settings = dir->filePath(QStringLiteral("shared/settings.conf"));
    writeFile(settings, content);
    QCOMPARE(::chmod(QFile::encodeName(settings).constData(), 0644), 0);
    const QByteArray confPath = QFile::encodeName(conf()), tmpPath = QFile::encodeName(tmp());
    if (confLink.isEmpty()) {
        writeFile(conf(), content);
        QCOMPARE(::chmod(confPath.constData(), 0600), 0);
    } else {
        QCOMPARE(::symlink(confLink.constData(), confPath.constData()), 0);
    }
    if (tmpLink == "|")
        QCOMPARE(::mkfifo(tmpPath.constData(), 0600), 0);
    else if (!tmpLink.isEmpty())
        QCOMPARE(::symlink(tmpLink.constData(), tmpPath.constData()), 0);

    RewriteFailure result = RewriteFailure::None;
    if (writable) {
        result = rewriteSettingsFile(conf(), AllNew);
    } else {
        const QByteArray shared = QFile::encodeName(dir->filePath(QStringLiteral("shared")));
        QCOMPARE(::chmod(shared.constData(), 0555), 0);
        rewriteWithoutRoot(0755, result);
        QCOMPARE(::chmod(shared.constData(), 0755), 0);
    }

    QCOMPARE(result, writable ? RewriteFailure::None : RewriteFailure::LinkTargetFolderNotWritable);
    const QByteArray saved("# shared\nhname:nh\nMySQLu:nu\nMySQLp:np\n");
    if (confLink.isEmpty()) {
        // Neither the file that the leftover led to nor its mode has changed.
        QCOMPARE(readFile(conf()), saved);
        QCOMPARE(modeOf(conf()), 0600u);
        QVERIFY(!QFileInfo(conf()).isSymLink());
        QCOMPARE(readFile(settings), content);
        QCOMPARE(modeOf(settings), 0644u);
    } else {
        QCOMPARE(QFileInfo(conf()).symLinkTarget(), QDir(dir->path()).absoluteFilePath(confLink));
        QCOMPARE(readFile(settings), writable ? saved : content);
    }
    QVERIFY(!QFileInfo::exists(tmp()) && !QFileInfo(tmp()).isSymLink());
    QVERIFY(!QFileInfo::exists(settings + QStringLiteral(".tmp")));
#endif
}

void TestSettingsFile::shouldNarrowModeWhenOwnerCannotBeKept_data()
{
    QTest::addColumn<unsigned>("group");
    QTest::addColumn<unsigned>("mode");
    QTest::addColumn<unsigned>("newGroup");
    QTest::addColumn<unsigned>("newMode");

    const unsigned nobody = WithoutRoot::Nobody;
    QTest::newRow("other group loses its bits") << 4321u << 0664u << nobody << 0604u;
    QTest::newRow("same group keeps its bits") << nobody << 0660u << nobody << 0660u;
    QTest::newRow("set-user and set-group bits dropped") << 4321u << 06644u << nobody << 0604u;
}

void TestSettingsFile::shouldNarrowModeWhenOwnerCannotBeKept()
{
#ifndef Q_OS_UNIX
    QSKIP("Owners and groups are a Unix notion");
#else
    if (::geteuid() != 0)
        QSKIP("Only root can give the file to another user than the one saving");
    QFETCH(unsigned, group);
    QFETCH(unsigned, mode);
    // The file belongs to somebody else; "nobody" may read it and write the folder.
    writeFile(conf(), "hname:h\nMySQLu:u\nMySQLp:p\n");
    const QByteArray path = QFile::encodeName(conf());
    QCOMPARE(::chown(path.constData(), 4321, group), 0);
    QCOMPARE(::chmod(path.constData(), mode), 0);

    RewriteFailure result = RewriteFailure::ReadFailed;
    rewriteWithoutRoot(0777, result);

    QCOMPARE(result, RewriteFailure::None);
    QCOMPARE(readFile(conf()), QByteArray("hname:nh\nMySQLu:nu\nMySQLp:np\n"));
    struct stat info
    {
    };
    QCOMPARE(::stat(path.constData(), &info), 0);
    QCOMPARE(info.st_uid, WithoutRoot::Nobody);
    QTEST(unsigned(info.st_gid), "newGroup");
    QTEST(modeOf(conf()), "newMode");
#endif
}

// The racing saves: this program started again saves `count` values of one key and reads the
// file after each save. The other copy changes only the other key, so this key must still hold
// the value saved last. Prints that value; exits with the number of times it was lost.
int saveInTurn(const QString &file, const QString &key, int count)
{
    int lost = 0;
    QString saved;
    QString &read = key == HostKey ? ConnectionSettings::dbHost : ConnectionSettings::dbPassword;
    for (int i = 1; i <= count; ++i) {
        SettingsChanges changes;
        (key == HostKey ? changes.host : changes.password) = key + QString::number(i);
        const RewriteFailure failure = rewriteSettingsFile(file, changes);
        if (failure == RewriteFailure::None)
            saved = key + QString::number(i);
        lost += failure != RewriteFailure::None && failure != RewriteFailure::Busy;
        lost += !loadSettingsFile(file) || read != saved;
    }
    std::fputs(qPrintable(saved), stdout);
    return lost;
}

void TestSettingsFile::shouldKeepEveryChangeOfRacingSaves()
{
    writeFile(conf(), "hname:h\nMySQLu:u\nMySQLp:p\n");
    std::array<QProcess, 2> copies;
    const QStringList keys{HostKey, PasswordKey};
    for (int i = 0; i < 2; ++i)
        copies[i].start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--save"), conf(), keys[i], QStringLiteral("100")});
    QStringList saved;
    for (QProcess &copy : copies) {
        QVERIFY(copy.waitForFinished(120000));
        QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
        QCOMPARE(copy.exitCode(), 0);
        saved << QString::fromUtf8(copy.readAllStandardOutput());
    }
    QCOMPARE(readFile(conf()),
             QStringLiteral("hname:%1\nMySQLu:u\nMySQLp:%2\n").arg(saved[0], saved[1]).toUtf8());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 5 && arguments[1] == QStringLiteral("--save"))
        return saveInTurn(arguments[2], arguments[3], arguments[4].toInt());
    TestSettingsFile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsfile.moc"
