// The settings pages: pulse widths, paddles and their calibration, the
// encoder binding of the bite point, and clearing the wheel's flash.
#include "app/mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::connectSettingsWidgets() {}
void MainWindow::onTriggerChanged(int) {}
void MainWindow::onTriggerUpdate() {}
void MainWindow::onSavePageE() {}
void MainWindow::onShifterChanged(int) {}
void MainWindow::onShifterUpdate() {}
void MainWindow::onPaddleChanged(int) {}
void MainWindow::onPaddleUpdate() {}
void MainWindow::onSavePageP() {}
void MainWindow::onClutchStatus() {}
void MainWindow::onShifterStatus() {}
void MainWindow::onBearLCalibrate() {}
void MainWindow::onBearRCalibrate() {}
void MainWindow::onBearExLCalibrate() {}
void MainWindow::onBearExRCalibrate() {}
void MainWindow::onCalibrateL(bool) {}
void MainWindow::onCalibrateR(bool) {}
void MainWindow::onCalibrate() {}
void MainWindow::onEncoderBind() {}
void MainWindow::onClearFlash() {}
void MainWindow::loadEncoderPulseWidth() {}
void MainWindow::loadShifterPulseWidth() {}
quint16 MainWindow::currentBiteWord() const
{
    return 0xFFFF;
}
void MainWindow::sendPaddleConfig(bool) {}
void MainWindow::loadPaddleConfig() {}
void MainWindow::loadClutchesEnabled() {}
void MainWindow::loadExtraShiftersEnabled() {}
void MainWindow::setBindState(int) {}
void MainWindow::loadEncoderBinding() {}
void MainWindow::saveEncoderBinding() {}
void MainWindow::removeEncoderBinding() {}
void MainWindow::applyEncoderTurn(const QList<qint32> &) {}
