#pragma once

// Collects what the code under test writes to Qt's message output.

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

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

    // Called at every message, at the moment it is written.
    std::function<void(const Message &)> onMessage;

    const QList<Message> &all() const { return messages; }
    QStringList texts(QtMsgType type) const
    {
        QStringList result;
        for (const Message &message : messages)
            if (message.type == type)
                result << message.text;
        return result;
    }
    QStringList debug() const { return texts(QtDebugMsg); }
    QStringList warnings() const { return texts(QtWarningMsg); }
    void clear() { messages.clear(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        MessageLog *log = current;
        log->messages.append({type, text});
        if (log->onMessage)
            log->onMessage(log->messages.last());
        // Still shown in the test's output, which helps when a case fails.
        if (log->previous)
            log->previous(type, context, text);
    }

    static inline MessageLog *current = nullptr;
    QtMessageHandler previous = nullptr;
    QList<Message> messages;
};

} // namespace testsupport
