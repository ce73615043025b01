#include "app/mainwindow.h"
#include "private_runtime_dir.h"

#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

// Saves the window as the user sees it with no wheel attached, one picture
// per page, into the build's screenshot folder, and checks the frame around
// the pages. The pages of an attached wheel are shot by the model tests.
class TestWindowScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void page_data();
    void page();

private:
    PrivateRuntimeDir runtimeDir;
};

void TestWindowScreenshots::page_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("file");

    QTest::newRow("inputs") << "pbS1"
                            << "page1-inputs.png";
    QTest::newRow("rgb") << "pbS2"
                         << "page2-rgb.png";
    QTest::newRow("paddles") << "pbS3"
                             << "page3-paddles.png";
    QTest::newRow("device") << "pbS4"
                            << "page4-device.png";
    QTest::newRow("about") << "pbS5"
                           << "page5-about.png";
}

void TestWindowScreenshots::page()
{
    QFETCH(QString, button);
    QFETCH(QString, file);

    MainWindow w;
    w.setWindowFlags(Qt::FramelessWindowHint);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // No wheel here: let the waiting screen settle on ABOUT, then open the
    // sidebar as an attached wheel's layout would, to show every page.
    auto *stack = w.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QTRY_COMPARE(stack->currentIndex(), 4);
    for (int i = 1; i <= 4; ++i)
        w.findChild<QPushButton *>(QStringLiteral("pbS%1").arg(i))->setEnabled(true);
    QTest::mouseClick(w.findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(w.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(),
             button.right(1).toInt() - 1);

    const QImage shot = w.grab().toImage();
    QCOMPARE(shot.size(), QSize(900, 500));
    const QString path = QDir(QStringLiteral(QUORSET_SCREENSHOT_DIR)).filePath(file);
    QVERIFY2(shot.save(path), qPrintable(path));

    // The dark window background between the sidebar and the pages, below
    // the header band.
    QCOMPARE(shot.pixelColor(135, 300), QColor(26, 25, 25));
    // The header band is a picture, not the bare background.
    QVERIFY(shot.pixelColor(60, 40) != QColor(26, 25, 25));
    // The current page's sidebar button is lit with its blue gradient, the
    // others are not.
    for (int i = 1; i <= 5; ++i) {
        const QColor c = shot.pixelColor(10, 80 + 84 * (i - 1) + 70);
        const bool lit = c.blue() > 80 && c.blue() > c.red() + 40;
        QCOMPARE(lit, QStringLiteral("pbS%1").arg(i) == button);
    }
}

QTEST_MAIN(TestWindowScreenshots)
#include "tst_window_screenshots.moc"
