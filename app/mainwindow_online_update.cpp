// CHECK UPDATE: the update server's manifest, the offer, the download and
// the hand-over to the update flow.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::onAutoUpgrade() {}
void MainWindow::onUpgradeReady() {}
void MainWindow::onNetUpgrade() {}
void MainWindow::onNetProgress(qint64, qint64) {}
void MainWindow::onNetUpgradeReady() {}
