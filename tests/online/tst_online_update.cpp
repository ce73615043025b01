// CHECK UPDATE end to end: the real window, the emulated wheel and a real HTTPS
// update server on 127.0.0.1 (tools/update-server) whose authority only this
// run trusts; a second server's comes from another authority. Under a German
// locale, where month names can only match in English.
#include "live_window.h"
#include "table_rows.h"
#include "test_image.h"
#include "wheel_fixture.h"
#include "wheel_test_main.h"

#include "device/model_layout.h"
#include "upgrade/firmware_download.h"
#include "upgrade/version_manifest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>

#include <memory>

namespace {

using wheeltest::readFile;
using wheeltest::writeFile;

const QString kWheelVersion = QStringLiteral("2\tMar  7 2024,15:04");
const QString kOffer = QStringLiteral("Update: A new firmware is available, update now?");
const QString kDownloadFail = QStringLiteral("Error: Download file fail.");
const QString kInvalid = QStringLiteral("Error: Not a valid firmware.");
const QString kUpdated = QStringLiteral("Notify: Firmware updated successfully. Reboot the device.");
constexpr int kLargestHidImage = 229376;
constexpr int kFlashTimeoutMs = 60000;
// Generous: the suites share a loaded machine, and sanitizer builds are slow.
constexpr int kNetTimeoutMs = 30000;

QByteArray image(int size, const char *version = "")
{
    return wheeltest::bytesOf(wheelemu::makeTestImage(size_t(size), version));
}

QString md5(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QByteArray manifest(const QString &version, const QString &name, const QString &md5Field)
{
    QByteArray json = "{\"version\":\"" + version.toUtf8() + "\",\"name\":\"" + name.toUtf8() + "\"";
    if (md5Field != QLatin1String("<missing>"))
        json += ",\"md5\":\"" + md5Field.toUtf8() + "\"";
    return json + "}";
}

// tools/update-server/update_server.py with a certificate of its own.
struct UpdateServer
{
    UpdateServer(const QString &certDir, const QString &root)
    {
        const QString portFile = certDir + "/port";
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(QUORSET_PYTHON),
                      {QStringLiteral(QUORSET_UPDATE_SERVER), "--root", root, "--cert",
                       certDir + "/server.pem", "--key", certDir + "/server.key", "--port-file", portFile});
        for (int i = 0; i < 200 && !QFileInfo::exists(portFile); ++i)
            QTest::qWait(50);
        const int port = readFile(portFile).trimmed().toInt();
        if (port > 0)
            base = QStringLiteral("https://127.0.0.1:%1/").arg(port);
    }
    ~UpdateServer()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
        process.waitForFinished();
    }
    QString base; // empty when the server did not come up
    QProcess process;
};

// An SRD7 on the bus and the window that has become it.
struct Session : wheeltest::LiveWindow
{
    Session() : wheel({"SRD7", {}, -1, kWheelVersion.toStdString(), true, 0, 200, 300}) {}
    ~Session() { window.reset(); } // before the wheel goes
    // Starts the window once the update base points at the server.
    bool start(const QString &base)
    {
        if (!wheel.ok())
            return false;
        setUpdateBaseUrl(base + "upgrade/");
        return open(kNetTimeoutMs);
    }
    bool checkButtonBack() const
    {
        return widget("pbAutoUpgrade")->isEnabled() && text("pbAutoUpgrade") == QLatin1String("CHECK UPDATE");
    }

    wheeltest::WheelFixture wheel;
};

// The offered date ("html": a page instead, "": no manifest, a 404), whether
// the server's certificate verifies, the boxes. An unverified server would
// get the same newer offer offered.
const std::tuple<const char *, const char *, bool, QStringList> kChecks[] = {
    {"same build, padded day", "Mar 7 2024,15:04", true, {"Update: Your firmware is already up to date."}},
    {"one minute later, declined", "Mar 7 2024,15:05", true, {kOffer}},
    {"unparsable offered date", "2024-03-08 15:04", true, {"Update: No valid device."}},
    {"html", "html", true, {}},
    {"no manifest (404)", "", true, {}},
    {"certificate does not verify", "Mar 7 2024,15:05", false, {}}};

// The image name in the manifest with the server's query, the bytes the
// server holds, the md5 field ("right", "RIGHT", "other", "", "<missing>"),
// the bar's last value (-1: never moved), what is in the way, the last box.
// An image the wheel's HID link refuses ends the run right after it is
// stored, so the stored file stays for the test to look at.
constexpr int kBig = kLargestHidImage + 1;
const std::tuple<const char *, QString, int, QString, int, QString, QString> kDownloads[] = {
    {"upper-case md5, a link planted in the shared temp dir, too large for HID", "srd7.bin", kBig, "RIGHT",
     100, "link", kInvalid},
    {"unknown length", "srd7.bin?nolength", kBig, "right", -1, "", kInvalid},
    {"missing md5", "srd7.bin", 4096, "<missing>", 100, "", kDownloadFail},
    {"altered image", "srd7.bin", 4096, "other", 100, "", kDownloadFail},
    {"truncated", "srd7.bin?truncate=3000", 4096, "right", 3000 * 100 / 4096, "", kDownloadFail},
    {"server stops sending", "srd7.bin?stall=1000", 4096, "right", 1000 * 100 / 4096, "",
     "Error: The update server stopped sending the firmware."},
    {"past 4 MiB", "srd7.bin?endless", 4096, "right", -1, "", kDownloadFail},
    {"temp dir not usable", "srd7.bin", 4096, "right", 100, "no temp dir", "Error: Can not write to temp."}};

} // namespace

class TestOnlineUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        // Every temp file of this run, the downloaded image included, lives in a
        // directory of its own: other suites may download at the same time.
        QVERIFY(tmp.isValid());
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
        const QString certs = tmp.filePath("certs"), strangers = tmp.filePath("strangers");
        for (const QString &dir : {certs, strangers})
            QVERIFY(QProcess::execute(QStringLiteral(QUORSET_MAKE_CERTS), {dir}) == 0);
        trusted = std::make_unique<UpdateServer>(certs, root.path());
        untrusted = std::make_unique<UpdateServer>(strangers, root.path());
        QVERIFY2(!trusted->base.isEmpty() && !untrusted->base.isEmpty(), "update servers did not start");

        // A server that stops sending is given up on after this long.
        setNetworkTimeoutMs(2000);
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        QVERIFY(ssl.addCaCertificates(certs + "/ca.pem"));
        QSslConfiguration::setDefaultConfiguration(ssl);
    }
    void init()
    {
        QFile::remove(tempImage());
        QDir(tempImage()).removeRecursively();
        QDir(root.filePath("upgrade")).removeRecursively();
    }
    void cleanupTestCase()
    {
        trusted.reset();
        untrusted.reset();
        setUpdateBaseUrl(QString());
        qunsetenv("TMPDIR");
    }
    // The hour a European clock skips still exists in the stamps.
    void verdict()
    {
        const char *const label = "Firmware Version: 2\tMar  7 2024,15:04";
        const char *const clockChange = "Firmware Version: 2\tMar 31 2024,02:30";
        const std::tuple<const char *, const char *, UpdateVerdict> rows[] = {
            {label, "Jan 1 2025,00:00", UpdateVerdict::Offer},
            {label, "", UpdateVerdict::NoValidDevice},
            {label, "Mai 1 2024,00:00", UpdateVerdict::NoValidDevice},
            {label, "Mar  8 2024,15:04", UpdateVerdict::NoValidDevice},
            {label, "Mar 8 2024,25:04", UpdateVerdict::NoValidDevice},
            {clockChange, "Mar 31 2024,02:30", UpdateVerdict::UpToDate},
            {clockChange, "Mar 31 2024,02:31", UpdateVerdict::Offer},
            {"Firmware Version: 2\tMar 7 2024,15:04\tbeta", "Mar 7 2024,15:05", UpdateVerdict::Offer},
            {"Firmware Version: 2\t\tMar 7 2024,15:04", "Mar 8 2024,15:04", UpdateVerdict::NoValidDevice}};
        for (const auto &[installed, offered, verdict] : rows)
            QVERIFY2(compareFirmwareDates(installed, offered) == verdict, offered);
    }
    void check_data() { wheeltest::addRows(kChecks); }
    void check()
    {
        const auto &[tag, offeredDate, verifiedServer, shown] = wheeltest::rowOf(kChecks);
        const QByteArray versionJson = qstrcmp(offeredDate, "html") == 0
                                           ? QByteArray("<html><body>Moved</body></html>")
                                       : *offeredDate ? manifest(offeredDate, "srd7.bin", md5("x"))
                                                      : QByteArray();
        if (!versionJson.isEmpty())
            QVERIFY(writeFile(served("version.json"), versionJson.trimmed()));
        Session s;
        QVERIFY(s.start((verifiedServer ? trusted : untrusted)->base));
        const QString path = s.widget<QLineEdit>("lePath")->text();
        s.prompts.questionAnswer = QMessageBox::No;

        s.click("pbAutoUpgrade");
        QVERIFY(!s.widget("pbAutoUpgrade")->isEnabled());
        QCOMPARE(s.text("pbAutoUpgrade"), QStringLiteral("Checking ..."));
        QTRY_VERIFY_WITH_TIMEOUT(s.checkButtonBack(), kNetTimeoutMs);
        QCOMPARE(s.prompts.shown(), shown);
        if (!shown.isEmpty())
            QCOMPARE(s.prompts.messages.first().kind, shown.first() == kOffer
                                                          ? UserPrompts::MessageKind::Question
                                                          : UserPrompts::MessageKind::Information);
        // Nothing was taken from a declined or refused offer.
        QCOMPARE(s.widget<QLineEdit>("lePath")->text(), path);
        QCOMPARE(s.widget<QLabel>("lbCurVersion")->text(), QString());
        QVERIFY(s.widget("lbCurMd5")->isHidden());
        QVERIFY(!QFileInfo::exists(tempImage()));
    }
    void download_data() { wheeltest::addRows(kDownloads); }
    void download()
    {
        const auto &[tag, name, size, offered, lastBar, inTheWay, shownLast] = wheeltest::rowOf(kDownloads);
        const QByteArray data = image(size, "3\tMar  8 2024,15:04");
        QVERIFY(writeFile(served("srd7.bin"), data));
        const QString md5Field = offered == "right"   ? md5(data)
                                 : offered == "RIGHT" ? md5(data).toUpper()
                                 : offered == "other" ? md5(data + "!")
                                                      : offered;
        QVERIFY(writeFile(served("version.json"), manifest("Mar 8 2024,15:04", name, md5Field)));
        const QString victim = tmp.filePath("victim");
        QVERIFY(writeFile(victim, "not yours"));
        // Another account's link at the name the shared temp dir once had.
        if (inTheWay == "link")
            QVERIFY(QFile::link(victim, tempImage()));

        Session s;
        QVERIFY(s.start(trusted->base));
        s.prompts.questionAnswer = QMessageBox::Yes;
        QSignalSpy bar(s.widget<QProgressBar>("pgUpgrade"), SIGNAL(valueChanged(int)));
        QSignalSpy path(s.widget<QLineEdit>("lePath"), SIGNAL(textChanged(QString)));
        const QByteArray tmpDir = qgetenv("TMPDIR");
        if (inTheWay == "no temp dir")
            qputenv("TMPDIR", victim.toLocal8Bit());
        s.click("pbAutoUpgrade");
        QTRY_VERIFY_WITH_TIMEOUT(s.prompts.messages.size() == 2, kNetTimeoutMs);
        qputenv("TMPDIR", tmpDir);
        QCOMPARE(s.prompts.shown(), (QStringList{kOffer, shownLast}));
        QCOMPARE(s.widget<QLabel>("lbCurMd5")->text(),
                 "MD5: " + (offered == "<missing>" ? QString() : md5Field));
        // The widgets' reset puts the bar back to 0; what counts is how far the
        // download took it.
        int furthest = -1;
        for (const QList<QVariant> &value : bar)
            furthest = qMax(furthest, value.at(0).toInt());
        QCOMPARE(furthest, lastBar);
        // Whatever the ending, the page is ready for the next check.
        QTRY_VERIFY_WITH_TIMEOUT(s.checkButtonBack(), kNetTimeoutMs);
        QVERIFY(s.widget("pgUpgrade")->isHidden() && s.widget("lbUpgrade")->isHidden());
        QCOMPARE(s.widget<QLabel>("lbCurVersion")->text(), QString());

        // Stored in a directory of the program's own and handed to the update
        // flow, which refused it; or never stored.
        QStringList paths;
        for (const QList<QVariant> &value : path)
            paths << value.at(0).toString();
        QCOMPARE(paths.value(0), trusted->base + "upgrade/srd7/" + name);
        QCOMPARE(readFile(victim), QByteArray("not yours"));
        QCOMPARE(paths.size(), shownLast == kInvalid ? 2 : 1);
        if (paths.size() < 2)
            return;
        const QFileInfo stored(paths[1]);
        QCOMPARE(readFile(stored.filePath()), data);
        QVERIFY(stored.absolutePath() != QFileInfo(QDir::tempPath()).absoluteFilePath());
        // No other account may enter the directory, let alone change it.
        QCOMPARE(int(QFileInfo(stored.absolutePath()).permissions() & 0x0077), 0);
    }
    // MANUAL UPDATE with an https address takes the same download; here the
    // offer's MD5 is right, so only the certificate can make it fail.
    void untrustedDownload()
    {
        const QByteArray data = image(4096);
        QVERIFY(writeFile(served("srd7.bin"), data));
        Session s;
        QVERIFY(s.start(trusted->base));
        s.widget<QLabel>("lbCurMd5")->setText("MD5: " + md5(data));
        s.widget<QLineEdit>("lePath")->setText(untrusted->base + "upgrade/srd7/srd7.bin");
        s.click("pbUpgrade");
        QTRY_COMPARE_WITH_TIMEOUT(s.prompts.shown(), QStringList{kDownloadFail}, kNetTimeoutMs);
        QVERIFY(s.checkButtonBack());
        QVERIFY(!QFileInfo::exists(tempImage()));
    }
    // A newer image on the server ends up in the wheel, and the downloaded
    // file goes once it is there.
    void handOver()
    {
        const std::string newVersion = "3\tApr  1 2024,10:00";
        const QByteArray data = image(4096, newVersion.c_str());
        QVERIFY(writeFile(served("fw.bin"), data));
        QVERIFY(writeFile(served("version.json"), manifest("Apr 1 2024,10:00", "fw.bin", md5(data))));
        Session s;
        QVERIFY(s.start(trusted->base));
        s.prompts.questionAnswer = QMessageBox::Yes;
        s.wheel.clearTranscript();

        s.click("pbAutoUpgrade");
        QTRY_VERIFY_WITH_TIMEOUT(s.widget<QLineEdit>("lePath")->text().endsWith("/quor.firmware.bin"),
                                 kNetTimeoutMs);
        const QString stored = s.widget<QLineEdit>("lePath")->text();
        QVERIFY(QFileInfo::exists(stored));
        QTRY_VERIFY_WITH_TIMEOUT(s.prompts.shown().contains(kUpdated), kFlashTimeoutMs);
        QCOMPARE(s.prompts.shown(), (QStringList{kOffer, kUpdated}));
        // After the backup's queries (02 0b), data reports: bit 7 of byte 1.
        const QStringList sent = s.wheel.writes();
        QVERIFY2(sent.value(0).startsWith("set-feature 02 80 00 10"), qPrintable(sent.value(0)));
        std::string running;
        QTRY_VERIFY_WITH_TIMEOUT(
            (s.wheel.withWheel([&](wheelemu::Wheel &w) { running = w.version(); }), running == newVersion),
            10000);
        QTRY_VERIFY(!QFileInfo::exists(stored));
    }

private:
    QString served(const QString &file) const { return root.filePath("upgrade/srd7/" + file); }
    QString tempImage() const { return QDir::tempPath() + "/quor.firmware.bin"; }

    QTemporaryDir tmp;
    QTemporaryDir root{QDir::tempPath() + "/update-root-XXXXXX"};
    std::unique_ptr<UpdateServer> trusted, untrusted;
};

WHEEL_TEST_MAIN(TestOnlineUpdate)
#include "tst_online_update.moc"
