// The real quorctl program against the emulated wheel and boot loader: what
// lands in the wheel's flash, what never reaches the wire, what the user
// reads and the exit codes.
#include "dfu_emulator.h"
#include "test_image.h"
#include "wheel.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "led/channel_order.h"
#include "led/led_frame.h"
#include "led/led_levels.h"
#include "led/led_maps.h"
#include "quorctl/flash_progress.h"
#include "settings/wheel_profile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <functional>
#include <memory>
#include <unistd.h>

using wheelemu::Wheel;

namespace {

const QString kProgram = QStringLiteral(QUORCTL_BINARY);

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

// Feeds a raw report to the wheel's own side, as if a host had sent it; the
// set-up so goes through none of the code under test.
void feature(wheeltest::WheelFixture &wheel, std::vector<uint8_t> bytes)
{
    bytes.resize(20);
    wheel.withWheel([&](Wheel &w) { w.setFeature(bytes.data(), bytes.size()); });
}

std::vector<uint8_t> setItem(uint8_t item, uint32_t value)
{
    return {0x02, 0x0C, item, uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24),
            0xEF};
}

// A stored setup unlike the defaults in every value quorctl keeps.
void storeDistinctSetup(wheeltest::WheelFixture &wheel, const QString &model)
{
    feature(wheel, setItem(0x04, 150));
    feature(wheel, setItem(0x0A, 60));
    feature(wheel, setItem(0x08, 0xFF));
    feature(wheel, setItem(0x09, 0x01));
    feature(wheel, {0x02, 0x0A, 0x39, 0x30, 0xEF, 0xA0, 0x0F, 0x3C, 0x0F, 0x64, 0x00, 0xC8, 0x00});
    const LedMap *map = ledMapFor(model);
    if (map && map->sendsExtraLeds)
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

Wheel::Settings flashOf(wheeltest::WheelFixture &wheel)
{
    Wheel::Settings s;
    wheel.withWheel([&](Wheel &w) { s = w.flash(); });
    return s;
}

// Everything quorctl keeps: all of the flash but the shifter thresholds,
// which are calibrated on the paddles, not set.
QByteArray keptBytes(const Wheel::Settings &s)
{
    QByteArray out;
    const auto add = [&out](const auto &v) {
        out.append(reinterpret_cast<const char *>(&v), sizeof v);
    };
    for (const auto v : {s.biteWord, s.rightMax, s.leftMax, s.rightMin, s.leftMin})
        add(v);
    add(s.encoderPulseWidth);
    add(s.shifterPulseWidth);
    add(s.clutchesEnabled);
    add(s.extraShiftersEnabled);
    out.append(reinterpret_cast<const char *>(s.ledFrame.data()), qsizetype(s.ledFrame.size()));
    out.append(reinterpret_cast<const char *>(s.extraLeds.data()), qsizetype(s.extraLeds.size()));
    return out;
}

// Reports the host sent that change something: anything but a query.
QStringList writesOnWire(const wheeltest::WheelFixture &wheel)
{
    QStringList out;
    for (const std::string &line : wheel.exchanges({"set-feature", "output"})) {
        const QString text = QString::fromStdString(line);
        if (!text.startsWith(QLatin1String("set-feature 02 0b")))
            out << text;
    }
    return out;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray toBytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
}

} // namespace

class TestQuorctl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void exitCodes_data();
    void exitCodes();
    void status_data();
    void status();
    void backupClearRestore_data();
    void backupClearRestore();
    void badProfileRefused_data();
    void badProfileRefused();
    void forcedRestoreOfAnotherModel();
    void restoreStopsAtAFailedWrite();
    void valuesNotKept_data();
    void valuesNotKept();
    void ledSetChangesOnlyThatButton();
    void ledPresetColoursShownButtons_data();
    void ledPresetColoursShownButtons();
    void flash_data();
    void flash();
    void watchBesideTheWindow();
    void progressDisplay_data();
    void progressDisplay();

private:
    std::unique_ptr<wheeltest::WheelFixture> plug(const QString &model);
    QProcess *start(const QStringList &args);
    Run run(const QStringList &args, int timeoutMs = 60000);
    void pretendWindowRuns();
    QString path(const QString &name) const { return scratch_->filePath(name); }

    std::unique_ptr<QTemporaryDir> scratch_;
    std::unique_ptr<QTemporaryDir> runtime_;
    std::unique_ptr<QLocalServer> window_;
    std::unique_ptr<QProcess> process_;
};

void TestQuorctl::init()
{
    scratch_ = std::make_unique<QTemporaryDir>();
    runtime_ = std::make_unique<QTemporaryDir>();
    QVERIFY(scratch_->isValid() && runtime_->isValid());
}

void TestQuorctl::cleanup()
{
    if (process_) {
        process_->kill();
        process_->waitForFinished(5000);
    }
    process_.reset();
    window_.reset();
    runtime_.reset();
    scratch_.reset();
}

std::unique_ptr<wheeltest::WheelFixture> TestQuorctl::plug(const QString &model)
{
    wheeltest::WheelFixture::Options options;
    options.model = model.toStdString();
    options.restartDelayMs = 100;
    options.bootLoaderDelayMs = 500;
    auto wheel = std::make_unique<wheeltest::WheelFixture>(options);
    if (!wheel->ok())
        qFatal("no emulated wheel: %s", wheel->error().c_str());
    return wheel;
}

QProcess *TestQuorctl::start(const QStringList &args)
{
    process_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Its own runtime directory: a QuorSet window of the machine's user must
    // not count, and pretendWindowRuns() puts one there.
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_->path());
    process_->setProcessEnvironment(env);
    process_->start(kProgram, args);
    return process_.get();
}

Run TestQuorctl::run(const QStringList &args, int timeoutMs)
{
    QProcess *p = start(args);
    Run r;
    if (!p->waitForFinished(timeoutMs) || p->exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p->exitCode();
    r.out = QString::fromLocal8Bit(p->readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p->readAllStandardError());
    return r;
}

// The window's single-instance socket, answering as a running window does.
void TestQuorctl::pretendWindowRuns()
{
    window_ = std::make_unique<QLocalServer>();
    QVERIFY(window_->listen(runtime_->filePath(QStringLiteral("quorset"))));
}

void TestQuorctl::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("wheelPlugged");
    QTest::addColumn<bool>("windowRuns");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    const auto args = [](const char *text) {
        return QString::fromLatin1(text).split(QLatin1Char(' '));
    };
    QTest::newRow("no command") << QStringList() << true << false << 1 << "no command given";
    QTest::newRow("unknown command") << args("frob") << true << false << 1 << "unknown command";
    QTest::newRow("backup without file") << args("backup") << true << false << 1 << "exactly one FILE";
    QTest::newRow("bad colour") << args("led set pbB1 12zz45") << true << false << 1 << "not a colour";
    QTest::newRow("colour with a sign")
        << args("led set pbB1 +fffff") << true << false << 1 << "not a colour";
    QTest::newRow("unknown preset") << args("led preset mauve") << true << false << 1 << "unknown preset";
    QTest::newRow("unknown LED button")
        << args("led set pbQ9 ff0000") << true << false << 1 << "unknown LED button \"pbQ9\" on a SRD7";
    QTest::newRow("watch bad count") << args("watch --count 0") << true << false << 1 << "bad option";
    QTest::newRow("no wheel") << args("status") << false << false << 2 << "no wheel found";
    QTest::newRow("window running") << args("status") << true << true << 3
                                    << "the QuorSet window is running; close it first";
    QTest::newRow("another quorctl running")
        << args("led preset red") << true << false << 3 << "another quorctl command is using the wheel";
    QTest::newRow("missing profile") << args("restore /nonexistent/p.json") << true << false << 4
                                     << "cannot read";
    QTest::newRow("not a .bin") << QStringList{QStringLiteral("flash"), QStringLiteral(QUORCTL_BINARY)}
                                << true << false << 4 << "not a valid firmware";
}

void TestQuorctl::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(bool, wheelPlugged);
    QFETCH(bool, windowRuns);
    QFETCH(int, code);
    QFETCH(QString, message);

    auto wheel = plug(QStringLiteral("SRD7"));
    if (!wheelPlugged)
        QVERIFY(wheel->unplug());
    if (windowRuns)
        pretendWindowRuns();
    QLockFile otherCommand(runtime_->filePath(QStringLiteral("quorctl.lock")));
    if (QTest::currentDataTag() == QLatin1String("another quorctl running"))
        QVERIFY(otherCommand.tryLock(0));
    wheel->clearTranscript();

    const Run r = run(args);
    QCOMPARE(r.code, code);
    const QString firstLine = r.err.section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(firstLine.startsWith(QLatin1String("quorctl: ")) && firstLine.contains(message),
             qPrintable(r.err));
    QVERIFY2(writesOnWire(*wheel).isEmpty(), qPrintable(writesOnWire(*wheel).join('\n')));
}

void TestQuorctl::status_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("link");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("SRD7, no battery") << "SRD7" << -1
                                      << QStringList{"model: SRD7", "name: QUOR SRD7 Wheel",
                                                     "product id: 0x200D", "firmware: 2\tMar  7 2024,15:04"};
    QTest::newRow("H-ZET on Bluetooth")
        << "H-ZET" << 0 << QStringList{"model: H-ZET", "battery: 57%", "link: Bluetooth"};
    QTest::newRow("KLINO4 on USB") << "KLINO4" << 1
                                   << QStringList{"model: KLINO4", "battery: USB", "link: USB"};
}

void TestQuorctl::status()
{
    QFETCH(QString, model);
    QFETCH(int, link);
    QFETCH(QStringList, expected);

    auto wheel = plug(model);
    if (link >= 0)
        wheel->withWheel([link](Wheel &w) { w.setPowerStatus({57, 3900, uint8_t(link)}); });
    const Run r = run({QStringLiteral("status")});
    QCOMPARE(r.code, 0);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : expected)
        QVERIFY2(lines.contains(line), qPrintable(r.out));
    QCOMPARE(r.out.contains(QLatin1String("battery:")), link >= 0);
}

void TestQuorctl::backupClearRestore_data()
{
    QTest::addColumn<QString>("model");
    // Four pages with extra LEDs, eight pages in GRB, extra LEDs that are
    // sent but never read, none at all, no LED map.
    for (const char *model : {"SRD7", "ULMAR", "PELIX", "OV410", "H-MIRA"})
        QTest::newRow(model) << QString::fromLatin1(model);
}

void TestQuorctl::backupClearRestore()
{
    QFETCH(QString, model);

    auto wheel = plug(model);
    storeDistinctSetup(*wheel, model);
    const QByteArray stored = keptBytes(flashOf(*wheel));

    const QString file = path(QStringLiteral("setup.json"));
    Run r = run({QStringLiteral("backup"), file});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    feature(*wheel, {0x02, 0x0C, 0x10});
    QVERIFY(keptBytes(flashOf(*wheel)) != stored);

    r = run({QStringLiteral("restore"), file});
    QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
    QCOMPARE(keptBytes(flashOf(*wheel)).toHex(), stored.toHex());
}

void TestQuorctl::badProfileRefused_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("message");

    // An edit is a text replacement in the saved profile; "TRUNCATE" keeps
    // its first half.
    QTest::newRow("truncated") << "TRUNCATE"
                               << ""
                               << "truncated or damaged";
    QTest::newRow("pulse width out of range")
        << "\"encoderPulseWidth\": 100"
        << "\"encoderPulseWidth\": 500"
        << "\"encoderPulseWidth\" must be a whole number from 40 to 240";
    QTest::newRow("fractional pulse width") << "\"shifterPulseWidth\": 100"
                                            << "\"shifterPulseWidth\": 99.5"
                                            << "\"shifterPulseWidth\" must be a whole number";
    QTest::newRow("bite word between the paddles") << "\"biteWord\": 5000"
                                                   << "\"biteWord\": 30000"
                                                   << "\"paddles.biteWord\" must be";
    QTest::newRow("paddle reading out of range")
        << "\"leftMax\": 4095"
        << "\"leftMax\": 5000"
        << "\"paddles.leftMax\" must be a whole number from 0 to 4096";
    QTest::newRow("unknown button") << "\"button\": \"pbB1\""
                                    << "\"button\": \"pbQ7\""
                                    << "unknown button \"pbQ7\" for a SRD7";
    QTest::newRow("control codes quoted from the file")
        << "\"button\": \"pbB1\""
        << "\"button\": \"pb\\n\\u001b[2J\""
        << "unknown button \"pb\\u000a\\u001b[2J\" for a SRD7";
    QTest::newRow("button in another LED's place") << "\"button\": \"pbB1\""
                                                   << "\"button\": \"pbB9\""
                                                   << "LED 0 of a SRD7 belongs to pbB1, not pbB9";
    QTest::newRow("bad colour") << "\"pbXL\": \"#ffffff\""
                                << "\"pbXL\": \"#fffff\""
                                << "\"extraLeds.pbXL\" must be a colour #rrggbb";
    QTest::newRow("colour with blanks") << "\"pbXL\": \"#ffffff\""
                                        << "\"pbXL\": \"# fffff\""
                                        << "\"extraLeds.pbXL\" must be a colour #rrggbb";
    QTest::newRow("misspelt key") << "\"clutchesEnabled\""
                                  << "\"clutchEnabled\""
                                  << "\"clutchesEnabled\"";
    QTest::newRow("newer format") << "\"version\": 1"
                                  << "\"version\": 2"
                                  << "profile version 2 is not supported";
    QTest::newRow("unknown model") << "\"model\": \"SRD7\""
                                   << "\"model\": \"SRD9\""
                                   << "unknown wheel model";
    QTest::newRow("other model") << "OTHER"
                                 << ""
                                 << "taken from a KLINO4, this wheel is a SRD7";
}

void TestQuorctl::badProfileRefused()
{
    QFETCH(QString, edit);
    QFETCH(QString, replacement);
    QFETCH(QString, message);

    QString profile;
    if (edit == QLatin1String("OTHER")) {
        auto other = plug(QStringLiteral("KLINO4"));
        const Run r = run({QStringLiteral("backup"), path(QStringLiteral("good.json"))});
        QCOMPARE(r.code, 0);
    }
    auto wheel = plug(QStringLiteral("SRD7"));
    if (edit != QLatin1String("OTHER")) {
        const Run r = run({QStringLiteral("backup"), path(QStringLiteral("good.json"))});
        QCOMPARE(r.code, 0);
    }
    QFile good(path(QStringLiteral("good.json")));
    QVERIFY(good.open(QIODevice::ReadOnly));
    profile = QString::fromUtf8(good.readAll());
    if (edit == QLatin1String("TRUNCATE")) {
        profile.truncate(profile.size() / 2);
    } else if (edit != QLatin1String("OTHER")) {
        QVERIFY2(profile.contains(edit), qPrintable(edit));
        profile.replace(profile.indexOf(edit), edit.size(), replacement);
    }
    const QString bad = writeFile(path(QStringLiteral("bad.json")), profile.toUtf8());
    const QByteArray before = keptBytes(flashOf(*wheel));
    wheel->clearTranscript();

    const Run r = run({QStringLiteral("restore"), bad});
    QCOMPARE(r.code, 4);
    QVERIFY2(r.err.count(QLatin1Char('\n')) == 1 && r.err.contains(message), qPrintable(r.err));
    QVERIFY2(writesOnWire(*wheel).isEmpty(), qPrintable(writesOnWire(*wheel).join('\n')));
    QCOMPARE(keptBytes(flashOf(*wheel)), before);
}

// Forced across models, the settings travel and each LED takes the colour
// of its button in the other model's profile.
void TestQuorctl::forcedRestoreOfAnotherModel()
{
    {
        auto klino = plug(QStringLiteral("KLINO4"));
        storeDistinctSetup(*klino, QStringLiteral("KLINO4"));
        QCOMPARE(run({QStringLiteral("backup"), path(QStringLiteral("k.json"))}).code, 0);
    }
    auto wheel = plug(QStringLiteral("SRD7"));
    const Run r = run({QStringLiteral("restore"), QStringLiteral("--force"), path(QStringLiteral("k.json"))});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const Wheel::Settings s = flashOf(*wheel);
    QCOMPARE(s.encoderPulseWidth, 150);
    QCOMPARE(s.biteWord, uint16_t(12345));
    // KLINO4's LED 0 (pbB1) is level 0/0/5; SRD7's LED 0 and 41 are pbB1 too.
    QCOMPARE(int(s.ledFrame[0]), 0x00);
    QCOMPARE(int(s.ledFrame[1]) & 0x0F, 5);
}

// A lost LED page ends the restore before the commit, so the stored colours
// stay as they were, whole.
void TestQuorctl::restoreStopsAtAFailedWrite()
{
    auto wheel = plug(QStringLiteral("SRD7"));
    const QString file = path(QStringLiteral("setup.json"));
    QCOMPARE(run({QStringLiteral("backup"), file}).code, 0);
    storeDistinctSetup(*wheel, QStringLiteral("SRD7"));
    const std::vector<uint8_t> frame = flashOf(*wheel).ledFrame;
    wheel->clearTranscript();
    wheel->failWrites(1);

    const Run r = run({QStringLiteral("restore"), file});
    QCOMPARE(r.code, 3);
    QVERIFY2(r.err.contains(QLatin1String("writing to the wheel failed")), qPrintable(r.err));
    QVERIFY(flashOf(*wheel).ledFrame == frame);
    QVERIFY(!writesOnWire(*wheel).join('\n').contains(QLatin1String("set-feature 02 0e")));
}

// What restore lists after reading the wheel back.
void TestQuorctl::valuesNotKept_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("all kept") << "" << QStringList();
    QTest::newRow("pulse width") << "encoder"
                                 << QStringList{"encoder pulse width: 120 written, wheel reports 100"};
    QTest::newRow("bite word") << "bite" << QStringList{"bite word: 10001 written, wheel reports 5000"};
    QTest::newRow("enable") << "clutches" << QStringList{"clutches: enabled written, wheel reports disabled"};
    QTest::newRow("LED") << "led" << QStringList{"LED 1 (pbB9): #ff0000 written, wheel reports #000000"};
    QTest::newRow("extra LED") << "extra" << QStringList{"pbXR: #0000ff written, wheel reports #ffffff"};
}

void TestQuorctl::valuesNotKept()
{
    QFETCH(QString, field);
    QFETCH(QStringList, expected);

    WheelProfile kept;
    kept.modelCode = QStringLiteral("SRD7");
    kept.encoderPulseWidth = 100;
    kept.paddles.biteWord = 5000;
    kept.leds.assign(47, Rgb{});
    kept.extraLeft = kept.extraRight = Rgb{255, 255, 255};
    WheelProfile wanted = kept;
    if (field == QLatin1String("encoder"))
        wanted.encoderPulseWidth = 120;
    if (field == QLatin1String("bite"))
        wanted.paddles.biteWord = 10001;
    if (field == QLatin1String("clutches"))
        wanted.clutchesEnabled = true;
    if (field == QLatin1String("led"))
        wanted.leds[1] = Rgb{255, 0, 0};
    if (field == QLatin1String("extra"))
        wanted.extraRight = Rgb{0, 0, 255};
    QCOMPARE(profileDifferences(wanted, kept), expected);
}

// One button's LEDs change; every other LED keeps its exact levels, and the
// colours are committed.
void TestQuorctl::ledSetChangesOnlyThatButton()
{
    auto wheel = plug(QStringLiteral("SRD7"));
    storeDistinctSetup(*wheel, QStringLiteral("SRD7"));
    const std::vector<uint8_t> before = flashOf(*wheel).ledFrame;

    const Run r = run(
        {QStringLiteral("led"), QStringLiteral("set"), QStringLiteral("pbD16"), QStringLiteral("0a141e")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const std::vector<uint8_t> after = flashOf(*wheel).ledFrame;
    std::vector<uint8_t> expected = before;
    // pbD16 is LED 24 (sent RBG) and LED 44 (RGB) on an SRD7: levels of
    // 10, 20, 30 are 3, 4, 5.
    LedSlots values = unpackLedFrame(LedFrame{}, 0);
    for (std::size_t k = 0; k < before.size(); ++k) {
        values[2 * k] = before[k] & 0x0F;
        values[2 * k + 1] = before[k] >> 4;
    }
    const auto put = [&values](int led, int a, int b, int c) {
        values[std::size_t(3 * led)] = uint8_t(a);
        values[std::size_t(3 * led + 1)] = uint8_t(b);
        values[std::size_t(3 * led + 2)] = uint8_t(c);
    };
    put(24, 3, 5, 4);
    put(44, 3, 4, 5);
    for (std::size_t k = 0; k < expected.size(); ++k)
        expected[k] = uint8_t(values[2 * k] | values[2 * k + 1] << 4);
    QCOMPARE(toBytes(after).toHex(), toBytes(expected).toHex());
}

void TestQuorctl::ledPresetColoursShownButtons_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("shownLed");
    QTest::addColumn<int>("hiddenLed");

    // OV410 shows pbT3 (LED 28) but not pbT4 (LED 29); SRD7 shows every
    // button of its map, and its extra LEDs.
    QTest::newRow("OV410") << "OV410" << 28 << 29;
    QTest::newRow("SRD7") << "SRD7" << 46 << -1;
}

void TestQuorctl::ledPresetColoursShownButtons()
{
    QFETCH(QString, model);
    QFETCH(int, shownLed);
    QFETCH(int, hiddenLed);

    auto wheel = plug(model);
    storeDistinctSetup(*wheel, model);
    const Wheel::Settings before = flashOf(*wheel);
    const Run r = run({QStringLiteral("led"), QStringLiteral("preset"), QStringLiteral("red")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const Wheel::Settings after = flashOf(*wheel);
    const auto levels = [](const Wheel::Settings &s, int led) {
        LedFrame frame{};
        std::copy(s.ledFrame.begin(), s.ledFrame.end(), frame.begin());
        const Rgb c = ledSlotTriple(unpackLedFrame(frame, int(s.ledFrame.size()) / kLedPageBytes), led);
        return QList<int>{c.red, c.green, c.blue};
    };
    QCOMPARE(levels(after, shownLed), (QList<int>{255, 0, 0}));
    if (hiddenLed >= 0)
        QCOMPARE(levels(after, hiddenLed), levels(before, hiddenLed));
    const bool extras = ledMapFor(model)->sendsExtraLeds;
    QCOMPARE(after.extraLeds == (std::array<uint8_t, 6>{255, 0, 0, 255, 0, 0}), extras);
}

void TestQuorctl::flash_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("goodImage");
    QTest::addColumn<QString>("loaderFault");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("SRD7 over HID") << "SRD7" << true << "" << 0 << "";
    QTest::newRow("PELIX through the boot loader") << "PELIX" << true << "" << 0 << "";
    QTest::newRow("PELIX, image refused before the reboot")
        << "PELIX" << false << "" << 4 << "invalid initial SP";
    QTest::newRow("PELIX, boot loader never appears")
        << "PELIX" << true << "never-appears" << 3 << "the boot loader did not appear";
}

void TestQuorctl::flash()
{
    QFETCH(QString, model);
    QFETCH(bool, goodImage);
    QFETCH(QString, loaderFault);
    QFETCH(int, code);
    QFETCH(QString, message);

    auto wheel = plug(model);
    if (model == QLatin1String("PELIX")) {
        wheelemu::DfuEmulatorOptions dfu;
        std::string error;
        if (!loaderFault.isEmpty())
            QVERIFY2(wheelemu::applyDfuFault(loaderFault.toStdString(), &dfu, &error), error.c_str());
        wheelemu::DfuBootLoader *loader = nullptr;
        QVERIFY2(wheelemu::setUpBootLoader(wheel->emulator(), dfu, &loader, &error), error.c_str());
    }
    const std::vector<uint8_t> image = wheelemu::makeTestImage(20000, "7.7.7");
    // A stack pointer of 0 is no firmware for this flash.
    const QByteArray bytes = goodImage ? toBytes(image) : QByteArray(64, '\0');
    const QString file = writeFile(path(QStringLiteral("image.bin")), bytes);
    wheel->clearTranscript();

    const Run r = run({QStringLiteral("flash"), file}, 90000);
    QVERIFY2(r.code == code, qPrintable(r.err + r.out));
    if (code != 0) {
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        if (!goodImage)
            QVERIFY2(writesOnWire(*wheel).isEmpty(), qPrintable(writesOnWire(*wheel).join('\n')));
        return;
    }
    // Not a terminal: plain lines, ending at 100.
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() > 2 && lines[0].startsWith(QLatin1String("progress ")), qPrintable(r.out));
    QVERIFY(lines.contains(QStringLiteral("progress 100%")));
    QVERIFY(!r.out.contains(QLatin1Char('\r')));
    QTRY_VERIFY_WITH_TIMEOUT(wheel->plugged(), 15000);
    std::vector<uint8_t> installed;
    QTRY_VERIFY_WITH_TIMEOUT((wheel->withWheel([&](Wheel &w) { installed = w.installedImage(); }),
                              installed.size() >= image.size()),
                             15000);
    installed.resize(image.size());
    QVERIFY(installed == image);
}

// watch reads only input reports, so it runs beside the window.
void TestQuorctl::watchBesideTheWindow()
{
    auto wheel = plug(QStringLiteral("SRD7"));
    pretendWindowRuns();
    QProcess *p = start({QStringLiteral("watch"), QStringLiteral("--count"), QStringLiteral("3")});
    QByteArray note;
    QTRY_VERIFY_WITH_TIMEOUT((note += p->readAllStandardError()).contains("watching"), 10000);
    wheel->press(3);
    wheel->setPaddles(1000, 2000);
    wheel->release(3);
    QVERIFY(p->waitForFinished(10000));
    QCOMPARE(p->exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(p->readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{"button 3 pressed", "paddles left 1000 right 2000", "button 3 released"}));
}

void TestQuorctl::progressDisplay_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QString>("shown");

    const QString empty(40, QLatin1Char('-'));
    const QString full(40, QLatin1Char('#'));
    const QString half = QString(20, QLatin1Char('#')) + QString(20, QLatin1Char('-'));
    // A repeated value and a failure code add nothing.
    QTest::newRow("lines") << false << QList<int>{0, 0, 50, 100, -3}
                           << "progress 0%\nprogress 50%\nprogress 100%\n";
    QTest::newRow("bar") << true << QList<int>{0, 50, 50, 100}
                         << "\r[" + empty + "]   0%\r[" + half + "]  50%\r[" + full + "] 100%\n";
}

void TestQuorctl::progressDisplay()
{
    QFETCH(bool, terminal);
    QFETCH(QList<int>, values);
    QFETCH(QString, shown);

    QTemporaryFile capture;
    QVERIFY(capture.open());
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(capture.handle(), STDOUT_FILENO);
    FlashProgress progress(terminal);
    for (const int value : values)
        progress.onProgress(value);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    QFile written(capture.fileName());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(written.readAll()), shown);
    QCOMPARE(progress.last(), values.last());
}

WHEEL_TEST_GUILESS_MAIN(TestQuorctl)
#include "tst_quorctl.moc"
