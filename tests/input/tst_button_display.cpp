// The live button display on the window's form: how a payload's bytes are
// read, which indicators light and go out and which releases are reported
// (the settings tests bind the encoder by them), the paddle bars, and that
// touching only what changed looks exactly like setting every widget on every
// report.
#include "input/button_display.h"
#include "input/report_batcher.h"
#include "ui_mainwindow.h"

#include "../support/table_rows.h"

#include <QTest>

#include <QImage>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QScreen>
#include <QtEndian>

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
    qToLittleEndian(report.right, bytes.data());
    qToLittleEndian(report.left, bytes.data() + 2);
    qToLittleEndian(report.buttons, bytes.data() + 4);
    return bytes;
}

using Payloads = QList<QByteArray>;

// One payload per report, each holding only the given buttons pressed.
Payloads pressed(std::initializer_list<std::initializer_list<int>> reports)
{
    Payloads out;
    for (const auto &numbers : reports) {
        Report report;
        for (int n : numbers)
            report.buttons |= uint64_t{1} << (n - 1);
        out << payload(report);
    }
    return out;
}

// The window's form in the state a connected wheel leaves it: shown, every
// indicator waiting hidden.
struct Form
{
    QMainWindow window;
    Ui::MainWindow ui;
    QList<qint32> released;
    // As a calibration starts them: empty ranges.
    quint32 leftMin = 4096, leftMax = 0, rightMin = 4096, rightMax = 0;

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
        return window.findChild<QWidget *>(QLatin1String(indicatorName(number)));
    }
    void show(ButtonDisplay &display, const QByteArray &bytes)
    {
        display.showReport(bytes, {leftMin, leftMax, rightMin, rightMax}, released);
    }
    QList<int> extremes() const { return {int(leftMin), int(leftMax), int(rightMin), int(rightMax)}; }
    // Button numbers whose indicator is on screen.
    QList<int> lit() const
    {
        QList<int> numbers;
        for (int n = 1; n <= 52; ++n)
            if (!indicator(n)->isHidden())
                numbers << n;
        return numbers;
    }
    QStringList tips() const
    {
        QStringList all;
        for (int n = 1; n <= 52; ++n)
            all << indicator(n)->statusTip();
        return all;
    }
    QList<int> bars() const { return {ui.pgAdcL->value(), ui.pgAdcR->value()}; }
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

// Reports, what is done to the form after the first one, the buttons lit,
// those released, "n=TIP" for the buttons that matter, the bars (left,
// right), and leftMin, leftMax, rightMin, rightMax after the reports (a
// calibration runs only where the second column says so). A payload is the
// right paddle, the left, then bit n of byte 4 + k is button 8k + n + 1; its
// last four bytes are unused. The waiting screen and the model layout hide
// indicators without touching their tips: one lit when the wheel went away
// is settled by the first report after it is back. Reports in a run (the
// same buttons held) reach the display as one; the calibration must still
// see each reading.
const QList<int> kUntouched{4096, 0, 4096, 0};
// clang-format off
const std::tuple<const char *, Payloads, QString, QList<int>, QList<qint32>, QStringList, QList<int>, QList<int>>
    kIndicatorRows[] = {
    {"byte order", {QByteArray::fromHex("000f00080102040810204080ffffffff")}, "", {1, 10, 19, 28, 37, 46}, {},
     {"1=SHOW", "2=HIDE"}, {2048, 3840}, kUntouched},
    {"short payload read as zeros", {QByteArray::fromHex("ff0f01")}, "", {}, {}, {}, {1, 4095}, kUntouched},
    {"all clear releases in ascending order", pressed({{33, 1, 48, 7}, {}}), "", {}, {0, 6, 32, 47},
     {"1=HIDE", "7=HIDE", "33=HIDE", "48=HIDE"}, {0, 0}, kUntouched},
    {"release and press in one report", pressed({{3, 4}, {4, 10}}), "", {4, 10}, {2},
     {"3=HIDE", "4=SHOW", "10=SHOW"}, {0, 0}, kUntouched},
    {"hidden while lit, let go meanwhile", pressed({{7}, {}}), "hide 7", {}, {6}, {"7=HIDE"}, {0, 0}, kUntouched},
    {"hidden while lit, still held", pressed({{7}, {7}}), "hide 7", {7}, {}, {"7=SHOW"}, {0, 0}, kUntouched},
    {"disabled indicator stays dark", pressed({{2}, {2, 3}}), "disable 2 3", {}, {1}, {"2=HIDE", "3=HIDE"},
     {0, 0}, kUntouched},
    {"calibration sees every reading", {payload({0, 300, 1000}), payload({0, 3900, 4000}), payload({0, 200, 900})},
     "calibrate", {}, {}, {}, {200, 900}, {200, 3900, 900, 4000}},
    {"calibration across presses", {payload({1, 3000, 10}), payload({1, 100, 20}), payload({0, 2000, 30})},
     "calibrate", {}, {0}, {"1=HIDE"}, {2000, 30}, {100, 3000, 10, 30}},
};
// clang-format on

} // namespace

class TestButtonDisplay : public QObject
{
    Q_OBJECT

private slots:
    // What a random walk of single presses and releases cannot reach (see
    // looksLikeSettingEverything): fixed bytes, several changes in one
    // report, indicators the window hid or disabled, short payloads.
    void indicators_data() { wheeltest::addRows(kIndicatorRows); }
    void indicators()
    {
        const auto &[tag, reports, between, lit, released, tips, bars, extremes] =
            wheeltest::rowOf(kIndicatorRows);

        // Report by report, then as the window shows them: gathered into runs
        // by the batcher, handed over after the first report and at the end.
        for (const bool batched : {false, true}) {
            Form form;
            ButtonDisplay display(&form.window);
            ReportBatcher batcher;
            batcher.setSink([&](const ReportRun &run) {
                display.showRun(run, {form.leftMin, form.leftMax, form.rightMin, form.rightMax},
                                form.released);
            });
            const QStringList words = between.split(' ');
            form.ui.pbCalL->setChecked(words[0] == "calibrate");
            form.ui.pbCalR->setChecked(words[0] == "calibrate");
            for (int i = 0; i < reports.size(); ++i) {
                if (batched)
                    batcher.add(reports[i]);
                else
                    form.show(display, reports[i]);
                if (i > 0)
                    continue;
                if (batched)
                    batcher.flush();
                for (const QString &n : words.mid(1))
                    words[0] == "hide" ? form.indicator(n.toInt())->hide()
                                       : form.indicator(n.toInt())->setDisabled(true);
            }
            batcher.flush();
            QCOMPARE(form.lit(), lit);
            QCOMPARE(form.released, released);
            QCOMPARE(form.bars(), bars);
            QCOMPARE(form.extremes(), extremes);
            for (const QString &tip : tips)
                QCOMPARE(form.indicator(tip.section('=', 0, 0).toInt())->statusTip(), tip.section('=', 1));
        }
    }

    // Buttons 1 to 64 toggled one at a time, so presses, releases, held
    // buttons, the extra shifters off (then on from step 150), buttons 53 to
    // 64 without an indicator and paddle readings past the bars' 4096 all
    // come up, against the reference above.
    void looksLikeSettingEverything()
    {
        Form plain, changed;
        for (Form *form : {&plain, &changed})
            QVERIFY(QTest::qWaitForWindowExposed(&form->window));
        ButtonDisplay display(&changed.window);
        const auto grab = [](Form &f) {
            return f.window.screen()->grabWindow(f.window.winId()).toImage();
        };
        QRandomGenerator random(20240307);
        Report report;
        for (int step = 0; step < 400; ++step) {
            for (Form *form : {&plain, &changed}) {
                if (step == 150)
                    form->ui.cbShifter->setChecked(true);
                if (step == 300)
                    form->indicator(9)->hide(); // as the waiting screen would
            }
            report.buttons ^= uint64_t{1} << random.bounded(64);
            report.left = quint16(random.bounded(4200));
            report.right = quint16(random.bounded(4200));
            showEverything(plain, report);
            changed.show(display, payload(report));
            QCOMPARE(changed.released, plain.released);
            QCOMPARE(changed.tips(), plain.tips());
            QCOMPARE(changed.lit(), plain.lit());
            QCOMPARE(changed.bars(), plain.bars());
            // What is on screen, not a fresh rendering: once the pending
            // paints have run, both windows show the same picture.
            if (step % 50 == 49)
                QTRY_COMPARE(grab(changed), grab(plain));
        }
    }
};

QTEST_MAIN(TestButtonDisplay)
#include "tst_button_display.moc"
