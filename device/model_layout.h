#pragma once

#include "device/model_table.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

class DeviceHandle;
class QWidget;

// Turning the window into the attached wheel: reading the wheel's name and
// laying the window out for every model code the name contains. The rows
// themselves are ModelTable's; this walks them over the window's widgets,
// which it finds by object name.

// The looks a placed widget can get, as style sheets; empty for None.
QString placementStyleSheet(PlacementStyle style);

// Gives the widget the sheet unless it holds that sheet already. Qt parses a
// sheet and restyles its widget on every setStyleSheet, the same sheet or
// not, and a wheel that connects again (after a USB drop or a firmware
// update) gets the sheets it had: restyling them all again was most of the
// time its initial reads took.
void setStyleSheetIfChanged(QWidget *widget, const QString &sheet);

// Moves the widget to (x, y) in its parent, shows and enables it, then gives
// it the style's look and size (24 x 24, or 12 x 12 for SquareLed). None
// leaves style sheet and size alone.
void placeShown(QWidget *widget, int x, int y, PlacementStyle style);
// Moves the widget to (x, y), hides and enables it, and sets the style's
// sheet (None: none). Never resizes: input indicators wait here, hidden,
// until their button is pressed.
void placeHidden(QWidget *widget, int x, int y, PlacementStyle style);

// What the layout needs from the window besides its widgets.
struct ModelLayoutHost
{
    // The window (or any ancestor of its pages and header): every widget the
    // layout touches is looked up below it by object name.
    QWidget *form = nullptr;
    // For the extra-LED query of the models that ask for it. Nothing is sent
    // while no wheel is open, and the LEDs then stay hidden.
    DeviceHandle *device = nullptr;
    // Sizes the shifter group by the extra-shifter check box; run once by
    // the prelude. Skipped while unset.
    std::function<void()> shifterStatus;
    // Reads whether the wheel's extra shifters are on and sets the check box;
    // run for the models that have them. Skipped while unset.
    std::function<void()> loadExtraShiftersEnabled;
};

// What the window keeps from a layout. Both stay unset when no row matched,
// so the window keeps its previous values.
struct ModelLayoutResult
{
    std::optional<QString> updateUrl;
    std::optional<quint8> statusPoll;
    int entriesApplied = 0;
};

// The base of every model's update folder, fixed when the program is built.
QString updateBaseUrl();
// Points the update folders at another server, for the tests and the demo's
// local server; the program itself never calls it. An empty url restores
// the built-in one. Takes effect at the next model identification.
void setUpdateBaseUrl(const QString &url);
// updateBaseUrl() followed by the model's folder.
QString updateUrlFor(const ModelEntry &entry);

// The prelude (header, icon, page-1 controls, sidebar, no LED buttons, no
// extra LEDs, clutch or shifter widgets, no paddle bars), then every row whose
// code occurs in the name, in table order, each on its own: the later one
// wins where two touch the same widget.
ModelLayoutResult applyModelLayout(const QString &name, const ModelLayoutHost &host);

// The wheel's name (query 02 0B 0D), or nothing when no wheel is open or the
// reply does not echo 0x0D.
std::optional<QString> readModelName(DeviceHandle &device);
