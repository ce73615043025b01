#include "upgrade/vector_table.h"

#include <QtTest>

namespace {

constexpr uint32_t kBase = 0x08000000;

// An image of `size` bytes whose first two words are the stack pointer and
// the reset vector; the rest is filler.
QByteArray image(uint32_t stackPointer, uint32_t resetVector, int size = 0x200)
{
    QByteArray bytes(size, char(0xA5));
    for (int i = 0; i < 4; ++i) {
        bytes[i] = char(stackPointer >> (8 * i));
        bytes[4 + i] = char(resetVector >> (8 * i));
    }
    return bytes;
}

} // namespace

class TestVectorTable : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
};

void TestVectorTable::check_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<uint>("base");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("reason");

    const QString tooSmall = QStringLiteral("file too small for vector table");
    QTest::newRow("empty file") << QByteArray() << kBase << false << tooSmall;
    QTest::newRow("7 bytes") << image(0x20020000, kBase + 1).left(7) << kBase << false << tooSmall;
    QTest::newRow("8 bytes, reset vector at base")
        << image(0x20020000, kBase, 8) << kBase << true << QString();

    QTest::newRow("SP at bottom of SRAM") << image(0x20000000, kBase + 1) << kBase << true << QString();
    QTest::newRow("SP exactly at top of SRAM") << image(0x200C0000, kBase + 1) << kBase << true << QString();
    QTest::newRow("SP 4 above top of SRAM")
        << image(0x200C0004, kBase + 1) << kBase << false
        << QStringLiteral("invalid initial SP 0x200c0004 (SRAM 20000000..200c0000)");
    QTest::newRow("SP 4 below SRAM") << image(0x1FFFFFFC, kBase + 1) << kBase << false
                                     << QStringLiteral(
                                            "invalid initial SP 0x1ffffffc (SRAM 20000000..200c0000)");
    QTest::newRow("SP zero, no leading zeros")
        << image(0, kBase + 1) << kBase << false
        << QStringLiteral("invalid initial SP 0x0 (SRAM 20000000..200c0000)");
    QTest::newRow("SP checked before reset vector")
        << image(0xFFFFFFFF, 0) << kBase << false
        << QStringLiteral("invalid initial SP 0xffffffff (SRAM 20000000..200c0000)");

    QTest::newRow("reset vector at base") << image(0x20020000, kBase) << kBase << true << QString();
    QTest::newRow("odd reset vector inside")
        << image(0x20020000, kBase + 0x101) << kBase << true << QString();
    QTest::newRow("reset vector at last byte")
        << image(0x20020000, kBase + 0x1FF) << kBase << true << QString();
    QTest::newRow("reset vector at base + size")
        << image(0x20020000, kBase + 0x200) << kBase << false
        << QStringLiteral("reset vector 0x8000200 outside programmed range [8000000..8000200)");
    QTest::newRow("reset vector below base")
        << image(0x20020000, kBase - 1) << kBase << false
        << QStringLiteral("reset vector 0x7ffffff outside programmed range [8000000..8000200)");
    QTest::newRow("image linked for another base")
        << image(0x20020000, 0x08004001) << uint(0x08010000) << false
        << QStringLiteral("reset vector 0x8004001 outside programmed range [8010000..8010200)");
    QTest::newRow("range wraps at the top of the address space")
        << image(0x20020000, 0xFFFFFF01) << uint(0xFFFFFF00) << false
        << QStringLiteral("reset vector 0xffffff01 outside programmed range [ffffff00..100)");
}

void TestVectorTable::check()
{
    QFETCH(QByteArray, image);
    QFETCH(uint, base);
    QFETCH(bool, accepted);
    QFETCH(QString, reason);

    QString actualReason;
    QCOMPARE(checkVectorTable(image, base, actualReason), accepted);
    if (!accepted)
        QCOMPARE(actualReason, reason);
}

QTEST_APPLESS_MAIN(TestVectorTable)
#include "tst_vector_table.moc"
