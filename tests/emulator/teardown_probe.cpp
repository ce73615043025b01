// For check_teardown.sh: holds an emulated wheel and an open descriptor on
// it, then ends as WHEELTEST_PROBE says: "pass", "fail" (a failed QVERIFY),
// "abort" (a crash) or "hang" (until a signal ends it).
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include <hidapi.h>

#include <QFile>
#include <QThread>

#include <cstdlib>
#include <unistd.h>

class TeardownProbe : public QObject
{
    Q_OBJECT

private slots:
    void holdAWheel()
    {
        wheeltest::WheelFixture wheel;
        QVERIFY2(wheel.ok(), wheel.error().c_str());
        hid_device *dev = hid_open(0xC872, 0x200D, nullptr);
        QVERIFY(dev);
        QFile pidFile(qEnvironmentVariable("WHEELTEST_PROBE_PID_FILE"));
        if (pidFile.open(QIODevice::WriteOnly))
            pidFile.write(QByteArray::number(static_cast<qint64>(getpid())) + "\n");
        pidFile.close(); // before a hang or an abort, so the script sees the pid
        const QByteArray how = qgetenv("WHEELTEST_PROBE");
        if (how == "abort")
            abort();
        if (how == "hang")
            QThread::sleep(60);
        hid_close(dev);
        QVERIFY2(how != "fail", "failing on purpose");
    }
};

WHEEL_TEST_GUILESS_MAIN(TeardownProbe)
#include "teardown_probe.moc"
