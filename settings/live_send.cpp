#include "settings/live_send.h"

#include <utility>

LiveSend::LiveSend(int intervalMs, std::function<void()> send, QObject *parent)
    : QObject(parent), send_(std::move(send)), intervalMs_(intervalMs)
{
    gap_.setSingleShot(true);
    // A coarse timer may fire a little early, which would let two sends come
    // closer than the interval.
    gap_.setTimerType(Qt::PreciseTimer);
    connect(&gap_, &QTimer::timeout, this, &LiveSend::onGapOver);
}

void LiveSend::request()
{
    pending_ = true;
    // Deferred even when the gap is over: a slider emits its action before
    // it takes the new value.
    if (!gap_.isActive())
        gap_.start(0);
}

void LiveSend::onGapOver()
{
    if (!std::exchange(pending_, false))
        return;
    send_();
    gap_.start(intervalMs_);
}
