#include "led/button_colour.h"

#include <QtTest>

namespace {

const QString kRoundWhite =
    QStringLiteral("QPushButton {border-radius: 12px; background-color: rgb(255,255,255); "
                   "border: 1px solid white; color: white;}");
const QString kSquareWhite =
    QStringLiteral("QPushButton {border-radius: 4px; background-color: rgb(255,255,255); "
                   "border: 1px solid white; color: white;}");
const QString kIndicator =
    QStringLiteral("QPushButton {border-radius: 12px; background-color: rgb(0,117,190); "
                   "border: 1px solid white; color: white;}");

} // namespace

class TestButtonColour : public QObject
{
    Q_OBJECT

private slots:
    void paint_data();
    void paint();
    void read_data();
    void read();
    void paintThenRead();
};

void TestButtonColour::paint_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QString>("painted");

    // The clause moves right behind "background-color:"; the two spaces that
    // stood around the old clause now follow it. The later "color: white;"
    // is not the first "color:" and stays as it is.
    QTest::newRow("round white, (1,2,3)")
        << kRoundWhite << QColor(1, 2, 3)
        << QStringLiteral("QPushButton {border-radius: 12px; background-color:rgb(1,2,3);  "
                          "border: 1px solid white; color: white;}");
    QTest::newRow("square white, (0,170,255)")
        << kSquareWhite << QColor(0, 170, 255)
        << QStringLiteral("QPushButton {border-radius: 4px; background-color:rgb(0,170,255);  "
                          "border: 1px solid white; color: white;}");
    QTest::newRow("indicator blue, black")
        << kIndicator << QColor(0, 0, 0)
        << QStringLiteral("QPushButton {border-radius: 12px; background-color:rgb(0,0,0);  "
                          "border: 1px solid white; color: white;}");
    // Painting an already painted button only swaps the clause.
    QTest::newRow("repaint") << QStringLiteral(
                                    "QPushButton {border-radius: 12px; background-color:rgb(1,2,3);  "
                                    "border: 1px solid white; color: white;}")
                             << QColor(255, 0, 10)
                             << QStringLiteral(
                                    "QPushButton {border-radius: 12px; background-color:rgb(255,0,10);  "
                                    "border: 1px solid white; color: white;}");
    QTest::newRow("only the first rgb clause goes")
        << QStringLiteral("a{background-color: rgb(1,1,1); color: rgb(2,2,2);}") << QColor(9, 8, 7)
        << QStringLiteral("a{background-color:rgb(9,8,7);  color: rgb(2,2,2);}");
    QTest::newRow("no color: leaves the sheet alone")
        << QStringLiteral("border: rgb(1,2,3);") << QColor(4, 5, 6) << QStringLiteral("border: rgb(1,2,3);");
}

void TestButtonColour::paint()
{
    QFETCH(QString, sheet);
    QFETCH(QColor, colour);
    QFETCH(QString, painted);
    setButtonColour(sheet, colour);
    QCOMPARE(sheet, painted);
}

void TestButtonColour::read_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("order");
    QTest::addColumn<QColor>("colour"); // invalid QColor: expect an invalid colour

    const QString tenTwentyThirty = QStringLiteral("x {background-color: rgb(10,20,30); color: white;}");
    QTest::newRow("order 0") << tenTwentyThirty << 0 << QColor(10, 20, 30);
    QTest::newRow("order 1 RBG") << tenTwentyThirty << 1 << QColor(10, 30, 20);
    QTest::newRow("order 2 GRB") << tenTwentyThirty << 2 << QColor(20, 10, 30);
    QTest::newRow("order 3 GBR") << tenTwentyThirty << 3 << QColor(20, 30, 10);
    QTest::newRow("order 4 BRG") << tenTwentyThirty << 4 << QColor(30, 10, 20);
    QTest::newRow("order 5 BGR") << tenTwentyThirty << 5 << QColor(30, 20, 10);
    QTest::newRow("order 9 is RGB") << tenTwentyThirty << 9 << QColor(10, 20, 30);
    QTest::newRow("white style") << kRoundWhite << 0 << QColor(255, 255, 255);
    QTest::newRow("rgb(300,0,0) is invalid")
        << QStringLiteral("a{background-color: rgb(300,0,0);}") << 0 << QColor();
    QTest::newRow("256 in blue is invalid") << QStringLiteral("rgb(0,0,256)") << 2 << QColor();
    QTest::newRow("spaces around numbers") << QStringLiteral("rgb( 10 , 20 ,30 )") << 0 << QColor(10, 20, 30);
    QTest::newRow("non-number is 0") << QStringLiteral("rgb(10,x,30)") << 0 << QColor(10, 0, 30);
    QTest::newRow("missing blue is 0") << QStringLiteral("rgb(10,20)") << 0 << QColor(10, 20, 0);
    QTest::newRow("first clause wins")
        << QStringLiteral("a{background-color: rgb(1,2,3); color: rgb(4,5,6);}") << 0 << QColor(1, 2, 3);
    QTest::newRow("painted sheet") << QStringLiteral("x {background-color:rgb(0,170,255);  border: 0;}") << 0
                                   << QColor(0, 170, 255);
}

void TestButtonColour::read()
{
    QFETCH(QString, sheet);
    QFETCH(int, order);
    QFETCH(QColor, colour);
    const QColor got = buttonColour(sheet, order);
    if (!colour.isValid()) {
        QVERIFY2(!got.isValid(), qPrintable(got.name()));
        return;
    }
    QVERIFY(got.isValid());
    QCOMPARE(got.red(), colour.red());
    QCOMPARE(got.green(), colour.green());
    QCOMPARE(got.blue(), colour.blue());
    QCOMPARE(got.alpha(), 255);
}

void TestButtonColour::paintThenRead()
{
    QString sheet = kSquareWhite;
    setButtonColour(sheet, QColor(12, 34, 56));
    QCOMPARE(buttonColour(sheet, 0), QColor(12, 34, 56));
    setButtonColour(sheet, QColor(200, 0, 99));
    QCOMPARE(buttonColour(sheet, 0), QColor(200, 0, 99));
    QCOMPARE(buttonColour(sheet, 2), QColor(0, 200, 99));
}

QTEST_APPLESS_MAIN(TestButtonColour)
#include "tst_button_colour.moc"
