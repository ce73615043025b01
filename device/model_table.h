#pragma once

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <vector>

// The eight wheel models the program knows, as constant data: what each one
// looks like in the window and how it is updated. The window code walks these
// rows; nothing here touches a widget.

// The look a widget gets when a layout places it. The numeric values are the
// ones the layout code and the LED pages agree on.
enum class PlacementStyle
{
    None = 0,      // keep the form's own style and size
    Indicator = 1, // blue round input indicator, 24 x 24
    CircleLed = 2, // white round LED button, 24 x 24
    SquareLed = 3, // white square LED button, 12 x 12
};

// A widget's top-left corner in its page (page1 for controls and indicators,
// page2 for LED buttons) and the look it takes there.
struct Placement
{
    const char *name;
    int x;
    int y;
    PlacementStyle style;
};

// A page-1 control (slider, caption, paddle bar, calibrate button): moved and
// then shown or hidden; its style is never touched.
struct ControlPlacement
{
    const char *name;
    int x;
    int y;
    bool shown;
};

// A read-only window onto a constant array, so that rows of different lengths
// can sit in one table without allocating.
template<typename T> class TableView
{
public:
    constexpr TableView() = default;
    template<std::size_t N> constexpr TableView(const T (&rows)[N]) : m_rows(rows), m_count(N) {}
    constexpr TableView(const T *rows, std::size_t count) : m_rows(rows), m_count(count) {}

    constexpr const T *begin() const { return m_rows; }
    constexpr const T *end() const { return m_rows + m_count; }
    constexpr std::size_t size() const { return m_count; }
    constexpr bool empty() const { return m_count == 0; }
    constexpr const T &operator[](std::size_t i) const { return m_rows[i]; }

private:
    const T *m_rows = nullptr;
    std::size_t m_count = 0;
};

// When pbXL / pbXR (the two extra LEDs) appear on the LED page.
enum class ExtraLedRule
{
    Never,
    Always,     // listed among the model's LED buttons
    IfReported, // placed from extraLedButtons when the wheel's extra-LED record says so
};

// Which of pgAdcL/pgAdcR and pbCalL/pbCalR the model shows. The page-1
// control list carries the actual positions; this summarises it.
enum class PaddleBarRule
{
    Shown,
    Hidden,
    CalibrateOnly, // calibrate buttons without the bars
};

// How an image reaches the wheel.
enum class UpdateRoute
{
    HidStream,  // feature reports over the running wheel's HID link
    BootLoader, // the wheel reboots into its USB DFU boot loader
};

struct ModelEntry
{
    const char *code;         // looked for in the wheel's name, case-sensitive
    const char *updateFolder; // appended to the update base URL
    const char *picture;      // resource path of the model's front view
    const char *background;   // style sheet for lbMain (and lbMainRGB with an LED page)
    // Replacement for the default header, as a source text for tr() in the
    // MainWindow context; null keeps "QUOR CONTROLS <name>".
    const char *header;
    int headerIconX; // lbIcon's x with the replacement header, -1 without one
    bool ledPage;    // pbS2 enabled, LED buttons placed
    ExtraLedRule extraLeds;
    bool clutchWidgets;    // cbClutch and gpClutch shown
    bool hideShifterGroup; // gpShifter hidden
    bool extraShifters;    // cbShifter shown and the extra-shifter state read
    PaddleBarRule paddleBars;
    std::uint8_t statusPoll; // battery and link asked for again while connected
    UpdateRoute updateRoute;
    int ledPages;        // pages of the LED frame it is asked for and sent
    bool sendsExtraLeds; // pbXL/pbXR colours go out in their own report
    bool readsExtraLeds; // and the wheel keeps them to be read back
    TableView<ControlPlacement> controls;
    TableView<Placement> indicators;      // placed hidden: lit only while pressed
    TableView<Placement> ledButtons;      // placed shown
    TableView<Placement> extraLedButtons; // pbXL/pbXR for ExtraLedRule::IfReported
};

class ModelTable
{
public:
    // All rows, in the order they are tested against a name.
    static TableView<ModelEntry> entries();
    // The rows whose code occurs in name (case-sensitive), in table order. A
    // name may hold several codes; every matching row applies, later ones win.
    static std::vector<const ModelEntry *> matching(const QString &name);
    // The row that speaks for this name: the last of matching(), as in the
    // layout, or null.
    static const ModelEntry *forName(const QString &name);
    // The row with exactly this code, or null.
    static const ModelEntry *byCode(const char *code);
};

template<typename T> const T *findPlacement(TableView<T> rows, const char *name)
{
    for (const T &row : rows) {
        if (qstrcmp(row.name, name) == 0)
            return &row;
    }
    return nullptr;
}

// A digest of everything a model picture is drawn from (names, positions and
// looks of the indicators and LED buttons). The picture generator stamps it
// into each picture so that a picture drawn for an older layout is noticed.
std::uint64_t placementFingerprint(const ModelEntry &entry);
