#pragma once

#include "input/input_report.h"
#include "input/report_batcher.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>
#include <functional>

class QAbstractButton;
class QProgressBar;
class QWidget;

// The clutch paddle calibration the window keeps: the extremes seen while a
// paddle's calibrate button is checked.
struct PaddleExtremes
{
    quint32 &leftMin;
    quint32 &leftMax;
    quint32 &rightMin;
    quint32 &rightMax;
};

// Grows [min, max] to take in value.
void widenExtremes(quint32 value, quint32 &min, quint32 &max);

// Sets a progress bar's value without the synchronous repaint setValue does
// for a visible bar: the paint is only requested, so many reports in a row
// cost one paint at the next frame and the bar still ends on the last value.
// A value the bar would refuse (outside its range) changes nothing.
void setBarValueDeferred(QProgressBar *bar, int value);

// What the INPUTS page shows of the wheel's input reports: the two paddle
// bars, the calibration extremes and the 52 button indicators.
//
// Each indicator's lit state lives in its status tip ("SHOW" / "HIDE"), as
// the rest of the window expects. Reports arrive by the thousand per second,
// so only widgets whose state really changes are touched: an indicator is
// shown, hidden or retipped only when it differs from what the report wants,
// and a bar only when its value moves. The page looks exactly as if every
// widget had been set on every report.
class ButtonDisplay
{
public:
    // Finds the bars, calibrate buttons, the extra-shifter check box and the
    // indicators below `form` by object name, once.
    explicit ButtonDisplay(QWidget *form);

    // Receives the 0-based indices of the buttons a report released, in
    // ascending order, after every report that released at least one.
    using ReleaseHandler = std::function<void(const QList<qint32> &released)>;
    void setReleaseHandler(ReleaseHandler handler);

    // One 16-byte payload, decoded in full. releasedButtons is rebuilt with
    // the buttons this report released; then the release handler runs.
    void showReport(const QByteArray &payload, PaddleExtremes extremes, QList<qint32> &releasedButtons);

    // A run of reports with the same buttons: its newest payload as above,
    // and the calibration widened by every reading of the run.
    void showRun(const ReportRun &run, PaddleExtremes extremes, QList<qint32> &releasedButtons);

    // Whether either paddle bar can be seen now.
    bool barsOnScreen() const;

    // How the indicators stand, read from their status tips.
    IndicatorStates indicatorStates() const;

private:
    QProgressBar *leftBar_ = nullptr;
    QProgressBar *rightBar_ = nullptr;
    QAbstractButton *calibrateLeft_ = nullptr;
    QAbstractButton *calibrateRight_ = nullptr;
    QAbstractButton *extraShifters_ = nullptr;
    std::array<QWidget *, kIndicatorCount> indicators_{};
    ReleaseHandler releaseHandler_;
};
