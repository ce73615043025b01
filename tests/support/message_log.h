#pragma once

// Every message of the running test, from any thread (the reader thread's
// closing line among them), kept for checks and passed on to QtTest.
#include <QMutex>
#include <QStringList>
#include <QtGlobal>

namespace wheeltest::messageLog {

inline QMutex mutex;
inline QStringList lines;
inline QtMessageHandler next = nullptr;

inline void keep(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker locker(&mutex);
        lines << message;
    }
    if (next)
        next(type, context, message);
}

inline void install()
{
    next = qInstallMessageHandler(keep);
}

inline void clear()
{
    QMutexLocker locker(&mutex);
    lines.clear();
}

inline QStringList taken()
{
    QMutexLocker locker(&mutex);
    return lines;
}

} // namespace wheeltest::messageLog
