#include "app/mainwindow.h"
#include "app/window_drag.h"
#include "private_runtime_dir.h"

#include <QApplication>
#include <QMouseEvent>
#include <QtTest>

// The frameless window moves itself: a left press on the band just below
// its top edge anchors a drag, moves with the left button held follow it,
// anything else leaves the window where it is. Events are sent straight to
// the window, the way presses no child widget consumed arrive there.
class TestWindowDrag : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pressStartsDragOnlyInBand_data();
    void pressStartsDragOnlyInBand();
    void movesNeedLeftButtonHeld_data();
    void movesNeedLeftButtonHeld();
    void releaseEndsDrag_data();
    void releaseEndsDrag();
    void rightPressCancelsDrag();
    void dragFollowsEveryMove();
    void band_data();
    void band();

private:
    void send(QEvent::Type type, QPointF global, Qt::MouseButton button, Qt::MouseButtons held);
    void press(qreal rowsBelowTop, Qt::MouseButton button = Qt::LeftButton);
    void moveBy(QPointF delta, Qt::MouseButtons held = Qt::LeftButton);
    void release(Qt::MouseButton button = Qt::LeftButton);
    // Drags by a known amount from a fresh press; the window must end up
    // exactly there, so any movement before shows up as an offset.
    void expectOnlyControlDragMoves(QPoint start);

    PrivateRuntimeDir runtimeDir;
    MainWindow *window = nullptr;
    QPointF pointer;
};

void TestWindowDrag::init()
{
    window = new MainWindow;
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->move(200, 150);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_COMPARE(window->pos(), QPoint(200, 150));
}

void TestWindowDrag::cleanup()
{
    delete window;
    window = nullptr;
}

void TestWindowDrag::send(QEvent::Type type, QPointF global, Qt::MouseButton button, Qt::MouseButtons held)
{
    pointer = global;
    const QPointF local = global - QPointF(window->geometry().topLeft());
    QMouseEvent event(type, local, local, global, button, held, Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

void TestWindowDrag::press(qreal rowsBelowTop, Qt::MouseButton button)
{
    send(QEvent::MouseButtonPress,
         QPointF(window->geometry().x() + 450.5, window->geometry().y() + rowsBelowTop), button, button);
}

void TestWindowDrag::moveBy(QPointF delta, Qt::MouseButtons held)
{
    send(QEvent::MouseMove, pointer + delta, Qt::NoButton, held);
}

void TestWindowDrag::release(Qt::MouseButton button)
{
    send(QEvent::MouseButtonRelease, pointer, button, Qt::NoButton);
}

void TestWindowDrag::expectOnlyControlDragMoves(QPoint start)
{
    release();
    QCoreApplication::processEvents();
    press(20);
    moveBy(QPointF(7, 3));
    release();
    QTRY_COMPARE(window->pos(), start + QPoint(7, 3));
}

void TestWindowDrag::pressStartsDragOnlyInBand_data()
{
    QTest::addColumn<qreal>("rowsBelowTop");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("drags");

    QTest::newRow("left, top row") << 0.0 << int(Qt::LeftButton) << false;
    QTest::newRow("left, above top") << -1.0 << int(Qt::LeftButton) << false;
    QTest::newRow("left, row 1") << 1.0 << int(Qt::LeftButton) << true;
    QTest::newRow("left, row 25") << 25.0 << int(Qt::LeftButton) << true;
    QTest::newRow("left, row 49") << 49.0 << int(Qt::LeftButton) << true;
    QTest::newRow("left, row 50") << 50.0 << int(Qt::LeftButton) << false;
    QTest::newRow("left, page area") << 300.0 << int(Qt::LeftButton) << false;
    QTest::newRow("right, row 1") << 1.0 << int(Qt::RightButton) << false;
    QTest::newRow("right, row 25") << 25.0 << int(Qt::RightButton) << false;
    QTest::newRow("middle, row 25") << 25.0 << int(Qt::MiddleButton) << false;
}

void TestWindowDrag::pressStartsDragOnlyInBand()
{
    QFETCH(qreal, rowsBelowTop);
    QFETCH(int, button);
    QFETCH(bool, drags);

    const QPoint start = window->pos();
    press(rowsBelowTop, Qt::MouseButton(button));
    moveBy(QPointF(30, 20));

    if (drags) {
        QTRY_COMPARE(window->pos(), start + QPoint(30, 20));
    } else {
        expectOnlyControlDragMoves(start);
    }
}

void TestWindowDrag::movesNeedLeftButtonHeld_data()
{
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("drags");

    QTest::newRow("left") << int(Qt::LeftButton) << true;
    QTest::newRow("left and right") << int(Qt::LeftButton | Qt::RightButton) << true;
    QTest::newRow("none") << int(Qt::NoButton) << false;
    QTest::newRow("right") << int(Qt::RightButton) << false;
}

void TestWindowDrag::movesNeedLeftButtonHeld()
{
    QFETCH(int, held);
    QFETCH(bool, drags);

    const QPoint start = window->pos();
    press(10);
    moveBy(QPointF(-40, 25), Qt::MouseButtons(held));

    if (drags) {
        QTRY_COMPARE(window->pos(), start + QPoint(-40, 25));
    } else {
        expectOnlyControlDragMoves(start);
    }
}

void TestWindowDrag::releaseEndsDrag_data()
{
    QTest::addColumn<int>("releasedButton");
    QTest::newRow("left") << int(Qt::LeftButton);
    QTest::newRow("right") << int(Qt::RightButton);
}

void TestWindowDrag::releaseEndsDrag()
{
    QFETCH(int, releasedButton);

    const QPoint start = window->pos();
    press(10);
    moveBy(QPointF(12, 8));
    QTRY_COMPARE(window->pos(), start + QPoint(12, 8));

    release(Qt::MouseButton(releasedButton));
    // A move that still reports the left button after the release (a missed
    // press) must not move the window.
    moveBy(QPointF(50, 50));
    expectOnlyControlDragMoves(start + QPoint(12, 8));
}

void TestWindowDrag::rightPressCancelsDrag()
{
    const QPoint start = window->pos();
    press(10);
    press(10, Qt::RightButton);
    moveBy(QPointF(33, 11));
    expectOnlyControlDragMoves(start);
}

void TestWindowDrag::dragFollowsEveryMove()
{
    // Each move is measured from the one before, not from the press.
    const QPoint start = window->pos();
    press(30);
    moveBy(QPointF(5, 5));
    QTRY_COMPARE(window->pos(), start + QPoint(5, 5));
    moveBy(QPointF(-20, 3));
    QTRY_COMPARE(window->pos(), start + QPoint(-15, 8));
    moveBy(QPointF(0, -10));
    QTRY_COMPARE(window->pos(), start + QPoint(-15, -2));
    release();
    expectOnlyControlDragMoves(start + QPoint(-15, -2));
}

void TestWindowDrag::band_data()
{
    QTest::addColumn<qreal>("globalY");
    QTest::addColumn<bool>("inBand");

    // Window top at 100. Event positions reach the window rounded to whole
    // pixels through the application, so fractions matter only here.
    QTest::newRow("row -1") << 99.0 << false;
    QTest::newRow("just above the top") << 99.5 << false;
    QTest::newRow("row 0") << 100.0 << false;
    QTest::newRow("inside row 0") << 100.99 << false;
    QTest::newRow("row 1") << 101.0 << true;
    QTest::newRow("row 49") << 149.0 << true;
    QTest::newRow("inside row 49") << 149.99 << true;
    QTest::newRow("row 50") << 150.0 << false;
    QTest::newRow("far below") << 400.0 << false;
}

void TestWindowDrag::band()
{
    QFETCH(qreal, globalY);
    QFETCH(bool, inBand);
    QCOMPARE(WindowDrag::inDragBand(globalY, 100), inBand);
}

QTEST_MAIN(TestWindowDrag)
#include "tst_window_drag.moc"
