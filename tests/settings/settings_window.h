// A window connected to the emulated wheel, for the settings tests: what the
// wheel was sent, what it keeps live and in flash, and the message boxes.
#pragma once

#include "prompt_recorder.h"
#include "wheel_fixture.h"

#include "app/mainwindow.h"
#include "device/device_handle.h"
#include "private_runtime_dir.h"

#include <QAbstractSlider>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>
#include <memory>

namespace settingstest {

using Settings = wheelemu::Wheel::Settings;

// One feature report as the transcript shows it, zero-padded to the 20 bytes
// the host sends.
inline QString report(std::initializer_list<int> bytes)
{
    QString line = QStringLiteral("set-feature");
    for (int b : bytes)
        line += QStringLiteral(" %1").arg(b & 0xFF, 2, 16, QLatin1Char('0'));
    return line + QStringLiteral(" 00").repeated(20 - int(bytes.size()));
}

inline QString setItem(int item, quint32 v, bool save)
{
    return report({0x02, 0x0c, item, int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24),
                   save ? 0xef : 0x00});
}

inline QString itemQuery(int item)
{
    return report({0x02, 0x0b, 0x0c, item});
}

inline QString paddleConfig(int biteWord, bool save, int rightMax, int leftMax, int rightMin, int leftMin)
{
    return report({0x02, 0x0a, biteWord, biteWord >> 8, save ? 0xef : 0x00, rightMax, rightMax >> 8, leftMax,
                   leftMax >> 8, rightMin, rightMin >> 8, leftMin, leftMin >> 8});
}

// The paddle configuration with the calibration words the wheel holds.
inline QString paddleConfig(const Settings &s, int biteWord, bool save)
{
    return paddleConfig(biteWord, save, s.rightMax, s.leftMax, s.rightMin, s.leftMin);
}

// Points the settings store at a directory of this test process, so that no
// test reads or writes the user's own encoder bindings. Call it before the
// first store is opened.
inline void usePrivateSettingsStore()
{
    static QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
}

// The emulated wheel and, once connect() ran, a window attached to it.
struct Rig
{
    explicit Rig(const char *model = "SRD7") : wheel(options(model)) { usePrivateSettingsStore(); }

    static wheeltest::WheelFixture::Options options(const char *model)
    {
        wheeltest::WheelFixture::Options o;
        o.model = model;
        return o;
    }

    // Puts a report straight into the wheel, as an earlier session would have.
    void preset(const QString &line)
    {
        std::vector<uint8_t> bytes;
        for (const QString &h : line.split(QLatin1Char(' ')).mid(1))
            bytes.push_back(static_cast<uint8_t>(h.toUInt(nullptr, 16)));
        wheel.withWheel([&bytes](wheelemu::Wheel &w) { w.setFeature(bytes.data(), bytes.size()); });
    }

    // A new window, connected, with the INPUTS page up: every initial read
    // and the status updates they schedule have run. Transcript and prompts
    // start empty.
    bool connect()
    {
        if (!wheel.ok())
            return false;
        window.reset(); // before the next one opens the wheel
        window = std::make_unique<MainWindow>();
        window->show();
        return settle();
    }
    bool settle()
    {
        auto *pages = widget<QStackedWidget>("stackedWidget");
        if (!QTest::qWaitFor([pages] { return deviceHandle().isOpen() && pages->currentIndex() == 0; }, 5000))
            return false;
        QTest::qWait(50);
        wheel.clearTranscript();
        prompts.clear();
        return true;
    }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QAbstractSlider *slider(const char *name) const { return widget<QAbstractSlider>(name); }
    QAbstractButton *button(const char *name) const { return widget<QAbstractButton>(name); }
    void click(const char *name) const { button(name)->click(); }
    QString text(const char *name) const { return button(name)->text(); }

    // A drag that ends at value: the slider sends on release only.
    void drag(const char *name, int value) const
    {
        slider(name)->setSliderDown(true);
        slider(name)->setValue(value);
        slider(name)->setSliderDown(false);
    }

    QStringList sent() const
    {
        QStringList out;
        for (const std::string &line : wheel.exchanges({"set-feature"}))
            out << QString::fromStdString(line);
        return out;
    }
    Settings stored(bool flash)
    {
        Settings s{};
        wheel.withWheel([&s, flash](wheelemu::Wheel &w) { s = flash ? w.flash() : w.live(); });
        return s;
    }
    Settings flash() { return stored(true); }
    Settings live() { return stored(false); }

    PrivateRuntimeDir runtimeDir;
    wheeltest::PromptRecorder prompts;
    wheeltest::WheelFixture wheel;
    std::unique_ptr<MainWindow> window;
};

#define CONNECT(rig) QVERIFY2((rig).connect(), (rig).wheel.error().c_str())

} // namespace settingstest
