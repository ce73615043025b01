// The designer form on its own: every other part of the program finds its widgets here by object
// name, relies on their starting geometry, ranges and looks, and restyles the LED buttons by
// editing their style sheets in place, so the form is checked against those expectations.
#include "ui_mainwindow.h"

#include <QtTest>

#include <QTranslator>

#include <algorithm>
#include <memory>
#include <numeric>

namespace {

const QString indicatorStyle =
    QStringLiteral("QPushButton {\n\tborder-radius: 12px;\n\tbackground-color:  "
                   "rgb(0,117,190);\n\tborder: 1px solid white;\n\tcolor: white;\n}");
const QString roundLedStyle = QStringLiteral("QPushButton {\n\tborder-radius: 12px;\n\tbackground-color:  "
                                             "rgb(255,255,255);\n\tborder: 1px solid white;\n}");
const QString squareLedStyle = QStringLiteral("QPushButton {\n\tborder-radius: 4px;\n\tbackground-color:  "
                                              "rgb(255,255,255);\n\tborder: 1px solid white;\n}");
const QString captionStyle =
    QStringLiteral("QLabel {\n\tcolor:white;\n\tfont-family: Arial;\n\tfont-size:14px;\n}");
const QString valueStyle = QStringLiteral("color:white;\nfont-size:14px;");
const QString pageStyle = QStringLiteral("QWidget {background-color: rgb(26,25,25);}");

struct Indicator
{
    const char *name;
    int number;
    QRect geometry;
};

// The 52 input indicators: joystick button number and starting place on the inputs page.
const Indicator indicatorTable[] = {
    {"pbIB1", 1, {120, 43, 24, 24}},     {"pbISW1", 2, {251, 218, 24, 24}},
    {"pbID5L", 3, {180, 110, 25, 25}},   {"pbID5R", 4, {180, 110, 25, 25}},
    {"pbID1L", 5, {256, 127, 26, 25}},   {"pbID1R", 6, {190, 90, 26, 25}},
    {"pbIB2", 7, {197, 54, 24, 24}},     {"pbIB6", 8, {197, 314, 24, 24}},
    {"pbJsL1", 9, {224, 152, 25, 25}},   {"pbJsL2", 10, {224, 152, 25, 25}},
    {"pbJsL3", 11, {224, 152, 25, 25}},  {"pbJsL4", 12, {224, 152, 25, 25}},
    {"pbJsLC", 13, {206, 158, 25, 25}},  {"pbJsLL", 14, {224, 152, 25, 25}},
    {"pbJsLR", 15, {224, 152, 25, 25}},  {"pbIB5", 16, {224, 266, 24, 24}},
    {"pbID7L", 17, {230, 100, 25, 25}},  {"pbID7R", 18, {308, 233, 25, 25}},
    {"pbID3L", 19, {320, 254, 26, 25}},  {"pbID3R", 20, {367, 233, 26, 25}},
    {"pbIB3", 21, {283, 75, 25, 25}},    {"pbIB4", 22, {207, 233, 24, 24}},
    {"pbIBarR", 23, {590, 130, 25, 25}}, {"pbSWL", 24, {191, 29, 24, 24}},
    {"pbID8L", 25, {550, 130, 25, 25}},  {"pbID8R", 26, {507, 100, 25, 25}},
    {"pbID4L", 27, {416, 254, 26, 25}},  {"pbID4R", 28, {425, 233, 26, 25}},
    {"pbIB11", 29, {454, 74, 25, 25}},   {"pbIB12", 30, {528, 233, 24, 24}},
    {"pbIBarL", 31, {150, 130, 25, 25}}, {"pbSWR", 32, {542, 54, 24, 24}},
    {"pbIB9", 33, {618, 43, 24, 24}},    {"pbISW2", 34, {487, 218, 24, 24}},
    {"pbID6L", 35, {550, 110, 25, 25}},  {"pbID6R", 36, {550, 110, 25, 25}},
    {"pbID2L", 37, {540, 90, 26, 25}},   {"pbID2R", 38, {480, 127, 26, 25}},
    {"pbIB10", 39, {506, 46, 24, 24}},   {"pbIB13", 40, {542, 314, 24, 24}},
    {"pbJsR1", 41, {514, 152, 25, 25}},  {"pbJsR2", 42, {514, 152, 25, 25}},
    {"pbJsR3", 43, {514, 152, 25, 25}},  {"pbJsR4", 44, {514, 152, 25, 25}},
    {"pbJsRC", 45, {532, 158, 25, 25}},  {"pbJsRL", 46, {514, 152, 25, 25}},
    {"pbJsRR", 47, {514, 152, 25, 25}},  {"pbIB14", 48, {515, 266, 24, 24}},
    {"pbIExR", 49, {680, 30, 24, 24}},   {"pbIExL", 50, {60, 30, 24, 24}},
    {"pbIEbL", 51, {30, 30, 24, 24}},    {"pbIEbR", 52, {710, 30, 24, 24}},
};

struct Led
{
    const char *name;
    QRect geometry;
    bool round; // radius 12; the others have radius 4
};

// The 45 LED buttons of the RGB page, white until the colours are read from the wheel.
const Led ledTable[] = {
    {"pbB1", {143, 27, 24, 24}, true},    {"pbB2", {229, 45, 24, 24}, true},
    {"pbB3", {240, 110, 25, 25}, true},   {"pbB4", {205, 233, 24, 24}, true},
    {"pbB5", {233, 255, 24, 24}, true},   {"pbB6", {232, 289, 24, 24}, true},
    {"pbB9", {591, 27, 24, 24}, true},    {"pbB10", {506, 45, 24, 24}, true},
    {"pbB11", {500, 110, 25, 25}, true},  {"pbB12", {529, 233, 24, 24}, true},
    {"pbB13", {502, 255, 24, 24}, true},  {"pbB14", {502, 289, 24, 24}, true},
    {"pbD13", {240, 120, 26, 25}, true},  {"pbD16", {307, 233, 26, 25}, true},
    {"pbD26", {425, 233, 26, 25}, true},  {"pbD23", {500, 120, 26, 25}, true},
    {"pbD3", {240, 100, 12, 12}, true},   {"pbD4", {505, 100, 12, 12}, true},
    {"pbXL", {191, 28, 25, 25}, true},    {"pbXR", {543, 28, 25, 25}, true},
    {"pbT1", {302, 73, 12, 12}, false},   {"pbT2", {316, 73, 12, 12}, false},
    {"pbT3", {331, 73, 12, 12}, false},   {"pbT4", {346, 73, 12, 12}, false},
    {"pbT5", {359, 73, 12, 12}, false},   {"pbT6", {372, 73, 12, 12}, false},
    {"pbT7", {386, 73, 12, 12}, false},   {"pbT8", {400, 73, 12, 12}, false},
    {"pbT9", {413, 73, 12, 12}, false},   {"pbT10", {428, 73, 12, 12}, false},
    {"pbT11", {443, 73, 12, 12}, false},  {"pbT12", {300, 110, 12, 12}, false},
    {"pbT13", {320, 110, 12, 12}, false}, {"pbT14", {340, 110, 12, 12}, false},
    {"pbT15", {360, 110, 12, 12}, false}, {"pbT16", {380, 110, 12, 12}, false},
    {"pbT17", {400, 110, 12, 12}, false}, {"pbT18", {420, 110, 12, 12}, false},
    {"pbT19", {440, 110, 12, 12}, false}, {"pbTL1", {370, 240, 12, 12}, false},
    {"pbTL2", {260, 65, 12, 12}, false},  {"pbTL3", {256, 75, 12, 12}, false},
    {"pbTR1", {495, 75, 12, 12}, false},  {"pbTR2", {490, 65, 12, 12}, false},
    {"pbTR3", {485, 55, 12, 12}, false},
};

bool startsWithAny(const QString &name, const QStringList &prefixes)
{
    for (const QString &prefix : prefixes) {
        if (name.startsWith(prefix))
            return true;
    }
    return false;
}

// The declarations of one rule of a style sheet, e.g. the body of "QPushButton:hover { ... }".
QString ruleBody(const QString &sheet, const QString &selector)
{
    const QString opening = selector + QStringLiteral(" {");
    const qsizetype start = sheet.indexOf(opening);
    if (start < 0)
        return {};
    const qsizetype bodyStart = start + opening.size();
    const qsizetype end = sheet.indexOf(QLatin1Char('}'), bodyStart);
    return end < 0 ? QString() : sheet.mid(bodyStart, end - bodyStart);
}

QStringList parseWarnings;
QtMessageHandler previousHandler = nullptr;

void collectParseWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("stylesheet"), Qt::CaseInsensitive))
        parseWarnings.append(message);
    else if (previousHandler)
        previousHandler(type, context, message);
}

// Marks every text it is asked for, so a text that skipped the translation function shows up unmarked.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "MainWindow") != 0)
            return {};
        return QStringLiteral("<%1>").arg(QString::fromUtf8(sourceText));
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

    std::unique_ptr<QMainWindow> window;
    Ui::MainWindow ui;

    template<typename T = QWidget> T *find(const QString &name) const { return window->findChild<T *>(name); }

    // Name of the page of stackedWidget that holds the widget; empty outside the pages.
    QString pageOf(QWidget *widget) const
    {
        for (QWidget *w = widget; w; w = w->parentWidget()) {
            if (w->parentWidget() == ui.stackedWidget)
                return w->objectName();
        }
        return {};
    }

private slots:
    void init();
    void cleanup();

    void windowIsFixedSize();
    void pageOrder();
    void geometry_data();
    void geometry();
    void indicators_data();
    void indicators();
    void indicatorNumbersAreUnique();
    void ledButtons_data();
    void ledButtons();
    void prefixGroups_data();
    void prefixGroups();
    void sharedPositions_data();
    void sharedPositions();
    void texts_data();
    void texts();
    void sliders_data();
    void sliders();
    void progressBars_data();
    void progressBars();
    void buttonFlags_data();
    void buttonFlags();
    void clicks_data();
    void clicks();
    void sidebarButtonsUncheckFreely();
    void styleSheets_data();
    void styleSheets();
    void styleRules_data();
    void styleRules();
    void fonts_data();
    void fonts();
    void alignment_data();
    void alignment();
    void pictureLabelsDoNotScale();
    void windowButtons();
    void styleSheetsParse();
    void pixels_data();
    void pixels();
    void textsGoThroughTranslation();
};

void TestForm::init()
{
    window = std::make_unique<QMainWindow>();
    ui.setupUi(window.get());
}

void TestForm::cleanup()
{
    window.reset();
}

void TestForm::windowIsFixedSize()
{
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window->minimumSize(), QSize(900, 500));
    QCOMPARE(window->maximumSize(), QSize(900, 500));
    QCOMPARE(window->size(), QSize(900, 500));
    QCOMPARE(window->sizeIncrement(), QSize(0, 0));
    QCOMPARE(window->windowTitle(), QStringLiteral("Quor Controls Setting"));
    QCOMPARE(window->styleSheet(),
             QStringLiteral("QMainWindow#MainWindow {\n  background-color: rgb(26,25,25);\n}"));
    QCOMPARE(window->centralWidget(), ui.centralwidget);
    QCOMPARE(ui.centralwidget->objectName(), QStringLiteral("centralwidget"));
    // Resizing is refused by the size constraints themselves, not only by the frameless window.
    window->resize(1200, 700);
    QCOMPARE(window->size(), QSize(900, 500));
}

void TestForm::pageOrder()
{
    QCOMPARE(ui.stackedWidget->count(), 5);
    for (int i = 0; i < 5; ++i) {
        QWidget *page = ui.stackedWidget->widget(i);
        QCOMPARE(page->objectName(), QStringLiteral("page%1").arg(i + 1));
        QCOMPARE(page->styleSheet(), pageStyle);
    }
    QCOMPARE(ui.stackedWidget->currentIndex(), 1);
    QCOMPARE(ui.stackedWidget->currentWidget(), ui.page2);
}

void TestForm::geometry_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QRect>("rect");

    struct Row
    {
        const char *name;
        const char *parent;
        const char *page;
        QRect rect;
    };
    const Row rows[] = {
        {"lbSplit", "centralwidget", "", {0, 0, 901, 71}},
        {"lbHead", "centralwidget", "", {180, 10, 611, 31}},
        {"lbIcon", "centralwidget", "", {310, 10, 31, 31}},
        {"lbLine", "centralwidget", "", {140, 80, 751, 1}},
        {"pbS1", "centralwidget", "", {0, 80, 131, 81}},
        {"pbS2", "centralwidget", "", {0, 164, 131, 81}},
        {"pbS3", "centralwidget", "", {0, 248, 131, 81}},
        {"pbS4", "centralwidget", "", {0, 332, 131, 81}},
        {"pbS5", "centralwidget", "", {0, 416, 131, 81}},
        {"pbStatus", "centralwidget", "", {790, 10, 24, 24}},
        {"pbMin", "centralwidget", "", {830, 10, 24, 24}},
        {"pbClose", "centralwidget", "", {860, 10, 24, 24}},
        {"stackedWidget", "centralwidget", "", {140, 90, 751, 401}},
        {"lbMain", "page1", "page1", {61, 9, 640, 365}},
        {"pgAdcL", "page1", "page1", {130, 290, 101, 10}},
        {"pgAdcR", "page1", "page1", {530, 290, 101, 10}},
        {"pbCalL", "page1", "page1", {150, 305, 60, 15}},
        {"pbCalR", "page1", "page1", {550, 305, 60, 15}},
        {"lbEnc", "page1", "page1", {290, 0, 181, 21}},
        {"hsTrigger", "page1", "page1", {309, 20, 141, 22}},
        {"lbTrigger", "page1", "page1", {330, 40, 100, 21}},
        {"pbSaveEnc", "page1", "page1", {300, 369, 161, 31}},
        {"lbMainRGB", "page2", "page2", {61, 9, 640, 365}},
        {"pbSave", "page2", "page2", {300, 369, 161, 31}},
        {"lbSht", "page2", "page2", {291, 0, 181, 21}},
        {"hsShifter", "page2", "page2", {310, 20, 141, 22}},
        {"lbShifter", "page2", "page2", {331, 40, 100, 21}},
        {"pbSetW", "page2", "page2", {720, 120, 24, 24}},
        {"pbSetR", "page2", "page2", {720, 150, 24, 24}},
        {"pbSet3", "page2", "page2", {720, 180, 24, 24}},
        {"pbSet4", "page2", "page2", {720, 210, 24, 24}},
        {"pbSetG", "page2", "page2", {720, 240, 24, 24}},
        {"pbSet1", "page2", "page2", {720, 270, 24, 24}},
        {"pbSetB", "page2", "page2", {720, 300, 24, 24}},
        {"pbSet2", "page2", "page2", {720, 330, 24, 24}},
        {"pbSetD", "page2", "page2", {720, 360, 24, 24}},
        {"pbSaveP", "page3", "page3", {300, 369, 161, 31}},
        {"cbClutch", "page3", "page3", {50, 10, 251, 23}},
        {"cbShifter", "page3", "page3", {410, 10, 301, 23}},
        {"gpClutch", "page3", "page3", {50, 40, 661, 116}},
        {"rbPadNo", "gpClutch", "page3", {50, 30, 112, 23}},
        {"rbPadL", "gpClutch", "page3", {50, 55, 112, 23}},
        {"rbPadR", "gpClutch", "page3", {50, 80, 112, 23}},
        {"lbBiteS", "gpClutch", "page3", {260, 25, 171, 21}},
        {"lbBite", "gpClutch", "page3", {440, 25, 181, 21}},
        {"hsBite", "gpClutch", "page3", {259, 45, 371, 22}},
        {"pbEncoder", "gpClutch", "page3", {260, 70, 371, 31}},
        {"gpShifter", "page3", "page3", {50, 170, 661, 191}},
        {"lbLShT", "gpShifter", "page3", {20, 35, 231, 21}},
        {"lbRShT", "gpShifter", "page3", {20, 75, 231, 21}},
        {"lbLShT_2", "gpShifter", "page3", {20, 115, 231, 21}},
        {"lbRShT_2", "gpShifter", "page3", {20, 155, 231, 21}},
        {"pbBearLCa", "gpShifter", "page3", {260, 30, 371, 31}},
        {"pbBearRCa", "gpShifter", "page3", {260, 70, 371, 31}},
        {"pbBearExLCa", "gpShifter", "page3", {260, 111, 371, 31}},
        {"pbBearExRCa", "gpShifter", "page3", {260, 151, 371, 31}},
        {"label_4", "page4", "page4", {50, 20, 151, 21}},
        {"lePath", "page4", "page4", {200, 20, 421, 21}},
        {"pbPath", "page4", "page4", {630, 20, 31, 21}},
        {"pbAutoUpgrade", "page4", "page4", {200, 60, 191, 31}},
        {"pbUpgrade", "page4", "page4", {470, 60, 191, 31}},
        {"lbUpgrade", "page4", "page4", {50, 110, 151, 21}},
        {"pgUpgrade", "page4", "page4", {200, 110, 461, 21}},
        {"lbCurMd5", "page4", "page4", {240, 150, 361, 21}},
        {"lbCurVersion", "page4", "page4", {230, 360, 361, 21}},
        {"pbClearFlash", "page4", "page4", {50, 280, 191, 31}},
        {"lbBTStatus", "page4", "page4", {50, 330, 491, 21}},
        {"lbBatStatus", "page4", "page4", {50, 360, 491, 21}},
        {"label", "page5", "page5", {180, 100, 400, 125}},
        {"label_2", "page5", "page5", {180, 240, 401, 20}},
        {"lbCurVer", "page5", "page5", {0, 380, 371, 21}},
        {"lbVersion", "page5", "page5", {380, 380, 371, 21}},
    };
    for (const Row &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.parent) << QString::fromLatin1(row.page)
                                << row.rect;
}

void TestForm::geometry()
{
    QFETCH(QString, parent);
    QFETCH(QString, page);
    QFETCH(QRect, rect);
    QWidget *widget = find(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    QVERIFY(widget->parentWidget());
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(pageOf(widget), page);
    QCOMPARE(widget->geometry(), rect);
}

void TestForm::indicators_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QRect>("rect");
    for (const Indicator &indicator : indicatorTable)
        QTest::newRow(indicator.name) << indicator.number << indicator.geometry;
}

void TestForm::indicators()
{
    QFETCH(int, number);
    QFETCH(QRect, rect);
    auto *button = find<QPushButton>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(button);
    QCOMPARE(button->parentWidget(), ui.page1);
    QCOMPARE(button->text(), QString::number(number));
    QCOMPARE(button->geometry(), rect);
    QCOMPARE(button->styleSheet(), indicatorStyle);
    QVERIFY(!button->isCheckable());
    // The lit state lives in the status tip; an indicator no report has touched has none.
    QVERIFY(button->statusTip().isEmpty());
    // Drawn above the model picture: later siblings paint on top.
    const QObjectList &siblings = ui.page1->children();
    QVERIFY(siblings.indexOf(button) > siblings.indexOf(ui.lbMain));
}

void TestForm::indicatorNumbersAreUnique()
{
    QList<int> numbers;
    for (const Indicator &indicator : indicatorTable) {
        auto *button = find<QPushButton>(QString::fromLatin1(indicator.name));
        QVERIFY2(button, indicator.name);
        numbers.append(button->text().toInt());
    }
    std::sort(numbers.begin(), numbers.end());
    QList<int> expected(52);
    std::iota(expected.begin(), expected.end(), 1);
    QCOMPARE(numbers, expected);
}

void TestForm::ledButtons_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("style");
    for (const Led &led : ledTable)
        QTest::newRow(led.name) << led.geometry << (led.round ? roundLedStyle : squareLedStyle);
}

void TestForm::ledButtons()
{
    QFETCH(QRect, rect);
    QFETCH(QString, style);
    auto *button = find<QPushButton>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(button);
    QCOMPARE(button->parentWidget(), ui.page2);
    QCOMPARE(button->geometry(), rect);
    QCOMPARE(button->styleSheet(), style);
    QVERIFY(button->text().isEmpty());
    const QObjectList &siblings = ui.page2->children();
    QVERIFY(siblings.indexOf(button) > siblings.indexOf(ui.lbMainRGB));
}

void TestForm::prefixGroups_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("prefixes");
    QTest::addColumn<int>("count");
    // The waiting screen finds the indicators, and the presets the LED buttons, by these prefixes; a
    // stray widget with such a name would be hidden or painted with them.
    QTest::newRow("indicators") << "page1" << QStringList{"pbI", "pbJ", "pbSW"} << 52;
    QTest::newRow("LED buttons") << "page2" << QStringList{"pbT", "pbB", "pbD", "pbX"} << 45;
    QTest::newRow("no indicator names on the LED page") << "page2" << QStringList{"pbIB", "pbID"} << 0;
}

void TestForm::prefixGroups()
{
    QFETCH(QString, page);
    QFETCH(QStringList, prefixes);
    QFETCH(int, count);
    QWidget *pageWidget = find(page);
    QVERIFY(pageWidget);
    int found = 0;
    for (QObject *child : pageWidget->children()) {
        if (startsWithAny(child->objectName(), prefixes)) {
            QVERIFY2(qobject_cast<QPushButton *>(child), qPrintable(child->objectName()));
            ++found;
        }
    }
    QCOMPARE(found, count);
}

void TestForm::sharedPositions_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::newRow("left stick") << QStringList{"pbJsL1", "pbJsL2", "pbJsL3", "pbJsL4", "pbJsLL", "pbJsLR"};
    QTest::newRow("right stick") << QStringList{"pbJsR1", "pbJsR2", "pbJsR3", "pbJsR4", "pbJsRL", "pbJsRR"};
    QTest::newRow("left dial 5") << QStringList{"pbID5L", "pbID5R"};
    QTest::newRow("right dial 6") << QStringList{"pbID6L", "pbID6R"};
}

void TestForm::sharedPositions()
{
    QFETCH(QStringList, names);
    QWidget *first = find(names.first());
    QVERIFY(first);
    for (const QString &name : names) {
        QWidget *other = find(name);
        QVERIFY2(other, qPrintable(name));
        QCOMPARE(other->geometry(), first->geometry());
    }
}

void TestForm::texts_data()
{
    QTest::addColumn<QString>("text");
    const std::pair<const char *, const char *> rows[] = {
        {"lbHead", "QUOR CONTROLS"},
        {"pbS1", "INPUTS"},
        {"pbS2", "RGB"},
        {"pbS3", "PADDLES"},
        {"pbS4", "DEVICE"},
        {"pbS5", "ABOUT"},
        {"pbStatus", ""},
        {"pbMin", ""},
        {"pbClose", ""},
        {"lbMain", ""},
        {"pbCalL", "CALIBRATE"},
        {"pbCalR", "CALIBRATE"},
        {"lbEnc", "ENCODER PULSE WIDTH"},
        {"lbTrigger", "100ms"},
        {"pbSaveEnc", "Save Setting"},
        {"pbSave", "Save Setting"},
        {"lbSht", "SHIFTER PULSE WIDTH"},
        {"lbShifter", "100ms"},
        {"pbSetW", ""},
        {"pbSaveP", "Save Setting"},
        {"cbClutch", "ENABLE CLUTCHES"},
        {"cbShifter", "ENABLE EXTRA SHIFTERS"},
        {"gpClutch", "CLUTCH BITE POINT"},
        {"rbPadNo", "DISABLE"},
        {"rbPadL", "LEFT"},
        {"rbPadR", "RIGHT"},
        {"lbBiteS", "BITE POINT"},
        {"lbBite", "50.00%"},
        {"pbEncoder", "ASSIGN ROTARY ENCODER"},
        {"gpShifter", "SHIFTERS"},
        {"lbLShT", "LEFT SHIFTER THRESHOLD"},
        {"lbRShT", "RIGHT SHIFTER THRESHOLD"},
        {"lbLShT_2", "EXTRA L SHIFTER THRESHOLD"},
        {"lbRShT_2", "EXTRA R SHIFTER THRESHOLD"},
        {"pbBearLCa", "CALIBRATE"},
        {"pbBearRCa", "CALIBRATE"},
        {"pbBearExLCa", "CALIBRATE"},
        {"pbBearExRCa", "CALIBRATE"},
        {"label_4", "FIRMWARE"},
        {"lePath", ""},
        {"pbPath", "..."},
        {"pbAutoUpgrade", "CHECK UPDATE"},
        {"pbUpgrade", "MANUAL UPDATE"},
        {"lbUpgrade", "UPLOADING..."},
        {"lbCurMd5", ""},
        {"lbCurVersion", ""},
        {"pbClearFlash", "CLEAR FLASH DATA"},
        {"lbBTStatus", "BLUETOOTH CONNECTED"},
        {"lbBatStatus", "BATTERY STATUS:"},
        {"label_2", "www.quorcontrols.example"},
        {"lbCurVer", "QuorSet Version: "},
        {"lbVersion", ""},
    };
    for (const auto &[name, text] : rows)
        QTest::newRow(name) << QString::fromLatin1(text);
}

void TestForm::texts()
{
    QFETCH(QString, text);
    QWidget *widget = find(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    const char *property = qobject_cast<QGroupBox *>(widget) ? "title" : "text";
    const QVariant value = widget->property(property);
    QVERIFY(value.isValid());
    QCOMPARE(value.toString(), text);
}

void TestForm::sliders_data()
{
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("value");
    QTest::newRow("hsTrigger") << 40 << 240 << 100;
    QTest::newRow("hsShifter") << 40 << 240 << 100;
    QTest::newRow("hsBite") << 0 << 10000 << 5000;
}

void TestForm::sliders()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, value);
    auto *slider = find<QSlider>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(slider);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), minimum);
    QCOMPARE(slider->maximum(), maximum);
    QCOMPARE(slider->value(), value);
    // The status tip is where the value stored in the wheel is kept once it is known.
    QVERIFY(slider->statusTip().isEmpty());
}

void TestForm::progressBars_data()
{
    QTest::addColumn<int>("maximum");
    QTest::newRow("pgAdcL") << 4096;
    QTest::newRow("pgAdcR") << 4096;
    QTest::newRow("pgUpgrade") << 100;
}

void TestForm::progressBars()
{
    QFETCH(int, maximum);
    auto *bar = find<QProgressBar>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), maximum);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
}

void TestForm::buttonFlags_data()
{
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("autoExclusive");
    QTest::newRow("pbS1") << true << true << false;
    QTest::newRow("pbS2") << true << false << false;
    QTest::newRow("pbS3") << true << false << false;
    QTest::newRow("pbS4") << true << false << false;
    QTest::newRow("pbS5") << true << false << false;
    QTest::newRow("pbCalL") << true << false << false;
    QTest::newRow("pbCalR") << true << false << false;
    QTest::newRow("pbEncoder") << true << false << false;
    QTest::newRow("pbBearLCa") << true << false << false;
    QTest::newRow("pbBearRCa") << true << false << false;
    QTest::newRow("pbBearExLCa") << true << false << false;
    QTest::newRow("pbBearExRCa") << true << false << false;
    QTest::newRow("cbClutch") << true << false << false;
    QTest::newRow("cbShifter") << true << false << false;
    QTest::newRow("rbPadNo") << true << false << true;
    QTest::newRow("rbPadL") << true << false << true;
    QTest::newRow("rbPadR") << true << false << true;
    QTest::newRow("pbSaveEnc") << false << false << false;
    QTest::newRow("pbSave") << false << false << false;
    QTest::newRow("pbSaveP") << false << false << false;
    QTest::newRow("pbUpgrade") << false << false << false;
    QTest::newRow("pbClearFlash") << false << false << false;
    QTest::newRow("pbSetR") << false << false << false;
    QTest::newRow("pbStatus") << false << false << false;
}

void TestForm::buttonFlags()
{
    QFETCH(bool, checkable);
    QFETCH(bool, checked);
    QFETCH(bool, autoExclusive);
    auto *button = find<QAbstractButton>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(button);
    QCOMPARE(button->isCheckable(), checkable);
    QCOMPARE(button->isChecked(), checked);
    QCOMPARE(button->autoExclusive(), autoExclusive);
}

void TestForm::clicks_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QStringList>("unchecked");
    QTest::newRow("bite paddle choices exclude each other")
        << QStringList{"rbPadL", "rbPadR"} << QStringList{"rbPadR"} << QStringList{"rbPadL", "rbPadNo"};
    QTest::newRow("disable paddle clears the others")
        << QStringList{"rbPadR", "rbPadNo"} << QStringList{"rbPadNo"} << QStringList{"rbPadL", "rbPadR"};
    QTest::newRow("enable switches are independent")
        << QStringList{"cbClutch", "cbShifter"} << QStringList{"cbClutch", "cbShifter"} << QStringList{};
    QTest::newRow("enable switch toggles off") << QStringList{"cbClutch", "cbShifter", "cbClutch"}
                                               << QStringList{"cbShifter"} << QStringList{"cbClutch"};
    QTest::newRow("enable switches leave the paddle choice")
        << QStringList{"rbPadL", "cbClutch"} << QStringList{"rbPadL", "cbClutch"} << QStringList{"rbPadR"};
    QTest::newRow("calibrate toggles")
        << QStringList{"pbCalL", "pbCalR", "pbCalL"} << QStringList{"pbCalR"} << QStringList{"pbCalL"};
    QTest::newRow("threshold calibrations are independent")
        << QStringList{"pbBearLCa", "pbBearExRCa"} << QStringList{"pbBearLCa", "pbBearExRCa"}
        << QStringList{"pbBearRCa", "pbBearExLCa"};
    QTest::newRow("sidebar clicks do not exclude each other")
        << QStringList{"pbS3"} << QStringList{"pbS1", "pbS3"} << QStringList{"pbS2"};
}

void TestForm::clicks()
{
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, checked);
    QFETCH(QStringList, unchecked);
    for (const QString &name : clicks) {
        auto *button = find<QAbstractButton>(name);
        QVERIFY2(button, qPrintable(name));
        button->click();
    }
    for (const QString &name : checked) {
        auto *button = find<QAbstractButton>(name);
        QVERIFY2(button && button->isChecked(), qPrintable(name));
    }
    for (const QString &name : unchecked) {
        auto *button = find<QAbstractButton>(name);
        QVERIFY2(button && !button->isChecked(), qPrintable(name));
    }
}

void TestForm::sidebarButtonsUncheckFreely()
{
    // Page switching unchecks all five buttons before checking one; an exclusive group would
    // refuse to uncheck the checked one.
    ui.pbS1->setChecked(false);
    for (QPushButton *button : {ui.pbS1, ui.pbS2, ui.pbS3, ui.pbS4, ui.pbS5})
        QVERIFY2(!button->isChecked(), qPrintable(button->objectName()));
}

void TestForm::styleSheets_data()
{
    QTest::addColumn<QString>("sheet");
    const std::pair<const char *, QString> rows[] = {
        {"lbSplit", QStringLiteral("border-image: url(:/img/head.png)")},
        {"lbHead", QStringLiteral("color: white;\nfont-size: 20px;\nfont-weight: bold;")},
        {"lbIcon", QStringLiteral("border-image: url(:/img/logo.png)")},
        {"lbLine", QStringLiteral("background: rgb(112,112,112)")},
        {"pbStatus",
         QStringLiteral("QPushButton {\n\tborder-radius: 12px;\n\tbackground-color: red;\n\tborder: 2px "
                        "solid white;\n}")},
        {"lbMain", QStringLiteral("border-image: url(:/img/back.ov410.png);\n")},
        {"lbMainRGB", QStringLiteral("border-image: url(:/img/back.srd7.png);")},
        {"label", QStringLiteral("border-image: url(:/img/about.png);")},
        {"lbEnc", captionStyle},
        {"lbSht", captionStyle},
        {"lbBiteS", captionStyle},
        {"lbLShT", captionStyle},
        {"lbRShT", captionStyle},
        {"lbLShT_2", captionStyle},
        {"lbRShT_2", captionStyle},
        {"label_4", captionStyle},
        {"lbUpgrade", captionStyle},
        {"lbBTStatus", captionStyle},
        {"lbBatStatus", captionStyle},
        {"lbTrigger", valueStyle},
        {"lbShifter", valueStyle},
        {"lbBite", valueStyle},
        {"lbCurVersion", valueStyle},
        {"lbCurMd5", valueStyle},
        {"lbVersion", valueStyle},
        {"lbCurVer", valueStyle},
    };
    for (const auto &[name, sheet] : rows)
        QTest::newRow(name) << sheet;
}

void TestForm::styleSheets()
{
    QFETCH(QString, sheet);
    QWidget *widget = find(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    QCOMPARE(widget->styleSheet(), sheet);
}

void TestForm::styleRules_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QString>("declaration");

    const QString gradient = QStringLiteral("background-color: qlineargradient(spread:pad, x1:0, y1:0, x2:1, "
                                            "y2:0, stop:0 rgba(17, 146, 207, 255), "
                                            "stop:1 rgba(9, 74, 105, 255));");
    const char *actionButtons[] = {"pbS1",   "pbS2",      "pbS3",          "pbS4",
                                   "pbS5",   "pbSaveEnc", "pbSave",        "pbSaveP",
                                   "pbPath", "pbUpgrade", "pbAutoUpgrade", "pbClearFlash"};
    for (const char *name : actionButtons) {
        QTest::addRow("%s checked", name) << name << "QPushButton:checked" << gradient;
        QTest::addRow("%s text size", name) << name << "QPushButton"
                                            << "font-size: 15px;";
        QTest::addRow("%s bold", name) << name << "QPushButton"
                                       << "font-weight: bold;";
        QTest::addRow("%s border", name) << name << "QPushButton"
                                         << "border: 1px solid rgb(112,112,112);";
        QTest::addRow("%s hover", name) << name << "QPushButton:hover"
                                        << "color: lightgray;";
    }
    QTest::newRow("pbS2 disabled") << "pbS2"
                                   << "QPushButton:disabled"
                                   << "color: gray;";
    const char *wideButtons[] = {"pbEncoder", "pbBearLCa", "pbBearRCa", "pbBearExLCa", "pbBearExRCa"};
    for (const char *name : wideButtons) {
        QTest::addRow("%s checked", name) << name << "QPushButton:checked" << gradient;
        QTest::addRow("%s text size", name) << name << "QPushButton"
                                            << "font-size: 14px;";
    }
    for (const char *name : {"pbCalL", "pbCalR"}) {
        QTest::addRow("%s text size", name) << name << "QPushButton"
                                            << "font-size: 10px;";
        QTest::addRow("%s face", name) << name << "QPushButton"
                                       << "background-color: rgb(0,117,190);";
        QTest::addRow("%s radius", name) << name << "QPushButton"
                                         << "border-radius: 5px;";
        QTest::addRow("%s checked text", name) << name << "QPushButton:checked"
                                               << "color: rgb(0,117,190);";
        QTest::addRow("%s checked face", name) << name << "QPushButton:checked"
                                               << "background-color: white;";
        QTest::addRow("%s hover face", name) << name << "QPushButton:hover"
                                             << "background-color: rgb(30,177,255);";
    }
    QTest::newRow("pbMin normal") << "pbMin"
                                  << "QPushButton"
                                  << "border-image: url(:/img/min.png);";
    QTest::newRow("pbMin hover") << "pbMin"
                                 << "QPushButton:hover"
                                 << "border-image: url(:/img/minh.png);";
    QTest::newRow("pbClose normal") << "pbClose"
                                    << "QPushButton"
                                    << "border-image: url(:/img/close.png);";
    QTest::newRow("pbClose hover") << "pbClose"
                                   << "QPushButton:hover"
                                   << "border-image: url(:/img/closeh.png);";
    for (const char *name : {"hsTrigger", "hsShifter", "hsBite"}) {
        QTest::addRow("%s groove", name) << name << "QSlider::groove:horizontal"
                                         << "border: 1px solid #999999;";
        QTest::addRow("%s groove height", name) << name << "QSlider::groove:horizontal"
                                                << "height: 5px;";
        QTest::addRow("%s handle", name) << name << "QSlider::handle:horizontal"
                                         << "background: #1192cf;";
        QTest::addRow("%s handle width", name) << name << "QSlider::handle:horizontal"
                                               << "width: 10px;";
    }
    for (const char *name : {"pgAdcL", "pgAdcR", "pgUpgrade"})
        QTest::addRow("%s chunk", name) << name << "QProgressBar::chunk"
                                        << "background-color: rgb(0,117,190);";
    QTest::newRow("pgUpgrade border") << "pgUpgrade"
                                      << "QProgressBar"
                                      << "border: 1px solid lightgray;";
    for (const char *name : {"cbClutch", "cbShifter", "rbPadNo", "rbPadL", "rbPadR"}) {
        QTest::addRow("%s text", name) << name << "QRadioButton"
                                       << "font-size: 14px;";
        QTest::addRow("%s indicator", name) << name << "QRadioButton::indicator"
                                            << "width: 10px;";
        QTest::addRow("%s checked", name) << name << "QRadioButton::indicator:checked"
                                          << "background-color: rgb(17, 146, 207);";
        QTest::addRow("%s unchecked", name) << name << "QRadioButton::indicator:unchecked"
                                            << "background-color: white;";
    }
    for (const char *name : {"gpClutch", "gpShifter"})
        QTest::addRow("%s title", name) << name << "QGroupBox"
                                        << "color: white;";
    QTest::newRow("lePath") << "lePath"
                            << "QLineEdit"
                            << "border-radius: 2px;";
    QTest::newRow("label_2 bold") << "label_2"
                                  << "QLabel"
                                  << "font-weight: bold;";
    QTest::newRow("pbSetW text") << "pbSetW"
                                 << "QPushButton"
                                 << "color: gray;";
    const std::pair<const char *, const char *> presets[] = {
        {"pbSetW", "rgb(255,255,255)"}, {"pbSetR", "rgb(255,0,0)"},   {"pbSet3", "rgb(255,85,0)"},
        {"pbSet4", "rgb(255,255,0)"},   {"pbSetG", "rgb(0,255,0)"},   {"pbSet1", "rgb(0,170,255)"},
        {"pbSetB", "rgb(0,0,255)"},     {"pbSet2", "rgb(255,0,255)"}, {"pbSetD", "rgb(0,0,0)"},
    };
    for (const auto &[name, colour] : presets) {
        QTest::addRow("%s colour", name)
            << name << "QPushButton" << QStringLiteral("background-color: %1;").arg(colour);
        QTest::addRow("%s round", name) << name << "QPushButton"
                                        << "border-radius: 12px;";
    }
}

void TestForm::styleRules()
{
    QFETCH(QString, widget);
    QFETCH(QString, selector);
    QFETCH(QString, declaration);
    QWidget *w = find(widget);
    QVERIFY(w);
    const QString body = ruleBody(w->styleSheet(), selector);
    QVERIFY2(!body.isEmpty(), qPrintable(selector + QStringLiteral(" missing in ") + w->styleSheet()));
    QVERIFY2(body.contains(declaration), qPrintable(body));
}

void TestForm::fonts_data()
{
    // The font each widget is drawn with once its style sheet is applied; a size in pixels comes
    // from the sheet, a size in points from the form's own font.
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    const QString platform = QApplication::font().family();
    QTest::newRow("lbHead") << platform << -1 << 20 << true;
    for (const char *name : {"pbS1", "pbS2", "pbS3", "pbS4", "pbS5", "pbSaveEnc", "pbSave", "pbClearFlash"})
        QTest::newRow(name) << "Arial" << -1 << 15 << true;
    for (const char *name : {"pbEncoder", "pbBearLCa", "pbBearExRCa"})
        QTest::newRow(name) << "Arial" << -1 << 14 << true;
    QTest::newRow("pbCalL") << "Arial" << -1 << 10 << true;
    QTest::newRow("lePath") << platform << 11 << -1 << false;
    QTest::newRow("pgUpgrade") << platform << 9 << -1 << false;
    QTest::newRow("label_2") << "Arial" << -1 << 14 << true;
    QTest::newRow("lbEnc") << "Arial" << -1 << 14 << false;
    QTest::newRow("lbTrigger") << platform << -1 << 14 << false;
    QTest::newRow("cbClutch") << "Arial" << -1 << 14 << false;
    QTest::newRow("gpShifter") << "Arial" << -1 << 14 << false;
}

void TestForm::fonts()
{
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    QWidget *widget = find(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    widget->ensurePolished();
    QCOMPARE(widget->font().family(), family);
    QCOMPARE(widget->font().pointSize(), pointSize);
    QCOMPARE(widget->font().pixelSize(), pixelSize);
    QCOMPARE(widget->font().bold(), bold);
}

void TestForm::alignment_data()
{
    QTest::addColumn<int>("horizontal");
    QTest::newRow("lbHead") << int(Qt::AlignHCenter);
    QTest::newRow("lbBiteS") << int(Qt::AlignLeft);
    QTest::newRow("lbBite") << int(Qt::AlignRight);
    QTest::newRow("label_2") << int(Qt::AlignHCenter);
    QTest::newRow("lbVersion") << int(Qt::AlignHCenter);
}

void TestForm::alignment()
{
    QFETCH(int, horizontal);
    auto *label = find<QLabel>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(label);
    QCOMPARE(int(label->alignment() & Qt::AlignHorizontal_Mask), horizontal);
    QCOMPARE(int(label->alignment() & Qt::AlignVertical_Mask), int(Qt::AlignVCenter));
}

void TestForm::pictureLabelsDoNotScale()
{
    for (QLabel *label : {ui.lbMain, ui.lbMainRGB}) {
        QVERIFY2(!label->hasScaledContents(), qPrintable(label->objectName()));
        QVERIFY2(label->pixmap().isNull(), qPrintable(label->objectName()));
    }
}

void TestForm::windowButtons()
{
    for (QPushButton *button : {ui.pbMin, ui.pbClose}) {
        QCOMPARE(button->iconSize(), QSize(16, 16));
        QVERIFY(!button->autoFillBackground());
        QVERIFY(button->text().isEmpty());
    }
}

void TestForm::styleSheetsParse()
{
    // A sheet that does not parse is dropped with a warning and the widget falls back to the
    // platform look, so any such warning while the form is built and every page drawn is a fault.
    // Sheets are parsed as soon as they are set, so this builds a form of its own under the handler.
    parseWarnings.clear();
    previousHandler = qInstallMessageHandler(collectParseWarnings);
    {
        QMainWindow own;
        Ui::MainWindow form;
        form.setupUi(&own);
        const QList<QWidget *> widgets = own.findChildren<QWidget *>();
        for (QWidget *widget : widgets)
            widget->ensurePolished();
        for (int i = 0; i < form.stackedWidget->count(); ++i) {
            form.stackedWidget->setCurrentIndex(i);
            own.grab();
        }
    }
    qInstallMessageHandler(previousHandler);
    QVERIFY2(parseWarnings.isEmpty(), qPrintable(parseWarnings.join(QLatin1Char('\n'))));
}

void TestForm::pixels_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QColor>("colour");

    // Window coordinates; the pages sit at (140, 90).
    const QColor background(26, 25, 25);
    QTest::newRow("checked sidebar button, gradient start") << 1 << QPoint(3, 120) << QColor(17, 146, 207);
    QTest::newRow("checked sidebar button, gradient end") << 1 << QPoint(128, 120) << QColor(9, 74, 105);
    QTest::newRow("unchecked sidebar button is transparent") << 1 << QPoint(5, 255) << background;
    QTest::newRow("sidebar button border") << 1 << QPoint(0, 255) << QColor(112, 112, 112);
    QTest::newRow("separator line") << 1 << QPoint(500, 80) << QColor(112, 112, 112);
    QTest::newRow("connection dot") << 1 << QPoint(802, 22) << QColor(255, 0, 0);
    QTest::newRow("page background") << 1 << QPoint(145, 485) << background;
    QTest::newRow("round LED pbB1 is white")
        << 1 << QPoint(140 + 143 + 12, 90 + 27 + 12) << QColor(Qt::white);
    QTest::newRow("square LED pbT1 is white") << 1 << QPoint(140 + 302 + 6, 90 + 73 + 6) << QColor(Qt::white);
    QTest::newRow("red preset") << 1 << QPoint(140 + 720 + 12, 90 + 150 + 12) << QColor(255, 0, 0);
    QTest::newRow("orange preset") << 1 << QPoint(140 + 720 + 12, 90 + 180 + 12) << QColor(255, 85, 0);
    QTest::newRow("dark preset") << 1 << QPoint(140 + 720 + 12, 90 + 360 + 12) << QColor(0, 0, 0);
    QTest::newRow("indicator pbIB1 is blue")
        << 0 << QPoint(140 + 120 + 4, 90 + 43 + 12) << QColor(0, 117, 190);
    QTest::newRow("empty paddle bar is white")
        << 0 << QPoint(140 + 130 + 50, 90 + 290 + 5) << QColor(Qt::white);
    QTest::newRow("calibrate button face")
        << 0 << QPoint(140 + 150 + 30, 90 + 305 + 1) << QColor(0, 117, 190);
}

void TestForm::pixels()
{
    QFETCH(int, page);
    QFETCH(QPoint, point);
    QFETCH(QColor, colour);
    ui.stackedWidget->setCurrentIndex(page);
    const QImage image = window->grab().toImage();
    QCOMPARE(image.size(), QSize(900, 500));
    const QColor seen = image.pixelColor(point);
    const int tolerance = 8;
    const bool close = qAbs(seen.red() - colour.red()) <= tolerance &&
                       qAbs(seen.green() - colour.green()) <= tolerance &&
                       qAbs(seen.blue() - colour.blue()) <= tolerance;
    QVERIFY2(close, qPrintable(QStringLiteral("seen %1, expected %2").arg(seen.name(), colour.name())));
}

void TestForm::textsGoThroughTranslation()
{
    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    ui.retranslateUi(window.get());
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(window->windowTitle(), QStringLiteral("<Quor Controls Setting>"));
    QCOMPARE(ui.pbIB2->text(), QStringLiteral("<7>"));
    QCOMPARE(ui.gpClutch->title(), QStringLiteral("<CLUTCH BITE POINT>"));
    QCOMPARE(ui.lbBite->text(), QStringLiteral("<50.00%>"));
    int marked = 0;
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        QString text;
        if (auto *box = qobject_cast<QGroupBox *>(widget))
            text = box->title();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        else if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        if (text.isEmpty())
            continue;
        QVERIFY2(text.startsWith(QLatin1Char('<')) && text.endsWith(QLatin1Char('>')), qPrintable(text));
        ++marked;
    }
    // 52 indicator numbers and 43 captions, titles and button texts.
    QCOMPARE(marked, 95);
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
