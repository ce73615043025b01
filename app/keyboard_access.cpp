#include "app/keyboard_access.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QObject>
#include <QStackedWidget>
#include <QWidget>

#include <algorithm>
#include <tuple>

namespace {

class EnterPresses : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || key->isAutoRepeat())
            return false;
        auto *button = qobject_cast<QAbstractButton *>(watched);
        if (!button || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

// Rows this many pixels high read as one line: the dots of a wheel's
// picture that look level are rarely on exactly the same pixel.
constexpr int kLineHeight = 20;

bool takesTab(const QWidget *widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) != 0;
}

// The focusable widgets below `area` in reading order: line by line from the
// top, left to right within a line.
QList<QWidget *> inReadingOrder(QWidget *area)
{
    QList<QWidget *> widgets;
    for (QWidget *widget : area->findChildren<QWidget *>()) {
        if (takesTab(widget))
            widgets << widget;
    }
    const auto key = [area](const QWidget *w) {
        const QPoint centre = w->mapTo(area, w->rect().center());
        return std::make_tuple(centre.y() / kLineHeight, centre.x(), w->objectName());
    };
    std::sort(widgets.begin(), widgets.end(),
              [&key](const QWidget *a, const QWidget *b) { return key(a) < key(b); });
    return widgets;
}

} // namespace

namespace KeyboardAccess {

void install(QWidget *window)
{
    auto *filter = new EnterPresses(window);
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        button->installEventFilter(filter);
    orderTabs(window);
}

void orderTabs(QWidget *window)
{
    QList<QWidget *> chain;
    for (const char *name : {"pbStatus", "pbMin", "pbClose", "pbS1", "pbS2", "pbS3", "pbS4", "pbS5"}) {
        if (auto *widget = window->findChild<QWidget *>(QLatin1String(name)))
            chain << widget;
    }
    // Only the page shown takes focus; the others are hidden, and Tab passes
    // over hidden widgets.
    if (auto *pages = window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))) {
        for (int i = 0; i < pages->count(); ++i)
            chain << inReadingOrder(pages->widget(i));
    }
    for (int i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

} // namespace KeyboardAccess
