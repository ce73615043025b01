// The live button display on the window's form: which indicators light and
// go out, which releases are handed on, the calibration extremes, and that
// touching only what changed looks exactly like setting every widget on every
// report.
#include "input/button_display.h"
#include "ui_mainwindow.h"

#include <QtTest>

#include <QImage>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QScreen>

#include <memory>

namespace {

struct Report
{
    uint64_t buttons = 0;
    uint16_t left = 0;
    uint16_t right = 0;
};

QByteArray payload(const Report &report)
{
    QByteArray bytes(16, '\0');
    bytes[0] = char(report.right & 0xFF);
    bytes[1] = char(report.right >> 8);
    bytes[2] = char(report.left & 0xFF);
    bytes[3] = char(report.left >> 8);
    for (int k = 0; k < 8; ++k)
        bytes[4 + k] = char((report.buttons >> (8 * k)) & 0xFF);
    return bytes;
}

uint64_t buttons(std::initializer_list<int> numbers)
{
    uint64_t bits = 0;
    for (int n : numbers)
        bits |= uint64_t{1} << (n - 1);
    return bits;
}

// The indicator of each button number, as the window's form names them.
const char *const kIndicatorOf[] = {
    nullptr,  "pbIB1",  "pbISW1", "pbID5L", "pbID5R",  "pbID1L",  "pbID1R", "pbIB2",  "pbIB6",
    "pbJsL1", "pbJsL2", "pbJsL3", "pbJsL4", "pbJsLC",  "pbJsLL",  "pbJsLR", "pbIB5",  "pbID7L",
    "pbID7R", "pbID3L", "pbID3R", "pbIB3",  "pbIB4",   "pbIBarR", "pbSWL",  "pbID8L", "pbID8R",
    "pbID4L", "pbID4R", "pbIB11", "pbIB12", "pbIBarL", "pbSWR",   "pbIB9",  "pbISW2", "pbID6L",
    "pbID6R", "pbID2L", "pbID2R", "pbIB10", "pbIB13",  "pbJsR1",  "pbJsR2", "pbJsR3", "pbJsR4",
    "pbJsRC", "pbJsRL", "pbJsRR", "pbIB14", "pbIExR",  "pbIExL",  "pbIEbL", "pbIEbR"};

// The window's form in the state a connected wheel leaves it: shown, every
// indicator waiting hidden.
struct Form
{
    QMainWindow window;
    Ui::MainWindow ui;
    quint32 leftMin = 0;
    quint32 rightMin = 0;
    quint32 leftMax = 4096;
    quint32 rightMax = 4096;
    QList<qint32> released;

    Form()
    {
        ui.setupUi(&window);
        ui.stackedWidget->setCurrentIndex(0);
        window.show();
        for (int n = 1; n <= 52; ++n)
            indicator(n)->hide();
    }

    QWidget *indicator(int number) const
    {
        return window.findChild<QWidget *>(QLatin1String(kIndicatorOf[number]));
    }

    PaddleExtremes extremes() { return {leftMin, leftMax, rightMin, rightMax}; }

    // Button numbers whose indicator is on screen.
    QList<int> lit() const
    {
        QList<int> numbers;
        for (int n = 1; n <= 52; ++n) {
            if (!indicator(n)->isHidden())
                numbers << n;
        }
        return numbers;
    }

    QStringList tips() const
    {
        QStringList all;
        for (int n = 1; n <= 52; ++n)
            all << indicator(n)->statusTip();
        return all;
    }
};

// Every widget set on every report, the plain way: the reference for what
// the user must see.
void showEverything(Form &form, const Report &report)
{
    form.ui.pgAdcR->setValue(report.right);
    form.ui.pgAdcR->repaint();
    form.ui.pgAdcL->setValue(report.left);
    form.ui.pgAdcL->repaint();
    form.released.clear();
    for (int index = 0; index < 52; ++index) {
        if ((index == 48 || index == 49) && !form.ui.cbShifter->isChecked())
            continue;
        QWidget *w = form.indicator(index + 1);
        if ((report.buttons >> index & 1) && w->isEnabled()) {
            w->show();
            w->setStatusTip(QStringLiteral("SHOW"));
        } else {
            if (w->statusTip() == QLatin1String("SHOW"))
                form.released << index;
            w->hide();
            w->setStatusTip(QStringLiteral("HIDE"));
        }
    }
}

QImage onScreen(Form &form)
{
    return form.window.screen()->grabWindow(form.window.winId()).toImage();
}

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

Q_DECLARE_METATYPE(QList<Report>)

class TestButtonDisplay : public QObject
{
    Q_OBJECT

private slots:
    void indicators_data();
    void indicators();
    void releasesReachTheHandler();
    void litWhileHiddenByTheWindow_data();
    void litWhileHiddenByTheWindow();
    void disabledIndicatorStaysDark();
    void calibration_data();
    void calibration();
    void bars_data();
    void bars();
    void barPaintsLater();
    void looksLikeSettingEverything();
};

void TestButtonDisplay::indicators_data()
{
    QTest::addColumn<bool>("extraShifters");
    QTest::addColumn<QList<Report>>("reports");
    QTest::addColumn<QList<int>>("lit");
    QTest::addColumn<QList<qint32>>("released");
    QTest::addColumn<QStringList>("tips"); // "n=TIP" for the buttons that matter

    QTest::newRow("press three") << false << QList<Report>{{buttons({1, 7, 33})}} << QList<int>{1, 7, 33}
                                 << QList<qint32>{} << QStringList{"1=SHOW", "7=SHOW", "33=SHOW", "2=HIDE"};
    QTest::newRow("all clear releases in ascending order")
        << false << QList<Report>{{buttons({33, 1, 48, 7})}, {0}} << QList<int>{}
        << QList<qint32>{0, 6, 32, 47} << QStringList{"1=HIDE", "7=HIDE", "33=HIDE", "48=HIDE"};
    QTest::newRow("release comes once") << false << QList<Report>{{buttons({5})}, {0}, {0}} << QList<int>{}
                                        << QList<qint32>{} << QStringList{"5=HIDE"};
    QTest::newRow("held button reports nothing")
        << false << QList<Report>{{buttons({5, 6})}, {buttons({5, 6})}, {buttons({5})}} << QList<int>{5}
        << QList<qint32>{5} << QStringList{"5=SHOW", "6=HIDE"};
    QTest::newRow("buttons 53 to 64 show nothing")
        << false << QList<Report>{{0xFFF0000000000000ULL}, {0}} << QList<int>{} << QList<qint32>{}
        << QStringList{"52=HIDE"};
    QTest::newRow("52 is the last indicator") << false << QList<Report>{{0xFFF8000000000000ULL}, {0}}
                                              << QList<int>{} << QList<qint32>{51} << QStringList{"52=HIDE"};
    QTest::newRow("extra shifters off: 49 and 50 untouched")
        << false << QList<Report>{{buttons({49, 50})}, {0}} << QList<int>{} << QList<qint32>{}
        << QStringList{"49=", "50=", "51=HIDE"};
    QTest::newRow("extra shifters on: 49 and 50 light")
        << true << QList<Report>{{buttons({49, 50, 51})}} << QList<int>{49, 50, 51} << QList<qint32>{}
        << QStringList{"49=SHOW", "50=SHOW"};
    QTest::newRow("extra shifters on: 49 and 50 release")
        << true << QList<Report>{{buttons({49, 50, 51})}, {buttons({51})}} << QList<int>{51}
        << QList<qint32>{48, 49} << QStringList{"49=HIDE", "50=HIDE", "51=SHOW"};
    QTest::newRow("every indicator at once") << false << QList<Report>{{~uint64_t{0}}, {0}} << QList<int>{} <<
        [] {
            QList<qint32> all;
            for (int i = 0; i < 52; ++i)
                if (i != 48 && i != 49)
                    all << i;
            return all;
        }() << QStringList{"1=HIDE", "52=HIDE"};
}

void TestButtonDisplay::indicators()
{
    QFETCH(bool, extraShifters);
    QFETCH(QList<Report>, reports);
    QFETCH(QList<int>, lit);
    QFETCH(QList<qint32>, released);
    QFETCH(QStringList, tips);

    Form form;
    form.ui.cbShifter->setChecked(extraShifters);
    ButtonDisplay display(&form.window);
    for (const Report &report : reports)
        display.showReport(payload(report), form.extremes(), form.released);

    QCOMPARE(form.lit(), lit);
    QCOMPARE(form.released, released);
    for (const QString &tip : tips) {
        const int number = tip.section(QLatin1Char('='), 0, 0).toInt();
        QCOMPARE(form.indicator(number)->statusTip(), tip.section(QLatin1Char('='), 1));
    }
}

void TestButtonDisplay::releasesReachTheHandler()
{
    Form form;
    ButtonDisplay display(&form.window);
    QList<QList<qint32>> handed;
    display.setReleaseHandler([&](const QList<qint32> &released) {
        QCOMPARE(&released, &form.released);
        handed << released;
    });

    display.showReport(payload({buttons({14, 15})}), form.extremes(), form.released);
    display.showReport(payload({buttons({15})}), form.extremes(), form.released);
    display.showReport(payload({buttons({15})}), form.extremes(), form.released);
    display.showReport(payload({buttons({46, 3})}), form.extremes(), form.released);

    QCOMPARE(handed, (QList<QList<qint32>>{{13}, {14}}));
    QCOMPARE(form.released, QList<qint32>{14});
}

void TestButtonDisplay::litWhileHiddenByTheWindow_data()
{
    QTest::addColumn<uint64_t>("next");
    QTest::addColumn<bool>("lit");
    QTest::addColumn<QList<qint32>>("released");

    QTest::newRow("button let go meanwhile") << uint64_t{0} << false << QList<qint32>{6};
    QTest::newRow("button still held") << buttons({7}) << true << QList<qint32>{};
}

// The waiting screen and the model layout hide indicators without touching
// their tips: an indicator lit when the wheel went away is settled by the
// first report after it is back.
void TestButtonDisplay::litWhileHiddenByTheWindow()
{
    QFETCH(uint64_t, next);
    QFETCH(bool, lit);
    QFETCH(QList<qint32>, released);

    Form form;
    ButtonDisplay display(&form.window);
    display.showReport(payload({buttons({7})}), form.extremes(), form.released);
    QCOMPARE(form.lit(), QList<int>{7});
    form.indicator(7)->hide();

    display.showReport(payload({next}), form.extremes(), form.released);

    QCOMPARE(!form.indicator(7)->isHidden(), lit);
    QCOMPARE(form.indicator(7)->statusTip(), lit ? QStringLiteral("SHOW") : QStringLiteral("HIDE"));
    QCOMPARE(form.released, released);
}

void TestButtonDisplay::disabledIndicatorStaysDark()
{
    Form form;
    ButtonDisplay display(&form.window);
    display.showReport(payload({buttons({2})}), form.extremes(), form.released);
    form.indicator(2)->setEnabled(false);
    form.indicator(3)->setEnabled(false);

    display.showReport(payload({buttons({2, 3})}), form.extremes(), form.released);

    QCOMPARE(form.lit(), QList<int>{});
    QCOMPARE(form.released, QList<qint32>{1});
    QCOMPARE(form.indicator(3)->statusTip(), QStringLiteral("HIDE"));
}

void TestButtonDisplay::calibration_data()
{
    QTest::addColumn<bool>("left");
    QTest::addColumn<bool>("right");
    QTest::addColumn<QList<Report>>("reports");
    QTest::addColumn<QList<quint32>>("extremes"); // leftMin, leftMax, rightMin, rightMax

    // Calibration starts from an empty range (min high, max low).
    const QList<Report> leftSweep{{0, 300, 1000}, {0, 3900, 1100}, {0, 200, 900}};
    QTest::newRow("left 300, 3900, 200") << true << false << leftSweep << QList<quint32>{200, 3900, 4096, 0};
    QTest::newRow("right only") << false << true << leftSweep << QList<quint32>{4096, 0, 900, 1100};
    QTest::newRow("both") << true << true << leftSweep << QList<quint32>{200, 3900, 900, 1100};
    QTest::newRow("neither") << false << false << leftSweep << QList<quint32>{4096, 0, 4096, 0};
    QTest::newRow("beyond the bar's range")
        << true << false << QList<Report>{{0, 65535, 0}, {0, 100, 0}} << QList<quint32>{100, 65535, 4096, 0};
}

void TestButtonDisplay::calibration()
{
    QFETCH(bool, left);
    QFETCH(bool, right);
    QFETCH(QList<Report>, reports);
    QFETCH(QList<quint32>, extremes);

    Form form;
    form.leftMin = form.rightMin = 4096;
    form.leftMax = form.rightMax = 0;
    form.ui.pbCalL->setChecked(left);
    form.ui.pbCalR->setChecked(right);
    ButtonDisplay display(&form.window);
    for (const Report &report : reports)
        display.showReport(payload(report), form.extremes(), form.released);

    QCOMPARE((QList<quint32>{form.leftMin, form.leftMax, form.rightMin, form.rightMax}), extremes);
}

void TestButtonDisplay::bars_data()
{
    QTest::addColumn<QList<Report>>("reports");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");

    QTest::newRow("positions") << QList<Report>{{0, 1234, 4000}} << 1234 << 4000;
    QTest::newRow("full travel") << QList<Report>{{0, 4096, 0}} << 4096 << 0;
    QTest::newRow("last report wins")
        << QList<Report>{{0, 10, 20}, {0, 30, 40}, {0, 2048, 1024}} << 2048 << 1024;
    // The bars run to 4096; a reading above it leaves them where they were.
    QTest::newRow("above the range") << QList<Report>{{0, 100, 200}, {0, 4097, 60000}} << 100 << 200;
}

void TestButtonDisplay::bars()
{
    QFETCH(QList<Report>, reports);
    QFETCH(int, left);
    QFETCH(int, right);

    Form form;
    ButtonDisplay display(&form.window);
    for (const Report &report : reports)
        display.showReport(payload(report), form.extremes(), form.released);

    QCOMPARE(form.ui.pgAdcL->value(), left);
    QCOMPARE(form.ui.pgAdcR->value(), right);
}

// QProgressBar::setValue paints a visible bar on the spot; a burst of reports
// must cost one paint, after them.
void TestButtonDisplay::barPaintsLater()
{
    Form form;
    QVERIFY(QTest::qWaitForWindowExposed(&form.window));
    QCoreApplication::processEvents();
    ButtonDisplay display(&form.window);
    PaintCounter counter;
    form.ui.pgAdcL->installEventFilter(&counter);

    for (uint16_t value = 100; value < 4000; value += 100)
        display.showReport(payload({0, value, 0}), form.extremes(), form.released);
    QCOMPARE(counter.paints, 0);

    QTRY_VERIFY(counter.paints >= 1);
    QCOMPARE(form.ui.pgAdcL->value(), 3900);
    QVERIFY(form.ui.pgAdcL->updatesEnabled());
}

void TestButtonDisplay::looksLikeSettingEverything()
{
    Form plain;
    Form changed;
    for (Form *form : {&plain, &changed})
        QVERIFY(QTest::qWaitForWindowExposed(&form->window));
    ButtonDisplay display(&changed.window);

    // Few buttons at a time, as hands press them, with the paddles moving.
    QRandomGenerator random(20240307);
    Report report;
    for (int step = 0; step < 400; ++step) {
        if (step == 150)
            for (Form *form : {&plain, &changed})
                form->ui.cbShifter->setChecked(true);
        if (step == 300)
            for (Form *form : {&plain, &changed})
                form->indicator(9)->hide(); // as the waiting screen would
        report.buttons ^= uint64_t{1} << random.bounded(64);
        report.left = quint16(random.bounded(4200));
        report.right = quint16(random.bounded(4200));
        showEverything(plain, report);
        display.showReport(payload(report), changed.extremes(), changed.released);
        QCOMPARE(changed.released, plain.released);
        QCOMPARE(changed.tips(), plain.tips());
        QCOMPARE(changed.lit(), plain.lit());
        QCOMPARE(changed.ui.pgAdcL->value(), plain.ui.pgAdcL->value());
        QCOMPARE(changed.ui.pgAdcR->value(), plain.ui.pgAdcR->value());
        if (step % 50 == 49) {
            // What is on screen, not a fresh rendering: once the pending
            // paints have run, both windows show the same picture.
            QTRY_COMPARE(onScreen(changed), onScreen(plain));
        }
    }
}

QTEST_MAIN(TestButtonDisplay)
#include "tst_button_display.moc"
