// The live button display on the window's form: how a payload's bytes are
// read, which indicators light and go out and which releases are reported
// (the settings tests bind the encoder by them), the paddle bars, and that
// touching only what changed looks exactly like setting every widget on every
// report.
#include "input/button_display.h"
#include "ui_mainwindow.h"

#include <QTest>

#include <QImage>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QScreen>

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

using Payloads = QList<QByteArray>;

Payloads payloads(std::initializer_list<Report> reports)
{
    Payloads out;
    for (const Report &report : reports)
        out << payload(report);
    return out;
}

uint64_t buttons(std::initializer_list<int> numbers)
{
    uint64_t bits = 0;
    for (int n : numbers)
        bits |= uint64_t{1} << (n - 1);
    return bits;
}

// The window's form in the state a connected wheel leaves it: shown, every
// indicator waiting hidden.
struct Form
{
    QMainWindow window;
    Ui::MainWindow ui;
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
        return window.findChild<QWidget *>(QLatin1String(indicatorName(number)));
    }

    void show(ButtonDisplay &display, const QByteArray &bytes)
    {
        quint32 leftMin = 0, leftMax = 4096, rightMin = 0, rightMax = 4096;
        display.showReport(bytes, {leftMin, leftMax, rightMin, rightMax}, released);
    }

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

} // namespace

class TestButtonDisplay : public QObject
{
    Q_OBJECT

private slots:
    void indicators_data();
    void indicators();
    void paddleBars_data();
    void paddleBars();
    void looksLikeSettingEverything();
};

void TestButtonDisplay::indicators_data()
{
    QTest::addColumn<bool>("extraShifters");
    QTest::addColumn<Payloads>("reports");
    QTest::addColumn<QString>("between"); // done to the form after the first report
    QTest::addColumn<QList<int>>("lit");
    QTest::addColumn<QList<qint32>>("released");
    QTest::addColumn<QStringList>("tips"); // "n=TIP" for the buttons that matter

    // Right paddle, left paddle, then bit n of byte 4 + k is button 8k + n + 1;
    // the last four bytes are unused.
    QTest::newRow("byte order") << false << Payloads{QByteArray::fromHex("000f00080102040810204080ffffffff")}
                                << QString() << QList<int>{1, 10, 19, 28, 37, 46} << QList<qint32>{}
                                << QStringList{"1=SHOW", "2=HIDE"};
    QTest::newRow("press three") << false << payloads({{buttons({1, 7, 33})}}) << QString()
                                 << QList<int>{1, 7, 33} << QList<qint32>{}
                                 << QStringList{"1=SHOW", "7=SHOW", "33=SHOW", "2=HIDE"};
    QTest::newRow("all clear releases in ascending order")
        << false << payloads({{buttons({33, 1, 48, 7})}, {0}}) << QString() << QList<int>{}
        << QList<qint32>{0, 6, 32, 47} << QStringList{"1=HIDE", "7=HIDE", "33=HIDE", "48=HIDE"};
    QTest::newRow("release comes once") << false << payloads({{buttons({5})}, {0}, {0}}) << QString()
                                        << QList<int>{} << QList<qint32>{} << QStringList{"5=HIDE"};
    QTest::newRow("release and press in one report")
        << false << payloads({{buttons({3, 4})}, {buttons({4, 10})}}) << QString() << QList<int>{4, 10}
        << QList<qint32>{2} << QStringList{"3=HIDE", "4=SHOW", "10=SHOW"};
    QTest::newRow("held button reports nothing")
        << false << payloads({{buttons({5, 6})}, {buttons({5, 6})}, {buttons({5})}}) << QString()
        << QList<int>{5} << QList<qint32>{5} << QStringList{"5=SHOW", "6=HIDE"};
    // Buttons 53 to 64 have no indicator.
    QTest::newRow("52 is the last indicator")
        << false << payloads({{0xFFF8000000000000ULL}, {0}}) << QString() << QList<int>{} << QList<qint32>{51}
        << QStringList{"52=HIDE"};
    QTest::newRow("extra shifters off: 49 and 50 untouched")
        << false << payloads({{buttons({49, 50})}, {0}}) << QString() << QList<int>{} << QList<qint32>{}
        << QStringList{"49=", "50=", "51=HIDE"};
    QTest::newRow("extra shifters on: 49 and 50 light and release")
        << true << payloads({{buttons({49, 50, 51})}, {buttons({51})}}) << QString() << QList<int>{51}
        << QList<qint32>{48, 49} << QStringList{"49=HIDE", "50=HIDE", "51=SHOW"};
    // The waiting screen and the model layout hide indicators without
    // touching their tips: an indicator lit when the wheel went away is
    // settled by the first report after it is back.
    QTest::newRow("hidden while lit, let go meanwhile")
        << false << payloads({{buttons({7})}, {0}}) << "hide 7" << QList<int>{} << QList<qint32>{6}
        << QStringList{"7=HIDE"};
    QTest::newRow("hidden while lit, still held")
        << false << payloads({{buttons({7})}, {buttons({7})}}) << "hide 7" << QList<int>{7} << QList<qint32>{}
        << QStringList{"7=SHOW"};
    QTest::newRow("disabled indicator stays dark")
        << false << payloads({{buttons({2})}, {buttons({2, 3})}}) << "disable 2 3" << QList<int>{}
        << QList<qint32>{1} << QStringList{"2=HIDE", "3=HIDE"};
}

void TestButtonDisplay::indicators()
{
    QFETCH(bool, extraShifters);
    QFETCH(Payloads, reports);
    QFETCH(QString, between);
    QFETCH(QList<int>, lit);
    QFETCH(QList<qint32>, released);
    QFETCH(QStringList, tips);

    Form form;
    form.ui.cbShifter->setChecked(extraShifters);
    ButtonDisplay display(&form.window);
    for (int i = 0; i < reports.size(); ++i) {
        form.show(display, reports[i]);
        if (i > 0 || between.isEmpty())
            continue;
        const QStringList words = between.split(QLatin1Char(' '));
        for (const QString &number : words.mid(1)) {
            if (words[0] == QLatin1String("hide"))
                form.indicator(number.toInt())->hide();
            else
                form.indicator(number.toInt())->setEnabled(false);
        }
    }

    QCOMPARE(form.lit(), lit);
    QCOMPARE(form.released, released);
    for (const QString &tip : tips)
        QCOMPARE(form.indicator(tip.section(QLatin1Char('='), 0, 0).toInt())->statusTip(),
                 tip.section(QLatin1Char('='), 1));
}

void TestButtonDisplay::paddleBars_data()
{
    // Calibration from the bars is checked with the settings pages.
    QTest::addColumn<Payloads>("reports");
    QTest::addColumn<QList<int>>("bars"); // left, right

    QTest::newRow("byte order") << Payloads{QByteArray::fromHex("000f0008").leftJustified(16, 0)}
                                << QList<int>{2048, 3840};
    QTest::newRow("short payload read as zeros")
        << Payloads{QByteArray::fromHex("ff0f01")} << QList<int>{1, 4095};
    // The bars run to 4096; a reading above it leaves them where they were.
    QTest::newRow("beyond the bars' range")
        << payloads({{0, 100, 200}, {0, 65535, 4097}}) << QList<int>{100, 200};
}

void TestButtonDisplay::paddleBars()
{
    QFETCH(Payloads, reports);
    QFETCH(QList<int>, bars);

    Form form;
    ButtonDisplay display(&form.window);
    for (const QByteArray &report : reports)
        form.show(display, report);
    QCOMPARE((QList<int>{form.ui.pgAdcL->value(), form.ui.pgAdcR->value()}), bars);
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
        changed.show(display, payload(report));
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
