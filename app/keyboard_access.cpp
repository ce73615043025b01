#include "app/keyboard_access.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QFocusFrame>
#include <QKeyEvent>
#include <QObject>
#include <QStackedWidget>
#include <QWidget>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

// The ring around the control that Tab moved to. The window's style sheets
// give every button a look of its own, which hides the platform's focus
// marks; the dots on the wheel's pictures show none at all. A mouse click
// needs no ring and takes it away.
const char *const kFocusRingSheet =
    "QFocusFrame { border: 2px solid rgb(30, 177, 255); border-radius: 4px; }";

class KeyboardFocus : public QObject
{
public:
    explicit KeyboardFocus(QWidget *window) : QObject(window), ring_(new QFocusFrame(window))
    {
        ring_->setStyleSheet(QLatin1String(kFocusRingSheet));
        ring_->hide();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            const bool byKey = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
            ring_->setWidget(byKey ? qobject_cast<QWidget *>(watched) : nullptr);
            return false;
        }
        if (event->type() == QEvent::MouseButtonPress) {
            ring_->setWidget(nullptr);
            return false;
        }
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

private:
    QFocusFrame *ring_;
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
    // Each widget's place is worked out once, not at every comparison.
    using Place = std::tuple<int, int, QString, QWidget *>;
    std::vector<Place> places;
    for (QWidget *widget : area->findChildren<QWidget *>()) {
        if (takesTab(widget)) {
            const QPoint centre = widget->mapTo(area, widget->rect().center());
            places.emplace_back(centre.y() / kLineHeight, centre.x(), widget->objectName(), widget);
        }
    }
    std::sort(places.begin(), places.end());
    QList<QWidget *> widgets;
    widgets.reserve(static_cast<qsizetype>(places.size()));
    for (const Place &place : places)
        widgets << std::get<QWidget *>(place);
    return widgets;
}

} // namespace

namespace KeyboardAccess {

void install(QWidget *window)
{
    auto *filter = new KeyboardFocus(window);
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (takesTab(widget))
            widget->installEventFilter(filter);
    }
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
