#include "app/page_styles.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QFile>
#include <QStackedWidget>
#include <QWindow>

namespace PageStyles {

Styler::Styler(QWidget *window) : QObject(window), window_(window)
{
    // Only the application sees the events of every widget, including those
    // of the pages the form is still building, and of the native window.
    QCoreApplication::instance()->installEventFilter(this);
}

void Styler::styleOnFirstShow(QStackedWidget *pages)
{
    pages_ = pages;
}

bool Styler::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Polish:
        return watched->isWidgetType() && waitsForSheet(static_cast<QWidget *>(watched));
    case QEvent::StyleChange:
        // While the form is built, uic restyles a widget with every sheet it
        // gives it, the widget's own and its page's, working out the sheet's
        // fonts, margins and pictures each time. A widget not yet polished
        // has nothing to restyle: its first polish styles it, when the window
        // is first shown (the frame) or the page first comes on screen.
        return !pages_ && watched->isWidgetType() &&
               !static_cast<QWidget *>(watched)->testAttribute(Qt::WA_WState_Polished);
    case QEvent::Show:
        if (pages_ && watched->parent() == pages_ && windowExposed())
            style(static_cast<QWidget *>(watched));
        break;
    case QEvent::Expose:
        // Before the window paints what it exposes.
        if (pages_ && watched == window_->windowHandle()) {
            if (QWidget *page = pages_->currentWidget(); page && page->isVisible())
                style(page);
        }
        break;
    default:
        break;
    }
    return false;
}

// Until the window names its pages, any stack of pages in it is taken for
// them: the form has one.
bool Styler::waitsForSheet(const QWidget *widget) const
{
    for (const QWidget *w = widget; w && w != window_; w = w->parentWidget()) {
        const QWidget *parent = w->parentWidget();
        const bool isPage =
            pages_ ? parent == pages_ : qobject_cast<const QStackedWidget *>(parent) != nullptr;
        if (isPage)
            return w->window() == window_ && !styled_.contains(w);
    }
    return false;
}

bool Styler::windowExposed() const
{
    const QWindow *handle = window_->windowHandle();
    return handle && handle->isExposed();
}

void Styler::style(QWidget *page)
{
    if (styled_.contains(page))
        return;
    styled_.insert(page);
    // First the polish held back, so that Qt counts the widgets as polished;
    // while no page sheet covers them yet it is quick, but for the few with a
    // sheet of their own. Then the page's sheet, which polishes them anew by
    // its rules.
    QList<QWidget *> widgets{page};
    widgets += page->findChildren<QWidget *>();
    for (QWidget *widget : std::as_const(widgets)) {
        QEvent polish(QEvent::Polish);
        QCoreApplication::sendEvent(widget, &polish);
    }
    page->setStyleSheet(sheetFor(page->objectName()));
}

QString sheetFor(const QString &pageName)
{
    QFile file(QStringLiteral(":/style/%1.qss").arg(pageName));
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "no style sheet for page" << pageName;
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace PageStyles
