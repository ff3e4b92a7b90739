#pragma once

// Small helpers shared by the test classes: file contents, the working directory, and
// running a step without root's privileges so that permission bits count.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTest>
#include <QTranslator>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace testsupport {

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(content), content.size());
}

// The raw bytes, or a null array when the file cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A message as the dialogs show a failure: in red markup, in the dark red that the tests' light
// window colour (#efefef) gets.
inline QString red(const QString &message)
{
    return QStringLiteral("<font color='#c00000'>") + message + QStringLiteral("</font>");
}

// Answers every text of one context with a marked copy, to show which context a text uses.
class MarkingTranslator : public QTranslator
{
public:
    explicit MarkingTranslator(const char *marked) : context(marked) {}

    QString translate(const char *textContext, const char *sourceText, const char *,
                      int) const override
    {
        if (qstrcmp(textContext, context) != 0)
            return {};
        return QStringLiteral("[%1]").arg(QString::fromUtf8(sourceText));
    }
    bool isEmpty() const override { return false; }

private:
    const char *context;
};

// The settings file is found in the working directory; a test that uses it runs in its own.
class CurrentDirectory
{
public:
    explicit CurrentDirectory(const QString &path) : previous(QDir::currentPath())
    {
        QDir::setCurrent(path);
    }
    ~CurrentDirectory() { QDir::setCurrent(previous); }
    CurrentDirectory(const CurrentDirectory &) = delete;
    CurrentDirectory &operator=(const CurrentDirectory &) = delete;

private:
    QString previous;
};

#ifdef Q_OS_UNIX
// Permission bits do not stop root, who runs CI. While this lives, a root process acts with
// the effective user "nobody", to whom `dir` and everything in it are handed over first.
class WithoutRoot
{
public:
    static constexpr uid_t Nobody = 65534;

    explicit WithoutRoot(const QString &dir)
    {
        if (::geteuid() != 0)
            return;
        if (!dir.isEmpty())
            chownTree(dir);
        dropped = ::setegid(Nobody) == 0 && ::seteuid(Nobody) == 0;
    }
    ~WithoutRoot()
    {
        if (dropped) {
            [[maybe_unused]] const int u = ::seteuid(0);
            [[maybe_unused]] const int g = ::setegid(0);
        }
    }
    // Hands nothing over: everything keeps its owner, as when somebody else's file is saved.
    WithoutRoot() : WithoutRoot(QString()) {}
    WithoutRoot(const WithoutRoot &) = delete;
    WithoutRoot &operator=(const WithoutRoot &) = delete;

private:
    static void chownTree(const QString &dir)
    {
        [[maybe_unused]] int rc = ::chown(QFile::encodeName(dir).constData(), Nobody, Nobody);
        for (const QString &name :
             QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            rc = ::chown(QFile::encodeName(dir + QLatin1Char('/') + name).constData(), Nobody,
                         Nobody);
    }

    bool dropped = false;
};

// A full disk, as far as this process can tell: while this lives, no file grows beyond `bytes`
// and a write past that fails (with the signal that would end the process ignored).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes) : previousHandler(std::signal(SIGXFSZ, SIG_IGN))
    {
        active = ::getrlimit(RLIMIT_FSIZE, &previous) == 0;
        rlimit small = previous;
        small.rlim_cur = bytes;
        active = active && ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        if (active)
            ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isActive() const { return active; }

private:
    void (*previousHandler)(int);
    rlimit previous{};
    bool active = false;
};

// The permission bits of a file, as the file system holds them.
inline unsigned modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return ~0u;
    return info.st_mode & 07777u;
}
#endif

} // namespace testsupport
