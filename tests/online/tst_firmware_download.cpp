// The checks on a downloaded image and its storage in the shared temp
// directory.
#include "upgrade/firmware_download.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

class TestFirmwareDownload : public QObject
{
    Q_OBJECT

private slots:
    void sizeAndPercent_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<bool>("tooLarge");
        QTest::addColumn<int>("percent"); // -1: bar unchanged

        QTest::newRow("half") << qint64(50) << qint64(100) << false << 50;
        QTest::newRow("rounds down") << qint64(2) << qint64(3) << false << 66;
        QTest::newRow("unknown length") << qint64(500) << qint64(-1) << false << -1;
        QTest::newRow("zero length") << qint64(0) << qint64(0) << false << -1;
        QTest::newRow("at the cap") << kMaxDownloadBytes << qint64(-1) << false << -1;
        QTest::newRow("one past the cap") << kMaxDownloadBytes + 1 << qint64(-1) << true << -1;
        QTest::newRow("announced past the cap") << qint64(0) << kMaxDownloadBytes + 1 << true << 0;
        // Large files must not overflow on the way to the percentage.
        QTest::newRow("64-bit") << (qint64(3) << 32) << (qint64(4) << 32) << true << 75;
    }
    void sizeAndPercent()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QFETCH(bool, tooLarge);
        QFETCH(int, percent);
        QCOMPARE(downloadTooLarge(received, total), tooLarge);
        QCOMPARE(downloadPercent(received, total).value_or(-1), percent);
    }

    void store_data()
    {
        QTest::addColumn<QString>("inTheWay"); // what sits at the path beforehand
        QTest::addColumn<bool>("stored");

        QTest::newRow("nothing") << "" << true;
        QTest::newRow("older image") << "file" << true;
        QTest::newRow("link to another file") << "link" << true;
        QTest::newRow("dangling link") << "dangling" << true;
        QTest::newRow("directory") << "dir" << false;
        QTest::newRow("missing temp directory") << "no parent" << false;
    }
    void store()
    {
        QFETCH(QString, inTheWay);
        QFETCH(bool, stored);
        QTemporaryDir dir;
        const QString victim = dir.filePath("victim");
        writeFile(victim, "keep me");
        QString path = dir.filePath("quor.firmware.bin");
        if (inTheWay == "file")
            writeFile(path, "an older and longer image");
        else if (inTheWay == "link")
            QVERIFY(QFile::link(victim, path));
        else if (inTheWay == "dangling")
            QVERIFY(QFile::link(dir.filePath("not-yet"), path));
        else if (inTheWay == "dir")
            QVERIFY(QDir(dir.path()).mkpath("quor.firmware.bin/inside"));
        else if (inTheWay == "no parent")
            path = dir.filePath("gone/quor.firmware.bin");

        QCOMPARE(storeFirmwareImage(path, "new image"), stored);
        QCOMPARE(readAll(victim), QByteArray("keep me"));
        QVERIFY(!QFileInfo::exists(dir.filePath("not-yet")));
        if (stored) {
            QVERIFY(!QFileInfo(path).isSymLink());
            QCOMPARE(readAll(path), QByteArray("new image"));
        } else {
            QVERIFY(!QFileInfo(path).isFile());
        }
    }

    void tempPathFollowsTheTempDirectory()
    {
        QTemporaryDir dir;
        qputenv("TMPDIR", dir.path().toLocal8Bit());
        QCOMPARE(firmwareTempPath(), QDir(dir.path()).canonicalPath() + "/quor.firmware.bin");
        qunsetenv("TMPDIR");
    }
};

QTEST_GUILESS_MAIN(TestFirmwareDownload)
#include "tst_firmware_download.moc"
