// Builds the Debian package from this build tree with cpack, unpacks it and
// checks what a user would get from installing it: every file in its place
// and nothing else, the dependencies, and maintainer scripts that refresh
// udev without ever failing the installation.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kAppId = QStringLiteral(QUORSET_APP_ID);
const QDir kSource(QStringLiteral(QUORSET_SOURCE_DIR));

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
    if (!process.waitForFinished(240000)) {
        process.kill();
        process.waitForFinished();
        return {-1, "timed out: " + program};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything the package installs: where, from which source file (none for a
// program built here), executable or not.
struct PackagedFile
{
    const char *what;
    QString installed;
    QString source;
    bool executable;
};

QVector<PackagedFile> packagedFiles()
{
    const QString icons = "usr/share/icons/hicolor/%1/apps/" + kAppId;
    const QString iconSource = "packaging/linux/icons/hicolor/%1/apps/" + kAppId;
    return {
        {"program", "usr/bin/" QUORSET_BINARY_NAME, {}, true},
        {"command-line tool", "usr/bin/" QUORCTL_BINARY_NAME, {}, true},
        {"udev rules", QStringLiteral(QUORSET_UDEV_RULES_DIR).mid(1) + "/70-quorset.rules",
         "packaging/linux/70-quorset.rules", false},
        {"launcher", "usr/share/applications/" + kAppId + ".desktop",
         "packaging/linux/" + kAppId + ".desktop", false},
        {"metainfo", "usr/share/metainfo/" + kAppId + ".metainfo.xml",
         "packaging/linux/" + kAppId + ".metainfo.xml", false},
        {"scalable icon", icons.arg("scalable") + ".svg", iconSource.arg("scalable") + ".svg", false},
        {"48 px icon", icons.arg("48x48") + ".png", iconSource.arg("48x48") + ".png", false},
        {"128 px icon", icons.arg("128x128") + ".png", iconSource.arg("128x128") + ".png", false},
        {"copyright", "usr/share/doc/quorset/copyright", "LICENSE", false},
    };
}

} // namespace

class TestDebPackage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir scratch;
    QString deb;
    QString root;    // the package's files, as dpkg would lay them out
    QString control; // its control area: control, md5sums, maintainer scripts

private slots:
    void initTestCase()
    {
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

    void holdsFile_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("executable");
        for (const PackagedFile &file : packagedFiles())
            QTest::newRow(file.what) << file.installed << file.source << file.executable;
    }

    void holdsFile()
    {
        QFETCH(QString, installed);
        QFETCH(QString, source);
        QFETCH(bool, executable);
        const QString path = root + '/' + installed;
        const QFileInfo info(path);
        QVERIFY2(info.isFile(), qPrintable(installed + " is missing"));
        QCOMPARE(info.isExecutable(), executable);
        QVERIFY2(!(info.permissions() & QFile::WriteOther), qPrintable(installed + " is world-writable"));
        if (source.isEmpty())
            QVERIFY2(readAll(path).startsWith("\x7f"
                                              "ELF"),
                     "the program is not an ELF executable");
        else
            QCOMPARE(readAll(path), readAll(kSource.filePath(source)));
    }

    // Test binaries, the emulator or build leftovers have no place in it.
    void holdsNothingElse()
    {
        QStringList expected, found;
        for (const PackagedFile &file : packagedFiles())
            expected.append(file.installed);
        QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(QDir(root).relativeFilePath(it.next()));
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
    }

    // The installed launcher starts an installed program and shows an
    // installed icon.
    void launcherPointsIntoThePackage()
    {
        const QString launcher = root + "/usr/share/applications/" + kAppId + ".desktop";
        const QStringList lines = QString::fromUtf8(readAll(launcher)).split('\n');
        const auto value = [&](const QString &key) {
            const auto it = std::find_if(lines.begin(), lines.end(),
                                         [&](const QString &l) { return l.startsWith(key + '='); });
            return it == lines.end() ? QString() : it->mid(key.size() + 1).section(' ', 0, 0);
        };
        QVERIFY2(QFileInfo(root + "/usr/bin/" + value("Exec")).isExecutable(),
                 qPrintable("Exec=" + value("Exec")));
        const QString icon = value("Icon");
        QVERIFY(!icon.isEmpty());
        for (const char *size : {"48x48/apps/%1.png", "128x128/apps/%1.png", "scalable/apps/%1.svg"})
            QVERIFY2(QFile::exists(root + "/usr/share/icons/hicolor/" + QString::fromLatin1(size).arg(icon)),
                     qPrintable("no icon " + icon + " in " + size));
    }

    // Every library the program is linked against comes from a package the
    // .deb depends on, and udev, which applies the rules, is one of them.
    void dependsCoverWhatTheProgramNeeds()
    {
        const QString dependsField = run("dpkg-deb", {"-f", deb, "Depends"}).output.trimmed();
        QSet<QString> depends; // alternatives included, versions dropped
        for (const QString &item : dependsField.split(QRegularExpression("[,|]"), Qt::SkipEmptyParts))
            depends.insert(item.trimmed().section(' ', 0, 0).section(':', 0, 0));
        QVERIFY2(depends.contains("udev"), qPrintable(dependsField));

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
    void maintainerScript_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("haveUdevadm");
        QTest::addColumn<bool>("udevRunning");
        QTest::addColumn<QStringList>("calls");
        const QString reload = "control --reload-rules";
        const QString trigger = "trigger --subsystem-match=hidraw --subsystem-match=usb --action=change";
        QTest::newRow("postinst configure") << "postinst"
                                            << "configure" << true << true << QStringList{reload, trigger};
        QTest::newRow("postinst, udev not running") << "postinst"
                                                    << "configure" << true << false << QStringList{reload};
        QTest::newRow("postinst without udevadm") << "postinst"
                                                  << "configure" << false << false << QStringList{};
        QTest::newRow("postinst abort-upgrade") << "postinst"
                                                << "abort-upgrade" << true << true << QStringList{};
        QTest::newRow("postrm remove") << "postrm"
                                       << "remove" << true << true << QStringList{reload};
        QTest::newRow("postrm purge, udev not running") << "postrm"
                                                        << "purge" << true << false << QStringList{reload};
        QTest::newRow("postrm upgrade") << "postrm"
                                        << "upgrade" << true << true << QStringList{};
    }

    void maintainerScript()
    {
        QFETCH(QString, script);
        QFETCH(QString, argument);
        QFETCH(bool, haveUdevadm);
        QFETCH(bool, udevRunning);
        QFETCH(QStringList, calls);
        const QString path = control + '/' + script;
        QVERIFY2(QFileInfo(path).isExecutable(), qPrintable(script + " is missing or not executable"));

        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        if (haveUdevadm) {
            QFile fake(bin.filePath("udevadm"));
            QVERIFY(fake.open(QIODevice::WriteOnly));
            fake.write("#!/bin/sh\necho \"$*\" >>\"$UDEVADM_LOG\"\n[ \"$1\" != control ] || exit "
                       "$UDEVADM_CONTROL_EXIT\n");
            fake.close();
            QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QProcessEnvironment env;
        env.insert("PATH", bin.path());
        env.insert("UDEVADM_LOG", bin.filePath("calls"));
        env.insert("UDEVADM_CONTROL_EXIT", udevRunning ? "0" : "1");
        const Run result = run("/bin/sh", {path, argument}, env);
        QVERIFY2(result.exitCode == 0, qPrintable(script + " failed: " + result.output));
        QCOMPARE(QString::fromUtf8(readAll(bin.filePath("calls"))).split('\n', Qt::SkipEmptyParts), calls);
    }
};

QTEST_GUILESS_MAIN(TestDebPackage)
#include "tst_deb_package.moc"
