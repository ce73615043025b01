#include "device/model_layout.h"

#include "device/command_report.h"
#include "device/device_handle.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>
#include <QLabel>
#include <QWidget>

#include <array>

#ifndef QUORSET_UPDATE_BASE_URL
#error "QUORSET_UPDATE_BASE_URL must come from the build"
#endif

namespace {

// Texts of the window, translated in its own context.
const char *const kTranslationContext = "MainWindow";
const char *const kDefaultHeader = QT_TRANSLATE_NOOP("MainWindow", "QUOR CONTROLS ");

constexpr int kDefaultIconX = 310;

struct StyleLook
{
    const char *sheet; // null: leave the form's sheet
    int size;          // edge length set by placeShown; 0: leave the size
};

// Indexed by PlacementStyle.
constexpr std::array<StyleLook, 4> kLooks{{
    {nullptr, 0},
    {"QPushButton {border-radius: 12px; background-color: rgb(0,117,190); border: 1px solid white; color: "
     "white;}",
     24},
    {"QPushButton {border-radius: 12px; background-color: rgb(255,255,255); border: 1px solid white; color: "
     "white;}",
     24},
    {"QPushButton {border-radius: 4px; background-color: rgb(255,255,255); border: 1px solid white; color: "
     "white;}",
     12},
}};

const StyleLook &lookOf(PlacementStyle style)
{
    return kLooks[static_cast<std::size_t>(style)];
}

// Page-1 controls that every model starts with, and the LED page's shifter
// slider that only the paddles page uses.
constexpr std::array<const char *, 8> kPreludeShown{"pbCalL", "pgAdcR",    "pbCalR",    "pgAdcL",
                                                    "lbEnc",  "hsTrigger", "lbTrigger", "pbSaveEnc"};
constexpr std::array<const char *, 3> kPreludeInvisible{"lbSht", "hsShifter", "lbShifter"};
constexpr std::array<const char *, 4> kModelPages{"pbS1", "pbS2", "pbS3", "pbS4"};
// Every LED button of page2 except the two extra LEDs.
constexpr std::array<const char *, 5> kLedButtonPrefixes{"pbT", "pbB", "pbD", "pbIB", "pbID"};
constexpr std::array<const char *, 7> kPreludeHidden{"pbXL",     "pbXR",     "pbIExL",   "pbIExR",
                                                     "cbClutch", "gpClutch", "cbShifter"};
constexpr std::array<const char *, 4> kPaddleBars{"pgAdcL", "pbCalL", "pgAdcR", "pbCalR"};

// The window's widgets by object name, gathered once per layout.
class FormWidgets
{
public:
    explicit FormWidgets(QWidget *form)
    {
        if (!form)
            return;
        for (QWidget *widget : form->findChildren<QWidget *>()) {
            const QString name = widget->objectName();
            if (!name.isEmpty() && !m_byName.contains(name))
                m_byName.insert(name, widget);
        }
    }

    QWidget *find(const char *name) const
    {
        QWidget *widget = m_byName.value(QLatin1String(name));
        if (!widget)
            qDebug() << "layout: no widget named" << name;
        return widget;
    }

    template<typename Fn> void each(const char *name, Fn fn) const
    {
        if (QWidget *widget = find(name))
            fn(widget);
    }

private:
    QHash<QString, QWidget *> m_byName;
};

QString translated(const char *text)
{
    return QCoreApplication::translate(kTranslationContext, text);
}

void moveX(QWidget *widget, int x)
{
    widget->move(x, widget->y());
}

void setLabelText(const FormWidgets &form, const char *name, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(form.find(name)))
        label->setText(text);
}

void setSheet(const FormWidgets &form, const char *name, const char *sheet)
{
    form.each(name, [sheet](QWidget *w) { setStyleSheetIfChanged(w, QLatin1String(sheet)); });
}

void hideLedButtons(const FormWidgets &form)
{
    QWidget *page = form.find("page2");
    if (!page)
        return;
    for (QObject *child : page->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget)
            continue;
        const QString name = widget->objectName();
        for (const char *prefix : kLedButtonPrefixes) {
            if (name.startsWith(QLatin1String(prefix), Qt::CaseSensitive)) {
                widget->hide();
                widget->setEnabled(false);
                break;
            }
        }
    }
}

void runPrelude(const QString &name, const FormWidgets &form, const ModelLayoutHost &host)
{
    setLabelText(form, "lbHead", translated(kDefaultHeader) + name);
    form.each("lbIcon", [](QWidget *w) { moveX(w, kDefaultIconX); });
    for (const char *widget : kPreludeShown)
        form.each(widget, [](QWidget *w) { w->setVisible(true); });
    for (const char *widget : kPreludeInvisible)
        form.each(widget, [](QWidget *w) { w->setVisible(false); });
    for (const char *button : kModelPages)
        form.each(button, [](QWidget *w) { w->setEnabled(true); });
    hideLedButtons(form);
    for (const char *widget : kPreludeHidden)
        form.each(widget, [](QWidget *w) { w->hide(); });
    if (host.shifterStatus)
        host.shifterStatus();
    for (const char *widget : kPaddleBars)
        form.each(widget, [](QWidget *w) { w->hide(); });
}

void placeAllShown(const FormWidgets &form, TableView<Placement> rows)
{
    for (const Placement &row : rows)
        form.each(row.name, [&row](QWidget *w) { placeShown(w, row.x, row.y, row.style); });
}

void placeAllHidden(const FormWidgets &form, TableView<Placement> rows)
{
    for (const Placement &row : rows)
        form.each(row.name, [&row](QWidget *w) { placeHidden(w, row.x, row.y, row.style); });
}

void placeControls(const FormWidgets &form, TableView<ControlPlacement> rows)
{
    for (const ControlPlacement &row : rows) {
        form.each(row.name, [&row](QWidget *w) {
            if (row.shown)
                placeShown(w, row.x, row.y, PlacementStyle::None);
            else
                placeHidden(w, row.x, row.y, PlacementStyle::None);
        });
    }
}

// The wheel says in byte 2 of its extra-LED record whether the two extra LEDs
// are fitted. The reply lands in the layout's own buffer, zeroed when the
// layout began: without a wheel nothing is sent and the zero reads as "not
// fitted"; a failed read leaves the request, whose byte 2 (0x11) reads the same.
bool extraLedsReported(DeviceHandle *device, CommandReport &reply)
{
    if (device && device->isOpen()) {
        reply = makeQuery(Record::ExtraLedRecord);
        device->query(reply.data(), kCommandSendLength, kCommandReplyLength);
    }
    return parseExtraLedRecord(reply).present();
}

void applyEntry(const ModelEntry &entry, const FormWidgets &form, const ModelLayoutHost &host,
                CommandReport &extraLedReply, ModelLayoutResult &result)
{
    if (entry.header) {
        form.each("lbIcon", [&entry](QWidget *w) { moveX(w, entry.headerIconX); });
        setLabelText(form, "lbHead", translated(entry.header));
    }
    result.updateUrl = updateUrlFor(entry);
    setSheet(form, "lbMain", entry.background);

    placeControls(form, entry.controls);
    placeAllHidden(form, entry.indicators);

    form.each("pbS2", [&entry](QWidget *w) { w->setEnabled(entry.ledPage); });
    if (entry.ledPage) {
        setSheet(form, "lbMainRGB", entry.background);
        placeAllShown(form, entry.ledButtons);
    }

    if (entry.clutchWidgets) {
        form.each("cbClutch", [](QWidget *w) { w->show(); });
        form.each("gpClutch", [](QWidget *w) { w->show(); });
    }
    if (entry.hideShifterGroup)
        form.each("gpShifter", [](QWidget *w) { w->hide(); });

    if (entry.extraLeds == ExtraLedRule::IfReported && extraLedsReported(host.device, extraLedReply))
        placeAllShown(form, entry.extraLedButtons);

    if (entry.extraShifters) {
        form.each("cbShifter", [](QWidget *w) { w->show(); });
        if (host.loadExtraShiftersEnabled)
            host.loadExtraShiftersEnabled();
    }

    result.statusPoll = entry.statusPoll;
    ++result.entriesApplied;
}

} // namespace

QString placementStyleSheet(PlacementStyle style)
{
    const char *sheet = lookOf(style).sheet;
    return sheet ? QLatin1String(sheet) : QString();
}

void placeShown(QWidget *widget, int x, int y, PlacementStyle style)
{
    widget->move(x, y);
    widget->show();
    widget->setEnabled(true);
    const StyleLook &look = lookOf(style);
    if (!look.sheet)
        return;
    setStyleSheetIfChanged(widget, QLatin1String(look.sheet));
    widget->resize(look.size, look.size);
}

void placeHidden(QWidget *widget, int x, int y, PlacementStyle style)
{
    widget->move(x, y);
    widget->hide();
    widget->setEnabled(true);
    if (const char *sheet = lookOf(style).sheet)
        setStyleSheetIfChanged(widget, QLatin1String(sheet));
}

void setStyleSheetIfChanged(QWidget *widget, const QString &sheet)
{
    if (widget->styleSheet() != sheet)
        widget->setStyleSheet(sheet);
}

namespace {
QString &updateBaseUrlOverride()
{
    static QString url;
    return url;
}
} // namespace

QString updateBaseUrl()
{
    const QString &url = updateBaseUrlOverride();
    return url.isEmpty() ? QStringLiteral(QUORSET_UPDATE_BASE_URL) : url;
}

void setUpdateBaseUrl(const QString &url)
{
    updateBaseUrlOverride() = url;
}

QString updateUrlFor(const ModelEntry &entry)
{
    return updateBaseUrl() + QLatin1String(entry.updateFolder);
}

ModelLayoutResult applyModelLayout(const QString &name, const ModelLayoutHost &host)
{
    const FormWidgets form(host.form);
    CommandReport extraLedReply{};
    ModelLayoutResult result;

    runPrelude(name, form, host);
    for (const ModelEntry *entry : ModelTable::matching(name))
        applyEntry(*entry, form, host, extraLedReply, result);
    return result;
}

std::optional<QString> readModelName(DeviceHandle &device)
{
    if (!device.isOpen())
        return std::nullopt;
    CommandReport reply = makeQuery(Record::ModelNameRecord);
    device.query(reply.data(), kCommandSendLength, kCommandReplyLength);
    return parseModelName(reply);
}
