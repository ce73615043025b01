// The command reports byte for byte: what the builders put on the wire that
// no whole exchange of the window tests shows, and how each reply (or a
// failed read, which leaves the request in the buffer) is read and shown.
#include "device/command_report.h"
#include "device/device_status.h"

#include <QTest>

#include <vector>

namespace {

template<std::size_t N> QByteArray bytes(const std::array<uint8_t, N> &buffer)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), static_cast<qsizetype>(N));
}

// Expected wire bytes: the given hex, zero-padded to the buffer size.
QByteArray wire(const QByteArray &hex, qsizetype size = 21)
{
    return QByteArray::fromHex(hex).leftJustified(size, '\0');
}

// The firmware data report for the 16 bytes 30..3f at that offset of an image.
QByteArray chunkAt(quint32 offset)
{
    std::vector<uint8_t> image(offset + 16);
    for (std::size_t i = 0; i < 16; ++i)
        image[offset + i] = static_cast<uint8_t>(0x30 + i);
    CommandReport buffer{};
    return writeFirmwareDataReport(buffer, image.data(), image.size(), offset) == 16 ? bytes(buffer).left(20)
                                                                                     : QByteArray();
}

QString numbers(std::initializer_list<qint64> values)
{
    QStringList out;
    for (qint64 v : values)
        out << QString::number(v);
    return out.join(QLatin1Char(' '));
}

QString hex(Rgb c)
{
    return QString::fromLatin1(bytes(std::array<uint8_t, 3>{c.red, c.green, c.blue}).toHex());
}

// Each parser's reading of a reply, as one line of text.
QString parsed(const QString &kind, const CommandReport &r)
{
    if (kind == "name")
        return parseModelName(r).value_or(QStringLiteral("(refused)"));
    if (kind == "version")
        return parseFirmwareVersion(r) + " | " + displayedVersion(parseFirmwareVersion(r));
    if (kind == "paddles") {
        const PaddleConfig c = parsePaddleConfig(r);
        return numbers({c.biteWord, c.rightMax, c.leftMax, c.rightMin, c.leftMin});
    }
    if (kind == "item") {
        const uint32_t v = parseItemValue(r);
        return numbers({v, parseSignedItemValue(r)}) + (isItemEnabled(v) ? " on" : " off");
    }
    if (kind == "power") {
        const PowerStatus s = parsePowerStatus(r);
        return numbers({s.percentage, s.levelWord, s.link}) + " | " + batteryStatusText(s) +
               (bluetoothShown(s) ? ", Bluetooth" : "");
    }
    if (kind == "extra leds") {
        const ExtraLeds l = parseExtraLedRecord(r);
        return numbers({l.flag}) + (l.present() ? " present " : " absent ") + hex(l.left) + ' ' +
               hex(l.right);
    }
    return QString::fromLatin1(bytes(parseLedPage(r)).toHex());
}

} // namespace

class TestCommandReport : public QObject
{
    Q_OBJECT

private slots:
    // Every other builder's bytes are checked where the window or the update
    // sends them (tst_settings_pages, tst_rgb_page, tst_live_window,
    // tst_quor_upgrade); these never go out there. A chunk's offset bits 4 to
    // 18 go into bytes 1 and 2 (bit 7 of byte 1 always set), past the largest
    // image the stream carries.
    void builders()
    {
        const QByteArray data = "303132333435363738393a3b3c3d3e3f";
        const std::pair<QByteArray, QByteArray> rows[] = {
            {bytes(makeSetItem(Item::ShifterPulseWidth, 0x12345678, false)), wire("020c0a7856341200")},
            {bytes(makeSetItem(Item::ClutchesEnabled, enabledItemValue(true), true)),
             wire("020c0801000000ef")},
            {chunkAt(0x7FFF0), wire("02ffff10" + data, 20)},
            {chunkAt(0x81230), wire("02812310" + data, 20)},
            {chunkAt(0x100000), wire("02800010" + data, 20)}};
        for (const auto &[actual, expected] : rows)
            QCOMPARE(actual.toHex(' '), expected.toHex(' '));
    }

    // A failed read leaves the request (02 0b ...) in the buffer, which is
    // then read like any reply. One trailing colon is left out of the version
    // shown; the battery reads USB from level 4300 or on a USB link, and
    // Bluetooth is shown on link 0 only.
    void replies()
    {
        const char *const rows[][4] = {
            {"name", "name", "020d41424320574845454c", "ABC WHEEL"},
            {"name stops at the first zero", "name", "020d52c3a4004344", "R\u00e4"},
            {"name of 19 bytes without terminator", "name", "020d51554f522d535244372d574845454c2d58595a",
             "QUOR-SRD7-WHEEL-XYZ"},
            {"name without the 0x0d echo", "name", "020c414243", "(refused)"},
            {"name read failed", "name", "020b0d", "(refused)"},
            {"version ending in two colons", "version", "02312e322e333a3a", "1.2.3:: | 1.2.3:"},
            {"version with a colon inside", "version", "0276323a37", "v2:7 | v2:7"},
            {"version of 20 bytes", "version", "024142434445464748494a4b4c4d4e4f5051525354",
             "ABCDEFGHIJKLMNOPQRST | ABCDEFGHIJKLMNOPQRST"},
            {"version read failed", "version", "020b09", "\x0b\x09 | \x0b\x09"},
            {"paddles", "paddles", "020a993aefa00f3c0f78005f00", "15001 4000 3900 120 95"},
            {"paddles read failed", "paddles", "020b0a", "10 0 0 0 0"},
            {"item little-endian", "item", "020c0478563412", "305419896 305419896 off"},
            {"item nothing stored", "item", "020c04ffffffff", "4294967295 -1 off"},
            {"item enabled", "item", "020c0801000000", "1 1 on"},
            {"item with 1 in a higher byte", "item", "020c0801000001", "16777217 16777217 off"},
            {"clutches read failed", "item", "020b0c08", "8 8 off"},
            {"power on battery", "power", "020f2acb1002", "42 4299 2 | BATTERY STATUS: 42%"},
            {"power from level 4300", "power", "020f2acc1002", "42 4300 2 | BATTERY STATUS: USB"},
            {"power on a USB link", "power", "020f2ae80301", "42 1000 1 | BATTERY STATUS: USB"},
            {"power on Bluetooth", "power", "020f49870f00", "73 3975 0 | BATTERY STATUS: 73%, Bluetooth"},
            {"power read failed", "power", "020b0f", "15 0 0 | BATTERY STATUS: 15%, Bluetooth"},
            {"extra leds present", "extra leds", "021101ff8000102030", "1 present ff8000 102030"},
            {"extra leds read failed", "extra leds", "020b11", "17 absent 000000 000000"},
            {"led page", "led page", "0202101112131415161718191a1b1c1d1e1f202199",
             "101112131415161718191a1b1c1d1e1f2021"},
            {"led page read failed", "led page", "020b05", "050000000000000000000000000000000000"},
        };
        for (const auto &[tag, kind, hexReply, reading] : rows) {
            CommandReport reply{};
            const QByteArray data = QByteArray::fromHex(hexReply);
            std::copy_n(data.constBegin(), std::min<qsizetype>(data.size(), 21), reply.begin());
            const QString got = parsed(QLatin1String(kind), reply);
            QVERIFY2(got == QString::fromUtf8(reading), qPrintable(tag + QStringLiteral(": ") + got));
        }
    }
};

QTEST_APPLESS_MAIN(TestCommandReport)
#include "tst_command_report.moc"
