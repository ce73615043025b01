#include "input/report_batcher.h"

#include "input/input_report.h"

#include <QMetaObject>

#include <algorithm>
#include <utility>

namespace {

void widen(quint16 value, quint16 &low, quint16 &high)
{
    low = std::min(low, value);
    high = std::max(high, value);
}

} // namespace

ReportBatcher::ReportBatcher(QObject *parent) : QObject(parent)
{
    frame_.setSingleShot(true);
    frame_.setTimerType(Qt::PreciseTimer);
    connect(&frame_, &QTimer::timeout, this, &ReportBatcher::flush);
}

void ReportBatcher::setSink(Sink sink)
{
    sink_ = std::move(sink);
}

void ReportBatcher::setBarsOnScreen(std::function<bool()> onScreen)
{
    barsOnScreen_ = std::move(onScreen);
}

void ReportBatcher::add(QByteArray payload)
{
    const InputPayload report = decodeInputPayload(payload);
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_.empty() && pending_.back().buttons == report.buttons) {
            ReportRun &run = pending_.back();
            run.last = std::move(payload);
            widen(report.left, run.leftLow, run.leftHigh);
            widen(report.right, run.rightLow, run.rightHigh);
            ++run.reports;
        } else {
            ReportRun run;
            run.last = std::move(payload);
            run.buttons = report.buttons;
            run.leftLow = run.leftHigh = report.left;
            run.rightLow = run.rightHigh = report.right;
            run.reports = 1;
            pending_.push_back(std::move(run));
        }
        const bool becameUrgent = !urgent_ && (!seenReport_ || report.buttons != previousButtons_);
        urgent_ = urgent_ || becameUrgent;
        seenReport_ = true;
        previousButtons_ = report.buttons;
        // While a frame timer runs, the timer takes further reports along;
        // only a first press or release may need it sooner.
        post = !wakePosted_ && (becameUrgent || !timerArmed_);
        if (post)
            wakePosted_ = true;
    }
    if (post)
        QMetaObject::invokeMethod(this, &ReportBatcher::onWake, Qt::QueuedConnection);
}

void ReportBatcher::onWake()
{
    const int paddleInterval = !barsOnScreen_ || barsOnScreen_() ? kFrameIntervalMs : kOffScreenIntervalMs;
    qint64 due = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wakePosted_ = false;
        const int interval = urgent_ ? kButtonIntervalMs : paddleInterval;
        if (sinceHandOver_.isValid())
            due = interval - sinceHandOver_.elapsed();
        if (due > 0)
            timerArmed_ = true;
    }
    if (due <= 0)
        flush();
    else if (!frame_.isActive() || frame_.remainingTime() > due)
        frame_.start(int(due));
}

void ReportBatcher::flush()
{
    std::vector<ReportRun> runs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        runs.swap(pending_);
        urgent_ = false;
        timerArmed_ = false;
    }
    frame_.stop();
    if (runs.empty())
        return;
    sinceHandOver_.start();
    for (const ReportRun &run : runs) {
        if (sink_)
            sink_(run);
    }
}
