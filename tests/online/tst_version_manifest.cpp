// The update server's manifest and the build-date comparison, run under a
// German locale so that month names can only match in English.
#include "upgrade/version_manifest.h"

#include <QLocale>
#include <QtTest>

Q_DECLARE_METATYPE(UpdateVerdict)

namespace {
// JSON written with single quotes, to keep the table readable.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}
} // namespace

class TestVersionManifest : public QObject
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

    void manifest_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("isObject");
        QTest::addColumn<QStringList>("fields"); // version, name, md5

        QTest::newRow("full") << json("{'version':'Mar 7 2024,15:04','name':'a.bin','md5':'AB','x':1}")
                              << true << QStringList{"Mar 7 2024,15:04", "a.bin", "AB"};
        QTest::newRow("missing and non-string keys")
            << json("{'name':'b.bin','md5':5}") << true << QStringList{"", "b.bin", ""};
        QTest::newRow("empty object") << QByteArray("{}") << true << QStringList{"", "", ""};
        QTest::newRow("array") << json("[{'version':'Mar 7 2024,15:04'}]") << false << QStringList{};
        QTest::newRow("html") << QByteArray("<html><body>404</body></html>") << false << QStringList{};
        QTest::newRow("empty") << QByteArray() << false << QStringList{};
        QTest::newRow("truncated") << json("{'version':'Mar") << false << QStringList{};
    }
    void manifest()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, isObject);
        QFETCH(QStringList, fields);
        const std::optional<VersionManifest> m = parseVersionManifest(json);
        QCOMPARE(m.has_value(), isObject);
        if (m)
            QCOMPARE((QStringList{m->version, m->name, m->md5}), fields);
    }

    void firmwareDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid: must not parse

        const auto at = [](int y, int mo, int d, int h, int mi) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC);
        };
        QTest::newRow("one-digit day") << "Mar 7 2024,15:04" << at(2024, 3, 7, 15, 4);
        QTest::newRow("two-digit day") << "Dec 31 2023,23:59" << at(2023, 12, 31, 23, 59);
        QTest::newRow("English May") << "May 1 2024,00:00" << at(2024, 5, 1, 0, 0);
        // The hour a European clock skips still exists in the stamps.
        QTest::newRow("clock-change hour") << "Mar 31 2024,02:30" << at(2024, 3, 31, 2, 30);
        QTest::newRow("German month") << "Mär 7 2024,15:04" << QDateTime();
        QTest::newRow("German May") << "Mai 1 2024,00:00" << QDateTime();
        QTest::newRow("double-space day") << "Mar  7 2024,15:04" << QDateTime();
        QTest::newRow("no comma") << "Mar 7 2024 15:04" << QDateTime();
        QTest::newRow("no time") << "Mar 7 2024" << QDateTime();
        QTest::newRow("bad hour") << "Mar 7 2024,25:04" << QDateTime();
        QTest::newRow("empty") << "" << QDateTime();
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
        QTest::newRow("equal, padded day") << label << "Mar 7 2024,15:04" << UpdateVerdict::UpToDate;
        QTest::newRow("one minute later") << label << "Mar 7 2024,15:05" << UpdateVerdict::Offer;
        QTest::newRow("next year, earlier month") << label << "Jan 1 2025,00:00" << UpdateVerdict::Offer;
        QTest::newRow("extra fields after the date") << "Firmware Version: 2\tMar 7 2024,15:04\tbeta"
                                                     << "Mar 7 2024,15:05" << UpdateVerdict::Offer;
        QTest::newRow("no tab") << "Firmware Version: 2 Mar 7 2024,15:04"
                                << "Mar 8 2024,15:04" << UpdateVerdict::NoValidDevice;
        QTest::newRow("empty second field") << "Firmware Version: 2\t\tMar 7 2024,15:04"
                                            << "Mar 8 2024,15:04" << UpdateVerdict::NoValidDevice;
        QTest::newRow("unparsable device date") << "Firmware Version: 2\tsoon"
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
};

QTEST_GUILESS_MAIN(TestVersionManifest)
#include "tst_version_manifest.moc"
