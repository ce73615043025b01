#pragma once

#include <QColor>
#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every modal question the window puts to the user goes through here: the
// message boxes, the firmware file dialog and the colour dialog. The program
// shows the real dialogs; a test installs hooks that answer them instead, so
// that no test waits for a person and every test can see what was asked.
namespace UserPrompts {

enum class MessageKind
{
    Information,
    Critical,
    Question,
};

struct Message
{
    MessageKind kind = MessageKind::Information;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

struct FileRequest
{
    QString caption;
    QString directory;
    QString filter;
    bool save = false; // a file to write rather than one to read
};

// Hooks a test installs; an unset hook shows the real dialog.
struct Hooks
{
    std::function<QMessageBox::StandardButton(const Message &)> message;
    // Both file dialogs, the open and the save one.
    std::function<QString(const FileRequest &)> openFile;
    // Returns an invalid colour for a cancelled dialog.
    std::function<QColor(const QColor &initial)> colour;
};

// Replaces the hooks for the rest of the process (tests only).
void setHooks(Hooks hooks);

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text);
QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text);
QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton);

// One existing file, or an empty string when the dialog was cancelled.
QString openFileName(QWidget *parent, const QString &caption, const QString &directory,
                     const QString &filter);

// A file to write (it may exist), or an empty string when cancelled.
QString saveFileName(QWidget *parent, const QString &caption, const QString &directory,
                     const QString &filter);

// The standard colour dialog with no parent, an empty title and no options;
// an invalid colour when it was cancelled.
QColor colour(const QColor &initial);

} // namespace UserPrompts
