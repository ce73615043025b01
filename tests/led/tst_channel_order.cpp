#include "led/channel_order.h"

#include <QtTest>

Q_DECLARE_METATYPE(Rgb)

namespace {
QString show(Rgb c)
{
    return QStringLiteral("(%1, %2, %3)").arg(c.red).arg(c.green).arg(c.blue);
}
} // namespace

class TestChannelOrder : public QObject
{
    Q_OBJECT

private slots:
    void toFrame_data();
    void toFrame();
    void fromFrame_data();
    void fromFrame();
    void qcolourInvalidStaysInvalid();
};

void TestChannelOrder::toFrame_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<Rgb>("frame");
    // The colour (10, 20, 30) in each code's frame order.
    QTest::newRow("0 RGB") << 0 << Rgb{10, 20, 30};
    QTest::newRow("1 RBG") << 1 << Rgb{10, 30, 20};
    QTest::newRow("2 GRB") << 2 << Rgb{20, 10, 30};
    QTest::newRow("3 GBR") << 3 << Rgb{20, 30, 10};
    QTest::newRow("4 BRG") << 4 << Rgb{30, 10, 20};
    QTest::newRow("5 BGR") << 5 << Rgb{30, 20, 10};
    QTest::newRow("6 is RGB") << 6 << Rgb{10, 20, 30};
    QTest::newRow("-1 is RGB") << -1 << Rgb{10, 20, 30};
    QTest::newRow("255 is RGB") << 255 << Rgb{10, 20, 30};
}

void TestChannelOrder::toFrame()
{
    QFETCH(int, code);
    QFETCH(Rgb, frame);
    const Rgb got = toFrameOrder(Rgb{10, 20, 30}, channelOrderFromCode(code));
    QVERIFY2(got == frame, qPrintable(show(got)));

    const QColor asColour = toFrameOrder(QColor(10, 20, 30), channelOrderFromCode(code));
    QCOMPARE(asColour, QColor(frame.red, frame.green, frame.blue));
}

void TestChannelOrder::fromFrame_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<Rgb>("frame");
    QTest::addColumn<Rgb>("colour");
    // Slots (1, 2, 3) read back under each order. GBR and BRG undo each
    // other, so reading must not reuse the sending permutation.
    QTest::newRow("RGB") << 0 << Rgb{1, 2, 3} << Rgb{1, 2, 3};
    QTest::newRow("RBG: red, blue, green") << 1 << Rgb{1, 2, 3} << Rgb{1, 3, 2};
    QTest::newRow("GRB: green, red, blue") << 2 << Rgb{1, 2, 3} << Rgb{2, 1, 3};
    QTest::newRow("GBR: green, blue, red") << 3 << Rgb{1, 2, 3} << Rgb{3, 1, 2};
    QTest::newRow("BRG: blue, red, green") << 4 << Rgb{1, 2, 3} << Rgb{2, 3, 1};
    QTest::newRow("BGR: blue, green, red") << 5 << Rgb{1, 2, 3} << Rgb{3, 2, 1};
    QTest::newRow("unknown code reads RGB") << 42 << Rgb{1, 2, 3} << Rgb{1, 2, 3};
}

void TestChannelOrder::fromFrame()
{
    QFETCH(int, code);
    QFETCH(Rgb, frame);
    QFETCH(Rgb, colour);
    const ChannelOrder order = channelOrderFromCode(code);
    const Rgb got = fromFrameOrder(frame, order);
    QVERIFY2(got == colour, qPrintable(show(got)));
    // Sending what was read puts the same slots back.
    QVERIFY(toFrameOrder(got, order) == frame);
}

void TestChannelOrder::qcolourInvalidStaysInvalid()
{
    QVERIFY(!toFrameOrder(QColor(), ChannelOrder::GRB).isValid());
    // An out-of-range value cast into the enum behaves as RGB.
    const Rgb got = toFrameOrder(Rgb{7, 8, 9}, static_cast<ChannelOrder>(17));
    QVERIFY(got == (Rgb{7, 8, 9}));
}

QTEST_APPLESS_MAIN(TestChannelOrder)
#include "tst_channel_order.moc"
