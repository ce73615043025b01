// The RGB page: reading the LED colours from the wheel, editing them and
// sending them back.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::connectLedWidgets() {}
void MainWindow::readLedColours() {}
void MainWindow::sendLedColours(bool) {}
void MainWindow::sendExtraLedColours(bool, int) {}
void MainWindow::onColorPick() {}
void MainWindow::onSetColor() {}
void MainWindow::onSaveColor() {}
