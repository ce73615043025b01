#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QtGlobal>
#include <QTimer>

#include <functional>
#include <mutex>
#include <vector>

// Consecutive input reports with the same buttons held: only the paddles
// moved between them. `last` is the newest payload of the run; the lows and
// highs are the extremes of each paddle over every report of it, so the
// calibration sees each reading although only the newest is shown.
struct ReportRun
{
    QByteArray last;
    quint64 buttons = 0;
    quint16 leftLow = 0;
    quint16 leftHigh = 0;
    quint16 rightLow = 0;
    quint16 rightHigh = 0;
    int reports = 0;
};

// Stands between the reader thread and the display. A wheel reports up to
// 8,000 times a second with paddle readings that jitter on every report;
// waking the GUI thread and repainting for each costs a good part of a core,
// while a screen shows 60 frames a second. Reports are gathered into runs on
// the reader's thread and handed to the GUI thread at most once per frame: a
// run that presses or releases anything is due one 60 Hz frame after the
// last hand-over, paddle-only runs a little later. Runs reach the sink in
// arrival order and one by one, none is dropped, so every press and release
// is seen as if reports had come singly.
class ReportBatcher : public QObject
{
    Q_OBJECT

public:
    // A press lights by the next 60 Hz frame.
    static constexpr int kButtonIntervalMs = 16;
    // The bars: 40 updates a second, comfortably above the 30 they promise.
    static constexpr int kFrameIntervalMs = 25;
    // While the bars are not on screen (window in the tray, another page)
    // paddle-only runs only feed the calibration, which keeps their extremes.
    static constexpr int kOffScreenIntervalMs = 250;

    explicit ReportBatcher(QObject *parent = nullptr);

    using Sink = std::function<void(const ReportRun &run)>;
    void setSink(Sink sink);
    // Whether the paddle bars can be seen; GUI thread. Unset: always.
    void setBarsOnScreen(std::function<bool()> onScreen);

    // Hands every pending run to the sink now; GUI thread. The window calls
    // it once the reader has stopped, so nothing of a lost wheel is shown
    // after the waiting screen.
    void flush();

public slots:
    // One 16-byte payload, from any thread (a direct connection from the
    // reader's eventTrigger).
    void add(QByteArray payload);

private slots:
    void onWake();

private:
    // A standard mutex, not QMutex: ThreadSanitizer sees the former's locks,
    // not those inside the uninstrumented Qt.
    std::mutex mutex_;
    std::vector<ReportRun> pending_;
    quint64 previousButtons_ = 0;
    bool seenReport_ = false;
    bool urgent_ = false;
    bool wakePosted_ = false;
    bool timerArmed_ = false;
    // GUI thread only.
    QTimer frame_;
    QElapsedTimer sinceHandOver_;
    Sink sink_;
    std::function<bool()> barsOnScreen_;
};
