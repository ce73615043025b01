#include "upgrade/dfu_protocol.h"

#include <QtTest>

Q_DECLARE_METATYPE(QList<uint>)

class TestDfuProtocol : public QObject
{
    Q_OBJECT

private slots:
    void decodeStatus_data();
    void decodeStatus();
    void commandPayload_data();
    void commandPayload();
    void erasePages_data();
    void erasePages();
};

void TestDfuProtocol::decodeStatus_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("bStatus");
    QTest::addColumn<uint>("bwPollTimeout");
    QTest::addColumn<int>("bState");
    QTest::addColumn<int>("iString");

    QTest::newRow("idle") << QByteArray::fromHex("000000000200") << 0 << 0u << 2 << 0;
    QTest::newRow("busy for 1000 ms") << QByteArray::fromHex("00e803000400") << 0 << 1000u << 4 << 0;
    QTest::newRow("poll time-out byte order")
        << QByteArray::fromHex("000102030500") << 0 << 0x030201u << 5 << 0;
    QTest::newRow("largest poll time-out, error")
        << QByteArray::fromHex("0effffff0a07") << 14 << 0xFFFFFFu << 10 << 7;
    QTest::newRow("high byte of the time-out only")
        << QByteArray::fromHex("000000800400") << 0 << 0x800000u << 4 << 0;
}

void TestDfuProtocol::decodeStatus()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, bStatus);
    QFETCH(uint, bwPollTimeout);
    QFETCH(int, bState);
    QFETCH(int, iString);

    std::array<uint8_t, kDfuStatusLength> bytes{};
    std::copy(raw.cbegin(), raw.cend(), bytes.begin());
    const DfuStatus status = decodeDfuStatus(bytes);
    QCOMPARE(int(status.bStatus), bStatus);
    QCOMPARE(status.bwPollTimeout, bwPollTimeout);
    QCOMPARE(int(status.bState), bState);
    QCOMPARE(int(status.iString), iString);
}

void TestDfuProtocol::commandPayload_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<uint>("address");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("set address to flash base")
        << int(DfuseCommand::SetAddressPointer) << 0x08000000u << QByteArray::fromHex("2100000008");
    QTest::newRow("erase second page")
        << int(DfuseCommand::Erase) << 0x08002000u << QByteArray::fromHex("4100200008");
    QTest::newRow("all address bytes")
        << int(DfuseCommand::Erase) << 0x12345678u << QByteArray::fromHex("4178563412");
}

void TestDfuProtocol::commandPayload()
{
    QFETCH(int, command);
    QFETCH(uint, address);
    QFETCH(QByteArray, expected);

    const auto payload = dfuseCommandPayload(DfuseCommand(command), address);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(payload.data()), int(payload.size())), expected);
}

void TestDfuProtocol::erasePages_data()
{
    QTest::addColumn<uint>("base");
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("page");
    QTest::addColumn<QList<uint>>("pages");

    QTest::newRow("one byte") << 0x08000000u << 1u << 8192u << QList<uint>{0x08000000};
    QTest::newRow("exactly one page") << 0x08000000u << 8192u << 8192u << QList<uint>{0x08000000};
    QTest::newRow("one byte into the second page")
        << 0x08000000u << 8193u << 8192u << QList<uint>{0x08000000, 0x08002000};
    QTest::newRow("unaligned base reaches into the next page")
        << 0x08001000u << 8192u << 8192u << QList<uint>{0x08000000, 0x08002000};
    QTest::newRow("unaligned base within one page")
        << 0x08001000u << 4096u << 8192u << QList<uint>{0x08000000};
    QTest::newRow("small pages") << 0x08000000u << 3000u << 1024u
                                 << QList<uint>{0x08000000, 0x08000400, 0x08000800};

    QTest::newRow("last page at the top of the address space")
        << 0xFFFFE000u << 0x2000u << 8192u << QList<uint>{0xFFFFE000};
    QTest::newRow("past the top, only up to it")
        << 0xFFFFF000u << 0x3000u << 8192u << QList<uint>{0xFFFFE000};

    QList<uint> fullImage;
    for (uint a = 0x08000000; a < 0x08038000; a += 8192)
        fullImage << a;
    QTest::newRow("largest image, 28 pages") << 0x08000000u << 229376u << 8192u << fullImage;
}

void TestDfuProtocol::erasePages()
{
    QFETCH(uint, base);
    QFETCH(uint, size);
    QFETCH(uint, page);
    QFETCH(QList<uint>, pages);

    const std::vector<uint32_t> actual = dfuseErasePages(base, size, page);
    QCOMPARE(QList<uint>(actual.begin(), actual.end()), pages);
}

QTEST_APPLESS_MAIN(TestDfuProtocol)
#include "tst_dfu_protocol.moc"
