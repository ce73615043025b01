#pragma once

#include <QString>
#include <QThread>

#include <mutex>

// Moves one firmware image into the wheel off the GUI thread, and reports
// only through progress(int):
//   0..96  share of the image sent (HidTransfer: 0..95, emitted on change;
//          Dfu: one value per block from the flasher)
//   97..99 the one-second steps after HidTransfer's closing command
//   100    done
//   1..5   Dfu only: the boot loader is not on the bus yet (attempt / 6 + 1)
//   < 0    failure: hid_send_feature_report's result or the flasher's code
// A HidTransfer run without an open wheel or without a readable file ends
// silently.
class QuorUpgrade : public QThread
{
    Q_OBJECT

public:
    enum UpgradeMode
    {
        HidTransfer = 0,
        Dfu = 1,
    };

    explicit QuorUpgrade(QObject *parent = nullptr);
    // Waits for a run still in progress, through waitForFinished().
    ~QuorUpgrade() override;

    // Set right before start(), never while a run is in progress.
    void setFilePath(const QString &path) { filePath = path; }
    void setMode(int value) { mode = value; }

    // QThread::wait() and isRunning() synchronise inside Qt, where the thread
    // sanitizer cannot see it. These two also pass through runLock, which
    // run() holds from start to end, so whatever the run touched is handed
    // over visibly: the object may be reused or destroyed right after.
    void waitForFinished();
    bool busy();

signals:
    void progress(int value);

protected:
    void run() override;

    // Pauses of the run: between the steps after the closing command, and
    // between attempts to reach the boot loader. Only tests shorten them.
    void setPauses(unsigned long finishStepMs, unsigned long loaderRetryMs);

private:
    void runHidTransfer();
    void runDfu();
    // Only images the program downloaded itself live in the temp directory;
    // a file the user picked elsewhere is theirs to keep.
    void removeIfTemporary() const;

    std::mutex runLock;
    QString filePath;
    int mode = HidTransfer;
    unsigned long finishStepMs_ = 1000;
    unsigned long loaderRetryMs_ = 500;
};
