// The firmware page's update from an image file: checks, the reboot into the
// boot loader, the wait for it, and the worker's progress.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::connectUpgradeWidgets() {}
void MainWindow::onShowPath() {}
void MainWindow::onUpgrade() {}
void MainWindow::waitForDfuAndStart() {}
void MainWindow::startDfuUpgrade() {}
void MainWindow::onProgress(int) {}
