// The firmware page's update from a file, through the window against the
// emulated wheel (hidapi) and its emulated boot loader (libusb): the checks on
// the path, the progress display, an image streamed over HID and one flashed
// through the boot loader, and the ways they end without an update.
#include "dfu_emulator.h"
#include "prompt_recorder.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"
#include "window_probe.h"

#include "../app/private_runtime_dir.h"
#include "app/mainwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

using namespace wheelemu;

namespace {

const QString kInvalid = QStringLiteral("Error: Not a valid firmware.");
const QString kNoLoader =
    QStringLiteral("Error: DFU device not detected. Please ensure the device is in DFU mode.");
const QString kDone = QStringLiteral("Notify: Firmware updated successfully. Reboot the device.");
const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");
const QString kUploading = QStringLiteral("Uploading ...");
const QString kWriting = QStringLiteral("Writing ...");
const std::string kNameQuery = "set-feature 02 0b 0d";

// The debug lines of the current test, from any thread.
QMutex logLock;
QStringList logLines;
QtMessageHandler nextHandler = nullptr;

void keepLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        QMutexLocker locker(&logLock);
        logLines << message;
    }
    nextHandler(type, context, message);
}

int logged(const char *start)
{
    QMutexLocker locker(&logLock);
    return int(std::count_if(logLines.begin(), logLines.end(),
                             [start](const QString &l) { return l.startsWith(QLatin1String(start)); }));
}

int countLines(const std::vector<std::string> &lines, const std::string &start)
{
    return int(std::count_if(lines.begin(), lines.end(),
                             [&start](const std::string &l) { return l.rfind(start, 0) == 0; }));
}

struct Window
{
    PrivateRuntimeDir runtimeDir;
    wheeltest::PromptRecorder prompts;
    MainWindow window;
    QTemporaryDir files;

    Window() { window.show(); }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        return wheeltest::child<T>(&window, QLatin1String(name));
    }
    QString header() const { return widget<QLabel>("lbHead")->text(); }
    bool connected() const { return header() != kWaitingHeader && !widget("pbStatus")->isVisibleTo(&window); }
    QString status() const { return widget<QLabel>("lbUpgrade")->text(); }
    int bar() const { return widget<QProgressBar>("pgUpgrade")->value(); }
    // The bar and the status text are shown and hidden together.
    bool progressShown() const
    {
        const bool bar = !widget("pgUpgrade")->isHidden();
        if (bar == widget("lbUpgrade")->isHidden())
            qFatal("progress bar and status text out of step");
        return bar;
    }

    QString writeImage(const char *name, const QByteArray &image)
    {
        const QString path = files.filePath(QLatin1String(name));
        if (!wheeltest::writeFile(path, image))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    void upgrade(const QString &path)
    {
        widget<QLineEdit>("lePath")->setText(path);
        widget<QPushButton>("pbUpgrade")->click();
    }
    void invoke(const char *slot) { QMetaObject::invokeMethod(&window, slot); }
    void progress(int value) { QMetaObject::invokeMethod(&window, "onProgress", Q_ARG(int, value)); }
};

wheeltest::WheelFixture::Options model(const char *code)
{
    wheeltest::WheelFixture::Options options;
    options.model = code;
    return options;
}

} // namespace

class TestUpdateFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { nextHandler = qInstallMessageHandler(keepLine); }
    void init()
    {
        QMutexLocker locker(&logLock);
        logLines.clear();
    }
    void pathChecks_data();
    void pathChecks();
    void fileDialog();
    void progressDisplay_data();
    void progressDisplay();
    void unplugDuringTransfer();
    void bootLoader_data();
    void bootLoader();
};

void TestUpdateFlow::pathChecks_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size"); // of the file written at path; -1 none
    QTest::addColumn<bool>("refused");

    // Neither an address nor a file is there: the only difference is the
    // case of the scheme.
    QTest::newRow("https is online, unchecked") << "https://127.0.0.1:9/fw.BIN" << -1 << false;
    QTest::newRow("HTTPS is a local path") << "HTTPS://127.0.0.1:9/fw.BIN" << -1 << true;
    QTest::newRow(".BIN") << "fw.BIN" << 64 << true;
    QTest::newRow("no suffix") << "fw" << 64 << true;
    QTest::newRow("229,376 bytes") << "fw.bin" << 229376 << false;
    QTest::newRow("229,377 bytes") << "fw.bin" << 229377 << true;
    QTest::newRow("missing file reads as 0 bytes") << "fw.bin" << -1 << false;
}

// Without a wheel: an accepted image starts a transfer that ends silently.
void TestUpdateFlow::pathChecks()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    QFETCH(bool, refused);

    Window w;
    if (size >= 0)
        path = w.writeImage(qPrintable(path), QByteArray(size, '\x5a'));
    else if (!path.contains(QLatin1String("://")))
        path = w.files.filePath(path);
    w.upgrade(path);
    // The online route runs after the click.
    QTest::qWait(200);

    // The online download has boxes and a bar of its own.
    QCOMPARE(w.prompts.shown().contains(kInvalid), refused);
    if (refused) {
        QCOMPARE(w.prompts.shown(), QStringList{kInvalid});
        QVERIFY(!w.progressShown());
    }
    QCOMPARE(w.widget<QLineEdit>("lePath")->text(), path);
}

// Cancelled, the dialog keeps the path; a chosen file replaces it.
void TestUpdateFlow::fileDialog()
{
    Window w;
    w.widget<QLineEdit>("lePath")->setText(QStringLiteral("/old/fw.bin"));
    for (const QString &answer : {QString(), QStringLiteral("/new/other.bin")}) {
        w.prompts.fileAnswer = answer;
        w.widget<QPushButton>("pbPath")->click();
        QCOMPARE(w.prompts.fileRequests.last().filter, QStringLiteral("Firmware File (*.bin);;"));
        QCOMPARE(w.widget<QLineEdit>("lePath")->text(),
                 answer.isEmpty() ? QStringLiteral("/old/fw.bin") : answer);
    }
    QCOMPARE(w.prompts.fileRequests.size(), 2);
    QVERIFY(w.prompts.messages.isEmpty());
}

void TestUpdateFlow::progressDisplay_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QStringList>("boxes");

    QTest::newRow("0") << QList<int>{0} << true << kUploading << 0 << QStringList();
    QTest::newRow("97") << QList<int>{96, 97} << true << kWriting << 97 << QStringList();
    // A failure code leaves the bar where it was.
    QTest::newRow("failure after 40") << QList<int>{40, -5} << true << kUploading << 40 << QStringList();
    QTest::newRow("failure after Writing") << QList<int>{98, -1} << true << kUploading << 98 << QStringList();
    QTest::newRow("100") << QList<int>{50, 99, 100} << false << QString() << 0 << QStringList{kDone};
}

void TestUpdateFlow::progressDisplay()
{
    QFETCH(QList<int>, values);
    QFETCH(bool, shown);
    QFETCH(QString, status);
    QFETCH(int, bar);
    QFETCH(QStringList, boxes);

    Window w;
    for (const int value : values)
        w.progress(value);

    QCOMPARE(w.prompts.shown(), boxes);
    QCOMPARE(w.progressShown(), shown);
    if (shown)
        QCOMPARE(w.status(), status);
    QCOMPARE(w.bar(), bar);
}

// The cable pulled half way through a HID transfer: no success is reported
// and the worker ends. With the wheel back an update goes through, and the
// scan after it waits for the success box to be closed.
void TestUpdateFlow::unplugDuringTransfer()
{
    wheeltest::WheelFixture wheel(model("SRD7"));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    Window w;
    QTRY_VERIFY(w.connected());

    w.upgrade(w.writeImage("big.bin", wheeltest::bytesOf(makeTestImage(229376, "8.0.0"))));
    QTRY_VERIFY(w.bar() >= 10);
    QVERIFY(wheel.unplug());
    QTRY_COMPARE(w.header(), kWaitingHeader);
    QVERIFY(wheel.plug());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected(), 6000);
    // Past the time the closing steps would have taken.
    QTest::qWait(4500);
    QCOMPARE(w.prompts.shown(), QStringList());

    // The user reads the success box for longer than the scan delay.
    bool scannedWhileOpen = true;
    UserPrompts::Hooks hooks;
    hooks.message = [&](const UserPrompts::Message &message) {
        w.prompts.messages << message;
        wheel.clearTranscript();
        QTest::qWait(3500);
        scannedWhileOpen = countLines(wheel.exchanges(), kNameQuery) > 0;
        return QMessageBox::Ok;
    };
    UserPrompts::setHooks(hooks);
    const std::vector<uint8_t> image = makeTestImage(4096, "8.0.1\tJun 01 2027");
    w.upgrade(w.writeImage("small.bin", wheeltest::bytesOf(image)));
    QTRY_COMPARE_WITH_TIMEOUT(w.prompts.shown(), QStringList{kDone}, 15000);
    QVERIFY(!scannedWhileOpen);
    QVERIFY(!w.progressShown());
    QTRY_VERIFY_WITH_TIMEOUT(countLines(wheel.exchanges(), kNameQuery) > 0, 6000);
    std::vector<uint8_t> installed;
    wheel.withWheel([&installed](Wheel &wheel) { installed = wheel.installedImage(); });
    QVERIFY(installed == image);
    QTRY_VERIFY(w.widget<QLabel>("lbVersion")->text().contains(QLatin1String("8.0.1")));
}

void TestUpdateFlow::bootLoader_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("removeImage");
    QTest::addColumn<int>("misses"); // looks that found no loader; -1: some
    QTest::addColumn<QStringList>("boxes");

    QTest::newRow("flashed") << QString() << false << -1 << QStringList{kDone};
    // One look at once and 30 more.
    QTest::newRow("loader never enumerates") << "never-appears" << false << 31 << QStringList{kNoLoader};
    QTest::newRow("image gone once the loader is up") << QString() << true << -1 << QStringList{kInvalid};
    // The worker's failure code: no box, the bar stays at the first block's
    // share.
    QTest::newRow("flash fails") << "error-on-block:2" << false << -1 << QStringList();
}

// A PELIX: the reboot, the wait for the boot loader, and how it ends.
void TestUpdateFlow::bootLoader()
{
    QFETCH(QString, fault);
    QFETCH(bool, removeImage);
    QFETCH(int, misses);
    QFETCH(QStringList, boxes);
    const bool loaderAppears = fault != QLatin1String("never-appears");

    wheeltest::WheelFixture wheel(model("PELIX"));
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    DfuEmulatorOptions dfu;
    std::string error;
    if (!fault.isEmpty())
        QVERIFY(applyDfuFault(fault.toStdString(), &dfu, &error));
    DfuBootLoader *loader = nullptr;
    QVERIFY2(setUpBootLoader(wheel.emulator(), dfu, &loader, &error), error.c_str());
    Window w;
    QTRY_VERIFY(w.connected());
    const QString header = w.header();
    const std::vector<uint8_t> image = makeTestImage(4096, "6.0.1\tFeb 02 2027");
    const QString path = w.writeImage("pelix.bin", wheeltest::bytesOf(image));
    wheel.clearTranscript();

    w.upgrade(path);
    // A second click while the first update runs changes nothing.
    w.widget<QPushButton>("pbUpgrade")->click();
    if (removeImage)
        QVERIFY(QFile::remove(path));
    std::string reboot = "set-feature 02 10";
    for (int i = 0; i < 18; ++i)
        reboot += " 00";
    QCOMPARE(wheel.exchanges({"set-feature"}), std::vector<std::string>{reboot});
    QCOMPARE(w.status(), QStringLiteral("Waiting for DFU..."));
    QVERIFY(w.progressShown());
    QCOMPARE(w.bar(), 0);
    // The wheel leaving the HID bus starts no device search, nor does a
    // scan of any other origin.
    QTest::qWait(1000);
    w.invoke("onInit");
    QCOMPARE(w.header(), header);

    if (boxes.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(w.bar(), 48, 30000);
        QCOMPARE(w.status(), kUploading);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(w.prompts.shown(), boxes, 30000);
        QVERIFY(!w.progressShown());
    }
    if (boxes == QStringList{kDone}) {
        std::vector<uint8_t> installed;
        QTRY_VERIFY_WITH_TIMEOUT(
            (wheel.withWheel([&installed](Wheel &wheel) { installed = wheel.installedImage(); }),
             installed == image),
            10000);
        // Nothing but the scan after the box finds the wheel again.
        QTRY_VERIFY_WITH_TIMEOUT(w.widget<QLabel>("lbVersion")->text().contains(QLatin1String("6.0.1")),
                                 10000);
        QVERIFY(w.connected());
    } else {
        // The device search works again: the wheel is not on the HID bus.
        QTRY_VERIFY_WITH_TIMEOUT((w.invoke("onInit"), w.header() == kWaitingHeader), 10000);
    }
    QCOMPARE(w.prompts.shown(), boxes);
    const int looks = logged("No boot loader yet");
    QVERIFY(misses < 0 ? looks >= 1 : looks == misses);
    QCOMPARE(logged("Boot loader on the bus"), loaderAppears ? 1 : 0);
    // No look after the end.
    QTest::qWait(700);
    QCOMPARE(logged("No boot loader yet"), looks);
}

WHEEL_TEST_MAIN(TestUpdateFlow)
#include "tst_update_flow.moc"
