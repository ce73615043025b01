// The standalone emulator's inputs: its command line, --script files and
// control commands, including the demo's own script run against a real
// emulated wheel.
#include "cli_options.h"
#include "command_interpreter.h"
#include "script_runner.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <QFile>

namespace {

std::vector<std::string> words(const QStringList &list)
{
    std::vector<std::string> out;
    for (const QString &s : list)
        out.push_back(s.toStdString());
    return out;
}

} // namespace

class TestEmulatorCli : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void commandLineErrors_data();
    void commandLineErrors();
    void script_data();
    void script();
    void commandErrors_data();
    void commandErrors();
    void buttonCommandsReportOnce();
    void demoScriptRuns();
};

void TestEmulatorCli::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("moreWheels");

    QTest::newRow("defaults") << QStringList{} << "SRD7" << -1 << 0 << "" << 0;
    QTest::newRow("model") << QStringList{"--model", "ULMAR"} << "ULMAR" << -1 << 0 << "" << 0;
    QTest::newRow("hex product id") << QStringList{"--pid", "0x2008"} << "SRD7" << 0x2008 << 0 << "" << 0;
    QTest::newRow("decimal product id") << QStringList{"--pid", "8200"} << "SRD7" << 8200 << 0 << "" << 0;
    QTest::newRow("top rate") << QStringList{"--rate", "8000"} << "SRD7" << -1 << 8000 << "" << 0;
    QTest::newRow("inline value") << QStringList{"--rate=250"} << "SRD7" << -1 << 250 << "" << 0;
    QTest::newRow("version with tab") << QStringList{"--version", "3\\tJan  2 2025,10:00"} << "SRD7" << -1
                                      << 0 << "3\tJan  2 2025,10:00" << 0;
    QTest::newRow("second wheel") << QStringList{"--model", "PELIX", "--add-wheel", "ULMAR:0x2009"} << "PELIX"
                                  << -1 << 0 << "" << 1;
}

void TestEmulatorCli::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, model);
    QFETCH(int, productId);
    QFETCH(int, rate);
    QFETCH(QString, version);
    QFETCH(int, moreWheels);
    wheelemu::CliOptions o;
    std::string error;
    QVERIFY2(wheelemu::parseCommandLine(words(args), &o, &error), error.c_str());
    QCOMPARE(QString::fromStdString(o.emulator.wheel.model), model);
    QCOMPARE(o.emulator.wheel.productId, productId);
    QCOMPARE(o.emulator.inputRate, rate);
    QCOMPARE(QString::fromStdString(o.emulator.wheel.version), version);
    QCOMPARE(static_cast<int>(o.moreWheels.size()), moreWheels);
    if (moreWheels) {
        QCOMPARE(QString::fromStdString(o.moreWheels[0].model), QStringLiteral("ULMAR"));
        QCOMPARE(o.moreWheels[0].productId, 0x2009);
    }
}

void TestEmulatorCli::commandLineErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("why");
    QTest::newRow("unknown model") << QStringList{"--model", "H-ZETA"} << "unknown model";
    QTest::newRow("lower-case model") << QStringList{"--model", "srd7"} << "unknown model";
    QTest::newRow("product id too big") << QStringList{"--pid", "0x10000"} << "bad product id";
    QTest::newRow("rate too high") << QStringList{"--rate", "8001"} << "8000";
    QTest::newRow("negative rate") << QStringList{"--rate", "-1"} << "8000";
    QTest::newRow("missing value") << QStringList{"--transcript"} << "needs FILE";
    QTest::newRow("flag with a value") << QStringList{"--debug=1"} << "takes no value";
    QTest::newRow("unknown option") << QStringList{"--colour"} << "unknown option";
    QTest::newRow("bad second wheel") << QStringList{"--add-wheel", "ULMAR:zz"} << "bad product id";
}

void TestEmulatorCli::commandLineErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, why);
    wheelemu::CliOptions o;
    std::string error;
    QVERIFY(!wheelemu::parseCommandLine(words(args), &o, &error));
    QVERIFY2(QString::fromStdString(error).contains(why), error.c_str());
}

void TestEmulatorCli::script_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QList<int>>("times");
    QTest::newRow("two lines") << "0.5 press 3\n1.25 release 3\n"
                               << true << QStringList{"press 3", "release 3"} << QList<int>{500, 1250};
    QTest::newRow("comments and blanks") << "# start\n\n  2 paddle 1 2  # sweep\n"
                                         << true << QStringList{"paddle 1 2"} << QList<int>{2000};
    QTest::newRow("loop") << "0 press 1\n3 loop\n"
                          << true << QStringList{"press 1", "loop"} << QList<int>{0, 3000};
    QTest::newRow("no time") << "press 3\n" << false << QStringList{} << QList<int>{};
    QTest::newRow("time only") << "1.0\n" << false << QStringList{} << QList<int>{};
    QTest::newRow("negative time") << "-1 press 3\n" << false << QStringList{} << QList<int>{};
}

void TestEmulatorCli::script()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QStringList, commands);
    QFETCH(QList<int>, times);
    std::vector<wheelemu::ScriptLine> lines;
    std::string error;
    QCOMPARE(wheelemu::parseScript(text.toStdString(), &lines, &error), valid);
    if (!valid) {
        QVERIFY2(QString::fromStdString(error).startsWith(QLatin1String("line ")), error.c_str());
        return;
    }
    QStringList gotCommands;
    QList<int> gotTimes;
    for (const auto &l : lines) {
        gotCommands << QString::fromStdString(l.command);
        gotTimes << static_cast<int>(l.at.count());
    }
    QCOMPARE(gotCommands, commands);
    QCOMPARE(gotTimes, times);
}

void TestEmulatorCli::commandErrors_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("why");
    QTest::newRow("button 0") << "press 0"
                              << "1 to 64";
    QTest::newRow("button 65") << "release 65"
                               << "1 to 64";
    QTest::newRow("one paddle") << "paddle 100"
                                << "usage: paddle";
    QTest::newRow("paddle too far") << "paddle 0 70000"
                                    << "0 to 65535";
    QTest::newRow("unknown fault") << "fault smoke"
                                   << "faults:";
    QTest::newRow("rate too high") << "rate 8001"
                                   << "8000";
    QTest::newRow("no such wheel") << "wheel 3 press 1"
                                   << "no wheel 3";
    QTest::newRow("first wheel stays") << "remove-wheel 1"
                                       << "first wheel stays";
    QTest::newRow("unknown model") << "add-wheel XYZ"
                                   << "unknown model";
    QTest::newRow("unknown command") << "jump"
                                     << "unknown command";
}

void TestEmulatorCli::commandErrors()
{
    QFETCH(QString, line);
    QFETCH(QString, why);
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    wheel.clearTranscript();
    std::string reply;
    QVERIFY(!wheel.command(line.toStdString(), &reply));
    QVERIFY2(QString::fromStdString(reply).contains(why), reply.c_str());
    // A refused command changes nothing on the wire.
    QCOMPARE(wheel.transcript().size(), size_t(0));
    QCOMPARE(wheel.emulator().wheelCount(), size_t(1));
}

void TestEmulatorCli::buttonCommandsReportOnce()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(wheel.command("press 1 9 64"));
    std::array<uint8_t, wheelemu::kInputReportSize> report{};
    wheel.withWheel([&](wheelemu::Wheel &w) { report = w.inputReport(); });
    QCOMPARE(report[5], uint8_t(0x01));  // button 1
    QCOMPARE(report[6], uint8_t(0x01));  // button 9
    QCOMPARE(report[12], uint8_t(0x80)); // button 64
    QVERIFY(wheel.command("release all"));
    wheel.withWheel([&](wheelemu::Wheel &w) { report = w.inputReport(); });
    for (size_t i = 5; i < 13; ++i)
        QCOMPARE(report[i], uint8_t(0));
}

void TestEmulatorCli::demoScriptRuns()
{
    QFile file(QStringLiteral(DEMO_SCRIPT));
    QVERIFY(file.open(QIODevice::ReadOnly));
    std::vector<wheelemu::ScriptLine> lines;
    std::string error;
    QVERIFY2(wheelemu::parseScript(file.readAll().toStdString(), &lines, &error), error.c_str());
    QVERIFY(lines.size() > 10);
    QCOMPARE(QString::fromStdString(lines.back().command), QStringLiteral("loop"));
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    for (const auto &l : lines) {
        if (l.command == "loop")
            continue;
        std::string reply;
        QVERIFY2(wheel.command(l.command, &reply),
                 qPrintable(QString::fromStdString(l.command + ": " + reply)));
    }
    // One pass ends where it started, so the loop is seamless.
    std::array<uint8_t, wheelemu::kInputReportSize> report{};
    wheel.withWheel([&](wheelemu::Wheel &w) { report = w.inputReport(); });
    for (size_t i = 1; i < report.size(); ++i)
        QCOMPARE(report[i], uint8_t(0));
}

WHEEL_TEST_GUILESS_MAIN(TestEmulatorCli)
#include "tst_emulator_cli.moc"
