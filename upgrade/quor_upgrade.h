#pragma once

#include "upgrade/dfu_probe.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <mutex>

// Moves one firmware image into the wheel off the GUI thread.
//
// progress(int) carries only progress:
//   0..96  share of the image sent (HidTransfer: 0..95, emitted on change;
//          Dfu: one value per block from the flasher)
//   97..99 the one-second steps after HidTransfer's closing command
//   100    done
//   1..5   Dfu only: the boot loader is not on the bus yet (attempt / 6 + 1)
// A run that does not reach 100 ends with failed(code, what): code is
// hid_send_feature_report's result, the flasher's code, or one of
// UpgradeFailure; `what` says what failed and where, for the user.
class QuorUpgrade : public QThread
{
    Q_OBJECT

public:
    enum UpgradeMode
    {
        HidTransfer = 0,
        Dfu = 1,
    };
    enum UpgradeFailure
    {
        NoWheelOpen = -150,
        ImageUnreadable = -151,
    };

    explicit QuorUpgrade(QObject *parent = nullptr);
    // Stops and waits for a run still in progress, through waitForFinished().
    ~QuorUpgrade() override;

    // Set right before start(), never while a run is in progress.
    void setFilePath(const QString &path) { filePath = path; }
    void setMode(int value) { mode = value; }
    // Dfu: the loader to flash; bus 0 takes the first one found.
    void setLoader(const UsbLocation &location) { loader = location; }
    // Only an image the program downloaded itself is removed once it is in
    // the wheel; a file the user picked is theirs to keep, wherever it lies.
    void setRemoveAfterSuccess(bool remove) { removeAfterSuccess = remove; }

    // Asks a running update to stop at its next wait; it then ends with
    // DfuCancelled (the wheel may be left in its boot loader). The next
    // start() clears it.
    void cancel() { cancelled = true; }

    // QThread::wait() and isRunning() synchronise inside Qt, where the thread
    // sanitizer cannot see it. These two also pass through runLock, which
    // run() holds from start to end, so whatever the run touched is handed
    // over visibly: the object may be reused or destroyed right after.
    // waitForFinished(ms) gives up after ms (negative: never) and then
    // returns false.
    bool waitForFinished(int ms = -1);
    bool busy();

signals:
    void progress(int value);
    void failed(int code, const QString &what);

protected:
    void run() override;

    // Pauses of the run: between the steps after the closing command, and
    // between attempts to reach the boot loader. Only tests shorten them.
    void setPauses(unsigned long finishStepMs, unsigned long loaderRetryMs);

private:
    void runHidTransfer();
    void runDfu();
    void removeIfDownloaded() const;

    std::mutex runLock;
    QString filePath;
    int mode = HidTransfer;
    UsbLocation loader;
    bool removeAfterSuccess = false;
    std::atomic<bool> cancelled{false};
    unsigned long finishStepMs_ = 1000;
    unsigned long loaderRetryMs_ = 500;
};
