// The real quorctl program against the emulated wheel and boot loader: what
// lands in the wheel's flash, what never reaches the wire, what the user
// reads and the exit codes.
#include "dfu_emulator.h"
#include "table_rows.h"
#include "test_image.h"
#include "wheel.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"
#include "window_probe.h"

#include "led/led_frame.h"
#include "led/led_levels.h"
#include "led/led_maps.h"
#include "quorctl/flash_progress.h"
#include "settings/wheel_profile.h"

#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <memory>
#include <tuple>
#include <unistd.h>

using wheelemu::Wheel;
using wheeltest::WheelFixture;

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(' ', Qt::SkipEmptyParts);
}

// Feeds a raw report to the wheel's own side, as if a host had sent it; the
// set-up so goes through none of the code under test.
void feature(WheelFixture &wheel, std::vector<uint8_t> bytes)
{
    bytes.resize(20);
    wheel.withWheel([&](Wheel &w) { w.setFeature(bytes.data(), bytes.size()); });
}

void setItem(WheelFixture &wheel, uint8_t item, uint32_t v)
{
    feature(wheel, {0x02, 0x0C, item, uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24), 0xEF});
}

// A stored setup unlike the defaults in every value quorctl keeps.
void storeDistinctSetup(WheelFixture &wheel, const QString &model)
{
    for (const auto &[item, value] :
         {std::pair<uint8_t, uint32_t>{0x04, 150}, {0x0A, 60}, {0x08, 0xFF}, {0x09, 0x01}})
        setItem(wheel, item, value);
    feature(wheel, {0x02, 0x0A, 0x39, 0x30, 0xEF, 0xA0, 0x0F, 0x3C, 0x0F, 0x64, 0x00, 0xC8, 0x00});
    const LedMap *map = ledMapFor(model);
    if (map && ModelTable::forName(model)->sendsExtraLeds)
        feature(wheel, {0x02, 0x11, 0xEF, 1, 2, 3, 250, 128, 7});
    // Every LED of the map a different colour, level-exact, the rest of the
    // frame lit as the window leaves it.
    std::vector<Rgb> leds;
    for (std::size_t i = 0; map && i < map->leds.size(); ++i)
        leds.push_back(Rgb{uint8_t(LedLevels[i % 16]), uint8_t(LedLevels[(i * 7) % 16]),
                           uint8_t(LedLevels[(i * 3 + 5) % 16])});
    const LedFrame frame = packLedFrame(ledSlotsForSending(leds));
    wheel.withWheel([&](Wheel &w) {
        for (int page = 0; page < w.info().ledPages; ++page) {
            uint8_t report[20] = {0x03, uint8_t(page)};
            std::copy_n(frame.begin() + page * 18, 18, report + 2);
            w.output(report, sizeof report);
        }
        const uint8_t commit[20] = {0x02, 0x0E};
        w.setFeature(commit, sizeof commit);
    });
}

// The 4-bit level of every slot of a packed LED frame, low nibble first.
QByteArray levels(const std::vector<uint8_t> &frame)
{
    QByteArray out;
    for (const uint8_t byte : frame)
        out.append(char(byte & 0x0F)).append(char(byte >> 4));
    return out;
}

std::unique_ptr<WheelFixture> plug(const QString &model)
{
    WheelFixture::Options options;
    options.model = model.toStdString();
    options.restartDelayMs = 100;
    options.bootLoaderDelayMs = 500;
    auto wheel = std::make_unique<WheelFixture>(options);
    if (!wheel->ok())
        qFatal("no emulated wheel: %s", wheel->error().c_str());
    return wheel;
}

// The command line, then for a profile the wheel saved, edited, a text and
// its replacement ("TRUNCATE": the first half kept), the exit code and the
// message. The set-up some rows need is named by their tag.
const std::tuple<const char *, QStringList, QString, QString, int, QString> kRefusals[] = {
    {"no command", {}, "", "", 1, "no command given"},
    {"unknown command", words("frob"), "", "", 1, "unknown command"},
    {"backup without file", words("backup"), "", "", 1, "exactly one FILE"},
    {"colour with a sign", words("led set pbB1 +fffff"), "", "", 1, "not a colour"},
    {"unknown preset", words("led preset mauve"), "", "", 1, "unknown preset"},
    {"unknown LED button", words("led set pbQ9 ff0000"), "", "", 1, "unknown LED button \"pbQ9\" on a SRD7"},
    {"watch bad count", words("watch --count 0"), "", "", 1, "bad option"},
    {"no wheel", words("status"), "", "", 2, "no wheel found"},
    {"window running", words("status"), "", "", 3, "the QuorSet window is running; close it first"},
    {"another quorctl running", words("led preset red"), "", "", 3,
     "another quorctl command is using the wheel"},
    {"missing profile", words("restore /nonexistent/p.json"), "", "", 4, "cannot read"},
    {"not a .bin", {"flash", QUORCTL_BINARY}, "", "", 4, "not a valid firmware"},
    {"truncated", words("restore"), "TRUNCATE", "", 4, "truncated or damaged"},
    {"pulse width out of range", words("restore"), "\"encoderPulseWidth\": 100", "\"encoderPulseWidth\": 500",
     4, "\"encoderPulseWidth\" must be a whole number from 40 to 240"},
    {"fractional pulse width", words("restore"), "\"shifterPulseWidth\": 100", "\"shifterPulseWidth\": 99.5",
     4, "\"shifterPulseWidth\" must be a whole number"},
    {"bite word between the paddles", words("restore"), "\"biteWord\": 5000", "\"biteWord\": 30000", 4,
     "\"paddles.biteWord\" must be"},
    {"paddle reading out of range", words("restore"), "\"leftMax\": 4095", "\"leftMax\": 5000", 4,
     "\"paddles.leftMax\" must be a whole number from 0 to 4096"},
    {"unknown button", words("restore"), "\"button\": \"pbB1\"", "\"button\": \"pbQ7\"", 4,
     "unknown button \"pbQ7\" for a SRD7"},
    {"control codes quoted from the file", words("restore"), "\"button\": \"pbB1\"",
     "\"button\": \"pb\\n\\u001b[2J\"", 4, "unknown button \"pb\\u000a\\u001b[2J\" for a SRD7"},
    {"button in another LED's place", words("restore"), "\"button\": \"pbB1\"", "\"button\": \"pbB9\"", 4,
     "LED 0 of a SRD7 belongs to pbB1, not pbB9"},
    {"bad colour", words("restore"), "\"pbXL\": \"#ffffff\"", "\"pbXL\": \"#fffff\"", 4,
     "\"extraLeds.pbXL\" must be a colour #rrggbb"},
    {"misspelt key", words("restore"), "\"clutchesEnabled\"", "\"clutchEnabled\"", 4, "\"clutchesEnabled\""},
    {"newer format", words("restore"), "\"version\": 1", "\"version\": 2", 4,
     "profile version 2 is not supported"},
    {"unknown model", words("restore"), "\"model\": \"SRD7\"", "\"model\": \"SRD9\"", 4,
     "unknown wheel model"}};

// The model, its link (-1: no battery) and lines the status must hold.
const std::tuple<const char *, QString, int, QStringList> kStatus[] = {
    {"SRD7, no battery",
     "SRD7",
     -1,
     {"model: SRD7", "name: QUOR SRD7 Wheel", "product id: 0x200D", "firmware: 2\tMar  7 2024,15:04"}},
    {"H-ZET on Bluetooth", "H-ZET", 0, {"model: H-ZET", "battery: 57%", "link: Bluetooth"}},
    {"KLINO4 on USB", "KLINO4", 1, {"model: KLINO4", "battery: USB", "link: USB"}}};

constexpr std::tuple<const char *> kBackupModels[] = {{"SRD7"}, {"ULMAR"}, {"PELIX"}, {"OV410"}, {"H-MIRA"}};

// OV410 shows pbT3 (LED 28) but not pbT4 (LED 29); SRD7 shows every button
// of its map, and its extra LEDs.
constexpr std::tuple<const char *, int, int> kPresetRows[] = {{"OV410", 28, 29}, {"SRD7", 46, -1}};

// Code 4: the image itself is refused. "factory": the new firmware comes up
// with the factory settings and the backup taken before the update puts every
// stored value back. A failed flash says the window's words, then --force
// finishes it in the waiting loader.
const std::tuple<const char *, QString, QString, int, QString> kFlashes[] = {
    {"SRD7 over HID, settings unchanged", "SRD7", "", 0, ""},
    {"SRD7, factory-reset firmware, --restore-settings", "SRD7", "factory", 0, ""},
    {"PELIX through the boot loader", "PELIX", "", 0, ""},
    {"PELIX, image refused before the reboot", "PELIX", "", 4, "invalid initial SP"},
    {"PELIX, boot loader never appears", "PELIX", "never-appears", 3, "the boot loader did not appear"},
    {"PELIX, flash fails, then --force", "PELIX", "error-on-block:2", 3,
     "the firmware update failed: cannot write block 3 at 0x08000800: the boot loader reported errPROG; the "
     "wheel waits in its boot loader"}};

} // namespace

class TestQuorctl : public QObject
{
    Q_OBJECT

    // Also the commands' runtime directory: a QuorSet window of the
    // machine's user must not count, and pretendWindowRuns() puts one there.
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QLocalServer> window_;
    std::unique_ptr<QProcess> process_;

    QString path(const QString &name) const { return dir_->filePath(name); }

    QProcess *start(const QStringList &args)
    {
        process_ = std::make_unique<QProcess>();
        process_->start(QUORCTL_BINARY, args);
        return process_.get();
    }

    Run run(const QStringList &args, int timeoutMs = 60000)
    {
        QProcess *p = start(args);
        if (!p->waitForFinished(timeoutMs) || p->exitStatus() != QProcess::NormalExit)
            return {};
        return {p->exitCode(), QString::fromLocal8Bit(p->readAllStandardOutput()),
                QString::fromLocal8Bit(p->readAllStandardError())};
    }

    // The window's single-instance socket, answering as a running window does.
    void pretendWindowRuns()
    {
        window_ = std::make_unique<QLocalServer>();
        QVERIFY(window_->listen(path("quorset")));
    }

private slots:
    void init()
    {
        process_.reset(); // ~QProcess kills a command still running
        qunsetenv("QUORCTL_LOADER_RECHECK_MS");
        window_.reset();
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_->path()));
    }

    void exitCodes_data() { wheeltest::addRows(kRefusals); }

    // Refused before anything reaches the wheel, with one line that says why.
    void exitCodes()
    {
        const auto &[tag, command, edit, replacement, code, message] = wheeltest::rowOf(kRefusals);
        QStringList args = command;

        auto wheel = plug("SRD7");
        if (!edit.isEmpty()) {
            QCOMPARE(run({"backup", path("good.json")}).code, 0);
            QString profile = QString::fromUtf8(wheeltest::readFile(path("good.json")));
            if (edit == "TRUNCATE") {
                profile.truncate(profile.size() / 2);
            } else {
                QVERIFY2(profile.contains(edit), qPrintable(edit));
                profile.replace(profile.indexOf(edit), edit.size(), replacement);
            }
            QVERIFY(wheeltest::writeFile(path("bad.json"), profile.toUtf8()));
            args << path("bad.json");
        }
        if (qstrcmp(tag, "no wheel") == 0)
            QVERIFY(wheel->unplug());
        if (qstrcmp(tag, "window running") == 0)
            pretendWindowRuns();
        QLockFile otherCommand(path("quorctl.lock"));
        if (qstrcmp(tag, "another quorctl running") == 0)
            QVERIFY(otherCommand.tryLock(0));
        wheel->clearTranscript();

        const Run r = run(args);
        QCOMPARE(r.code, code);
        // Only a usage error goes on, with the usage.
        const QString first = r.err.section('\n', 0, 0);
        QVERIFY2(first.startsWith("quorctl: ") && first.contains(message) &&
                     (code == 1 || r.err.count('\n') == 1),
                 qPrintable(r.err));
        QCOMPARE(wheel->writes(), QStringList());
    }

    void status_data() { wheeltest::addRows(kStatus); }
    void status()
    {
        const auto &[tag, model, link, expected] = wheeltest::rowOf(kStatus);
        auto wheel = plug(model);
        if (link >= 0)
            wheel->withWheel([link = link](Wheel &w) { w.setPowerStatus({57, 3900, uint8_t(link)}); });
        const Run r = run({"status"});
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        for (const QString &line : expected)
            QVERIFY2(lines.contains(line), qPrintable(r.out));
        QCOMPARE(r.out.contains("battery:"), link >= 0);
    }

    // Four pages with extra LEDs, eight pages in GRB, extra LEDs that are sent
    // but never read, none at all, no LED map. The first restore after the
    // clear loses an LED page, which ends it before the commit, so the stored
    // colours stay as they were, whole.
    void backupClearRestore_data() { wheeltest::addRows(kBackupModels); }
    void backupClearRestore()
    {
        const QString model = std::get<0>(wheeltest::rowOf(kBackupModels));
        auto wheel = plug(model);
        storeDistinctSetup(*wheel, model);
        const auto stored = wheeltest::settable(wheel->flash());
        const QString file = path("setup.json");
        Run r = run({"backup", file});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        feature(*wheel, {0x02, 0x0C, 0x10});
        QVERIFY(wheeltest::settable(wheel->flash()) != stored);
        if (ledMapFor(model)) {
            const std::vector<uint8_t> frame = wheel->flash().ledFrame;
            wheel->failWrites(1);
            r = run({"restore", file});
            QCOMPARE(r.code, 3);
            QVERIFY2(r.err.contains("writing to the wheel failed"), qPrintable(r.err));
            QVERIFY(wheel->flash().ledFrame == frame);
        }

        r = run({"restore", file});
        QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
        QVERIFY(wheeltest::settable(wheel->flash()) == stored);
    }

    // Another model's profile is refused unless forced; forced, the settings
    // travel and each LED takes the colour of its button in that profile.
    void restoreOfAnotherModel()
    {
        const QString file = path("k.json");
        {
            auto klino = plug("KLINO4");
            storeDistinctSetup(*klino, "KLINO4");
            QCOMPARE(run({"backup", file}).code, 0);
        }
        auto wheel = plug("SRD7");
        Run r = run({"restore", file});
        QCOMPARE(r.code, 4);
        QVERIFY2(r.err.count('\n') == 1 && r.err.contains("taken from a KLINO4, this wheel is a SRD7"),
                 qPrintable(r.err));
        QCOMPARE(wheel->writes(), QStringList());

        r = run({"restore", "--force", file});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const Wheel::Settings s = wheel->flash();
        QCOMPARE(s.encoderPulseWidth, 150);
        QCOMPARE(s.biteWord, uint16_t(12345));
        // KLINO4's LED 0 (pbB1) is level 0/0/5; SRD7's LED 0 and 41 are pbB1 too.
        QCOMPARE(int(s.ledFrame[0]), 0x00);
        QCOMPARE(int(s.ledFrame[1]) & 0x0F, 5);
    }

    // What restore lists after reading the wheel back.
    void valuesNotKept()
    {
        WheelProfile kept;
        kept.modelCode = "SRD7";
        kept.encoderPulseWidth = 100;
        kept.paddles.biteWord = 5000;
        kept.leds.assign(47, Rgb{});
        kept.extraLeft = kept.extraRight = Rgb{255, 255, 255};
        QCOMPARE(profileDifferences(kept, kept), QStringList());
        WheelProfile wanted = kept;
        wanted.encoderPulseWidth = 120;
        wanted.paddles.biteWord = 10001;
        wanted.clutchesEnabled = true;
        wanted.leds[1] = Rgb{255, 0, 0};
        wanted.extraRight = Rgb{0, 0, 255};
        QCOMPARE(profileDifferences(wanted, kept),
                 (QStringList{"encoder pulse width: 120 written, wheel reports 100",
                              "bite word: 10001 written, wheel reports 5000",
                              "clutches: enabled written, wheel reports disabled",
                              "LED 1 (pbB9): #ff0000 written, wheel reports #000000",
                              "pbXR: #0000ff written, wheel reports #ffffff"}));
    }

    // One button's LEDs change; every other LED keeps its exact levels, and
    // the colours are committed.
    void ledSetChangesOnlyThatButton()
    {
        auto wheel = plug("SRD7");
        storeDistinctSetup(*wheel, "SRD7");
        QByteArray expected = levels(wheel->flash().ledFrame);
        const Run r = run(words("led set pbD16 0a141e"));
        QVERIFY2(r.code == 0, qPrintable(r.err));
        // pbD16 is LED 24 (sent RBG) and LED 44 (RGB) on an SRD7: levels of
        // 10, 20, 30 are 3, 4, 5.
        expected.replace(3 * 24, 3, "\x03\x05\x04").replace(3 * 44, 3, "\x03\x04\x05");
        QCOMPARE(levels(wheel->flash().ledFrame).toHex(), expected.toHex());
    }

    void ledPresetColoursShownButtons_data() { wheeltest::addRows(kPresetRows); }
    void ledPresetColoursShownButtons()
    {
        const auto &[model, shownLed, hiddenLed] = wheeltest::rowOf(kPresetRows);
        auto wheel = plug(model);
        storeDistinctSetup(*wheel, model);
        const QByteArray before = levels(wheel->flash().ledFrame);
        const Run r = run(words("led preset red"));
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const Wheel::Settings after = wheel->flash();
        QCOMPARE(levels(after.ledFrame).mid(3 * shownLed, 3).toHex(), QByteArray("0f0000"));
        if (hiddenLed >= 0)
            QCOMPARE(levels(after.ledFrame).mid(3 * hiddenLed, 3).toHex(),
                     before.mid(3 * hiddenLed, 3).toHex());
        const bool extras = ModelTable::forName(model)->sendsExtraLeds;
        QCOMPARE(after.extraLeds == (std::array<uint8_t, 6>{255, 0, 0, 255, 0, 0}), extras);
    }

    void flash_data() { wheeltest::addRows(kFlashes); }
    void flash()
    {
        const auto &[tag, model, loaderFault, code, message] = wheeltest::rowOf(kFlashes);
        const bool goodImage = code != 4, factory = loaderFault == "factory";
        auto wheel = plug(model);
        if (model == "PELIX") {
            wheelemu::DfuEmulatorOptions dfu;
            std::string error;
            if (!loaderFault.isEmpty())
                QVERIFY2(wheelemu::applyDfuFault(loaderFault.toStdString(), &dfu, &error), error.c_str());
            wheelemu::DfuBootLoader *loader = nullptr;
            QVERIFY2(wheelemu::setUpBootLoader(wheel->emulator(), dfu, &loader, &error), error.c_str());
        }
        if (factory)
            storeDistinctSetup(*wheel, model);
        const auto before = wheeltest::settable(wheel->flash());
        const std::vector<uint8_t> image =
            wheelemu::makeTestImage(20000, factory ? "7.7.8+factory" : "7.7.7");
        if (loaderFault == "never-appears")
            qputenv("QUORCTL_LOADER_RECHECK_MS", "20");
        // A stack pointer of 0 is no firmware for this flash.
        const QString file = path("image.bin");
        QVERIFY(wheeltest::writeFile(file, goodImage ? wheeltest::bytesOf(image) : QByteArray(64, '\0')));
        wheel->clearTranscript();

        Run r = run(factory ? QStringList{"flash", "--restore-settings", file} : QStringList{"flash", file},
                    90000);
        QVERIFY2(r.code == code, qPrintable(r.err + r.out));
        if (code == 0) {
            QVERIFY2(r.out.contains("differ from before the update") == factory &&
                         r.out.contains("settings restored from") == factory,
                     qPrintable(r.out));
            QVERIFY(wheeltest::settable(wheel->flash()) == before);
        } else {
            QVERIFY2(r.err.contains(message), qPrintable(r.err));
            if (!goodImage)
                QCOMPARE(wheel->writes(), QStringList());
            if (!loaderFault.startsWith("error-on-block"))
                return;
            // No wheel on the HID bus: only --force writes into its loader.
            r = run({"flash", file}, 90000);
            QVERIFY2(r.code == 2 && r.err.contains("quorctl flash --force FILE"), qPrintable(r.err));
            r = run({"flash", "--force", file}, 90000);
            QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
        }
        // Not a terminal: plain lines, ending at 100.
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() > 2 && lines[0].startsWith("progress ") && lines.contains("progress 100%") &&
                     !r.out.contains('\r'),
                 qPrintable(r.out));
        QTRY_VERIFY_WITH_TIMEOUT(wheel->plugged(), 15000);
        std::vector<uint8_t> installed;
        QTRY_VERIFY_WITH_TIMEOUT((installed = wheel->installedImage()).size() >= image.size(), 15000);
        installed.resize(image.size());
        QVERIFY(installed == image);
    }

    // watch reads only input reports, so it runs beside the window.
    void watchBesideTheWindow()
    {
        auto wheel = plug("SRD7");
        pretendWindowRuns();
        QProcess *p = start(words("watch --count 3"));
        QByteArray note;
        QTRY_VERIFY_WITH_TIMEOUT((note += p->readAllStandardError()).contains("watching"), 10000);
        wheel->press(3);
        wheel->setPaddles(1000, 2000);
        wheel->release(3);
        QVERIFY(p->waitForFinished(10000));
        QCOMPARE(p->exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(p->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                 (QStringList{"button 3 pressed", "paddles left 1000 right 2000", "button 3 released"}));
    }

    // A repeated value and a failure code add nothing; last() is the value
    // the command's exit code comes from.
    void progressDisplay()
    {
        const auto shown = [](bool terminal, const QList<int> &values) {
            QTemporaryFile capture;
            if (!capture.open())
                return QString("no capture");
            std::fflush(stdout);
            const int saved = ::dup(STDOUT_FILENO);
            ::dup2(capture.handle(), STDOUT_FILENO);
            FlashProgress progress(terminal);
            for (const int value : values)
                progress.onProgress(value);
            std::fflush(stdout);
            ::dup2(saved, STDOUT_FILENO);
            ::close(saved);
            capture.seek(0);
            return QString::fromLocal8Bit(capture.readAll()) + "last " + QString::number(progress.last());
        };
        QCOMPARE(shown(false, {0, 0, 50, 100, -3}), "progress 0%\nprogress 50%\nprogress 100%\nlast -3");
        const QString empty(40, '-'), full(40, '#'), half = QString(20, '#') + QString(20, '-');
        QCOMPARE(shown(true, {0, 50, 50, 100}),
                 "\r[" + empty + "]   0%\r[" + half + "]  50%\r[" + full + "] 100%\nlast 100");
    }
};

WHEEL_TEST_GUILESS_MAIN(TestQuorctl)
#include "tst_quorctl.moc"
