#include "app/user_prompts.h"

#include <QColorDialog>
#include <QFileDialog>

#include <utility>

namespace UserPrompts {

namespace {

Hooks &hooks()
{
    static Hooks installed;
    return installed;
}

QMessageBox::StandardButton answer(const Message &message)
{
    return hooks().message(message);
}

} // namespace

void setHooks(Hooks replacement)
{
    hooks() = std::move(replacement);
}

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text)
{
    if (hooks().message)
        return answer({MessageKind::Information, title, text, QMessageBox::Ok, QMessageBox::NoButton});
    return QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text)
{
    if (hooks().message)
        return answer({MessageKind::Critical, title, text, QMessageBox::Ok, QMessageBox::NoButton});
    return QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    if (hooks().message)
        return answer({MessageKind::Question, title, text, buttons, defaultButton});
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

QString openFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    if (hooks().openFile)
        return hooks().openFile({caption, directory, filter});
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &directory, const QString &filter)
{
    if (hooks().openFile)
        return hooks().openFile({caption, directory, filter, true});
    return QFileDialog::getSaveFileName(parent, caption, directory, filter);
}

QColor colour(const QColor &initial)
{
    if (hooks().colour)
        return hooks().colour(initial);
    return QColorDialog::getColor(initial, nullptr, QString());
}

} // namespace UserPrompts
