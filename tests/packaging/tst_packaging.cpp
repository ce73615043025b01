// What a user gets from the Debian package built from this build tree with
// cpack: every file in its place and nothing else, the dependencies,
// maintainer scripts that refresh udev without ever failing the installation,
// udev rules that grant the seat access to every device the program opens
// (run against made-up devices built from the program's own id tables), and
// a launcher and metadata that the desktop's own checkers accept.

#include "device/discovery.h"
#include "quorset_version.h"
#include "upgrade/dfu_flasher.h"

#include "../support/table_rows.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <fnmatch.h>

namespace {

const QString kAppId = QStringLiteral(QUORSET_APP_ID);
const QDir kSource(QStringLiteral(QUORSET_SOURCE_DIR));
const QDir kLinuxDir(kSource.filePath("packaging/linux"));

struct Run
{
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(240000))
        return {-1, "timed out: " + program}; // QProcess kills it on the way out
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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
                0) == (m.captured(3) == "==");
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
            const bool test = op == "==" || op == "!=";
            if (key + op == "LABEL=")
                label = m.captured(4);
            else if (key + op == "TAG+=" || key + op == "GOTO=")
                assignments.append(m);
            else if (test && key == "ATTRS")
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
        // With no ATTRS test, any device of the chain will do.
        holds = holds && std::any_of(chain.begin(), chain.end(), [&](const Device &d) {
                    return std::all_of(ancestorTests.begin(), ancestorTests.end(),
                                       [&](const auto &m) { return holdsOn(d, "ATTR" + m.captured(2), m); });
                });
        if (!holds)
            continue;
        for (const auto &m : assignments) {
            if (m.captured(1) == "GOTO")
                skipTo = m.captured(4);
            else if (!tags.contains(m.captured(4)))
                tags.append(m.captured(4));
        }
    }
    if (!skipTo.isEmpty())
        return {QStringLiteral("!GOTO \"%1\" has no LABEL after it").arg(skipTo)};
    return tags;
}

constexpr std::tuple<const char *> kPrograms[] = {{QUORSET_BINARY_NAME}, {QUORCTL_BINARY_NAME}};

// Each script and its argument, udevadm there, udev running, the calls made.
const QString kReload = "control --reload-rules";
const QString kTrigger = "trigger --subsystem-match=hidraw --subsystem-match=usb --action=change";
const std::tuple<const char *, bool, bool, QStringList> kScriptRuns[] = {
    {"postinst configure", true, true, {kReload, kTrigger}},
    {"postinst configure, udev not running", true, false, {kReload}},
    {"postinst configure without udevadm", false, false, {}},
    {"postinst abort-upgrade", true, true, {}},
    {"postrm remove", true, true, {kReload}},
    {"postrm purge, udev not running", true, false, {kReload}},
    {"postrm upgrade", true, true, {}}};

} // namespace

Q_DECLARE_METATYPE(Chain)

class TestPackaging : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir scratch;
    QString deb;
    QString root;    // the package's files, as dpkg would lay them out
    QString control; // its control area: control, md5sums, maintainer scripts
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
        QVERIFY2(QFile::exists(QStringLiteral(QUORSET_BINARY)),
                 "build the program first: cmake --build <build dir> --target quorset");
        QVERIFY(scratch.isValid());
        const QDir dir(scratch.path());
        const Run cpack =
            run(QUORSET_CPACK, {"--config", QUORSET_CPACK_CONFIG, "-G", "DEB", "-B", dir.filePath("out")});
        QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));
        const QStringList debs = QDir(dir.filePath("out")).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        // Debian's own naming: name_version_architecture.deb.
        const QString arch = run("dpkg", {"--print-architecture"}).output.trimmed();
        QCOMPARE(debs.first(),
                 QStringLiteral("quorset_%1_%2.deb").arg(QStringLiteral(QUORSET_VERSION), arch));
        deb = dir.filePath("out/" + debs.first());
        root = dir.filePath("root");
        control = dir.filePath("control");
        for (const auto &[option, into] : {std::pair{"-x", root}, std::pair{"-e", control}}) {
            const Run unpack = run("dpkg-deb", {option, deb, into});
            QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
        }
    }

    // Every file in its place, from its source file (none for the programs
    // built here, the only executables), and nothing else: test binaries, the
    // emulator or build leftovers have no place in it.
    void holdsItsFilesAndNothingElse()
    {
        QMap<QString, QString> files{
            {"usr/bin/" QUORSET_BINARY_NAME, {}},
            {"usr/bin/" QUORCTL_BINARY_NAME, {}},
            {QStringLiteral(QUORSET_UDEV_RULES_DIR).mid(1) + "/70-quorset.rules",
             "packaging/linux/70-quorset.rules"},
            {"usr/share/applications/" + kAppId + ".desktop", "packaging/linux/" + kAppId + ".desktop"},
            {"usr/share/metainfo/" + kAppId + ".metainfo.xml", QStringLiteral(QUORSET_METAINFO)},
            {"usr/share/doc/quorset/copyright", "LICENSE"},
            {"usr/share/doc/quorset/changelog.gz", QUORSET_DOCS_DIR "/changelog.gz"},
            {"usr/share/man/man1/quorset.1.gz", QUORSET_DOCS_DIR "/quorset.1.gz"},
            {"usr/share/man/man1/quorctl.1.gz", QUORSET_DOCS_DIR "/quorctl.1.gz"},
        };
        for (const char *icon : {"scalable/apps/%1.svg", "48x48/apps/%1.png", "128x128/apps/%1.png"})
            files.insert("usr/share/icons/hicolor/" + QString(icon).arg(kAppId),
                         "packaging/linux/icons/hicolor/" + QString(icon).arg(kAppId));
        QStringList found;
        QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(QDir(root).relativeFilePath(it.next()));
        found.sort();
        QCOMPARE(found, files.keys());
        for (auto file = files.cbegin(); file != files.cend(); ++file) {
            const QString path = root + '/' + file.key();
            const QFileInfo info(path);
            QVERIFY2(info.isExecutable() == file->isEmpty(), qPrintable(file.key()));
            QVERIFY2(!(info.permissions() & QFile::WriteOther),
                     qPrintable(file.key() + " is world-writable"));
            if (file->isEmpty())
                QVERIFY2(readAll(path).startsWith("\177ELF"),
                         qPrintable(file.key() + " is not an ELF executable"));
            else
                QVERIFY2(readAll(path) == readAll(kSource.filePath(file.value())), qPrintable(file.key()));
        }
    }

    // The launcher starts the installed program, shows the installed icons
    // (holdsItsFilesAndNothingElse checks those are there) and passes its
    // activation token on.
    void launcherPointsIntoThePackage()
    {
        const QString launcher =
            QString::fromUtf8(readAll(root + "/usr/share/applications/" + kAppId + ".desktop"));
        const auto value = [&](const QString &key) {
            return QRegularExpression("^" + key + "=(\\S*)", QRegularExpression::MultilineOption)
                .match(launcher)
                .captured(1);
        };
        QCOMPARE(value("Exec"), QStringLiteral(QUORSET_BINARY_NAME));
        QCOMPARE(value("Icon"), kAppId);
        // Only then does the launcher give a start the token that lets a
        // second start hand the focus to the running window.
        QCOMPARE(value("StartupNotify"), QStringLiteral("true"));
    }

    // Each program's installed manual page reads without a complaint from man
    // or groff, under its own name; quorctl's lists every command its --help
    // offers, so a command added to one and not the other shows here.
    void manualPage_data() { wheeltest::addRows(kPrograms); }
    void manualPage()
    {
        const QString program = std::get<0>(wheeltest::rowOf(kPrograms));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MANWIDTH", "80");
        env.insert("LC_ALL", "C.UTF-8");
        const Run page =
            run("man", {"--warnings", "-E", "UTF-8", "-l", root + "/usr/share/man/man1/" + program + ".1.gz"},
                env);
        QVERIFY2(page.exitCode == 0, qPrintable(page.output));
        QVERIFY2(!page.output.contains("warning"), qPrintable(page.output));
        QVERIFY2(page.output.contains(QRegularExpression("NAME\\s+" + program + " - ")),
                 qPrintable(page.output));
        if (program != QStringLiteral(QUORCTL_BINARY_NAME))
            return;
        const Run help = run(root + "/usr/bin/" + program, {"--help"});
        static const QRegularExpression commandLine(R"(^  ([a-z]+)\s)", QRegularExpression::MultilineOption);
        QStringList commands;
        for (auto m = commandLine.globalMatch(help.output); m.hasNext();)
            commands.append(m.next().captured(1));
        QVERIFY2(commands.size() >= 5, qPrintable(help.output));
        for (const QString &command : commands)
            QVERIFY2(page.output.contains(
                         QRegularExpression("^\\s+" + command + "\\b", QRegularExpression::MultilineOption)),
                     qPrintable(command + " is missing from the manual page"));
    }

    // Every library the program is linked against comes from a package the
    // .deb depends on, and so do udev, which applies the rules, and Qt's
    // Wayland platform plugin.
    void dependsCoverWhatTheProgramNeeds()
    {
        const QString dependsField = run("dpkg-deb", {"-f", deb, "Depends"}).output.trimmed();
        QSet<QString> depends; // alternatives included, versions dropped
        for (const QString &item : dependsField.split(QRegularExpression("[,|]"), Qt::SkipEmptyParts))
            depends.insert(item.trimmed().section(' ', 0, 0).section(':', 0, 0));
        QVERIFY2(depends.contains("udev"), qPrintable(dependsField));
        // Loaded at run time, so no library check below finds it: native
        // Wayland windows.
        QVERIFY2(depends.contains("qt6-wayland"), qPrintable(dependsField));

        const QString program = root + "/usr/bin/" QUORSET_BINARY_NAME;
        const Run objdump = run("objdump", {"-p", program});
        const Run ldd = run("ldd", {program});
        QVERIFY(objdump.exitCode == 0 && ldd.exitCode == 0);
        QStringList needed;
        static const QRegularExpression neededLine(R"(^\s*NEEDED\s+(\S+)\s*$)",
                                                   QRegularExpression::MultilineOption);
        for (auto m = neededLine.globalMatch(objdump.output); m.hasNext();)
            needed.append(m.next().captured(1));
        QVERIFY2(needed.contains("libQt6Widgets.so.6"), qPrintable(objdump.output));

        // On a merged /usr the package database may list a library under
        // /lib or /usr/lib: ask for both spellings, in one query.
        const auto otherSpelling = [](const QString &path) {
            return path.startsWith("/usr/lib/") ? path.mid(4) : "/usr" + path;
        };
        QMap<QString, QString> files; // soname -> resolved path
        QStringList spellings{"-S"};
        for (const QString &soname : needed) {
            const QRegularExpression resolved(
                QStringLiteral(R"(^\s*%1 => (\S+))").arg(QRegularExpression::escape(soname)),
                QRegularExpression::MultilineOption);
            const QString path = resolved.match(ldd.output).captured(1);
            QVERIFY2(!path.isEmpty(), qPrintable(soname + " does not resolve"));
            files.insert(soname, path);
            spellings << path << otherSpelling(path);
        }
        // Exits 1 for the spellings it does not know; the "pkg:arch: /path"
        // lines it prints count.
        QMap<QString, QString> owners;
        for (const QString &line : run("dpkg-query", spellings).output.split('\n')) {
            const int separator = line.indexOf(": /");
            if (separator > 0)
                owners.insert(line.mid(separator + 2).trimmed(), line.left(separator).section(':', 0, 0));
        }
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const QString package = owners.value(it.value(), owners.value(otherSpelling(it.value())));
            QVERIFY2(!package.isEmpty(), qPrintable(it.value() + " belongs to no package"));
            QVERIFY2(depends.contains(package), qPrintable(it.key() + " comes from " + package +
                                                           ", missing in Depends: " + dependsField));
        }
    }

    // The maintainer scripts run with a stand-in udevadm that records its
    // calls and fails on request, as it does in a chroot or container.
    void maintainerScript_data() { wheeltest::addRows(kScriptRuns); }
    void maintainerScript()
    {
        const auto &[tag, haveUdevadm, udevRunning, calls] = wheeltest::rowOf(kScriptRuns);
        const QStringList words = QString::fromLatin1(tag).split(QRegularExpression("[ ,]+"));
        const QString script = words[0], argument = words[1];
        const QString path = control + '/' + script;
        QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(script + " is missing or not executable"));

        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        if (haveUdevadm) {
            QFile fake(bin.filePath("udevadm"));
            QVERIFY(fake.open(QIODevice::WriteOnly));
            // Complains as the real one does when udev's socket is not there.
            fake.write("#!/bin/sh\necho \"$*\" >>\"$UDEVADM_LOG\"\n"
                       "[ \"$1\" != control ] || [ \"$UDEVADM_CONTROL_EXIT\" = 0 ] || "
                       "{ echo 'Failed to send reload request: No such file or directory' >&2; exit 1; }\n");
            fake.close();
            QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QProcessEnvironment env;
        env.insert("PATH", bin.path());
        env.insert("UDEVADM_LOG", bin.filePath("calls"));
        env.insert("UDEVADM_CONTROL_EXIT", udevRunning ? "0" : "1");
        const Run result = run("/bin/sh", {path, argument}, env);
        QVERIFY2(result.exitCode == 0, qPrintable(script + " failed: " + result.output));
        // dpkg shows whatever a maintainer script prints; a stopped udev is no news.
        QCOMPARE(result.output, QString());
        QCOMPARE(QString::fromUtf8(readAll(bin.filePath("calls"))).split('\n', Qt::SkipEmptyParts), calls);
    }
    void externalValidators()
    {
        const QList<QStringList> commands{{"desktop-file-validate", kLinuxDir.filePath(kAppId + ".desktop")},
                                          {"appstreamcli", "validate", "--no-net", QUORSET_METAINFO},
                                          {"lintian", "--fail-on", "error,warning", deb}};
        for (const QStringList &command : commands) {
            const QString path = QStandardPaths::findExecutable(command.first());
            QVERIFY2(!path.isEmpty(),
                     qPrintable(command.first() + " is not installed (tools/install-deps.sh installs it)"));
            const Run result = run(path, command.mid(1));
            QVERIFY2(result.exitCode == 0, qPrintable(command.first() + ": " + result.output));
        }
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
        const QStringList tags = runRules(QString::fromUtf8(readAll(rulesPath)), action, chain);
        QVERIFY2(tags.isEmpty() || !tags.first().startsWith('!'), qPrintable(tags.value(0)));
        QCOMPARE(tags, granted ? QStringList{"uaccess"} : QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
