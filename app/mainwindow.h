#pragma once

#include <QList>
#include <QLocalServer>
#include <QMainWindow>
#include <QNetworkAccessManager>
#include <QPointF>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>

namespace Ui {
class MainWindow;
}

class QMouseEvent;

// The one window of the program. It owns everything for the whole run and
// its slots carry the behaviour; the form holds the widgets by object name.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void onClose();
    void onMinimize();
    void onShowNormal();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void onSidebar();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void createTrayIcon();

    std::unique_ptr<Ui::MainWindow> ui;
    QPointF dragAnchor;
    qint32 dfuWaitTries;
    quint8 upgradeBusy;
    QNetworkAccessManager networkManager;
    QLocalServer localServer;
    quint32 leftMin;
    quint32 rightMin;
    quint32 leftMax;
    quint32 rightMax;
    QString deviceName;
    QString updateUrl;
    qint32 openProductId;
    qint32 bindState;
    quint8 bindUpButton;
    quint8 bindDownButton;
    quint8 statusPoll;
    QSystemTrayIcon *trayIcon;
    QList<qint32> releasedButtons;
};
