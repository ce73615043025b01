// The look for the boot loader on the bus, through the real libusb against
// the emulated loader: found only while it is plugged in, and nothing left
// open afterwards.
#include "loader_on_bus.h"
#include "preload.h"
#include "testbed.h"

#include "upgrade/dfu_probe.h"

#include <QDir>
#include <QtTest>

#include <memory>

using namespace wheelemu;

namespace {

// Descriptors this process holds, sockets aside (the testbed's thread closes
// its ioctl connections in its own time).
QStringList openFiles()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (!target.contains(QLatin1String("socket:")))
            targets << target;
    }
    targets.sort();
    return targets;
}

} // namespace

class TestDfuProbe : public QObject
{
    Q_OBJECT

private slots:
    void followsTheBus_data();
    void followsTheBus();
};

void TestDfuProbe::followsTheBus_data()
{
    QTest::addColumn<QList<bool>>("plugged");

    QTest::newRow("empty bus") << QList<bool>{false};
    QTest::newRow("loader arrives") << QList<bool>{false, true};
    QTest::newRow("loader leaves") << QList<bool>{true, false};
    QTest::newRow("loader back") << QList<bool>{true, false, true};
}

void TestDfuProbe::followsTheBus()
{
    QFETCH(QList<bool>, plugged);

    std::string error;
    const std::unique_ptr<Testbed> testbed = Testbed::create(&error);
    QVERIFY2(testbed, error.c_str());
    LoaderOnBus loader(*testbed, {});
    for (const bool on : plugged) {
        if (on)
            QVERIFY2(loader.plug(&error), error.c_str());
        else
            loader.unplug();
        const QStringList before = openFiles();
        QCOMPARE(bootLoaderPresent(), on);
        // A look never talks to the device, and gives back all it opened.
        QVERIFY(loader.transfers().empty());
        QCOMPARE(openFiles(), before);
    }
}

int main(int argc, char **argv)
{
    std::string error;
    if (!reexecUnderPreload(argv, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    TestDfuProbe test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_dfu_probe.moc"
