#pragma once

#include <QByteArray>
#include <QThread>

// Reads the wheel's input reports and hands each one to the GUI thread.
// It is also the part that notices a lost wheel: a failed read closes the
// wheel and emits deviceDisconnect().
class QuorEvent : public QThread
{
    Q_OBJECT

public:
    explicit QuorEvent(QObject *parent = nullptr);

    // One input report is 17 bytes: the report id, then the 16-byte payload.
    static constexpr int kReportSize = 17;
    static constexpr int kReadTimeoutMs = 100;

signals:
    void eventTrigger(QByteArray payload);
    void deviceDisconnect();

protected:
    void run() override;
};
