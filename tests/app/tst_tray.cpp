#include "app/mainwindow.h"
#include "app/single_instance.h"
#include "private_runtime_dir.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

// Minimising to the tray and every way back. This runs on the offscreen
// platform, which has no tray host: the window must behave the same there
// (the desktop script covers a real tray).
class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void trayIconWaitsUntilMinimised();
    void minimiseHidesWindowAndShowsTrayIcon();
    void trayActivation_data();
    void trayActivation();
    void doubleClickRestoresAfterHalfASecond();
    void restoreMenuShowsWindow();
    void secondStartShowsWindow_data();
    void secondStartShowsWindow();

private:
    QSystemTrayIcon *tray() const { return window->findChild<QSystemTrayIcon *>(); }
    void minimise();

    PrivateRuntimeDir runtimeDir;
    MainWindow *window = nullptr;
};

void TestTray::init()
{
    window = new MainWindow;
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(tray());
}

void TestTray::cleanup()
{
    delete window;
    window = nullptr;
}

void TestTray::minimise()
{
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("pbMin")), Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QVERIFY(tray()->isVisible());
}

void TestTray::trayIconWaitsUntilMinimised()
{
    QVERIFY(!tray()->isVisible());
    // The icon file really loads (a missing picture still makes a QIcon).
    QVERIFY(!tray()->icon().pixmap(32, 32).isNull());
}

void TestTray::minimiseHidesWindowAndShowsTrayIcon()
{
    minimise();
    QVERIFY(window->isMinimized());
}

void TestTray::trayActivation_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("restores");

    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
    QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << false;
    QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
}

void TestTray::trayActivation()
{
    QFETCH(int, reason);
    QFETCH(bool, restores);

    minimise();
    emit tray()->activated(QSystemTrayIcon::ActivationReason(reason));
    if (restores) {
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
        QVERIFY(!tray()->isVisible());
    } else {
        // Well past the double click's delay.
        QTest::qWait(1000);
        QVERIFY(!window->isVisible());
        QVERIFY(tray()->isVisible());
    }
}

void TestTray::doubleClickRestoresAfterHalfASecond()
{
    minimise();
    QElapsedTimer clock;
    clock.start();
    emit tray()->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 5000);
    // A lower bound only: the delay is deliberate, the upper side is up to
    // the machine's load.
    QVERIFY2(clock.elapsed() >= 500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!window->isMinimized());
}

void TestTray::restoreMenuShowsWindow()
{
    minimise();
    QMenu *menu = tray()->contextMenu();
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QAction *restore = menu->actions().first();
    QCOMPARE(restore->text(), QStringLiteral("Restore"));
    restore->trigger();
    QVERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
    QVERIFY(!tray()->isVisible());
}

void TestTray::secondStartShowsWindow_data()
{
    QTest::addColumn<int>("earlierStarts");
    QTest::newRow("first second start") << 0;
    // More than the guard server keeps pending.
    QTest::newRow("after 40 second starts") << 40;
}

void TestTray::secondStartShowsWindow()
{
    QFETCH(int, earlierStarts);
    for (int i = 0; i < earlierStarts; ++i) {
        QVERIFY(isInstanceRunning());
        QCoreApplication::processEvents();
    }
    minimise();
    // What a refused second start does: connect, and nothing else.
    QVERIFY(isInstanceRunning());
    QTRY_VERIFY(window->isVisible());
    QVERIFY(!window->isMinimized());
    QVERIFY(!tray()->isVisible());
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
