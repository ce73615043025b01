// Builds the Debian package from this build tree with cpack, unpacks it into
// a scratch root and checks what a user would get from installing it: every
// file in its place and nothing else, the dependencies, and maintainer
// scripts that refresh udev without ever failing the installation.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kAppId = QStringLiteral(QUORSET_APP_ID);
const QDir kSource(QStringLiteral(QUORSET_SOURCE_DIR));

struct Run
{
    int exitCode = -1;
    QByteArray output;
};

Run run(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.output = "timed out: " + program.toUtf8();
        return result;
    }
    result.output = process.readAll();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "Name: value" fields of a control file, continuation lines joined.
QMap<QString, QString> controlFields(const QByteArray &text)
{
    QMap<QString, QString> fields;
    QString last;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.startsWith(QLatin1Char(' ')) && !last.isEmpty()) {
            fields[last] += QLatin1Char('\n') + line.trimmed();
        } else if (line.contains(QLatin1Char(':'))) {
            last = line.section(QLatin1Char(':'), 0, 0);
            fields.insert(last, line.section(QLatin1Char(':'), 1).trimmed());
        }
    }
    return fields;
}

// The package names of a Depends field, alternatives included, versions dropped.
QSet<QString> dependedOn(const QString &depends)
{
    QSet<QString> names;
    for (const QString &item : depends.split(QRegularExpression(QStringLiteral("[,|]")), Qt::SkipEmptyParts))
        names.insert(item.trimmed().section(QLatin1Char(' '), 0, 0).section(QLatin1Char(':'), 0, 0));
    return names;
}

// The installed packages that hold the given library files, by file. On a
// merged /usr the package database may list a file under /lib or /usr/lib,
// so both spellings are asked for, in one query.
QMap<QString, QString> packagesOwning(const QStringList &paths)
{
    QStringList candidates;
    for (const QString &path : paths) {
        candidates.append(path);
        if (path.startsWith(QLatin1String("/usr/lib/")))
            candidates.append(path.mid(4));
        else if (path.startsWith(QLatin1String("/lib")))
            candidates.append(QStringLiteral("/usr") + path);
    }
    // Exits 1 for the spellings it does not know; the lines it prints count.
    const Run owners = run(QStringLiteral("dpkg-query"), QStringList{QStringLiteral("-S")} + candidates);
    QMap<QString, QString> byFile; // "pkg:arch: /path" lines
    for (const QString &line : QString::fromUtf8(owners.output).split(QLatin1Char('\n'))) {
        const int separator = line.indexOf(QLatin1String(": /"));
        if (separator > 0)
            byFile.insert(line.mid(separator + 2).trimmed(),
                          line.left(separator).section(QLatin1Char(':'), 0, 0));
    }
    QMap<QString, QString> result;
    for (const QString &path : paths) {
        QString owner = byFile.value(path);
        if (owner.isEmpty())
            owner = byFile.value(path.startsWith(QLatin1String("/usr/lib/")) ? path.mid(4) : "/usr" + path);
        result.insert(path, owner);
    }
    return result;
}

struct PackagedFile
{
    const char *what;
    QString installed; // relative to the root of the file system
    QString source;    // relative to the source tree; empty for a program built here
    bool executable;
};

// Everything the package installs.
QVector<PackagedFile> packagedFiles()
{
    const QString rulesDir = QStringLiteral(QUORSET_UDEV_RULES_DIR).mid(1);
    const QString icons = QStringLiteral("usr/share/icons/hicolor/%1/apps/") + kAppId;
    const QString iconSource = QStringLiteral("packaging/linux/icons/hicolor/%1/apps/") + kAppId;
    return {
        {"program", QStringLiteral("usr/bin/" QUORSET_BINARY_NAME), QString(), true},
        {"command-line tool", QStringLiteral("usr/bin/" QUORCTL_BINARY_NAME), QString(), true},
        {"udev rules", rulesDir + "/70-quorset.rules", "packaging/linux/70-quorset.rules", false},
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
    QString root;    // the package's files, as dpkg would lay them out
    QString control; // its control area: control, md5sums, maintainer scripts
    QMap<QString, QString> fields;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(QStringLiteral(QUORSET_BINARY)),
                 "build the program first: cmake --build <build dir> --target quorset");
        QVERIFY(scratch.isValid());
        const QDir dir(scratch.path());
        const Run cpack =
            run(QStringLiteral(QUORSET_CPACK),
                {QStringLiteral("--config"), QStringLiteral(QUORSET_CPACK_CONFIG), QStringLiteral("-G"),
                 QStringLiteral("DEB"), QStringLiteral("-B"), dir.filePath("out")},
                240000);
        QVERIFY2(cpack.exitCode == 0, cpack.output.constData());

        const QStringList debs = QDir(dir.filePath("out")).entryList({QStringLiteral("*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const QString arch =
            QString::fromUtf8(run(QStringLiteral("dpkg"), {"--print-architecture"}).output).trimmed();
        // Debian's own naming: name_version_architecture.deb.
        QCOMPARE(debs.first(),
                 QStringLiteral("quorset_%1_%2.deb").arg(QStringLiteral(QUORSET_VERSION), arch));
        const QString deb = dir.filePath("out/" + debs.first());

        root = dir.filePath("root");
        control = dir.filePath("control");
        const Run unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root});
        QVERIFY2(unpack.exitCode == 0, unpack.output.constData());
        const Run controlArea = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), deb, control});
        QVERIFY2(controlArea.exitCode == 0, controlArea.output.constData());
        fields = controlFields(readAll(control + "/control"));
        QVERIFY(!fields.isEmpty());
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
        const QString path = root + QLatin1Char('/') + installed;
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
        QStringList expected;
        for (const PackagedFile &file : packagedFiles())
            expected.append(file.installed);
        QStringList found;
        QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(QDir(root).relativeFilePath(it.next()));
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
    }

    void controlField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("pattern");
        const QString arch =
            QString::fromUtf8(run(QStringLiteral("dpkg"), {"--print-architecture"}).output).trimmed();
        QTest::newRow("Package") << "Package"
                                 << "^quorset$";
        QTest::newRow("Version") << "Version"
                                 << "^" + QRegularExpression::escape(QUORSET_VERSION) + "$";
        QTest::newRow("Architecture") << "Architecture"
                                      << "^" + arch + "$";
        QTest::newRow("Section") << "Section"
                                 << "^utils$";
        QTest::newRow("Maintainer") << "Maintainer"
                                    << "^Quor Controls <[^@ ]+@[^> ]+>$";
        QTest::newRow("Description") << "Description"
                                     << "^\\S.*\\n.*QuorSet";
    }

    void controlField()
    {
        QFETCH(QString, field);
        QFETCH(QString, pattern);
        const QString value = fields.value(field);
        QVERIFY2(QRegularExpression(pattern).match(value).hasMatch(),
                 qPrintable(field + ": \"" + value + "\" does not match " + pattern));
    }

    // Every library the program is linked against comes from a package the
    // .deb depends on, and udev, which applies the rules, is one of them.
    void dependsCoverWhatTheProgramNeeds()
    {
        const QSet<QString> depends = dependedOn(fields.value(QStringLiteral("Depends")));
        QVERIFY2(depends.contains(QStringLiteral("udev")), qPrintable(fields.value("Depends")));

        const QString program = root + "/usr/bin/" QUORSET_BINARY_NAME;
        const Run objdump = run(QStringLiteral("objdump"), {QStringLiteral("-p"), program});
        QCOMPARE(objdump.exitCode, 0);
        const Run ldd = run(QStringLiteral("ldd"), {program});
        QCOMPARE(ldd.exitCode, 0);

        QStringList needed;
        static const QRegularExpression neededLine(QStringLiteral(R"(^\s*NEEDED\s+(\S+)\s*$)"),
                                                   QRegularExpression::MultilineOption);
        for (auto m = neededLine.globalMatch(QString::fromUtf8(objdump.output)); m.hasNext();)
            needed.append(m.next().captured(1));
        QVERIFY2(needed.contains(QStringLiteral("libQt6Widgets.so.6")), objdump.output.constData());

        QMap<QString, QString> files; // soname -> resolved path
        for (const QString &soname : needed) {
            const QRegularExpression resolved(
                QStringLiteral(R"(^\s*%1 => (\S+))").arg(QRegularExpression::escape(soname)),
                QRegularExpression::MultilineOption);
            const QString path = resolved.match(QString::fromUtf8(ldd.output)).captured(1);
            QVERIFY2(!path.isEmpty(), qPrintable(soname + " does not resolve"));
            files.insert(soname, path);
        }
        const QMap<QString, QString> owners = packagesOwning(files.values());
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const QString package = owners.value(it.value());
            QVERIFY2(!package.isEmpty(), qPrintable(it.value() + " belongs to no package"));
            QVERIFY2(depends.contains(package),
                     qPrintable(it.key() + " comes from " + package +
                                ", missing in Depends: " + fields.value("Depends")));
        }
    }

    // The maintainer scripts run with a stand-in udevadm that records its
    // calls and fails on request, as it does in a chroot or container.
    void maintainerScript_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("haveUdevadm");
        QTest::addColumn<int>("controlExit");
        QTest::addColumn<int>("triggerExit");
        QTest::addColumn<QStringList>("calls");

        const QString reload = QStringLiteral("control --reload-rules");
        const QString trigger =
            QStringLiteral("trigger --subsystem-match=hidraw --subsystem-match=usb --action=change");
        QTest::newRow("postinst configure") << "postinst"
                                            << "configure" << true << 0 << 0 << QStringList{reload, trigger};
        QTest::newRow("postinst, udev not running") << "postinst"
                                                    << "configure" << true << 1 << 0 << QStringList{reload};
        QTest::newRow("postinst, trigger fails")
            << "postinst"
            << "configure" << true << 0 << 2 << QStringList{reload, trigger};
        QTest::newRow("postinst without udevadm") << "postinst"
                                                  << "configure" << false << 0 << 0 << QStringList{};
        QTest::newRow("postinst abort-upgrade") << "postinst"
                                                << "abort-upgrade" << true << 0 << 0 << QStringList{};
        QTest::newRow("postrm remove") << "postrm"
                                       << "remove" << true << 0 << 0 << QStringList{reload};
        QTest::newRow("postrm purge, udev not running") << "postrm"
                                                        << "purge" << true << 1 << 0 << QStringList{reload};
        QTest::newRow("postrm upgrade") << "postrm"
                                        << "upgrade" << true << 0 << 0 << QStringList{};
        QTest::newRow("postrm without udevadm") << "postrm"
                                                << "remove" << false << 0 << 0 << QStringList{};
    }

    void maintainerScript()
    {
        QFETCH(QString, script);
        QFETCH(QString, argument);
        QFETCH(bool, haveUdevadm);
        QFETCH(int, controlExit);
        QFETCH(int, triggerExit);
        QFETCH(QStringList, calls);

        const QString path = control + QLatin1Char('/') + script;
        const QFileInfo info(path);
        QVERIFY2(info.isFile(), qPrintable(script + " is not in the package"));
        QVERIFY2(info.isExecutable(), qPrintable(script + " is not executable"));

        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QDir bin(work.filePath(QStringLiteral("bin")));
        QVERIFY(QDir().mkpath(bin.path()));
        const QString log = work.filePath(QStringLiteral("calls"));
        if (haveUdevadm) {
            QFile fake(bin.filePath(QStringLiteral("udevadm")));
            QVERIFY(fake.open(QIODevice::WriteOnly));
            fake.write("#!/bin/sh\n"
                       "echo \"$*\" >>\"$UDEVADM_LOG\"\n"
                       "case \"$1\" in\n"
                       "control) exit \"$UDEVADM_CONTROL_EXIT\" ;;\n"
                       "trigger) exit \"$UDEVADM_TRIGGER_EXIT\" ;;\n"
                       "esac\n"
                       "exit 0\n");
            fake.close();
            QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QProcessEnvironment env;
        env.insert(QStringLiteral("PATH"), bin.path());
        env.insert(QStringLiteral("UDEVADM_LOG"), log);
        env.insert(QStringLiteral("UDEVADM_CONTROL_EXIT"), QString::number(controlExit));
        env.insert(QStringLiteral("UDEVADM_TRIGGER_EXIT"), QString::number(triggerExit));

        const Run result = run(QStringLiteral("/bin/sh"), {path, argument}, 30000, env);
        QVERIFY2(result.exitCode == 0, qPrintable(script + " failed: " + result.output));
        const QStringList made = QString::fromUtf8(readAll(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(made, calls);
    }
};

QTEST_GUILESS_MAIN(TestDebPackage)
#include "tst_deb_package.moc"
