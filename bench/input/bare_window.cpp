// The yardsticks for the start-up figures of bench-display-xcb: the least a
// Qt Widgets program does to put a frameless window of the main window's size
// on the screen; built as bare-text-window, the same with one line of text,
// which is what makes a program read the font configuration.
#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(900, 500);
    window.setWindowFlags(Qt::FramelessWindowHint);
#ifdef BARE_WINDOW_WITH_TEXT
    QLabel text(QStringLiteral("WAITING FOR DEVICE..."), &window);
    // Clear of the centre pixel, which the benchmark watches.
    text.move(20, 20);
#endif
    window.show();
    return app.exec();
}
