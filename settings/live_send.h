#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Sends a live value at most once per interval however often it is asked,
// and never drops the last request: a held arrow key moves a slider some
// thirty times a second, and each step as its own report would keep the
// wheel's command channel busy for nothing. The send itself reads the current
// value, so a request that is folded into a later one loses nothing.
class LiveSend : public QObject
{
    Q_OBJECT

public:
    LiveSend(int intervalMs, std::function<void()> send, QObject *parent = nullptr);

    // Sends as soon as control returns to the event loop when the last send
    // is at least an interval old, else at the end of that interval.
    void request();

private slots:
    void onGapOver();

private:
    std::function<void()> send_;
    int intervalMs_;
    bool pending_ = false;
    // Runs from every send until one interval later; while it runs, requests
    // only mark the value pending.
    QTimer gap_;
};
