// The files that make QuorSet part of a Linux desktop: the desktop's own
// checkers on the launcher and metadata, and the udev rules run against
// made-up devices built from the program's own id tables, so a new model or
// a renamed id cannot be forgotten in them.

#include "device/discovery.h"
#include "upgrade/dfu_flasher.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <cstring>
#include <fnmatch.h>

namespace {

const QString kAppId = QStringLiteral(QUORSET_APP_ID);
const QDir kLinuxDir(QStringLiteral(QUORSET_PACKAGING_LINUX_DIR));

// A sysfs chain, the event's device first, then its parents; each device as
// udev keys: "SUBSYSTEM", "ATTR{idVendor}", "ENV{DEVTYPE}".
using Device = QMap<QString, QString>;
using Chain = QVector<Device>;

QString sysfsId(uint16_t id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

// hidraw node, USB interface, and the USB device that alone carries the ids.
Chain hidrawChain(uint16_t vendor, uint16_t product)
{
    return {{{"SUBSYSTEM", "hidraw"}},
            {{"SUBSYSTEM", "usb"}, {"ENV{DEVTYPE}", "usb_interface"}, {"ATTR{bInterfaceNumber}", "00"}},
            {{"SUBSYSTEM", "usb"},
             {"ENV{DEVTYPE}", "usb_device"},
             {"ATTR{idVendor}", sysfsId(vendor)},
             {"ATTR{idProduct}", sysfsId(product)}}};
}

// A small reading of udev's rules language: the keys these rules use, in
// udev's meaning (ATTRS all on one device of the chain, the rest on the
// event's own device). Anything else is an error, so a rule it cannot judge
// is never passed over. Returns the tags given, or "!" and an error.
QStringList runRules(const QString &text, const QString &action, const Chain &chain)
{
    static const QRegularExpression token(
        QStringLiteral(R"re(\G\s*([A-Z]+)(\{[^}]*\})?\s*(==|!=|\+=|=)\s*"([^"]*)"\s*(?:,|$))re"));
    const auto holdsOn = [](const Device &device, const QString &key, const QRegularExpressionMatch &m) {
        return device.contains(key) &&
               (fnmatch(m.captured(4).toUtf8().constData(), device.value(key).toUtf8().constData(), 0) ==
                0) == (m.captured(3) == QLatin1String("=="));
    };
    Device self = chain.first();
    self.insert("ACTION", action);
    QStringList tags;
    QString skipTo;
    int lineNumber = 0;
    for (const QString &raw : text.split('\n')) {
        ++lineNumber;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        bool holds = true;
        QVector<QRegularExpressionMatch> ancestorTests, assignments;
        QString label;
        for (int at = 0; at < line.size();) {
            const QRegularExpressionMatch m = token.match(line, at);
            if (!m.hasMatch())
                return {QStringLiteral("!line %1: cannot read \"%2\"").arg(lineNumber).arg(line.mid(at))};
            at = m.capturedEnd(0);
            const QString key = m.captured(1), op = m.captured(3);
            const bool test = op == QLatin1String("==") || op == QLatin1String("!=");
            if (key == QLatin1String("LABEL") && op == QLatin1String("="))
                label = m.captured(4);
            else if ((key == QLatin1String("TAG") && op == QLatin1String("+=")) ||
                     (key == QLatin1String("GOTO") && op == QLatin1String("=")))
                assignments.append(m);
            else if (test && key == QLatin1String("ATTRS"))
                ancestorTests.append(m);
            else if (test && QStringList{"ACTION", "SUBSYSTEM", "ATTR", "ENV"}.contains(key))
                holds = holds && holdsOn(self, key + m.captured(2), m);
            else
                return {QStringLiteral("!line %1: %2%3 is not understood here").arg(lineNumber).arg(key, op)};
        }
        if (!skipTo.isEmpty()) {
            if (label == skipTo)
                skipTo.clear();
            continue;
        }
        if (!ancestorTests.isEmpty()) {
            holds = holds && std::any_of(chain.begin(), chain.end(), [&](const Device &d) {
                        return std::all_of(ancestorTests.begin(), ancestorTests.end(), [&](const auto &m) {
                            return holdsOn(d, "ATTR" + m.captured(2), m);
                        });
                    });
        }
        if (!holds)
            continue;
        for (const auto &m : assignments) {
            if (m.captured(1) == QLatin1String("GOTO"))
                skipTo = m.captured(4);
            else if (!tags.contains(m.captured(4)))
                tags.append(m.captured(4));
        }
    }
    if (!skipTo.isEmpty())
        return {QStringLiteral("!GOTO \"%1\" has no LABEL after it").arg(skipTo)};
    return tags;
}

} // namespace

Q_DECLARE_METATYPE(Chain)

class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private:
    QString rulesPath;

private slots:
    void initTestCase()
    {
        const QStringList rulesFiles = kLinuxDir.entryList({"*.rules"}, QDir::Files);
        QCOMPARE(rulesFiles.size(), 1);
        rulesPath = kLinuxDir.filePath(rulesFiles.first());
        // 73-seat-late.rules turns uaccess tags into ACLs; udev reads files
        // in strcmp order of their names, so ours must come first.
        QVERIFY2(std::strcmp(rulesFiles.first().toUtf8().constData(), "73-seat-late.rules") < 0,
                 qPrintable(rulesFiles.first()));
    }

    void externalValidator_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("desktop-file-validate")
            << "desktop-file-validate" << QStringList{kLinuxDir.filePath(kAppId + ".desktop")};
        QTest::newRow("appstreamcli validate")
            << "appstreamcli"
            << QStringList{"validate", "--no-net", kLinuxDir.filePath(kAppId + ".metainfo.xml")};
        QTest::newRow("udevadm verify") << "udevadm" << QStringList{"verify", rulesPath};
    }

    void externalValidator()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const QString path = QStandardPaths::findExecutable(program);
        if (path.isEmpty())
            QFAIL(qPrintable(program + " is not installed (tools/install-deps.sh installs it)"));
        // udev learnt "verify" in version 254; older ones rely on the rules test below.
        if (program == QLatin1String("udevadm") && QProcess::execute(path, {"verify", "--help"}) != 0)
            QSKIP("udevadm verify is not offered by this system");
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(path, arguments);
        QVERIFY(run.waitForFinished(60000));
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, run.readAll().constData());
    }

    // Every product id the program opens and the boot loader it flashes get
    // the seat's uaccess tag, on plug-in and on the "change" the installer
    // triggers; nothing else does, and no rule sets a mode, owner or group
    // (the reading above refuses those).
    void rulesGrantSeatAccess_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<Chain>("chain");
        QTest::addColumn<bool>("granted");
        const DfuFlashOptions loader;
        for (const char *action : {"add", "change"}) {
            for (uint16_t product : WheelProductIds)
                QTest::addRow("hidraw c872:%s %s", qPrintable(sysfsId(product)), action)
                    << action << hidrawChain(kWheelVendorId, product) << true;
            QTest::addRow("boot loader %s", action)
                << action << hidrawChain(loader.vendorId, loader.productId).mid(2) << true;
        }
        const uint16_t wheel = WheelProductIds.front();
        QTest::newRow("hidraw c872:200e, no such model")
            << "add" << hidrawChain(kWheelVendorId, 0x200E) << false;
        QTest::newRow("hidraw of another vendor") << "add" << hidrawChain(0x046D, wheel) << false;
        QTest::newRow("the wheel's raw USB node")
            << "add" << hidrawChain(kWheelVendorId, wheel).mid(2) << false;
        QTest::newRow("the boot loader's interface")
            << "add" << hidrawChain(loader.vendorId, loader.productId).mid(1) << false;
        QTest::newRow("another DFU loader") << "add" << hidrawChain(loader.vendorId, 0xDF12).mid(2) << false;
        QTest::newRow("wheel unplugged") << "remove" << hidrawChain(kWheelVendorId, wheel) << false;
    }

    void rulesGrantSeatAccess()
    {
        QFETCH(QString, action);
        QFETCH(Chain, chain);
        QFETCH(bool, granted);
        QFile file(rulesPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList tags = runRules(QString::fromUtf8(file.readAll()), action, chain);
        QVERIFY2(tags.isEmpty() || !tags.first().startsWith('!'), qPrintable(tags.value(0)));
        QCOMPARE(tags, granted ? QStringList{"uaccess"} : QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktop_integration.moc"
