// The yardstick for the start-up figures of bench-display-xcb: the least a
// Qt Widgets program does to put a frameless window of the main window's size
// on the screen.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(900, 500);
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.show();
    return app.exec();
}
