// The window becoming the attached wheel, through the real hidapi against the
// emulated wheel: the model it lays out, the buttons it lights while they are
// pressed, the paddle bars, the firmware version and the power status poll.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "app/mainwindow.h"
#include "private_runtime_dir.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>

#include <memory>

namespace {

const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");
const QString kDefaultVersion = QStringLiteral("2\tMar  7 2024,15:04");
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

bool isIndicator(const QString &name)
{
    return name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
           name.startsWith(QLatin1String("pbSW"));
}

struct Window
{
    PrivateRuntimeDir runtimeDir;
    MainWindow window;

    Window() { window.show(); }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        T *w = window.findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QString header() const { return widget<QLabel>("lbHead")->text(); }
    bool connected() const { return header() != kWaitingHeader && !widget("pbStatus")->isVisibleTo(&window); }
    QTimer *statusPoll() const { return widget<QTimer>("statusPollTimer"); }

    QStringList litIndicators() const
    {
        QStringList lit;
        for (QObject *child : widget("page1")->children()) {
            auto *w = qobject_cast<QWidget *>(child);
            if (w && isIndicator(w->objectName()) && !w->isHidden())
                lit << w->objectName();
        }
        lit.sort();
        return lit;
    }
    QString tip(const char *name) const { return widget(name)->statusTip(); }
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
    void becomesTheModel_data();
    void becomesTheModel();
    void refusedNameReplyKeepsWaiting();
    void versionEndingInColon();
    void pressAndRelease();
    void buttonsWithoutIndicator();
    void extraShifterButtons_data();
    void extraShifterButtons();
    void paddleBars();
    void litWhenLost_data();
    void litWhenLost();
    void statusPollFollowsTheWheel();
};

void TestLiveWindow::becomesTheModel_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<bool>("ledPage");
    QTest::addColumn<bool>("polled");

    auto row = [](const char *code, const char *word, bool ledPage, bool polled) {
        QTest::newRow(code) << code << QStringLiteral("QUOR CONTROLS QUOR %1 Wheel").arg(QLatin1String(code))
                            << QStringLiteral("border-image: url(:/img/back.%1.png)").arg(QLatin1String(word))
                            << ledPage << polled;
    };
    row("H-ZET", "hzet", true, true);
    row("VLN6", "vln6", true, false);
    row("H-MIRA", "hmira", false, true);
    QTest::newRow("OV410") << "OV410" << QStringLiteral("Quor Controls - OV410 Edition SIM Wheel")
                           << QStringLiteral("border-image: url(:/img/back.ov410.png)") << true << true;
    row("KLINO4", "klino4", true, true);
    row("ULMAR", "ulmar", true, true);
    row("SRD7", "srd7", true, false);
    row("PELIX", "pelix", true, false);
}

void TestLiveWindow::becomesTheModel()
{
    QFETCH(QString, code);
    QFETCH(QString, header);
    QFETCH(QString, picture);
    QFETCH(bool, ledPage);
    QFETCH(bool, polled);

    wheeltest::WheelFixture wheel(model(qPrintable(code)));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());
    // The INPUTS page comes up, and the status poll starts, after the reads.
    QTRY_COMPARE(w.widget<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    QTest::qWait(200);

    QCOMPARE(w.header(), header);
    QCOMPARE(w.widget("lbMain")->styleSheet(), picture);
    QCOMPARE(w.widget("pbS2")->isEnabled(), ledPage);
    for (const char *page : {"pbS1", "pbS3", "pbS4", "pbS5"})
        QVERIFY2(w.widget(page)->isEnabled(), page);
    QCOMPARE(w.widget<QLabel>("lbVersion")->text(), QStringLiteral("Firmware Version: ") + kDefaultVersion);
    QVERIFY(!w.widget("lbVersion")->isHidden());

    // The name is the first question the window asks.
    const QStringList asked = requests(wheel);
    QVERIFY(!asked.isEmpty());
    QCOMPARE(asked.first(), QStringLiteral("set-feature 02 0b 0d"));
    QCOMPARE(powerQueries(wheel), polled ? 1 : 0);
    QCOMPARE(w.statusPoll()->isActive(), polled);
    if (polled) {
        // The emulated battery models start at 80 %, level 3900, on Bluetooth.
        QCOMPARE(w.widget<QLabel>("lbBatStatus")->text(), QStringLiteral("BATTERY STATUS: 80%"));
        QVERIFY(!w.widget("lbBTStatus")->isHidden());
        QCOMPARE(w.statusPoll()->interval(), kPollMs);
        QCOMPARE(w.statusPoll()->timerType(), Qt::CoarseTimer);
    } else {
        QCOMPARE(w.widget<QLabel>("lbBatStatus")->text(), QStringLiteral("BATTERY STATUS:"));
        QCOMPARE(w.widget<QLabel>("lbBTStatus")->text(), QStringLiteral("BLUETOOTH CONNECTED"));
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

    QCOMPARE(w.header(), kWaitingHeader);
    QCOMPARE(w.widget("lbMain")->styleSheet(), QStringLiteral("border-image:"));
    for (const char *page : {"pbS1", "pbS2", "pbS3", "pbS4"})
        QVERIFY2(!w.widget(page)->isEnabled(), page);
    // The later reads still ran.
    QCOMPARE(w.widget<QLabel>("lbVersion")->text(), QStringLiteral("Firmware Version: ") + kDefaultVersion);
}

void TestLiveWindow::versionEndingInColon()
{
    wheeltest::WheelFixture::Options options;
    options.version = "1.2.3:";
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());
    QTRY_COMPARE(w.widget<QLabel>("lbVersion")->text(), QStringLiteral("Firmware Version: 1.2.3"));
}

void TestLiveWindow::pressAndRelease()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());

    QVERIFY(wheel.command("press 33 1 7"));
    QTRY_COMPARE(w.litIndicators(), (QStringList{"pbIB1", "pbIB2", "pbIB9"}));
    for (const char *name : {"pbIB1", "pbIB2", "pbIB9"})
        QCOMPARE(w.tip(name), QStringLiteral("SHOW"));

    QVERIFY(wheel.command("release 7"));
    QTRY_COMPARE(w.litIndicators(), (QStringList{"pbIB1", "pbIB9"}));
    QCOMPARE(w.tip("pbIB2"), QStringLiteral("HIDE"));

    QVERIFY(wheel.command("release all"));
    QTRY_COMPARE(w.litIndicators(), QStringList());
    for (const char *name : {"pbIB1", "pbIB2", "pbIB9"})
        QCOMPARE(w.tip(name), QStringLiteral("HIDE"));
}

void TestLiveWindow::buttonsWithoutIndicator()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());

    // Button 1 rides in the same report, so its indicator says when the
    // report has been shown.
    QVERIFY(wheel.command("press 1 53 54 55 56 57 58 59 60 61 62 63 64"));
    QTRY_COMPARE(w.litIndicators(), QStringList{QStringLiteral("pbIB1")});
}

void TestLiveWindow::extraShifterButtons_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QStringList>("lit");
    QTest::addColumn<QString>("tip");

    QTest::newRow("extra shifters off") << false << QStringList{"pbIB1"} << QString();
    QTest::newRow("extra shifters on")
        << true << QStringList{"pbIB1", "pbIExL", "pbIExR"} << QStringLiteral("SHOW");
}

void TestLiveWindow::extraShifterButtons()
{
    QFETCH(bool, enabled);
    QFETCH(QStringList, lit);
    QFETCH(QString, tip);

    wheeltest::WheelFixture wheel(model("VLN6"));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());
    w.widget<QRadioButton>("cbShifter")->setChecked(enabled);

    QVERIFY(wheel.command("press 1 49 50"));
    QTRY_COMPARE(w.litIndicators(), lit);
    QCOMPARE(w.tip("pbIExR"), tip);
    QCOMPARE(w.tip("pbIExL"), tip);
}

void TestLiveWindow::paddleBars()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());

    wheel.setPaddles(1500, 3000);
    QTRY_COMPARE(w.widget<QProgressBar>("pgAdcL")->value(), 1500);
    QCOMPARE(w.widget<QProgressBar>("pgAdcR")->value(), 3000);
    // Beyond the bars' range: they stay where they were.
    wheel.setPaddles(5000, 100);
    QTRY_COMPARE(w.widget<QProgressBar>("pgAdcR")->value(), 100);
    QCOMPARE(w.widget<QProgressBar>("pgAdcL")->value(), 1500);
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
    QTRY_COMPARE(w.litIndicators(), QStringList{QStringLiteral("pbIB2")});

    QVERIFY(wheel.unplug());
    QTRY_COMPARE(w.header(), kWaitingHeader);
    // The waiting screen hides it but leaves it marked as lit.
    QCOMPARE(w.litIndicators(), QStringList());
    QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));

    if (!heldOnReturn)
        wheel.release(7);
    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 6000);
    QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));
    if (heldOnReturn)
        wheel.press(7);
    else
        wheel.sendReports(1);

    if (heldOnReturn) {
        QTRY_COMPARE(w.litIndicators(), QStringList{QStringLiteral("pbIB2")});
        QCOMPARE(w.tip("pbIB2"), QStringLiteral("SHOW"));
    } else {
        QTRY_COMPARE(w.tip("pbIB2"), QStringLiteral("HIDE"));
        QCOMPARE(w.litIndicators(), QStringList());
    }
}

void TestLiveWindow::statusPollFollowsTheWheel()
{
    wheeltest::WheelFixture wheel(model("H-ZET"));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    wheel.withWheel([](wheelemu::Wheel &wh) { wh.setPowerStatus({42, 4299, 2}); });
    Window w;
    QTRY_VERIFY(w.connected());
    QTRY_COMPARE(w.widget<QLabel>("lbBatStatus")->text(), QStringLiteral("BATTERY STATUS: 42%"));
    QVERIFY(w.widget("lbBTStatus")->isHidden());

    // The next poll, ten seconds on, sees the wheel on external power.
    wheel.withWheel([](wheelemu::Wheel &wh) { wh.setPowerStatus({42, 4300, 2}); });
    QTRY_COMPARE_WITH_TIMEOUT(w.widget<QLabel>("lbBatStatus")->text(), QStringLiteral("BATTERY STATUS: USB"),
                              kPollMs + 2000);
    QCOMPARE(powerQueries(wheel), 2);
    QVERIFY(w.statusPoll()->isActive());

    // Without a wheel the pending poll runs once more and arms nothing.
    QVERIFY(wheel.unplug());
    QTRY_COMPARE(w.header(), kWaitingHeader);
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
