#include "device/model_table.h"

#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QSet>
#include <QtTest>

namespace {

QStringList numbered(const char *prefix, int first, int last)
{
    QStringList names;
    for (int i = first; i <= last; ++i)
        names << QLatin1String(prefix) + QString::number(i);
    return names;
}

QStringList encoderIndicators()
{
    QStringList names;
    for (int n = 1; n <= 8; ++n)
        names << QStringLiteral("pbID%1L").arg(n) << QStringLiteral("pbID%1R").arg(n);
    return names;
}

// The form's input indicators, one per joystick button 1..52.
const QStringList kInputIndicators =
    QStringList{QStringLiteral("pbISW1"),  QStringLiteral("pbISW2"), QStringLiteral("pbIBarL"),
                QStringLiteral("pbIBarR"), QStringLiteral("pbSWL"),  QStringLiteral("pbSWR"),
                QStringLiteral("pbIExL"),  QStringLiteral("pbIExR"), QStringLiteral("pbIEbL"),
                QStringLiteral("pbIEbR"),  QStringLiteral("pbJsLC"), QStringLiteral("pbJsLL"),
                QStringLiteral("pbJsLR"),  QStringLiteral("pbJsRC"), QStringLiteral("pbJsRL"),
                QStringLiteral("pbJsRR")} +
    numbered("pbIB", 1, 6) + numbered("pbIB", 9, 14) + numbered("pbJsL", 1, 4) + numbered("pbJsR", 1, 4) +
    encoderIndicators();

// The form's LED buttons.
const QStringList kLedButtons =
    numbered("pbB", 1, 6) + numbered("pbB", 9, 14) + numbered("pbT", 1, 19) + numbered("pbTL", 1, 3) +
    numbered("pbTR", 1, 3) +
    QStringList{QStringLiteral("pbD3"),  QStringLiteral("pbD4"),  QStringLiteral("pbD13"),
                QStringLiteral("pbD16"), QStringLiteral("pbD23"), QStringLiteral("pbD26"),
                QStringLiteral("pbXL"),  QStringLiteral("pbXR")};

const QStringList kPageOneControls = {QStringLiteral("lbEnc"),     QStringLiteral("hsTrigger"),
                                      QStringLiteral("lbTrigger"), QStringLiteral("pgAdcL"),
                                      QStringLiteral("pbCalL"),    QStringLiteral("pgAdcR"),
                                      QStringLiteral("pbCalR")};

// Where the model picture stands on both pages.
const QRect kPictureLabel(61, 9, 640, 365);

template<typename T> QStringList namesOf(TableView<T> rows)
{
    QStringList names;
    for (const T &row : rows)
        names << QLatin1String(row.name);
    return names;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList duplicates(const QStringList &names)
{
    QStringList seen;
    QStringList twice;
    for (const QString &name : names) {
        if (seen.contains(name))
            twice << name;
        seen << name;
    }
    return twice;
}

const ModelEntry *model(const QString &code)
{
    return ModelTable::byCode(code.toLatin1().constData());
}

void addModelRows()
{
    QTest::addColumn<QString>("code");
    for (const ModelEntry &entry : ModelTable::entries())
        QTest::newRow(entry.code) << QString::fromLatin1(entry.code);
}

// The most a placed widget can cover: square LEDs shrink to 12 x 12, every
// other look keeps at most the form's largest size, 26 x 25.
QRect coveredRect(const Placement &placement)
{
    if (placement.style == PlacementStyle::SquareLed)
        return QRect(placement.x, placement.y, 12, 12);
    return QRect(placement.x, placement.y, 26, 25);
}

} // namespace

class TestModelTable : public QObject
{
    Q_OBJECT

private slots:
    void rowsAreTestedInOrder();
    void folderPictureAndBackgroundAgree_data() { addModelRows(); }
    void folderPictureAndBackgroundAgree();
    void placedNamesAreFormWidgets_data() { addModelRows(); }
    void placedNamesAreFormWidgets();
    void noWidgetPlacedTwice_data() { addModelRows(); }
    void noWidgetPlacedTwice();
    void partsOfOneControlShareAPosition_data() { addModelRows(); }
    void partsOfOneControlShareAPosition();
    void placementsLieOnThePicture_data() { addModelRows(); }
    void placementsLieOnThePicture();
    void shownLedButtons_data();
    void shownLedButtons();
    void extraLedRuleMatchesPlacements_data() { addModelRows(); }
    void extraLedRuleMatchesPlacements();
    void paddleBarRuleMatchesControls_data() { addModelRows(); }
    void paddleBarRuleMatchesControls();
    void matchingIsCaseSensitiveSubstring_data();
    void matchingIsCaseSensitiveSubstring();
    void fingerprintFollowsPositions_data();
    void fingerprintFollowsPositions();
    void modelPictureIsCurrent_data() { addModelRows(); }
    void modelPictureIsCurrent();
    void placementsSitOnTheDrawnWheel_data() { addModelRows(); }
    void placementsSitOnTheDrawnWheel();
    void windowPicture_data();
    void windowPicture();
    void trayIconLoads();
};

// Later rows win where two match one name, so the order is part of the table.
void TestModelTable::rowsAreTestedInOrder()
{
    QStringList codes;
    for (const ModelEntry &entry : ModelTable::entries())
        codes << QLatin1String(entry.code);
    QCOMPARE(codes, QStringList({QStringLiteral("H-ZET"), QStringLiteral("VLN6"), QStringLiteral("H-MIRA"),
                                 QStringLiteral("OV410"), QStringLiteral("KLINO4"), QStringLiteral("ULMAR"),
                                 QStringLiteral("SRD7"), QStringLiteral("PELIX")}));
}

void TestModelTable::folderPictureAndBackgroundAgree()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    const QString folder = QLatin1String(entry->updateFolder);
    QVERIFY2(folder.endsWith(QLatin1Char('/')), qPrintable(folder));
    // The folder word names both the server folder and the picture.
    QCOMPARE(QLatin1String(entry->picture), QStringLiteral(":/img/back.") + folder.chopped(1) + ".png");
    QCOMPARE(QLatin1String(entry->background),
             QStringLiteral("border-image: url(") + QLatin1String(entry->picture) + ")");
    QCOMPARE(folder.chopped(1), code.toLower().remove(QLatin1Char('-')));
}

void TestModelTable::placedNamesAreFormWidgets()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    for (const QString &name : namesOf(entry->indicators))
        QVERIFY2(kInputIndicators.contains(name), qPrintable(name));
    for (const QString &name : namesOf(entry->ledButtons) + namesOf(entry->extraLedButtons))
        QVERIFY2(kLedButtons.contains(name), qPrintable(name));
    for (const QString &name : namesOf(entry->controls))
        QVERIFY2(kPageOneControls.contains(name), qPrintable(name));
}

void TestModelTable::noWidgetPlacedTwice()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    QCOMPARE(duplicates(namesOf(entry->indicators)), QStringList());
    QCOMPARE(duplicates(namesOf(entry->ledButtons) + namesOf(entry->extraLedButtons)), QStringList());
    QCOMPARE(duplicates(namesOf(entry->controls)), QStringList());
}

// Both turning directions of an encoder are one knob, and the directions and
// push of a thumb stick are one stick: placed together or not at all.
void TestModelTable::partsOfOneControlShareAPosition()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    QList<QStringList> groups;
    for (int n = 1; n <= 8; ++n)
        groups << QStringList{QStringLiteral("pbID%1L").arg(n), QStringLiteral("pbID%1R").arg(n)};
    for (const QString &side : {QStringLiteral("L"), QStringLiteral("R")}) {
        QStringList stick;
        for (const char *part : {"1", "2", "3", "4", "C", "L", "R"})
            stick << QStringLiteral("pbJs") + side + part;
        groups << stick;
    }
    for (const QStringList &group : groups) {
        const Placement *first = findPlacement(entry->indicators, group.first().toLatin1().constData());
        for (const QString &name : group) {
            const Placement *part = findPlacement(entry->indicators, name.toLatin1().constData());
            QVERIFY2((first == nullptr) == (part == nullptr), qPrintable(name));
            if (part) {
                QCOMPARE(part->x, first->x);
                QCOMPARE(part->y, first->y);
            }
        }
    }
}

void TestModelTable::placementsLieOnThePicture()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    for (TableView<Placement> list : {entry->indicators, entry->ledButtons, entry->extraLedButtons}) {
        for (const Placement &placement : list)
            QVERIFY2(kPictureLabel.contains(coveredRect(placement)), placement.name);
    }
}

// The LED buttons each model shows, as the LED colour maps know them; the
// extra LEDs count for the models that show them only when the wheel has them.
void TestModelTable::shownLedButtons_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QStringList>("expected");
    const QStringList bButtons = numbered("pbB", 1, 6) + numbered("pbB", 9, 14);
    const QStringList dButtons = {QStringLiteral("pbD3"),  QStringLiteral("pbD4"),  QStringLiteral("pbD13"),
                                  QStringLiteral("pbD16"), QStringLiteral("pbD23"), QStringLiteral("pbD26")};
    const QStringList dRings = dButtons.mid(2);
    const QStringList extras = {QStringLiteral("pbXL"), QStringLiteral("pbXR")};
    const QStringList flags = numbered("pbTL", 1, 3) + numbered("pbTR", 1, 3);

    QTest::newRow("H-ZET") << "H-ZET" << bButtons + dButtons + extras;
    QTest::newRow("VLN6") << "VLN6" << bButtons + dButtons + numbered("pbT", 1, 11) + flags + extras;
    QTest::newRow("H-MIRA") << "H-MIRA" << QStringList();
    QTest::newRow("OV410") << "OV410"
                           << QStringList{QStringLiteral("pbB1"),  QStringLiteral("pbB2"),
                                          QStringLiteral("pbB4"),  QStringLiteral("pbB5"),
                                          QStringLiteral("pbB6"),  QStringLiteral("pbB9"),
                                          QStringLiteral("pbB10"), QStringLiteral("pbB12"),
                                          QStringLiteral("pbB13"), QStringLiteral("pbB14"),
                                          QStringLiteral("pbT3"),  QStringLiteral("pbT9")} +
                                  dButtons;
    QTest::newRow("KLINO4") << "KLINO4"
                            << QStringList{QStringLiteral("pbB1"),  QStringLiteral("pbB2"),
                                           QStringLiteral("pbB4"),  QStringLiteral("pbB6"),
                                           QStringLiteral("pbB9"),  QStringLiteral("pbB10"),
                                           QStringLiteral("pbB11"), QStringLiteral("pbB12"),
                                           QStringLiteral("pbB14")} +
                                   dRings + extras;
    QTest::newRow("ULMAR") << "ULMAR"
                           << bButtons + dRings + numbered("pbT", 1, 19) +
                                  QStringList{QStringLiteral("pbTL1"), QStringLiteral("pbTL3"),
                                              QStringLiteral("pbTR1"), QStringLiteral("pbTR3")} +
                                  extras;
    QTest::newRow("SRD7") << "SRD7"
                          << bButtons + dButtons + numbered("pbT", 1, 11) + numbered("pbTL", 1, 3) +
                                 QStringList{QStringLiteral("pbTR2"), QStringLiteral("pbTR3")} + extras;
    QTest::newRow("PELIX") << "PELIX"
                           << numbered("pbB", 1, 5) + numbered("pbB", 9, 12) + QStringList{"pbB14"} + dRings +
                                  numbered("pbT", 1, 9) + flags;
}

void TestModelTable::shownLedButtons()
{
    QFETCH(QString, code);
    QFETCH(QStringList, expected);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    const QStringList shown = namesOf(entry->ledButtons) + namesOf(entry->extraLedButtons);
    QCOMPARE(sorted(shown), sorted(expected));
    QCOMPARE(entry->ledPage, !expected.isEmpty());
    if (code == QLatin1String("SRD7"))
        QCOMPARE(entry->ledButtons.size(), std::size_t(36));
}

void TestModelTable::extraLedRuleMatchesPlacements()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    const bool listed = findPlacement(entry->ledButtons, "pbXL") && findPlacement(entry->ledButtons, "pbXR");
    const QStringList onRequest = sorted(namesOf(entry->extraLedButtons));
    switch (entry->extraLeds) {
    case ExtraLedRule::Always:
        QVERIFY(listed);
        QCOMPARE(onRequest, QStringList());
        break;
    case ExtraLedRule::IfReported:
        QVERIFY(!findPlacement(entry->ledButtons, "pbXL") && !findPlacement(entry->ledButtons, "pbXR"));
        QCOMPARE(onRequest, QStringList({QStringLiteral("pbXL"), QStringLiteral("pbXR")}));
        break;
    case ExtraLedRule::Never:
        QVERIFY(!findPlacement(entry->ledButtons, "pbXL") && !findPlacement(entry->ledButtons, "pbXR"));
        QCOMPARE(onRequest, QStringList());
        break;
    }
}

void TestModelTable::paddleBarRuleMatchesControls()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    auto shown = [entry](const char *name) {
        const ControlPlacement *control = findPlacement(entry->controls, name);
        return control && control->shown;
    };
    const bool bars = shown("pgAdcL") && shown("pgAdcR");
    const bool noBars = !shown("pgAdcL") && !shown("pgAdcR");
    const bool calibrate = shown("pbCalL") && shown("pbCalR");
    const bool noCalibrate = !shown("pbCalL") && !shown("pbCalR");
    switch (entry->paddleBars) {
    case PaddleBarRule::Shown:
        QVERIFY(bars && calibrate);
        break;
    case PaddleBarRule::Hidden:
        QVERIFY(noBars && noCalibrate);
        break;
    case PaddleBarRule::CalibrateOnly:
        QVERIFY(noBars && calibrate);
        break;
    }
    // The encoder pulse-width slider is on page 1 for every model.
    QVERIFY(shown("lbEnc") && shown("hsTrigger") && shown("lbTrigger"));
}

void TestModelTable::matchingIsCaseSensitiveSubstring_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("codes");
    QTest::newRow("plain") << "Quor SRD7 Wheel" << QStringList{"SRD7"};
    QTest::newRow("code alone") << "PELIX" << QStringList{"PELIX"};
    QTest::newRow("inside a word") << "XKLINO42" << QStringList{"KLINO4"};
    QTest::newRow("lower case") << "quor h-zet" << QStringList();
    QTest::newRow("mixed case") << "Srd7" << QStringList();
    QTest::newRow("two codes, table order") << "VLN6 / H-ZET" << QStringList{"H-ZET", "VLN6"};
    QTest::newRow("hyphen matters") << "HZET HMIRA" << QStringList();
    QTest::newRow("empty") << "" << QStringList();
}

void TestModelTable::matchingIsCaseSensitiveSubstring()
{
    QFETCH(QString, name);
    QFETCH(QStringList, codes);
    QStringList found;
    for (const ModelEntry *entry : ModelTable::matching(name))
        found << QLatin1String(entry->code);
    QCOMPARE(found, codes);
}

// The pictures carry the fingerprint of the layout they were drawn for; it
// must move with anything that moves a drawn part.
void TestModelTable::fingerprintFollowsPositions_data()
{
    QTest::addColumn<int>("change");
    QTest::newRow("x") << 0;
    QTest::newRow("y") << 1;
    QTest::newRow("look") << 2;
    QTest::newRow("widget") << 3;
}

void TestModelTable::fingerprintFollowsPositions()
{
    QFETCH(int, change);
    const ModelEntry *srd7 = model(QStringLiteral("SRD7"));
    QVERIFY(srd7);
    std::vector<Placement> rows(srd7->ledButtons.begin(), srd7->ledButtons.end());
    ModelEntry copy = *srd7;
    copy.ledButtons = TableView<Placement>(rows.data(), rows.size());
    QCOMPARE(placementFingerprint(copy), placementFingerprint(*srd7));

    Placement &row = rows[5];
    switch (change) {
    case 0:
        row.x += 1;
        break;
    case 1:
        row.y -= 1;
        break;
    case 2:
        row.style = PlacementStyle::SquareLed;
        break;
    case 3:
        row.name = "pbB7";
        break;
    }
    QVERIFY(placementFingerprint(copy) != placementFingerprint(*srd7));
}

void TestModelTable::modelPictureIsCurrent()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    QImageReader reader(QLatin1String(entry->picture));
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QCOMPARE(reader.size(), QSize(1280, 720));
    // Drawn for the layout the table holds now.
    QCOMPARE(reader.text(QStringLiteral("QuorSet-Layout")),
             QString::number(placementFingerprint(*entry), 16));
}

// The picture label stretches the picture over 640 x 365 at (61, 9): under
// the middle of every placed widget the picture must show the wheel, not the
// transparent background round it.
void TestModelTable::placementsSitOnTheDrawnWheel()
{
    QFETCH(QString, code);
    const ModelEntry *entry = model(code);
    QVERIFY(entry);
    const QImage picture(QLatin1String(entry->picture));
    QVERIFY(!picture.isNull());
    for (TableView<Placement> list : {entry->indicators, entry->ledButtons, entry->extraLedButtons}) {
        for (const Placement &placement : list) {
            const double half = placement.style == PlacementStyle::SquareLed ? 6 : 12;
            const QPoint pixel(
                qRound((placement.x + half - kPictureLabel.x()) * 1280.0 / kPictureLabel.width()),
                qRound((placement.y + half - kPictureLabel.y()) * 720.0 / kPictureLabel.height()));
            QVERIFY2(qAlpha(picture.pixel(pixel)) == 255, placement.name);
        }
    }
}

void TestModelTable::windowPicture_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("head") << ":/img/head.png" << QSize(2000, 131);
    QTest::newRow("logo") << ":/img/logo.png" << QSize(128, 128);
    QTest::newRow("about") << ":/img/about.png" << QSize(800, 250);
    QTest::newRow("close") << ":/img/close.png" << QSize(32, 32);
    QTest::newRow("close hover") << ":/img/closeh.png" << QSize(32, 32);
    QTest::newRow("min") << ":/img/min.png" << QSize(32, 32);
    QTest::newRow("min hover") << ":/img/minh.png" << QSize(32, 32);
}

void TestModelTable::windowPicture()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QImage image(path);
    QCOMPARE(image.size(), size);
}

void TestModelTable::trayIconLoads()
{
    const QIcon icon(QStringLiteral(":/img/main.ico"));
    QVERIFY(!icon.isNull());
    QVERIFY(!icon.pixmap(32, 32).isNull());
}

QTEST_MAIN(TestModelTable)
#include "tst_model_table.moc"
