// The window becoming the attached wheel, through the real hidapi against the
// emulated wheel: the model it lays out, the buttons it lights while they are
// pressed, the paddle bars, the firmware version and the power status poll.
// What each model shows is saved into the build's screenshot folder.
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
#include <QTimer>

namespace {

const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");
const QString kDefaultVersion = QStringLiteral("Firmware Version: 2\tMar  7 2024,15:04");
constexpr int kPollMs = 10000;

QStringList requests(const wheeltest::WheelFixture &wheel)
{
    QStringList out;
    for (const std::string &l : wheel.exchanges({"set-feature"})) {
        QString line = QString::fromStdString(l);
        while (line.endsWith(QLatin1String(" 00")))
            line.chop(3);
        out << line;
    }
    return out;
}

int powerQueries(const wheeltest::WheelFixture &wheel)
{
    return int(requests(wheel).count(QStringLiteral("set-feature 02 0b 0f")));
}

struct Window
{
    PrivateRuntimeDir runtimeDir;
    MainWindow window;

    Window()
    {
        window.setWindowFlags(Qt::FramelessWindowHint);
        window.show();
    }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        T *w = window.findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QString text(const char *label) const { return widget<QLabel>(label)->text(); }
    bool connected() const
    {
        return text("lbHead") != kWaitingHeader && !widget("pbStatus")->isVisibleTo(&window);
    }
    QTimer *statusPoll() const { return widget<QTimer>("statusPollTimer"); }
    QString tip(const char *name) const { return widget(name)->statusTip(); }

    // The input indicators on screen.
    QStringList lit() const
    {
        QStringList names;
        for (QObject *child : widget("page1")->children()) {
            auto *w = qobject_cast<QWidget *>(child);
            const QString name = child->objectName();
            if (w && !w->isHidden() &&
                (name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
                 name.startsWith(QLatin1String("pbSW"))))
                names << name;
        }
        names.sort();
        return names;
    }
};

wheeltest::WheelFixture::Options model(const char *code)
{
    wheeltest::WheelFixture::Options options;
    options.model = code;
    return options;
}

} // namespace

class TestLiveWindow : public QObject
{
    Q_OBJECT

private slots:
    void everyModel_data();
    void everyModel();
    void refusedNameReplyKeepsWaiting();
    void litWhenLost_data();
    void litWhenLost();
    void statusPollFollowsTheWheel();
};

void TestLiveWindow::everyModel_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("ledPage");
    QTest::addColumn<bool>("polled");
    QTest::addColumn<QString>("press"); // button numbers
    QTest::addColumn<QStringList>("lit");

    auto row = [](const char *code, bool ledPage, bool polled, const char *press, const QStringList &lit) {
        QTest::newRow(code) << QStringLiteral("QUOR CONTROLS QUOR %1 Wheel").arg(QLatin1String(code))
                            << ledPage << polled << press << lit;
    };
    row("H-ZET", true, true, "1 7 33 19 24", {"pbIB1", "pbIB2", "pbIB9", "pbID3L", "pbSWL"});
    row("VLN6", true, false, "1 7 33 5 32", {"pbIB1", "pbIB2", "pbIB9", "pbID1L", "pbSWR"});
    row("H-MIRA", false, true, "1 7 33 17 9", {"pbIB1", "pbIB2", "pbIB9", "pbID7L", "pbJsL1"});
    QTest::newRow("OV410") << QStringLiteral("Quor Controls - OV410 Edition SIM Wheel") << true << true
                           << "1 2 33 5 41" << QStringList{"pbIB1", "pbISW1", "pbIB9", "pbID1L", "pbJsR1"};
    row("KLINO4", true, true, "1 2 33 3 9", {"pbIB1", "pbISW1", "pbIB9", "pbID5L", "pbJsL1"});
    row("ULMAR", true, true, "1 24 33 19 21", {"pbIB1", "pbSWL", "pbIB9", "pbID3L", "pbIB3"});
    row("SRD7", true, false, "1 7 33 20 24", {"pbIB1", "pbIB2", "pbIB9", "pbID3R", "pbSWL"});
    row("PELIX", true, false, "1 7 33 17 21", {"pbIB1", "pbIB2", "pbIB9", "pbID7L", "pbIB3"});
}

void TestLiveWindow::everyModel()
{
    QFETCH(QString, header);
    QFETCH(bool, ledPage);
    QFETCH(bool, polled);
    QFETCH(QString, press);
    QFETCH(QStringList, lit);

    const QString code = QString::fromLatin1(QTest::currentDataTag());
    wheeltest::WheelFixture wheel(model(QTest::currentDataTag()));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QTRY_VERIFY(w.connected());
    // The INPUTS page comes up, and the status poll starts, after the reads.
    auto *pages = w.widget<QStackedWidget>("stackedWidget");
    QTRY_COMPARE(pages->currentIndex(), 0);
    QTRY_COMPARE(w.text("lbVersion"), kDefaultVersion);

    const QString folder = code.toLower().remove(QLatin1Char('-'));
    QCOMPARE(w.text("lbHead"), header);
    QCOMPARE(w.widget("lbMain")->styleSheet(),
             QStringLiteral("border-image: url(:/img/back.%1.png)").arg(folder));
    QCOMPARE(w.widget("pbS2")->isEnabled(), ledPage);
    for (const char *page : {"pbS1", "pbS3", "pbS4", "pbS5"})
        QVERIFY2(w.widget(page)->isEnabled(), page);
    QVERIFY(!w.widget("lbVersion")->isHidden());
    // The name is the first question the window asks.
    QCOMPARE(requests(wheel).value(0), QStringLiteral("set-feature 02 0b 0d"));
    QTRY_COMPARE(w.statusPoll()->isActive(), polled);
    QCOMPARE(powerQueries(wheel), polled ? 1 : 0);
    // The emulated battery models start at 80 %, level 3900, on Bluetooth.
    QCOMPARE(w.text("lbBatStatus"), polled ? QStringLiteral("BATTERY STATUS: 80%") : "BATTERY STATUS:");
    QVERIFY(!w.widget("lbBTStatus")->isHidden());

    QVERIFY(wheel.command(("press " + press).toStdString()));
    wheel.setPaddles(1200, 3300);
    lit.sort();
    QTRY_COMPARE(w.lit(), lit);
    QTRY_COMPARE(w.widget<QProgressBar>("pgAdcR")->value(), 3300);
    QCOMPARE(w.widget<QProgressBar>("pgAdcL")->value(), 1200);
    QTest::qWait(100);

    const QDir dir(QStringLiteral(QUORSET_SCREENSHOT_DIR));
    const QImage inputs = w.window.grab().toImage();
    QVERIFY(inputs.save(dir.filePath(QStringLiteral("model-%1-inputs.png").arg(folder))));
    // The held buttons' indicators are on screen, blue, where the layout put
    // them: a few pixels in from the left edge, on the fill, not the caption.
    for (const QString &name : lit) {
        const QWidget *indicator = w.widget(qPrintable(name));
        const QColor seen =
            inputs.pixelColor(indicator->mapTo(&w.window, QPoint(5, indicator->height() / 2)));
        QVERIFY2(qAbs(seen.red() - 0) <= 6 && qAbs(seen.green() - 117) <= 6 && qAbs(seen.blue() - 190) <= 6,
                 qPrintable(name + QLatin1Char(' ') + seen.name()));
    }
    for (const char *page : {"pbS4", "pbS5"}) {
        QTest::mouseClick(w.widget<QPushButton>(page), Qt::LeftButton);
        const QImage shot = w.window.grab().toImage();
        QCOMPARE(shot.size(), QSize(900, 500));
        const char *file = pages->currentIndex() == 3 ? "device" : "about";
        QVERIFY(shot.save(dir.filePath(QStringLiteral("model-%1-%2.png").arg(folder, QLatin1String(file)))));
    }
}

void TestLiveWindow::refusedNameReplyKeepsWaiting()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    // The window's first read is the name: it fails and leaves the request.
    wheel.failGetFeature(1);
    Window w;
    QTRY_VERIFY(!w.widget("pbStatus")->isVisibleTo(&w.window));
    QTRY_VERIFY(!w.widget("lbVersion")->isHidden());

    QCOMPARE(w.text("lbHead"), kWaitingHeader);
    QCOMPARE(w.widget("lbMain")->styleSheet(), QStringLiteral("border-image:"));
    for (const char *page : {"pbS1", "pbS2", "pbS3", "pbS4"})
        QVERIFY2(!w.widget(page)->isEnabled(), page);
    // The later reads still ran.
    QCOMPARE(w.text("lbVersion"), kDefaultVersion);
}

void TestLiveWindow::litWhenLost_data()
{
    QTest::addColumn<bool>("heldOnReturn");
    QTest::newRow("let go while away") << false;
    QTest::newRow("still held on return") << true;
}

void TestLiveWindow::litWhenLost()
{
    QFETCH(bool, heldOnReturn);

    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());
    wheel.press(7);
    QTRY_COMPARE(w.lit(), QStringList{"pbIB2"});

    QVERIFY(wheel.unplug());
    QTRY_COMPARE(w.text("lbHead"), kWaitingHeader);
    // The waiting screen hides it but leaves it marked as lit.
    QCOMPARE(w.lit(), QStringList());
    QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));

    if (!heldOnReturn)
        wheel.release(7);
    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 6000);
    QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));
    // The first report after the return decides.
    if (heldOnReturn)
        wheel.press(7);
    else
        wheel.sendReports(1);
    QTRY_COMPARE(w.tip("pbIB2"), heldOnReturn ? QStringLiteral("SHOW") : QStringLiteral("HIDE"));
    QTRY_COMPARE(w.lit(), heldOnReturn ? QStringList{"pbIB2"} : QStringList());
}

void TestLiveWindow::statusPollFollowsTheWheel()
{
    wheeltest::WheelFixture wheel(model("H-ZET"));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    wheel.withWheel([](wheelemu::Wheel &wh) { wh.setPowerStatus({42, 4299, 2}); });
    Window w;
    QTRY_VERIFY(w.connected());
    QTRY_COMPARE(w.text("lbBatStatus"), QStringLiteral("BATTERY STATUS: 42%"));
    QVERIFY(w.widget("lbBTStatus")->isHidden());

    // The next poll sees the wheel on external power.
    wheel.withWheel([](wheelemu::Wheel &wh) { wh.setPowerStatus({42, 4300, 2}); });
    QTRY_COMPARE_WITH_TIMEOUT(w.text("lbBatStatus"), QStringLiteral("BATTERY STATUS: USB"), kPollMs + 2000);
    QCOMPARE(powerQueries(wheel), 2);
    QVERIFY(w.statusPoll()->isActive());

    // Without a wheel the pending poll runs once more and arms nothing.
    QVERIFY(wheel.unplug());
    QTRY_COMPARE(w.text("lbHead"), kWaitingHeader);
    QTRY_VERIFY_WITH_TIMEOUT(!w.statusPoll()->isActive(), kPollMs + 2000);
    QTest::qWait(200);
    QVERIFY(!w.statusPoll()->isActive());
    QCOMPARE(powerQueries(wheel), 2);

    // The next connection starts it again.
    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 6000);
    QTRY_COMPARE(powerQueries(wheel), 3);
    QVERIFY(w.statusPoll()->isActive());
}

WHEEL_TEST_MAIN(TestLiveWindow)
#include "tst_live_window.moc"
