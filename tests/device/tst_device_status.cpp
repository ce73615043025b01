// The status readout against the emulated wheel: the firmware version on the
// ABOUT page, battery and Bluetooth on the DEVICE page, and what a failed
// read shows.
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "device/device_handle.h"
#include "device/device_status.h"
#include "device/discovery.h"

#include <hidapi/hidapi.h>

#include <QLabel>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex logMutex;
QStringList logLines;

void captureMessages(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&logMutex);
    logLines << message;
}

QStringList takeLog()
{
    QMutexLocker lock(&logMutex);
    QStringList lines;
    lines.swap(logLines);
    return lines;
}

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

// The DEVICE page's two labels with their starting texts.
struct StatusLabels
{
    QWidget page;
    QLabel bluetooth{QStringLiteral("BLUETOOTH CONNECTED"), &page};
    QLabel battery{QStringLiteral("BATTERY STATUS:"), &page};
};

} // namespace

class TestDeviceStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCOMPARE(hid_init(), 0);
        qInstallMessageHandler(captureMessages);
    }
    void cleanup() { deviceHandle().close(); }

    void powerStatus_data();
    void powerStatus();
    void failedPowerQueryReadsAsItsRequest();
    void noWheelNoPowerQuery();
    void firmwareVersion_data();
    void firmwareVersion();
    void firmwareVersionWithoutWheel();
};

void TestDeviceStatus::powerStatus_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("link");
    QTest::addColumn<QString>("battery");
    QTest::addColumn<bool>("bluetooth");

    QTest::newRow("battery, level 4299, link 2") << 42 << 4299 << 2 << "BATTERY STATUS: 42%" << false;
    QTest::newRow("external power from 4300") << 42 << 4300 << 2 << "BATTERY STATUS: USB" << false;
    QTest::newRow("USB link whatever the level") << 42 << 1000 << 1 << "BATTERY STATUS: USB" << false;
    QTest::newRow("Bluetooth on battery") << 73 << 3900 << 0 << "BATTERY STATUS: 73%" << true;
    QTest::newRow("Bluetooth on external power") << 73 << 4300 << 0 << "BATTERY STATUS: USB" << true;
    QTest::newRow("empty battery") << 0 << 0 << 0 << "BATTERY STATUS: 0%" << true;
    QTest::newRow("full level word") << 100 << 65535 << 0 << "BATTERY STATUS: USB" << true;
}

void TestDeviceStatus::powerStatus()
{
    QFETCH(int, percent);
    QFETCH(int, level);
    QFETCH(int, link);
    QFETCH(QString, battery);
    QFETCH(bool, bluetooth);

    wheeltest::WheelFixture::Options options;
    options.model = "H-ZET";
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    wheel.withWheel([&](wheelemu::Wheel &w) {
        w.setPowerStatus({uint8_t(percent), uint16_t(level), uint8_t(link)});
    });
    QVERIFY(openFirstWheel(deviceHandle()) != 0);
    wheel.clearTranscript();
    takeLog();

    StatusLabels labels;
    const std::optional<PowerStatus> status = readPowerStatus(deviceHandle());
    QVERIFY(status.has_value());
    showPowerStatus(*status, &labels.bluetooth, &labels.battery);

    QCOMPARE(requests(wheel), QStringList{QStringLiteral("set-feature 02 0b 0f")});
    QCOMPARE(labels.battery.text(), battery);
    QCOMPARE(!labels.bluetooth.isHidden(), bluetooth);
    QCOMPARE(labels.bluetooth.text(), QStringLiteral("BLUETOOTH CONNECTED"));
    QVERIFY(takeLog().contains(QStringLiteral("BATTERY: %1 %2").arg(percent).arg(level)));
}

void TestDeviceStatus::failedPowerQueryReadsAsItsRequest()
{
    wheeltest::WheelFixture::Options options;
    options.model = "H-ZET";
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    wheel.withWheel([](wheelemu::Wheel &w) { w.setPowerStatus({90, 4500, 1}); });
    QVERIFY(openFirstWheel(deviceHandle()) != 0);
    wheel.failGetFeature(1);

    StatusLabels labels;
    labels.bluetooth.hide();
    const std::optional<PowerStatus> status = readPowerStatus(deviceHandle());
    QVERIFY(status.has_value());
    showPowerStatus(*status, &labels.bluetooth, &labels.battery);

    // The buffer still holds 02 0B 0F 00...: 15 %, level 0, link 0.
    QCOMPARE(labels.battery.text(), QStringLiteral("BATTERY STATUS: 15%"));
    QVERIFY(!labels.bluetooth.isHidden());
}

void TestDeviceStatus::noWheelNoPowerQuery()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    deviceHandle().close();
    wheel.clearTranscript();

    QVERIFY(!readPowerStatus(deviceHandle()).has_value());
    QCOMPARE(requests(wheel), QStringList());
}

void TestDeviceStatus::firmwareVersion_data()
{
    QTest::addColumn<QString>("wheelVersion");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("logged");

    QTest::newRow("ends in a colon") << "1.2.3:"
                                     << "Firmware Version: 1.2.3"
                                     << "Firmware Version: 1.2.3";
    QTest::newRow("only one colon goes") << "1.2.3::"
                                         << "Firmware Version: 1.2.3:"
                                         << "Firmware Version: 1.2.3:";
    QTest::newRow("colon inside stays") << "v2:7"
                                        << "Firmware Version: v2:7"
                                        << "Firmware Version: v2:7";
    QTest::newRow("release and build date") << "2\tMar  7 2024,15:04"
                                            << "Firmware Version: 2\tMar  7 2024,15:04"
                                            << "Firmware Version: 2\tMar  7 2024,15:04";
    // The reply holds 20 text bytes from byte 1 with no room for a zero.
    QTest::newRow("twenty bytes") << "12345678901234567890"
                                  << "Firmware Version: 12345678901234567890"
                                  << "Firmware Version: 12345678901234567890";
}

void TestDeviceStatus::firmwareVersion()
{
    QFETCH(QString, wheelVersion);
    QFETCH(QString, label);
    QFETCH(QString, logged);

    wheeltest::WheelFixture::Options options;
    options.version = wheelVersion.toStdString();
    wheeltest::WheelFixture wheel(options);
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    QVERIFY(openFirstWheel(deviceHandle()) != 0);
    wheel.clearTranscript();
    takeLog();

    QLabel version;
    version.hide();
    loadFirmwareVersion(deviceHandle(), &version);

    QCOMPARE(requests(wheel), QStringList{QStringLiteral("set-feature 02 0b 09")});
    QCOMPARE(version.text(), label);
    QVERIFY(!version.isHidden());
    QVERIFY2(takeLog().contains(logged), qPrintable(logged));
}

void TestDeviceStatus::firmwareVersionWithoutWheel()
{
    wheeltest::WheelFixture wheel;
    QVERIFY2(wheel.ok(), wheel.error().c_str());
    deviceHandle().close();
    wheel.clearTranscript();

    QLabel version(QStringLiteral("Firmware Version: 9.9"));
    version.hide();
    loadFirmwareVersion(deviceHandle(), &version);

    QCOMPARE(version.text(), QStringLiteral("Firmware Version: "));
    QVERIFY(!version.isHidden());
    QCOMPARE(requests(wheel), QStringList());
}

WHEEL_TEST_MAIN(TestDeviceStatus)
#include "tst_device_status.moc"
