#include "app/accessible_names.h"

#include "device/model_table.h"

#include <QAbstractButton>
#include <QColor>
#include <QCoreApplication>
#include <QHash>
#include <QPoint>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

struct Named
{
    const char *widget;
    const char *name;
    const char *description; // null: none
};

// The picture carries the meaning of every one of these.
const Named kFixed[] = {
    {"pbMin", QT_TRANSLATE_NOOP("MainWindow", "Minimise"), nullptr},
    {"pbClose", QT_TRANSLATE_NOOP("MainWindow", "Close"),
     QT_TRANSLATE_NOOP("MainWindow", "Closes the program")},
    {"pgAdcL", QT_TRANSLATE_NOOP("MainWindow", "Left clutch paddle"), nullptr},
    {"pgAdcR", QT_TRANSLATE_NOOP("MainWindow", "Right clutch paddle"), nullptr},
    {"pgUpgrade", QT_TRANSLATE_NOOP("MainWindow", "Firmware update progress"), nullptr},
    {"hsTrigger", QT_TRANSLATE_NOOP("MainWindow", "Encoder pulse width"),
     QT_TRANSLATE_NOOP("MainWindow", "Milliseconds")},
    {"hsShifter", QT_TRANSLATE_NOOP("MainWindow", "Shifter pulse width"),
     QT_TRANSLATE_NOOP("MainWindow", "Milliseconds")},
    {"hsBite", QT_TRANSLATE_NOOP("MainWindow", "Bite point"),
     QT_TRANSLATE_NOOP("MainWindow", "Hundredths of a percent of the paddle's travel")},
    {"lePath", QT_TRANSLATE_NOOP("MainWindow", "Firmware file or address"), nullptr},
    {"pbPath", QT_TRANSLATE_NOOP("MainWindow", "Choose firmware file"), nullptr},
    {"pbCalL", nullptr, QT_TRANSLATE_NOOP("MainWindow", "Travel of the left clutch paddle")},
    {"pbCalR", nullptr, QT_TRANSLATE_NOOP("MainWindow", "Travel of the right clutch paddle")},
    {"pbBearLCa", nullptr, QT_TRANSLATE_NOOP("MainWindow", "Left shifter threshold")},
    {"pbBearRCa", nullptr, QT_TRANSLATE_NOOP("MainWindow", "Right shifter threshold")},
    {"pbBearExLCa", nullptr, QT_TRANSLATE_NOOP("MainWindow", "Extra left shifter threshold")},
    {"pbBearExRCa", nullptr, QT_TRANSLATE_NOOP("MainWindow", "Extra right shifter threshold")},
    {"pbSetW", QT_TRANSLATE_NOOP("MainWindow", "White"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSetR", QT_TRANSLATE_NOOP("MainWindow", "Red"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSet3", QT_TRANSLATE_NOOP("MainWindow", "Orange"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSet4", QT_TRANSLATE_NOOP("MainWindow", "Yellow"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSetG", QT_TRANSLATE_NOOP("MainWindow", "Green"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSet1", QT_TRANSLATE_NOOP("MainWindow", "Sky blue"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSetB", QT_TRANSLATE_NOOP("MainWindow", "Blue"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSet2", QT_TRANSLATE_NOOP("MainWindow", "Magenta"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown")},
    {"pbSetD", QT_TRANSLATE_NOOP("MainWindow", "Off"),
     QT_TRANSLATE_NOOP("MainWindow", "Paints every LED shown black, which turns it off")},
    {"lbMain", QT_TRANSLATE_NOOP("MainWindow", "Wheel buttons"),
     QT_TRANSLATE_NOOP("MainWindow", "The wheel's front; a button's dot lights up while it is pressed")},
    {"lbMainRGB", QT_TRANSLATE_NOOP("MainWindow", "Wheel LEDs"),
     QT_TRANSLATE_NOOP("MainWindow", "The wheel's front; each LED's dot shows its colour")},
    {"lbIcon", QT_TRANSLATE_NOOP("MainWindow", "Quor Controls logo"), nullptr},
    {"label", QT_TRANSLATE_NOOP("MainWindow", "Quor Controls"), nullptr},
};

// The input indicators; their text is the wheel's button number.
const char *const kIndicatorPrefixes[] = {"pbI", "pbJ", "pbSW"};
const char *const kLedPrefixes[] = {"pbT", "pbB", "pbD", "pbX"};

template<std::size_t N> bool startsWithAny(const QString &name, const char *const (&prefixes)[N])
{
    for (const char *prefix : prefixes) {
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

// The form always has these; a missing one is a broken build, not a case.
QWidget *findNamed(QWidget *window, const char *name)
{
    auto *widget = window->findChild<QWidget *>(QLatin1String(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

// An LED and an indicator this close (centre to centre, in pixels of their
// pages, which share one picture geometry) mark the same button.
constexpr int kSameSpot = 8;

QPoint centre(const Placement &p)
{
    const int size = p.style == PlacementStyle::SquareLed ? 12 : 24;
    return {p.x + size / 2, p.y + size / 2};
}

// The lights of the rows above the buttons, by their place in the row; the
// longer prefixes first.
struct LightRow
{
    const char *prefix;
    const char *name; // "%1": the place in the row
};
const LightRow kLightRows[] = {
    {"pbTL", QT_TRANSLATE_NOOP("MainWindow", "Left light %1")},
    {"pbTR", QT_TRANSLATE_NOOP("MainWindow", "Right light %1")},
    {"pbXL", QT_TRANSLATE_NOOP("MainWindow", "Left extra light")},
    {"pbXR", QT_TRANSLATE_NOOP("MainWindow", "Right extra light")},
    {"pbT", QT_TRANSLATE_NOOP("MainWindow", "Shift light %1")},
};

QString lightName(const QString &led)
{
    for (const LightRow &row : kLightRows) {
        const QLatin1String prefix(row.prefix);
        if (!led.startsWith(prefix))
            continue;
        const QString name = tr(row.name);
        return name.contains(QLatin1String("%1")) ? name.arg(led.mid(prefix.size())) : name;
    }
    // pbB3, pbD13: a light of the wheel's face that no button sits on.
    return tr("Light %1").arg(led.mid(2));
}

} // namespace

namespace AccessibleNames {

void nameFixedControls(QWidget *window)
{
    // One walk over the form's two hundred widgets, not one per row: this
    // runs while the window waits to be shown.
    QHash<QString, QWidget *> byName;
    for (QWidget *widget : window->findChildren<QWidget *>())
        byName.insert(widget->objectName(), widget);
    for (const Named &row : kFixed) {
        QWidget *widget = byName.value(QLatin1String(row.widget));
        if (!widget)
            continue;
        if (row.name)
            widget->setAccessibleName(tr(row.name));
        if (row.description)
            widget->setAccessibleDescription(tr(row.description));
    }
    // Indicators live on the INPUTS page, LED buttons on the RGB page; the
    // paddles page has buttons with the same prefixes (pbBear*).
    for (auto *button : findNamed(window, "page1")->findChildren<QAbstractButton *>()) {
        if (startsWithAny(button->objectName(), kIndicatorPrefixes)) {
            button->setAccessibleName(tr("Button %1").arg(button->text()));
            button->setAccessibleDescription(tr("Lights up while the button is pressed"));
        }
    }
    for (auto *button : findNamed(window, "page2")->findChildren<QAbstractButton *>()) {
        if (startsWithAny(button->objectName(), kLedPrefixes))
            button->setAccessibleName(lightName(button->objectName()));
    }
    if (auto *dot = window->findChild<QWidget *>(QStringLiteral("pbStatus")))
        nameStatusDot(dot, false);
}

void nameLedButtons(QWidget *window, const QString &deviceName)
{
    // Later rows win, as in the layout itself.
    QHash<QString, Placement> indicators, leds;
    for (const ModelEntry *entry : ModelTable::matching(deviceName)) {
        for (const Placement &p : entry->indicators)
            indicators.insert(QLatin1String(p.name), p);
        for (const Placement &p : entry->ledButtons)
            leds.insert(QLatin1String(p.name), p);
        for (const Placement &p : entry->extraLedButtons)
            leds.insert(QLatin1String(p.name), p);
    }
    // Runs on every connection: the geometry rules out an indicator before
    // any search by name does, and the searches stay within their page.
    QWidget *inputsPage = findNamed(window, "page1");
    QWidget *lightsPage = findNamed(window, "page2");
    for (auto led = leds.cbegin(); led != leds.cend(); ++led) {
        auto *button = lightsPage->findChild<QAbstractButton *>(led.key());
        if (!button)
            continue;
        QList<int> numbers;
        for (const Placement &p : indicators) {
            const QPoint d = centre(p) - centre(*led);
            if (std::abs(d.x()) > kSameSpot || std::abs(d.y()) > kSameSpot)
                continue;
            if (auto *indicator = inputsPage->findChild<QAbstractButton *>(QLatin1String(p.name)))
                numbers << indicator->text().toInt();
        }
        std::sort(numbers.begin(), numbers.end());
        if (numbers.isEmpty())
            button->setAccessibleName(lightName(led.key()));
        else if (numbers.size() == 1)
            button->setAccessibleName(tr("LED of button %1").arg(numbers.first()));
        else {
            QStringList list;
            for (int n : numbers)
                list << QString::number(n);
            button->setAccessibleName(tr("LED of buttons %1").arg(list.join(QStringLiteral(", "))));
        }
    }
}

void describeLedColour(QWidget *button, const QColor &colour)
{
    button->setAccessibleDescription(colour.isValid() ? tr("Red %1, green %2, blue %3")
                                                            .arg(QString::number(colour.red()),
                                                                 QString::number(colour.green()),
                                                                 QString::number(colour.blue()))
                                                      : tr("No colour"));
}

void nameStatusDot(QWidget *dot, bool connected)
{
    dot->setAccessibleName(connected ? tr("Wheel connected") : tr("No wheel"));
}

} // namespace AccessibleNames
