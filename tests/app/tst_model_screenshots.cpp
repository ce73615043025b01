// Saves what the window shows for each model, driven by the emulated wheel:
// the INPUTS page with a few buttons held and both paddles pulled, the DEVICE
// page and the ABOUT page, into the build's screenshot folder. The held
// buttons' indicators must be on screen, blue, where the layout put them.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "app/mainwindow.h"
#include "private_runtime_dir.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>

namespace {

const QColor kIndicatorBlue(0, 117, 190);

// Equal but for the rounding of antialiased edges.
bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 6 && qAbs(a.green() - b.green()) <= 6 && qAbs(a.blue() - b.blue()) <= 6;
}

bool isIndicator(const QString &name)
{
    return name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
           name.startsWith(QLatin1String("pbSW"));
}

} // namespace

class TestModelScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void model_data();
    void model();

private:
    PrivateRuntimeDir runtimeDir;
};

void TestModelScreenshots::model_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("press"); // button numbers
    QTest::addColumn<QStringList>("lit");

    QTest::newRow("H-ZET") << "H-ZET"
                           << "1 7 33 19 24" << QStringList{"pbIB1", "pbIB2", "pbIB9", "pbID3L", "pbSWL"};
    QTest::newRow("VLN6") << "VLN6"
                          << "1 7 33 5 32" << QStringList{"pbIB1", "pbIB2", "pbIB9", "pbID1L", "pbSWR"};
    QTest::newRow("H-MIRA") << "H-MIRA"
                            << "1 7 33 17 9" << QStringList{"pbIB1", "pbIB2", "pbIB9", "pbID7L", "pbJsL1"};
    QTest::newRow("OV410") << "OV410"
                           << "1 2 33 5 41" << QStringList{"pbIB1", "pbISW1", "pbIB9", "pbID1L", "pbJsR1"};
    QTest::newRow("KLINO4") << "KLINO4"
                            << "1 2 33 3 9" << QStringList{"pbIB1", "pbISW1", "pbIB9", "pbID5L", "pbJsL1"};
    QTest::newRow("ULMAR") << "ULMAR"
                           << "1 24 33 19 21" << QStringList{"pbIB1", "pbSWL", "pbIB9", "pbID3L", "pbIB3"};
    QTest::newRow("SRD7") << "SRD7"
                          << "1 7 33 20 24" << QStringList{"pbIB1", "pbIB2", "pbIB9", "pbID3R", "pbSWL"};
    QTest::newRow("PELIX") << "PELIX"
                           << "1 7 33 17 21" << QStringList{"pbIB1", "pbIB2", "pbIB9", "pbID7L", "pbIB3"};
}

void TestModelScreenshots::model()
{
    QFETCH(QString, code);
    QFETCH(QString, press);
    QFETCH(QStringList, lit);

    wheeltest::WheelFixture::Options options;
    options.model = code.toStdString();
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    MainWindow w;
    w.setWindowFlags(Qt::FramelessWindowHint);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *header = w.findChild<QLabel *>(QStringLiteral("lbHead"));
    auto *pages = w.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QTRY_VERIFY(header->text() != QLatin1String("WAITING FOR DEVICE..."));
    QTRY_COMPARE(pages->currentIndex(), 0);

    QVERIFY(wheel.command(("press " + press).toStdString()));
    wheel.setPaddles(1200, 3300);
    QWidget *page1 = w.findChild<QWidget *>(QStringLiteral("page1"));
    auto shown = [page1] {
        QStringList names;
        for (QObject *child : page1->children()) {
            auto *widget = qobject_cast<QWidget *>(child);
            if (widget && isIndicator(widget->objectName()) && !widget->isHidden())
                names << widget->objectName();
        }
        names.sort();
        return names;
    };
    QStringList expected = lit;
    expected.sort();
    QTRY_COMPARE(shown(), expected);
    auto *rightBar = w.findChild<QProgressBar *>(QStringLiteral("pgAdcR"));
    QTRY_COMPARE(rightBar->value(), 3300);
    QTest::qWait(100);

    const QString folder = code.toLower().remove(QLatin1Char('-'));
    const QDir dir(QStringLiteral(QUORSET_SCREENSHOT_DIR));
    const QImage inputs = w.grab().toImage();
    QVERIFY(inputs.save(dir.filePath(QStringLiteral("model-%1-inputs.png").arg(folder))));
    for (const QString &name : lit) {
        const QWidget *indicator = page1->findChild<QWidget *>(name);
        // A few pixels in from the left edge, on the indicator's fill
        // rather than on its caption.
        const QPoint fill = indicator->mapTo(&w, QPoint(5, indicator->height() / 2));
        const QColor seen = inputs.pixelColor(fill);
        QVERIFY2(near(seen, kIndicatorBlue), qPrintable(name + QLatin1Char(' ') + seen.name()));
    }

    const struct
    {
        const char *button;
        const char *file;
        int index;
    } others[] = {{"pbS4", "device", 3}, {"pbS5", "about", 4}};
    for (const auto &other : others) {
        QTest::mouseClick(w.findChild<QPushButton *>(QLatin1String(other.button)), Qt::LeftButton);
        QCOMPARE(pages->currentIndex(), other.index);
        const QImage shot = w.grab().toImage();
        QCOMPARE(shot.size(), QSize(900, 500));
        QVERIFY(shot.save(
            dir.filePath(QStringLiteral("model-%1-%2.png").arg(folder, QLatin1String(other.file)))));
    }
    QVERIFY(!w.findChild<QLabel *>(QStringLiteral("lbVersion"))->text().isEmpty());
}

WHEEL_TEST_MAIN(TestModelScreenshots)
#include "tst_model_screenshots.moc"
