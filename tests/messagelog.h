#pragma once

// Collects what the code under test writes to Qt's message output.

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace testsupport {

class MessageLog
{
public:
    struct Message
    {
        QtMsgType type;
        QString text;
    };

    MessageLog()
    {
        current = this;
        previous = qInstallMessageHandler(&MessageLog::handle);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    // Messages come from every thread: the provisioning run writes from its own.
    QList<Message> all() const
    {
        const QMutexLocker lock(&mutex);
        return messages;
    }
    QStringList texts(QtMsgType type) const
    {
        const QMutexLocker lock(&mutex);
        QStringList result;
        for (const Message &message : messages)
            if (message.type == type)
                result << message.text;
        return result;
    }
    QStringList debug() const { return texts(QtDebugMsg); }
    QStringList warnings() const { return texts(QtWarningMsg); }
    void clear()
    {
        const QMutexLocker lock(&mutex);
        messages.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        MessageLog *log = current;
        {
            const QMutexLocker lock(&log->mutex);
            log->messages.append({type, text});
        }
        // Still shown in the test's output, which helps when a case fails.
        if (log->previous)
            log->previous(type, context, text);
    }

    static inline MessageLog *current = nullptr;
    QtMessageHandler previous = nullptr;
    mutable QMutex mutex;
    QList<Message> messages;
};

} // namespace testsupport
