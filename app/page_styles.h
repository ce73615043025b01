#pragma once

#include <QObject>
#include <QSet>
#include <QString>

class QStackedWidget;
class QWidget;

// Each page of the window draws itself with a style sheet of its own
// (resources/style/<page>.qss), which a page gets only when it first comes
// on screen.
//
// A style sheet makes Qt work out the rules of every widget below the widget
// that holds it, and the pages hold most of the window's widgets. Given at
// construction, as the form would, that work was the larger part of the
// start-up, for four pages nobody sees while the window waits for a wheel.
// The frame's widgets, the LED buttons (whose sheets hold their colours) and
// the model pictures keep their sheets in the form.
//
// The window itself takes its background colour from a palette in the form
// rather than a sheet. A sheet on the window puts every widget below it under
// Qt's style-sheet style, and the form builds each page apart and then moves
// it into the stack, which made Qt work out again the rules of every widget
// there with a sheet of its own: a tenth of the start-up, for a colour the
// palette paints the same.
//
// Qt also polishes every widget of a window when the window is shown, and a
// page when it is made current, hidden pages and all; the page's sheet then
// polishes the same widgets again. So a widget on a page that has no sheet
// yet is not polished until the sheet comes.
namespace PageStyles {

class Styler : public QObject
{
public:
    // Made before the window builds its form: building it makes a page
    // current, which would polish that page.
    explicit Styler(QWidget *window);

    // Styles the page the window shows first when the window is exposed, and
    // any other page as it is shown afterwards; a page shown while the window
    // is hidden waits until the window is exposed again.
    void styleOnFirstShow(QStackedWidget *pages);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool waitsForSheet(const QWidget *widget) const;
    bool windowExposed() const;
    void style(QWidget *page);

    QWidget *window_;
    QStackedWidget *pages_ = nullptr;
    QSet<const QWidget *> styled_;
};

// The style sheet of a page, by its object name; empty where it has none.
QString sheetFor(const QString &pageName);

} // namespace PageStyles
