// What the live display and the start-up cost on a real X server: a private
// Xvfb, Qt's xcb platform, the pictures compiled in as in the program.
//
//   xcb_display_gui_cpu_share_<rate>: the window's form laid out for an SRD7
//     (its picture, bars and indicators), INPUTS page on screen; a thread
//     emits the reader's signal at an exact rate with both paddles moving on
//     every report and a button going down or up ten times a second; the
//     reports reach the display through the window's ReportBatcher.
//     The share is the GUI thread's CPU time over wall time, paints and the
//     X requests they make included.
//   xcb_display_hidden_gui_cpu_share_<rate>: the same with the window
//     minimised to the tray (minimised, then hidden, as the window does).
//   xcb_display_*single_reports*: the same reports queued to the GUI thread
//     and shown one by one, without the batcher, for comparison.
//   startup_quorset_ms, startup_bare_ms, startup_ratio: from fork/exec to the
//     window's first frame on the screen (its centre pixel no longer the
//     black root), for the program without a wheel and for bare-window (a
//     plain Qt Widgets window of the same size); the two start alternately in
//     the same run, medians of each. startup_*_mapped_ms and
//     startup_mapped_ratio are the same up to the window being mapped, which
//     is when X counts it as shown; the frame comes after that, so these are
//     for reference and the figures above are the ones to meet.
//     startup_*_cpu_ms: the CPU time the program had used by the frame, all
//     threads; the ratio of these is steadier than that of wall times on a
//     busy machine.
//   startup_bare_text_*, startup_text_*ratio: the same for bare-text-window,
//     the bare window with one line of text: a window that shows any text
//     reads the font configuration, which bare-window never does.
//   idle_rss_mb, idle_rss_bare_mb: resident memory of the program with the
//     emulated wheel attached and of bare-window, two seconds after shown.
#include "under_preload.h"
#include "wheel_fixture.h"

#include "app/page_styles.h"
#include "device/model_layout.h"
#include "display_harness.h"
#include "input/button_display.h"
#include "input/report_batcher.h"
#include "ui_mainwindow.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using namespace benchdisplay;
struct Form;
using Receiver = benchdisplay::Receiver<Form>;

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// A private X server for the run, on the first free display it finds.
class XServer
{
public:
    XServer()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            // Goes with the benchmark even when a signal ends it before the
            // destructor runs (a closed pipe on its output, a time-out).
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            close(fds[0]);
            unsetenv("LD_PRELOAD");
            const std::string fd = std::to_string(fds[1]);
            // Every measured start ends with its program leaving; a server
            // that reset then would still be busy with it, or drop the
            // connection, when the next start comes.
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-screen", "0", "1280x800x24",
                   "-nolisten", "tcp", "-br", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty())
            display_ = ":" + number;
    }
    ~XServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;
    const std::string &display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// One second of reports at `rate`: both paddles move on every report (a real
// wheel's readings jitter by a count or two all the time), and a button goes
// down or up ten times a second, a hand busy on the wheel.
std::vector<QByteArray> reportSequence(int rate)
{
    std::vector<QByteArray> reports;
    const int buttonEvery = std::max(1, rate / 10);
    uint64_t buttons = 0;
    for (int i = 0; i < rate; ++i) {
        if (i % buttonEvery == 0)
            buttons ^= uint64_t{1} << ((i / buttonEvery) % 52);
        reports.push_back(payload(buttons, uint16_t(1 + (i * 7) % 4095), uint16_t(4095 - (i * 5) % 4095)));
    }
    return reports;
}

// The window's form as the program shows it for an SRD7, its pages styled as
// the window styles them.
struct Form
{
    QMainWindow window{nullptr, Qt::FramelessWindowHint};
    Ui::MainWindow ui;
    quint32 leftMin = 0, rightMin = 0, leftMax = 4096, rightMax = 4096;
    QList<qint32> released;

    Form()
    {
        auto *pageStyler = new PageStyles::Styler(&window);
        ui.setupUi(&window);
        pageStyler->styleOnFirstShow(ui.stackedWidget);
        ModelLayoutHost host;
        host.form = &window;
        applyModelLayout(QStringLiteral("QUOR SRD7 Wheel"), host);
        ui.stackedWidget->setCurrentIndex(0);
        window.show();
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    PaddleExtremes extremes() { return {leftMin, leftMax, rightMin, rightMax}; }
};

// For comparison: every report queued to the GUI thread and shown on its
// own, as the window did before it gathered them into runs.
class SingleReports : public QObject
{
    Q_OBJECT

public:
    explicit SingleReports(Form &form) : form_(form), display_(&form.window) {}
    std::atomic<long> handled{0};

public slots:
    void show(QByteArray payload)
    {
        display_.showReport(payload, form_.extremes(), form_.released);
        handled.fetch_add(1, std::memory_order_relaxed);
    }

private:
    Form &form_;
    ButtonDisplay display_;
};

// The GUI thread's share while a paced source feeds `receiver`; connect
// wires the source to it.
template<typename Target>
double guiShareAt(Target &receiver, int rate, const std::function<void(PacedSource &)> &connect)
{
    const double seconds = 3.0;
    PacedSource source(reportSequence(rate), rate, seconds + 0.3);
    connect(source);
    source.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    loop.exec();
    const double share = (threadCpuSeconds() - cpuBefore) / (double(wall.nsecsElapsed()) * 1e-9);
    source.wait();
    while (receiver.handled < source.emitted)
        QCoreApplication::processEvents();
    return share;
}

void displayFigures()
{
    Form form;
    Receiver receiver(form);
    SingleReports single(form);
    const auto batched = [&receiver](PacedSource &source) {
        QObject::connect(&source, SIGNAL(eventTrigger(QByteArray)), &receiver.batcher, SLOT(add(QByteArray)),
                         Qt::DirectConnection);
    };
    const auto oneByOne = [&single](PacedSource &source) {
        QObject::connect(&source, SIGNAL(eventTrigger(QByteArray)), &single, SLOT(show(QByteArray)));
    };
    char name[80];
    for (int rate : {1000, 8000}) {
        std::snprintf(name, sizeof name, "xcb_display_gui_cpu_share_%d", rate);
        bench(name, guiShareAt(receiver, rate, batched), "cores");
        std::snprintf(name, sizeof name, "xcb_display_single_reports_gui_cpu_share_%d", rate);
        bench(name, guiShareAt(single, rate, oneByOne), "cores");
    }
    form.window.showMinimized();
    form.window.hide();
    QCoreApplication::processEvents();
    for (int rate : {1000, 8000}) {
        std::snprintf(name, sizeof name, "xcb_display_hidden_gui_cpu_share_%d", rate);
        bench(name, guiShareAt(receiver, rate, batched), "cores");
        std::snprintf(name, sizeof name, "xcb_display_hidden_single_reports_gui_cpu_share_%d", rate);
        bench(name, guiShareAt(single, rate, oneByOne), "cores");
    }
}

// A program started with a chosen environment, ended with SIGTERM.
class Child
{
public:
    Child(const std::string &program, const std::vector<std::string> &env)
    {
        std::vector<char *> envp;
        for (const std::string &e : env)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            // Not a session leader: hidapi opens the emulated node without
            // O_NOCTTY.
            setpgid(0, 0);
            char *argv[] = {const_cast<char *>(program.c_str()), nullptr};
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // CPU time of all its threads so far, those that have already ended
    // included (the kernel's CPU clock of the process; the threads listed
    // under /proc are only the live ones); steadier than wall time on a
    // machine that runs other work.
    double cpuMilliseconds() const
    {
        clockid_t clock;
        timespec used{};
        if (clock_getcpuclockid(pid_, &clock) != 0 || clock_gettime(clock, &used) != 0)
            return -1;
        return double(used.tv_sec) * 1e3 + double(used.tv_nsec) / 1e6;
    }

    double rssMegabytes() const
    {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0)
                return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
        }
        return 0;
    }

private:
    pid_t pid_ = -1;
};

// Watches the screen for the next 900 x 500 window to be mapped and to get
// its first frame.
class ScreenWatch
{
public:
    explicit ScreenWatch(const std::string &display)
    {
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_))
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~ScreenWatch() { xcb_disconnect(connection_); }
    ScreenWatch(const ScreenWatch &) = delete;
    ScreenWatch &operator=(const ScreenWatch &) = delete;

    bool ok() const { return root_ != 0; }

    struct Shown
    {
        double mappedMs = -1;
        double paintedMs = -1;
    };

    // Times from `start`; gives up after timeoutMs.
    Shown waitForWindow(Clock::time_point start, int timeoutMs)
    {
        Shown shown;
        const auto deadline = start + std::chrono::milliseconds(timeoutMs);
        xcb_window_t window = 0;
        int cx = 0, cy = 0;
        while (Clock::now() < deadline && !window) {
            pollfd pfd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            poll(&pfd, 1, 5);
            while (xcb_generic_event_t *event = xcb_poll_for_event(connection_)) {
                if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY && !window) {
                    const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                    xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(
                        connection_, xcb_get_geometry(connection_, map->window), nullptr);
                    if (g && g->width == 900 && g->height == 500) {
                        window = map->window;
                        shown.mappedMs = msSince(start);
                        cx = g->x + 450;
                        cy = g->y + 250;
                    }
                    std::free(g);
                }
                std::free(event);
            }
        }
        while (window && Clock::now() < deadline) {
            xcb_get_image_reply_t *image =
                xcb_get_image_reply(connection_,
                                    xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, int16_t(cx),
                                                  int16_t(cy), 1, 1, ~0u),
                                    nullptr);
            uint32_t pixel = 0;
            if (image && xcb_get_image_data_length(image) >= 4)
                std::memcpy(&pixel, xcb_get_image_data(image), 4);
            std::free(image);
            if ((pixel & 0xFFFFFF) != 0) {
                shown.paintedMs = msSince(start);
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
        // Drop what the window's end will send.
        while (xcb_generic_event_t *event = xcb_poll_for_event(connection_))
            std::free(event);
        return shown;
    }

private:
    static double msSince(Clock::time_point start)
    {
        return double(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()) /
               1000.0;
    }

    xcb_connection_t *connection_ = nullptr;
    xcb_window_t root_ = 0;
};

// A desktop session gives every program a private runtime directory on a
// memory file system (/run/user/<uid>), where the program keeps its
// single-instance socket and lock. Without one it falls back to a directory
// in /tmp, on this machine a disk whose lock-file syncs took 10 to 30 ms of
// a start, a cost no user's start has. So the programs measured here get one
// in /dev/shm, as a session would give them.
class SessionRuntimeDir
{
public:
    SessionRuntimeDir()
    {
        char name[] = "/dev/shm/quorset-bench-XXXXXX";
        if (mkdtemp(name))
            path_ = name;
    }
    ~SessionRuntimeDir()
    {
        if (!path_.empty())
            std::filesystem::remove_all(path_);
    }
    SessionRuntimeDir(const SessionRuntimeDir &) = delete;
    SessionRuntimeDir &operator=(const SessionRuntimeDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

const SessionRuntimeDir &sessionRuntimeDir()
{
    static const SessionRuntimeDir dir;
    return dir;
}

std::vector<std::string> childEnvironment(const std::string &display, const std::string &umockdevDir)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const bool dropped = entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("QT_QPA_PLATFORM=", 0) == 0 ||
                             entry.rfind("UMOCKDEV_DIR=", 0) == 0 ||
                             entry.rfind("XDG_RUNTIME_DIR=", 0) == 0 ||
                             (umockdevDir.empty() && entry.rfind("LD_PRELOAD=", 0) == 0);
        if (!dropped)
            env.push_back(entry);
    }
    env.push_back("DISPLAY=" + display);
    env.push_back("QT_QPA_PLATFORM=xcb");
    if (!sessionRuntimeDir().path().empty())
        env.push_back("XDG_RUNTIME_DIR=" + sessionRuntimeDir().path());
    if (!umockdevDir.empty())
        env.push_back("UMOCKDEV_DIR=" + umockdevDir);
    return env;
}

void startupFigures(const std::string &display, const std::string &binDir)
{
    ScreenWatch watch(display);
    if (!watch.ok()) {
        std::fprintf(stderr, "no X connection\n");
        return;
    }
    const std::vector<std::string> env = childEnvironment(display, {});
    struct Program
    {
        std::string path;
        std::vector<double> paintedMs, mappedMs, cpuMs;
    };
    std::array<Program, 3> programs{{{binDir + "/quorset", {}, {}, {}},
                                     {binDir + "/bare-window", {}, {}, {}},
                                     {binDir + "/bare-text-window", {}, {}, {}}}};
    const int runs = 11;
    for (int run = 0; run <= runs; ++run) {
        for (Program &program : programs) {
            const auto start = Clock::now();
            Child child(program.path, env);
            const ScreenWatch::Shown shown = watch.waitForWindow(start, 10000);
            // The first round warms the caches and is not counted.
            if (run == 0)
                continue;
            program.paintedMs.push_back(shown.paintedMs);
            program.mappedMs.push_back(shown.mappedMs);
            program.cpuMs.push_back(child.cpuMilliseconds());
        }
    }
    const Program &quorset = programs[0], &bare = programs[1], &bareText = programs[2];
    const double q = median(quorset.paintedMs), b = median(bare.paintedMs), t = median(bareText.paintedMs);
    bench("startup_quorset_ms", q, "ms");
    bench("startup_bare_ms", b, "ms");
    bench("startup_ratio", b > 0 ? q / b : 0, "x");
    const double qm = median(quorset.mappedMs), bm = median(bare.mappedMs);
    bench("startup_quorset_mapped_ms", qm, "ms");
    bench("startup_bare_mapped_ms", bm, "ms");
    bench("startup_mapped_ratio", bm > 0 ? qm / bm : 0, "x");
    bench("startup_bare_text_ms", t, "ms");
    bench("startup_text_ratio", t > 0 ? q / t : 0, "x");
    const double qc = median(quorset.cpuMs), bc = median(bare.cpuMs), tc = median(bareText.cpuMs);
    bench("startup_quorset_cpu_ms", qc, "ms");
    bench("startup_bare_cpu_ms", bc, "ms");
    bench("startup_cpu_ratio", bc > 0 ? qc / bc : 0, "x");
    bench("startup_bare_text_cpu_ms", tc, "ms");
    bench("startup_text_cpu_ratio", tc > 0 ? qc / tc : 0, "x");
}

void idleMemory(const std::string &display, const std::string &binDir)
{
    wheeltest::WheelFixture wheel;
    if (!wheel.ok()) {
        std::fprintf(stderr, "emulator: %s\n", wheel.error().c_str());
        return;
    }
    ScreenWatch watch(display);
    const auto rssAfterShown = [&](const std::string &program, const std::string &umockdevDir) {
        const auto start = Clock::now();
        Child child(program, childEnvironment(display, umockdevDir));
        watch.waitForWindow(start, 10000);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        return child.rssMegabytes();
    };
    bench("idle_rss_mb", rssAfterShown(binDir + "/quorset", wheel.root()), "MB");
    bench("idle_rss_bare_mb", rssAfterShown(binDir + "/bare-window", {}), "MB");
}

} // namespace

int main(int argc, char **argv)
{
    wheeltest::runUnderPreload(argc, argv);
    XServer x;
    if (x.display().empty()) {
        std::fprintf(stderr, "no Xvfb\n");
        return 1;
    }
    std::string binDir = argv[0];
    binDir = binDir.substr(0, binDir.find_last_of('/') == std::string::npos ? 0 : binDir.find_last_of('/'));
    if (binDir.empty())
        binDir = ".";

    // A part's name as the argument runs only that part: startup, memory
    // or display.
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "startup")
        startupFigures(x.display(), binDir);
    if (only.empty() || only == "memory")
        idleMemory(x.display(), binDir);
    if (!only.empty() && only != "display")
        return 0;

    qputenv("DISPLAY", QByteArray::fromStdString(x.display()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    displayFigures();
    return 0;
}

#include "bench_display_xcb.moc"
