#include "app/first_frame.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace FirstFrame {

namespace {

class Waiter : public QObject
{
public:
    Waiter(QWidget *window, std::function<void()> work, int patienceMs)
        : QObject(window), window_(window), work_(std::move(work))
    {
        window->installEventFilter(this);
        QTimer::singleShot(0, this, [this] {
            if (!window_->isVisible())
                run();
        });
        QTimer::singleShot(patienceMs, this, [this] { run(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The window is painted first and its children after it, all into
        // one buffer that is flushed before the event loop turns again.
        if (watched == window_ && event->type() == QEvent::Paint)
            QTimer::singleShot(0, this, [this] { run(); });
        return false;
    }

private:
    void run()
    {
        if (done_)
            return;
        done_ = true;
        window_->removeEventFilter(this);
        deleteLater();
        work_();
    }

    QWidget *window_;
    std::function<void()> work_;
    bool done_ = false;
};

} // namespace

void then(QWidget *window, std::function<void()> work, int patienceMs)
{
    new Waiter(window, std::move(work), patienceMs);
}

} // namespace FirstFrame
