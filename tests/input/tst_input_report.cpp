#include "input/input_report.h"

#include <QSet>
#include <QtTest>

namespace {

// A payload with the given paddle readings and pressed buttons (1-based).
QByteArray payload(uint16_t right, uint16_t left, std::initializer_list<int> buttonNumbers)
{
    QByteArray data(kInputPayloadSize, '\0');
    data[0] = char(right & 0xFF);
    data[1] = char(right >> 8);
    data[2] = char(left & 0xFF);
    data[3] = char(left >> 8);
    for (int number : buttonNumbers) {
        const int bit = number - 1;
        data[4 + bit / 8] = char(uchar(data[4 + bit / 8]) | (1 << (bit % 8)));
    }
    return data;
}

uint64_t bitsOf(const QList<int> &indices)
{
    uint64_t bits = 0;
    for (int i : indices)
        bits |= uint64_t{1} << i;
    return bits;
}

IndicatorStates statesWith(const QList<int> &lit, const QList<int> &unlit)
{
    IndicatorStates states{};
    states.fill(IndicatorState::Untouched);
    for (int i : lit)
        states[std::size_t(i)] = IndicatorState::Lit;
    for (int i : unlit)
        states[std::size_t(i)] = IndicatorState::Unlit;
    return states;
}

QList<int> indicesIn(const IndicatorStates &states, IndicatorState wanted)
{
    QList<int> out;
    for (int i = 0; i < kIndicatorCount; ++i) {
        if (states[std::size_t(i)] == wanted)
            out.append(i);
    }
    return out;
}

QList<int> toList(const std::vector<int> &v)
{
    return QList<int>(v.begin(), v.end());
}

IndicatorMask allEnabled()
{
    return IndicatorMask().set();
}

} // namespace

class TestInputReport : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void pressed_data();
    void pressed();
    void indicatorTable_data();
    void indicatorTable();
    void indicatorNamesAreDistinct();
    void update_data();
    void update();
    void identicalReportsReportReleaseOnce();
    void statusTips_data();
    void statusTips();
};

void TestInputReport::decode_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("right");
    QTest::addColumn<int>("left");
    QTest::addColumn<quint64>("buttons");

    QTest::newRow("idle") << QByteArray(16, '\0') << 0 << 0 << quint64(0);
    QTest::newRow("little-endian paddles") << QByteArray::fromHex("3412785600000000"
                                                                  "0000000000000000")
                                           << 0x1234 << 0x5678 << quint64(0);
    QTest::newRow("full range") << payload(4096, 0, {}) << 4096 << 0 << quint64(0);
    QTest::newRow("above bar range") << payload(0xFFFF, 4097, {}) << 0xFFFF << 4097 << quint64(0);
    QTest::newRow("first and last button")
        << payload(0, 0, {1, 64}) << 0 << 0 << quint64(0x8000000000000001ull);
    QTest::newRow("byte order of the bitmap") << QByteArray::fromHex("00000000"
                                                                     "0102040810204080"
                                                                     "ffffffff")
                                              << 0 << 0 << quint64(0x8040201008040201ull);
    QTest::newRow("trailing bytes unused")
        << QByteArray::fromHex("0000000000000000000000001234abcd") << 0 << 0 << quint64(0);
    QTest::newRow("short array reads zeros") << QByteArray::fromHex("ff0f01") << 0x0FFF << 0x01 << quint64(0);
}

void TestInputReport::decode()
{
    QFETCH(QByteArray, data);
    QFETCH(int, right);
    QFETCH(int, left);
    QFETCH(quint64, buttons);

    const InputPayload decoded = decodeInputPayload(data);
    QCOMPARE(int(decoded.right), right);
    QCOMPARE(int(decoded.left), left);
    QCOMPARE(quint64(decoded.buttons), buttons);
}

void TestInputReport::pressed_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<int>>("indices");

    QTest::newRow("none") << payload(100, 200, {}) << QList<int>{};
    QTest::newRow("ascending whatever the order set")
        << payload(0, 0, {40, 3, 17, 1}) << QList<int>{0, 2, 16, 39};
    QTest::newRow("whole first byte")
        << payload(0, 0, {1, 2, 3, 4, 5, 6, 7, 8}) << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("byte boundaries") << payload(0, 0, {8, 9, 16, 17, 56, 57})
                                     << QList<int>{7, 8, 15, 16, 55, 56};
    QTest::newRow("beyond the indicators") << payload(0, 0, {52, 53, 64}) << QList<int>{51, 52, 63};
}

void TestInputReport::pressed()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<int>, indices);
    QCOMPARE(toList(pressedButtons(decodeInputPayload(data).buttons)), indices);
}

void TestInputReport::indicatorTable_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");

    QTest::newRow("first") << 1 << "pbIB1";
    QTest::newRow("2") << 2 << "pbISW1";
    QTest::newRow("encoder 5 left") << 3 << "pbID5L";
    QTest::newRow("encoder 5 right") << 4 << "pbID5R";
    QTest::newRow("left thumb up") << 9 << "pbJsL1";
    QTest::newRow("left thumb centre") << 13 << "pbJsLC";
    QTest::newRow("left thumb turn left") << 14 << "pbJsLL";
    QTest::newRow("left thumb turn right") << 15 << "pbJsLR";
    QTest::newRow("right paddle bar") << 23 << "pbIBarR";
    QTest::newRow("24") << 24 << "pbSWL";
    QTest::newRow("encoder 8 left") << 25 << "pbID8L";
    QTest::newRow("left paddle bar") << 31 << "pbIBarL";
    QTest::newRow("32") << 32 << "pbSWR";
    QTest::newRow("right thumb centre") << 45 << "pbJsRC";
    QTest::newRow("right thumb turn right") << 47 << "pbJsRR";
    QTest::newRow("48") << 48 << "pbIB14";
    QTest::newRow("extra right shifter") << 49 << "pbIExR";
    QTest::newRow("extra left shifter") << 50 << "pbIExL";
    QTest::newRow("51") << 51 << "pbIEbL";
    QTest::newRow("last") << 52 << "pbIEbR";
    QTest::newRow("53 has none") << 53 << QString();
    QTest::newRow("64 has none") << 64 << QString();
    QTest::newRow("0 has none") << 0 << QString();
}

void TestInputReport::indicatorTable()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    QCOMPARE(QString::fromLatin1(indicatorName(number)), name);
}

void TestInputReport::indicatorNamesAreDistinct()
{
    QSet<QString> names;
    for (const char *name : ButtonIndicatorTable) {
        QVERIFY(name != nullptr);
        QVERIFY2(QByteArray(name).startsWith("pb"), name);
        names.insert(QString::fromLatin1(name));
    }
    QCOMPARE(names.size(), kIndicatorCount);
}

void TestInputReport::update_data()
{
    QTest::addColumn<QList<int>>("wasLit");
    QTest::addColumn<QList<int>>("wasUnlit");
    QTest::addColumn<QList<int>>("pressed");
    QTest::addColumn<QList<int>>("disabled");
    QTest::addColumn<bool>("extraShifters");
    // After the report: these lit, these untouched, every other indicator unlit.
    QTest::addColumn<QList<int>>("lit");
    QTest::addColumn<QList<int>>("untouched");
    QTest::addColumn<QList<int>>("released");

    const QList<int> none;
    const QList<int> extra{kExtraShifterRightIndex, kExtraShifterLeftIndex};

    QTest::newRow("first report lights pressed")
        << none << none << QList<int>{0, 2} << none << true << QList<int>{0, 2} << none << none;
    QTest::newRow("all clear reports releases ascending")
        << QList<int>{51, 5, 0} << none << none << none << true << none << none << QList<int>{0, 5, 51};
    QTest::newRow("held button stays lit silently")
        << QList<int>{7} << none << QList<int>{7} << none << true << QList<int>{7} << none << none;
    QTest::newRow("release and press in one report") << QList<int>{3, 4} << none << QList<int>{4, 10} << none
                                                     << true << QList<int>{4, 10} << none << QList<int>{3};
    QTest::newRow("unlit goes lit again")
        << none << QList<int>{12} << QList<int>{12} << none << true << QList<int>{12} << none << none;
    QTest::newRow("unlit stays unlit without release")
        << none << QList<int>{12} << none << none << true << none << none << none;
    QTest::newRow("buttons 53 to 64 show nothing")
        << none << none << QList<int>{52, 53, 60, 63} << none << true << none << none << none;
    QTest::newRow("buttons 53 to 64 do not hold a lit indicator")
        << QList<int>{51} << none << QList<int>{52, 63} << none << true << none << none << QList<int>{51};
    QTest::newRow("49 and 50 ignored without extra shifters")
        << none << none << extra << none << false << none << extra << none;
    QTest::newRow("49 and 50 keep lit without extra shifters")
        << extra << none << none << none << false << extra << none << none;
    QTest::newRow("49 and 50 keep unlit without extra shifters")
        << none << extra << extra << none << false << none << none << none;
    QTest::newRow("49 and 50 light with extra shifters")
        << none << none << extra << none << true << extra << none << none;
    QTest::newRow("49 and 50 release with extra shifters")
        << extra << none << none << none << true << none << none << extra;
    QTest::newRow("disabled indicator does not light")
        << none << none << QList<int>{20, 21} << QList<int>{21} << true << QList<int>{20} << none << none;
    QTest::newRow("disabled lit indicator is released while held")
        << QList<int>{21} << none << QList<int>{21} << QList<int>{21} << true << none << none
        << QList<int>{21};
    // After a lost wheel the indicator is still marked lit; the first report
    // after reconnecting decides.
    QTest::newRow("stale lit released after reconnect")
        << QList<int>{30, 31} << none << QList<int>{31} << none << true << QList<int>{31} << none
        << QList<int>{30};
}

void TestInputReport::update()
{
    QFETCH(QList<int>, wasLit);
    QFETCH(QList<int>, wasUnlit);
    QFETCH(QList<int>, pressed);
    QFETCH(QList<int>, disabled);
    QFETCH(bool, extraShifters);
    QFETCH(QList<int>, lit);
    QFETCH(QList<int>, untouched);
    QFETCH(QList<int>, released);

    IndicatorMask enabled = allEnabled();
    for (int i : disabled)
        enabled.reset(std::size_t(i));

    const IndicatorUpdate result =
        updateIndicators(statesWith(wasLit, wasUnlit), bitsOf(pressed), enabled, extraShifters);

    QCOMPARE(indicesIn(result.states, IndicatorState::Lit), lit);
    QCOMPARE(indicesIn(result.states, IndicatorState::Untouched), untouched);
    QCOMPARE(indicesIn(result.states, IndicatorState::Unlit).size(),
             kIndicatorCount - lit.size() - untouched.size());
    QCOMPARE(toList(result.releasedButtons), released);
}

void TestInputReport::identicalReportsReportReleaseOnce()
{
    const uint64_t held = decodeInputPayload(payload(0, 0, {5, 6})).buttons;
    const uint64_t clear = 0;

    IndicatorStates states{};
    struct Step
    {
        uint64_t buttons;
        QList<int> lit;
        QList<int> released;
    };
    const Step steps[] = {
        {held, {4, 5}, {}},
        {held, {4, 5}, {}},
        {clear, {}, {4, 5}},
        {clear, {}, {}},
    };
    for (const Step &step : steps) {
        const IndicatorUpdate result = updateIndicators(states, step.buttons, allEnabled(), false);
        QCOMPARE(indicesIn(result.states, IndicatorState::Lit), step.lit);
        QCOMPARE(toList(result.releasedButtons), step.released);
        states = result.states;
    }
}

void TestInputReport::statusTips_data()
{
    QTest::addColumn<QString>("tip");
    QTest::addColumn<int>("state");

    QTest::newRow("SHOW") << "SHOW" << int(IndicatorState::Lit);
    QTest::newRow("HIDE") << "HIDE" << int(IndicatorState::Unlit);
    QTest::newRow("empty") << "" << int(IndicatorState::Untouched);
    QTest::newRow("lower case is not lit") << "show" << int(IndicatorState::Untouched);
    QTest::newRow("padded is not lit") << "SHOW " << int(IndicatorState::Untouched);
}

void TestInputReport::statusTips()
{
    QFETCH(QString, tip);
    QFETCH(int, state);

    const auto parsed = stateFromStatusTip(tip);
    QCOMPARE(int(parsed), state);
    // Every state the window writes reads back as itself.
    if (!tip.isEmpty() && parsed != IndicatorState::Untouched)
        QCOMPARE(QString::fromLatin1(statusTipOf(parsed)), tip);
    QCOMPARE(stateFromStatusTip(QString::fromLatin1(statusTipOf(IndicatorState(state)))),
             IndicatorState(state));
}

QTEST_APPLESS_MAIN(TestInputReport)
#include "tst_input_report.moc"
