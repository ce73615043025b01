// The online update's own checks without a server: the build dates, compared
// under a German locale so that month names can only match in English, and
// where the image is stored. Manifests that are no object, the size cap and
// the percentages are the server test's.
#include "upgrade/firmware_download.h"
#include "upgrade/version_manifest.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(UpdateVerdict)

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

} // namespace

class TestUpdateUnits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // ctest starts this suite with LANG/LC_ALL German; the default locale
        // is set as well so that a run by hand proves the same.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(QLocale().monthName(3, QLocale::ShortFormat), QStringLiteral("März"));
    }

    void firmwareDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid: must not parse
        QTest::newRow("one-digit day")
            << "Mar 7 2024,15:04" << QDateTime(QDate(2024, 3, 7), QTime(15, 4), Qt::UTC);
        QTest::newRow("English May") << "May 1 2024,00:00"
                                     << QDateTime(QDate(2024, 5, 1), QTime(0, 0), Qt::UTC);
        // The hour a European clock skips still exists in the stamps.
        QTest::newRow("clock-change hour")
            << "Mar 31 2024,02:30" << QDateTime(QDate(2024, 3, 31), QTime(2, 30), Qt::UTC);
        QTest::newRow("German May") << "Mai 1 2024,00:00" << QDateTime();
        QTest::newRow("double-space day") << "Mar  7 2024,15:04" << QDateTime();
        QTest::newRow("bad hour") << "Mar 7 2024,25:04" << QDateTime();
    }
    void firmwareDate()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        QCOMPARE(parseFirmwareDate(text), expected);
    }

    void verdict_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<UpdateVerdict>("verdict");
        const QString label = QStringLiteral("Firmware Version: 2\tMar  7 2024,15:04");
        QTest::newRow("next year, earlier month") << label << "Jan 1 2025,00:00" << UpdateVerdict::Offer;
        QTest::newRow("extra fields after the date") << "Firmware Version: 2\tMar 7 2024,15:04\tbeta"
                                                     << "Mar 7 2024,15:05" << UpdateVerdict::Offer;
        QTest::newRow("empty second field") << "Firmware Version: 2\t\tMar 7 2024,15:04"
                                            << "Mar 8 2024,15:04" << UpdateVerdict::NoValidDevice;
        QTest::newRow("missing offer") << label << "" << UpdateVerdict::NoValidDevice;
    }
    void verdict()
    {
        QFETCH(QString, label);
        QFETCH(QString, offered);
        QFETCH(UpdateVerdict, verdict);
        QCOMPARE(compareFirmwareDates(label, offered), verdict);
    }

    // A planted link and a directory in the way are the server test's.
    void store_data()
    {
        QTest::addColumn<QString>("inTheWay");
        QTest::addColumn<bool>("stored");
        QTest::newRow("older, longer image") << "file" << true;
        QTest::newRow("dangling link") << "dangling" << true;
        QTest::newRow("missing temp directory") << "no parent" << false;
    }
    void store()
    {
        QFETCH(QString, inTheWay);
        QFETCH(bool, stored);
        QTemporaryDir dir;
        QString path = dir.filePath("quor.firmware.bin");
        if (inTheWay == "file")
            QVERIFY(writeFile(path, "an older and longer image"));
        else if (inTheWay == "dangling")
            QVERIFY(QFile::link(dir.filePath("not-yet"), path));
        else
            path = dir.filePath("gone/quor.firmware.bin");

        QCOMPARE(storeFirmwareImage(path, "new image"), stored);
        // A link is replaced, never followed.
        QVERIFY(!QFileInfo::exists(dir.filePath("not-yet")));
        QCOMPARE(QFileInfo(path).isFile(), stored);
        if (stored) {
            QVERIFY(!QFileInfo(path).isSymLink());
            QCOMPARE(readAll(path), QByteArray("new image"));
        }
    }
};

QTEST_GUILESS_MAIN(TestUpdateUnits)
#include "tst_update_units.moc"
