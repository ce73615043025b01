#pragma once

#include <QObject>

// Shows the upgrade worker's progress values: a bar redrawn in place on a
// terminal, one line per change when the output goes to a file or a pipe.
class FlashProgress : public QObject
{
    Q_OBJECT

public:
    explicit FlashProgress(bool terminal, QObject *parent = nullptr);

    // The last value the worker sent; below 0 is its failure code.
    int last() const { return last_; }

public slots:
    void onProgress(int value);

private:
    bool terminal_;
    int last_ = -1000;
};
