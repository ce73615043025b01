#include "app/page_styles.h"

#include <QDebug>
#include <QEvent>
#include <QFile>
#include <QPointer>
#include <QStackedWidget>
#include <QWindow>

namespace PageStyles {

namespace {

class PageStyler : public QObject
{
public:
    explicit PageStyler(QStackedWidget *pages) : QObject(pages), pages_(pages)
    {
        for (int i = 0; i < pages_->count(); ++i)
            pages_->widget(i)->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *page = static_cast<QWidget *>(watched);
            watchWindow();
            if (window_ && window_->isExposed())
                style(page);
        } else if (event->type() == QEvent::Expose && watched == window_) {
            // Before the window paints what it exposes.
            if (QWidget *page = pages_->currentWidget(); page && page->isVisible())
                style(page);
        }
        return false;
    }

private:
    // The native window exists once the window is shown, and is made anew if
    // the window ever is.
    void watchWindow()
    {
        QWindow *handle = pages_->window()->windowHandle();
        if (handle == window_)
            return;
        if (window_)
            window_->removeEventFilter(this);
        window_ = handle;
        if (window_)
            window_->installEventFilter(this);
    }

    static void style(QWidget *page)
    {
        if (!page->styleSheet().isEmpty())
            return;
        page->setStyleSheet(sheetFor(page->objectName()));
    }

    QStackedWidget *pages_;
    QPointer<QWindow> window_;
};

} // namespace

QString sheetFor(const QString &pageName)
{
    QFile file(QStringLiteral(":/style/%1.qss").arg(pageName));
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "no style sheet for page" << pageName;
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

void applyOnFirstShow(QStackedWidget *pages)
{
    new PageStyler(pages);
}

} // namespace PageStyles
