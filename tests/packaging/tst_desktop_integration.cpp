// The files that make QuorSet part of a Linux desktop: the udev rules, the
// launcher, the AppStream metadata and the icons. They are checked against
// the program's own device tables, so a new wheel model or a renamed id
// cannot be forgotten in one of them.

#include "udev_rules.h"

#include "device/discovery.h"
#include "tools/draw-pictures/app_icon.h"
#include "upgrade/dfu_flasher.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>

Q_DECLARE_METATYPE(UdevDevice)

namespace {

const QString kAppId = QStringLiteral(QUORSET_APP_ID);
const QDir kLinuxDir(QStringLiteral(QUORSET_PACKAGING_LINUX_DIR));

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The keys of a desktop file's [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QByteArray &text)
{
    QMap<QString, QString> entry;
    bool inGroup = false;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char('#')))
            entry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return entry;
}

struct Metainfo
{
    QString id;
    QString launchable;
    QStringList binaries;
    QStringList modaliases;
    QStringList releases; // newest first, as AppStream wants them
    QString error;
};

Metainfo readMetainfo(const QByteArray &text)
{
    Metainfo info;
    QXmlStreamReader xml(text);
    QStringList path;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path.append(xml.name().toString());
            const QString where = path.join(QLatin1Char('/'));
            if (where == QLatin1String("component/releases/release"))
                info.releases.append(xml.attributes().value(QLatin1String("version")).toString());
            else if (where == QLatin1String("component/id"))
                info.id = xml.readElementText();
            else if (where == QLatin1String("component/launchable"))
                info.launchable = xml.readElementText();
            else if (where == QLatin1String("component/provides/modalias"))
                info.modaliases.append(xml.readElementText());
            else if (where == QLatin1String("component/provides/binary"))
                info.binaries.append(xml.readElementText());
            // readElementText() consumed the end element too.
            if (xml.isEndElement())
                path.removeLast();
        } else if (xml.isEndElement()) {
            path.removeLast();
        }
    }
    if (xml.hasError())
        info.error = xml.errorString();
    return info;
}

// Sysfs prints USB ids as four lower-case hex digits.
QString sysfsId(uint16_t id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

// The chain udev sees for a wheel's HID node: hidraw, hid, the USB interface,
// the USB device (which alone carries the ids) and the host controller.
QVector<UdevDevice> hidrawChain(uint16_t vendor, uint16_t product)
{
    const QString hidId =
        QStringLiteral("0003:%1:%2.0004").arg(sysfsId(vendor).toUpper(), sysfsId(product).toUpper());
    return {
        {QStringLiteral("hidraw"), QStringLiteral("hidraw3"), {}, {}, {{"MAJOR", "240"}, {"MINOR", "3"}}},
        {QStringLiteral("hid"), hidId, QStringLiteral("hid-generic"), {}, {}},
        {QStringLiteral("usb"),
         QStringLiteral("1-2:1.0"),
         QStringLiteral("usbhid"),
         {{"bInterfaceNumber", "00"}, {"bInterfaceClass", "03"}},
         {{"DEVTYPE", "usb_interface"}}},
        {QStringLiteral("usb"),
         QStringLiteral("1-2"),
         QStringLiteral("usb"),
         {{"idVendor", sysfsId(vendor)}, {"idProduct", sysfsId(product)}, {"bcdDevice", "0100"}},
         {{"DEVTYPE", "usb_device"}, {"MAJOR", "189"}, {"MINOR", "5"}}},
        {QStringLiteral("pci"), QStringLiteral("0000:00:14.0"), QStringLiteral("xhci_hcd"), {}, {}},
    };
}

// The USB device node libusb opens.
QVector<UdevDevice> usbDeviceChain(uint16_t vendor, uint16_t product)
{
    return hidrawChain(vendor, product).mid(3);
}

// One of that device's interfaces, which has no node of its own.
QVector<UdevDevice> usbInterfaceChain(uint16_t vendor, uint16_t product)
{
    return hidrawChain(vendor, product).mid(2);
}

// The modalias the kernel gives a USB interface, as software centres see it.
QString kernelModalias(uint16_t vendor, uint16_t product)
{
    return QString::asprintf("usb:v%04Xp%04Xd0100dc00dsc00dp00ic03isc00ip00in00", vendor, product);
}

QString hexPair(uint16_t vendor, uint16_t product)
{
    return sysfsId(vendor) + QLatin1Char(':') + sysfsId(product);
}

} // namespace

class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private:
    QString rulesPath;
    UdevRules rules;
    QMap<QString, QString> desktop;
    Metainfo metainfo;

private slots:
    void initTestCase()
    {
        const QStringList rulesFiles = kLinuxDir.entryList({QStringLiteral("*.rules")}, QDir::Files);
        QCOMPARE(rulesFiles.size(), 1);
        rulesPath = kLinuxDir.filePath(rulesFiles.first());
        const QByteArray rulesText = readAll(rulesPath);
        QVERIFY(!rulesText.isEmpty());
        rules = parseUdevRules(QString::fromUtf8(rulesText));

        desktop = desktopEntry(readAll(kLinuxDir.filePath(kAppId + QStringLiteral(".desktop"))));
        QVERIFY2(!desktop.isEmpty(), "no [Desktop Entry] in the launcher named after the application id");

        const QByteArray meta = readAll(kLinuxDir.filePath(kAppId + QStringLiteral(".metainfo.xml")));
        QVERIFY2(!meta.isEmpty(), "no metainfo named after the application id");
        metainfo = readMetainfo(meta);
        QVERIFY2(metainfo.error.isEmpty(), qPrintable(metainfo.error));
    }

    // The desktop's own checkers, where this system has them.
    void externalValidator_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("probe"); // must succeed, or the check is skipped

        QTest::newRow("desktop-file-validate")
            << "desktop-file-validate" << QStringList{kLinuxDir.filePath(kAppId + ".desktop")}
            << QStringList{};
        QTest::newRow("appstreamcli validate")
            << "appstreamcli"
            << QStringList{"validate", "--no-net", kLinuxDir.filePath(kAppId + ".metainfo.xml")}
            << QStringList{};
        // udev learnt "verify" in version 254; older ones rely on rulesAreUnderstood.
        QTest::newRow("udevadm verify")
            << "udevadm" << QStringList{"verify", rulesPath} << QStringList{"verify", "--help"};
    }

    void externalValidator()
    {
        QFETCH(QString, program);
        QFETCH(const QStringList, arguments);
        QFETCH(QStringList, probe);
        const QString path = QStandardPaths::findExecutable(program);
        if (path.isEmpty())
            QFAIL(qPrintable(program + " is not installed (tools/install-deps.sh installs it)"));
        if (!probe.isEmpty()) {
            QProcess probing;
            probing.start(path, probe);
            QVERIFY(probing.waitForFinished(30000));
            if (probing.exitStatus() != QProcess::NormalExit || probing.exitCode() != 0)
                QSKIP(qPrintable(program + ' ' + probe.first() + " is not offered by this system"));
        }
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(path, arguments);
        QVERIFY(run.waitForFinished(60000));
        const QByteArray output = run.readAll();
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, output.constData());
    }

    void rulesAreUnderstood() { QVERIFY2(rules.error.isEmpty(), qPrintable(rules.error)); }

    // Every product id the program opens and the boot loader it flashes get
    // the seat's uaccess tag, on plug-in and on the "change" the installer
    // triggers; nothing else does, and nothing gets a mode or owner.
    void rulesGrantSeatAccess_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QVector<UdevDevice>>("chain");
        QTest::addColumn<bool>("granted");

        const char *const actions[] = {"add", "change"};
        for (const char *action : actions) {
            for (uint16_t product : WheelProductIds) {
                QTest::addRow("hidraw %s %s", qPrintable(hexPair(kWheelVendorId, product)), action)
                    << action << hidrawChain(kWheelVendorId, product) << true;
            }
            const DfuFlashOptions loader;
            QTest::addRow("boot loader %s %s", qPrintable(hexPair(loader.vendorId, loader.productId)), action)
                << action << usbDeviceChain(loader.vendorId, loader.productId) << true;
        }

        const DfuFlashOptions loader;
        QTest::newRow("hidraw c872:200e, not supported")
            << "add" << hidrawChain(kWheelVendorId, 0x200E) << false;
        QTest::newRow("hidraw c872:200f, not supported")
            << "add" << hidrawChain(kWheelVendorId, 0x200F) << false;
        QTest::newRow("hidraw of another vendor, same product")
            << "add" << hidrawChain(0x046D, WheelProductIds.front()) << false;
        QTest::newRow("the wheel's raw USB node")
            << "add" << usbDeviceChain(kWheelVendorId, WheelProductIds.front()) << false;
        QTest::newRow("the boot loader's interface")
            << "add" << usbInterfaceChain(loader.vendorId, loader.productId) << false;
        QTest::newRow("another DFU loader") << "add" << usbDeviceChain(loader.vendorId, 0xDF12) << false;
        QTest::newRow("wheel unplugged")
            << "remove" << hidrawChain(kWheelVendorId, WheelProductIds.front()) << false;
    }

    void rulesGrantSeatAccess()
    {
        QFETCH(QString, action);
        QFETCH(QVector<UdevDevice>, chain);
        QFETCH(bool, granted);

        const UdevOutcome outcome = runUdevRules(rules, action, chain);
        QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
        QCOMPARE(outcome.tags.contains(QStringLiteral("uaccess")), granted);
        QCOMPARE(outcome.assignments, QStringList());
    }

    // A world-writable or group-owned node would outlive the seat's user.
    void rulesSetNoModeOwnerOrGroup()
    {
        for (const UdevRule &rule : rules.rules) {
            for (const UdevToken &token : rule.tokens) {
                const bool permission = token.key == QLatin1String("MODE") ||
                                        token.key == QLatin1String("OWNER") ||
                                        token.key == QLatin1String("GROUP");
                QVERIFY2(!permission,
                         qPrintable(QStringLiteral("line %1 sets %2").arg(rule.line).arg(token.key)));
            }
        }
    }

    // 73-seat-late.rules turns uaccess tags into ACLs; udev reads files in
    // strcmp order of their names, so ours must come first.
    void rulesFileSortsBeforeSeatLate()
    {
        const QByteArray name = QFileInfo(rulesPath).fileName().toUtf8();
        QVERIFY2(std::strcmp(name.constData(), "73-seat-late.rules") < 0, name.constData());
    }

    // Users who build from source copy the rules from the README; a rule
    // missing there leaves them without access to a model.
    void readmeShowsTheRules()
    {
        const QStringList readme =
            QString::fromUtf8(readAll(QStringLiteral(QUORSET_README))).split(QLatin1Char('\n'));
        QVERIFY(!readme.isEmpty());
        for (const QString &line : QString::fromUtf8(readAll(rulesPath)).split(QLatin1Char('\n'))) {
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            QVERIFY2(readme.contains(line), qPrintable("README lacks: " + line));
        }
    }

    // A software centre matches these patterns against the kernel's modalias
    // to offer QuorSet when a wheel is plugged in.
    void modaliasesCoverDevices_data()
    {
        QTest::addColumn<QString>("modalias");
        QTest::addColumn<bool>("covered");
        for (uint16_t product : WheelProductIds) {
            QTest::addRow("wheel %s", qPrintable(hexPair(kWheelVendorId, product)))
                << kernelModalias(kWheelVendorId, product) << true;
        }
        const DfuFlashOptions loader;
        QTest::addRow("boot loader %s", qPrintable(hexPair(loader.vendorId, loader.productId)))
            << kernelModalias(loader.vendorId, loader.productId) << true;
        QTest::newRow("c872:200e, not supported") << kernelModalias(kWheelVendorId, 0x200E) << false;
        QTest::newRow("c872:200f, not supported") << kernelModalias(kWheelVendorId, 0x200F) << false;
        QTest::newRow("another vendor") << kernelModalias(0x046D, WheelProductIds.front()) << false;
    }

    void modaliasesCoverDevices()
    {
        QFETCH(QString, modalias);
        QFETCH(bool, covered);
        QStringList matching;
        for (const QString &pattern : metainfo.modaliases) {
            if (fnmatch(pattern.toUtf8().constData(), modalias.toUtf8().constData(), 0) == 0)
                matching.append(pattern);
        }
        QVERIFY2(matching.isEmpty() != covered, qPrintable(modalias + " matched by: " + matching.join(' ')));
    }

    // The launcher, the metadata, the icons and the window must all use one
    // name for the desktop to tie them together.
    void namesAgree_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        const QString binary = QStringLiteral(QUORSET_BINARY_NAME);
        QTest::newRow("metainfo id") << metainfo.id << kAppId;
        QTest::newRow("metainfo launchable") << metainfo.launchable << kAppId + ".desktop";
        QTest::newRow("metainfo binary") << metainfo.binaries.join(' ') << binary;
        QTest::newRow("newest release") << metainfo.releases.value(0) << QStringLiteral(QUORSET_VERSION);
        QTest::newRow("launcher icon") << desktop.value("Icon") << kAppId;
        QTest::newRow("launcher command") << desktop.value("Exec") << binary;
        // X11 window managers pair the window by the instance part of its
        // WM_CLASS, which Qt takes from the executable's name.
        QTest::newRow("launcher window class") << desktop.value("StartupWMClass") << binary;
    }

    void namesAgree()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    // The committed icons are what the icon drawing makes today
    // (make pictures redraws them).
    void bitmapIcons_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("48x48") << 48;
        QTest::newRow("128x128") << 128;
    }

    void bitmapIcons()
    {
        QFETCH(int, size);
        const QString path =
            kLinuxDir.filePath(QStringLiteral("icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(kAppId));
        QImage committed;
        QVERIFY2(committed.load(path), qPrintable(path));
        QCOMPARE(committed.size(), QSize(size, size));
        const QImage drawn = drawAppIcon(size).convertToFormat(QImage::Format_ARGB32);
        committed = committed.convertToFormat(QImage::Format_ARGB32);
        int worst = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb a = committed.pixel(x, y);
                const QRgb b = drawn.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
            }
        }
        QVERIFY2(worst <= 2,
                 qPrintable(QStringLiteral("%1 differs from the drawing by %2").arg(path).arg(worst)));
    }

    void scalableIcon()
    {
        const QString path =
            kLinuxDir.filePath(QStringLiteral("icons/hicolor/scalable/apps/%1.svg").arg(kAppId));
        const QByteArray committed = readAll(path);
        QCOMPARE(committed, appIconSvg());
        QXmlStreamReader xml(committed);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name().toString(), QStringLiteral("svg"));
        QCOMPARE(xml.attributes().value(QLatin1String("viewBox")).toString(), QStringLiteral("0 0 128 128"));
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    }
};

QTEST_MAIN(TestDesktopIntegration)
#include "tst_desktop_integration.moc"
