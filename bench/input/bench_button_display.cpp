// What the live button display costs the GUI thread.
//
//   display_report_median_us / _p99_us: one report decoded and shown, timed
//     call by call on the window's form (offscreen, INPUTS page on screen),
//     with both paddles moving on every report and a button changing every
//     few reports. Paints are not in these figures: they run later, once per
//     frame, and are in the CPU shares below.
//   display_report_plain_*: the same reports with every widget set on every
//     report (synchronous bar repaints included), for comparison.
//   display_gui_cpu_share_<rate>, display_delivered_<rate>,
//   display_backlog_<rate>: the emulated wheel streams at 1,000, 4,000 and
//     8,000 reports per second while its paddles move and buttons change;
//     the reader thread reads them through the real hidapi and hands them
//     to the GUI thread through the window's ReportBatcher, in runs at most
//     once per frame. The share is the GUI thread's CPU time over wall time
//     (paints included); delivered is what the harness carried
//     (tools/README.md lists its ceiling, well below 8,000 on a busy
//     machine); backlog is how many reports were not yet shown at the end
//     (up to a frame's worth wait in the batcher by design).
//   display_paced_gui_cpu_share_<rate>, display_max_rate_kept_up: a thread
//     emits the reader's signal itself at an exact rate, so the GUI side is
//     measured at rates the emulated bus cannot deliver. The maximum is the
//     highest rate tried whose backlog did not grow.
#include "under_preload.h"
#include "wheel_fixture.h"

#include "app/page_styles.h"
#include "device/device_handle.h"
#include "device/discovery.h"
#include "display_harness.h"
#include "input/button_display.h"
#include "input/quor_event.h"
#include "input/report_batcher.h"
#include "ui_mainwindow.h"

#include <hidapi/hidapi.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using namespace benchdisplay;
struct Form;
using Receiver = benchdisplay::Receiver<Form>;

// Paddles sweeping all the time, a button going down or up every 16 reports.
std::vector<QByteArray> reportSequence(int count)
{
    std::vector<QByteArray> reports;
    uint64_t buttons = 0;
    for (int i = 0; i < count; ++i) {
        if (i % 16 == 0)
            buttons ^= uint64_t{1} << ((i / 16) % 52);
        reports.push_back(payload(buttons, uint16_t((i * 7) % 4097), uint16_t(4096 - (i * 5) % 4097)));
    }
    return reports;
}

// The window's form on screen and styled as the window styles it, INPUTS
// page current.
struct Form
{
    QMainWindow window;
    Ui::MainWindow ui;
    quint32 leftMin = 0, rightMin = 0, leftMax = 4096, rightMax = 4096;
    QList<qint32> released;

    Form()
    {
        auto *pageStyler = new PageStyles::Styler(&window);
        ui.setupUi(&window);
        pageStyler->styleOnFirstShow(ui.stackedWidget);
        ui.stackedWidget->setCurrentIndex(0);
        window.show();
        for (QObject *child : ui.page1->children()) {
            const QString name = child->objectName();
            if (name.startsWith(QLatin1String("pbI")) || name.startsWith(QLatin1String("pbJ")) ||
                name.startsWith(QLatin1String("pbSW")))
                qobject_cast<QWidget *>(child)->hide();
        }
        QCoreApplication::processEvents();
    }
    PaddleExtremes extremes() { return {leftMin, leftMax, rightMin, rightMax}; }
};

// Every widget set on every report: what the display would cost without
// looking at what changed.
void showEverything(Form &form, const std::vector<QWidget *> &indicators, const QByteArray &data)
{
    const InputPayload report = decodeInputPayload(data);
    form.ui.pgAdcR->setValue(report.right);
    form.ui.pgAdcL->setValue(report.left);
    form.released.clear();
    for (int i = 0; i < 52; ++i) {
        QWidget *w = indicators[size_t(i)];
        if ((report.buttons >> i & 1) && w->isEnabled()) {
            w->show();
            w->setStatusTip(QStringLiteral("SHOW"));
        } else {
            if (w->statusTip() == QLatin1String("SHOW"))
                form.released << i;
            w->hide();
            w->setStatusTip(QStringLiteral("HIDE"));
        }
    }
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[at];
}

template<typename Show> std::vector<double> timeEach(const std::vector<QByteArray> &reports, Show show)
{
    std::vector<double> micros;
    micros.reserve(reports.size());
    QElapsedTimer timer;
    for (size_t i = 0; i < reports.size(); ++i) {
        timer.start();
        show(reports[i]);
        micros.push_back(double(timer.nsecsElapsed()) / 1000.0);
        // Let the frame's paints run now and then, as the event loop would.
        if (i % 64 == 63)
            QCoreApplication::processEvents();
    }
    return micros;
}

void perReportCost()
{
    const std::vector<QByteArray> reports = reportSequence(20000);
    {
        Form form;
        ButtonDisplay display(&form.window);
        const auto micros = timeEach(
            reports, [&](const QByteArray &r) { display.showReport(r, form.extremes(), form.released); });
        bench("display_report_median_us", percentile(micros, 0.5), "us");
        bench("display_report_p99_us", percentile(micros, 0.99), "us");
    }
    {
        Form form;
        std::vector<QWidget *> indicators;
        for (const char *name : ButtonIndicatorTable)
            indicators.push_back(form.window.findChild<QWidget *>(QLatin1String(name)));
        const auto micros =
            timeEach(reports, [&](const QByteArray &r) { showEverything(form, indicators, r); });
        bench("display_report_plain_median_us", percentile(micros, 0.5), "us");
        bench("display_report_plain_p99_us", percentile(micros, 0.99), "us");
    }
}

struct RunResult
{
    double cpuShare = 0;
    double delivered = 0; // per second, handled on the GUI thread
    long backlog = 0;     // emitted but not yet handled at the end
    bool keptUp = false;
};

// Runs the event loop for `seconds`, then reads how far the GUI got. The
// backlog counts every report emitted and not yet handled.
RunResult measure(Receiver &receiver, const std::function<long()> &emitted, double seconds)
{
    const long handledBefore = receiver.handled;
    auto backlog = [&] {
        return emitted() - receiver.handled;
    };
    long backlogAtOneSecond = 0;
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, [&] { backlogAtOneSecond = backlog(); });
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    loop.exec();
    RunResult result;
    const double elapsed = double(wall.nsecsElapsed()) * 1e-9;
    result.cpuShare = (threadCpuSeconds() - cpuBefore) / elapsed;
    result.delivered = double(receiver.handled - handledBefore) / elapsed;
    result.backlog = backlog();
    // Kept up: the queue at the end is no longer than a few milliseconds'
    // worth and did not grow after the first second.
    result.keptUp = result.backlog <= std::max<long>(64, backlogAtOneSecond + 64);
    return result;
}

void streamedFromTheWheel()
{
    wheeltest::WheelFixture wheel;
    if (!wheel.ok()) {
        std::fprintf(stderr, "emulator: %s\n", wheel.error().c_str());
        return;
    }
    hid_init();
    if (openFirstWheel(deviceHandle()) == 0) {
        std::fprintf(stderr, "no wheel\n");
        return;
    }
    Form form;
    Receiver receiver(form);
    QuorEvent reader;
    std::atomic<long> emitted{0};
    QObject::connect(&reader, SIGNAL(eventTrigger(QByteArray)), &receiver.batcher, SLOT(add(QByteArray)),
                     Qt::DirectConnection);
    QObject::connect(
        &reader, &QuorEvent::eventTrigger, &reader, [&emitted] { emitted.fetch_add(1); },
        Qt::DirectConnection);
    reader.start();

    // Hands on the wheel while it streams: paddles sweeping every
    // millisecond, a button going down or up every 40 ms.
    std::atomic<bool> moving{true};
    std::thread hands([&wheel, &moving] {
        for (int step = 0; moving; ++step) {
            wheel.setPaddles(uint16_t((step * 13) % 4097), uint16_t(4096 - (step * 11) % 4097));
            if (step % 40 == 0) {
                const int button = 1 + (step / 80) % 52;
                if (step % 80 == 0)
                    wheel.press(button);
                else
                    wheel.release(button);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    for (int rate : {1000, 4000, 8000}) {
        wheel.setRate(rate);
        QThread::msleep(300);
        const RunResult r = measure(
            receiver, [&emitted] { return emitted.load(); }, 3.0);
        char name[64];
        std::snprintf(name, sizeof name, "display_gui_cpu_share_%d", rate);
        bench(name, r.cpuShare, "cores");
        std::snprintf(name, sizeof name, "display_delivered_%d", rate);
        bench(name, r.delivered, "reports/s");
        std::snprintf(name, sizeof name, "display_backlog_%d", rate);
        bench(name, double(r.backlog), "reports");
    }
    moving = false;
    hands.join();
    wheel.setRate(0);
    reader.requestInterruption();
    reader.wait();
    deviceHandle().close();
}

void pacedRates()
{
    Form form;
    Receiver receiver(form);
    int best = 0;
    for (int rate : {1000, 4000, 8000, 16000, 32000, 64000}) {
        PacedSource source(reportSequence(4096), rate, 3.2);
        QObject::connect(&source, SIGNAL(eventTrigger(QByteArray)), &receiver.batcher, SLOT(add(QByteArray)),
                         Qt::DirectConnection);
        source.start();
        const RunResult r = measure(
            receiver, [&source] { return source.emitted.load(); }, 3.0);
        source.wait();
        char name[64];
        std::snprintf(name, sizeof name, "display_paced_gui_cpu_share_%d", rate);
        bench(name, r.cpuShare, "cores");
        // Drain what is left before the next rate.
        while (receiver.handled < source.emitted)
            QCoreApplication::processEvents();
        if (!r.keptUp)
            break;
        best = rate;
    }
    bench("display_max_rate_kept_up", best, "reports/s");
}

} // namespace

int main(int argc, char **argv)
{
    wheeltest::runUnderPreload(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    perReportCost();
    pacedRates();
    streamedFromTheWheel();
    return 0;
}
