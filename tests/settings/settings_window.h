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
#include <QRadioButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>
#include <memory>

namespace settingstest {

// One feature report as the transcript shows it: "set-feature 02 0c ...",
// padded with zeros to the 20 bytes the host sends.
inline QString report(std::initializer_list<int> bytes)
{
    QString line = QStringLiteral("set-feature");
    int count = 0;
    for (int b : bytes) {
        line += QStringLiteral(" %1").arg(b & 0xFF, 2, 16, QLatin1Char('0'));
        ++count;
    }
    for (; count < 20; ++count)
        line += QStringLiteral(" 00");
    return line;
}

inline QString setItem(int item, quint32 value, bool save)
{
    return report({0x02, 0x0c, item, int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF),
                   int(value >> 24), save ? 0xef : 0x00});
}

inline QString itemQuery(int item)
{
    return report({0x02, 0x0b, 0x0c, item});
}

inline QString paddleConfig(int biteWord, bool save, int rightMax, int leftMax, int rightMin, int leftMin)
{
    auto lo = [](int v) {
        return v & 0xFF;
    };
    auto hi = [](int v) {
        return (v >> 8) & 0xFF;
    };
    return report({0x02, 0x0a, lo(biteWord), hi(biteWord), save ? 0xef : 0x00, lo(rightMax), hi(rightMax),
                   lo(leftMax), hi(leftMax), lo(rightMin), hi(rightMin), lo(leftMin), hi(leftMin)});
}

// Puts a command straight into the wheel, as if an earlier session had
// stored it.
inline void preset(wheeltest::WheelFixture &wheel, const QString &line)
{
    const QStringList hex = line.split(QLatin1Char(' ')).mid(1);
    std::vector<uint8_t> bytes;
    for (const QString &h : hex)
        bytes.push_back(static_cast<uint8_t>(h.toUInt(nullptr, 16)));
    wheel.withWheel([&bytes](wheelemu::Wheel &w) { w.setFeature(bytes.data(), bytes.size()); });
}

inline QStringList sent(const wheeltest::WheelFixture &wheel)
{
    QStringList out;
    for (const std::string &line : wheel.exchanges({"set-feature"}))
        out << QString::fromStdString(line);
    return out;
}

inline wheelemu::Wheel::Settings flash(wheeltest::WheelFixture &wheel)
{
    wheelemu::Wheel::Settings s{};
    wheel.withWheel([&s](wheelemu::Wheel &w) { s = w.flash(); });
    return s;
}

inline wheelemu::Wheel::Settings live(wheeltest::WheelFixture &wheel)
{
    wheelemu::Wheel::Settings s{};
    wheel.withWheel([&s](wheelemu::Wheel &w) { s = w.live(); });
    return s;
}

// Points the settings store at a directory of this test process, so that no
// test reads or writes the user's own encoder bindings. Call it before the
// first store is opened.
inline void usePrivateSettingsStore()
{
    static QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
}

struct PrivateSettingsStore
{
    PrivateSettingsStore() { usePrivateSettingsStore(); }
};

struct Window
{
    PrivateSettingsStore settingsStore;
    PrivateRuntimeDir runtimeDir;
    wheeltest::PromptRecorder prompts;
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();

    Window() { window->show(); }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QString text(const char *name) const { return widget<QAbstractButton>(name)->text(); }

    // Connected, with the INPUTS page up: every initial read and the status
    // updates they schedule have run.
    bool settle(wheeltest::WheelFixture &wheel)
    {
        if (!QTest::qWaitFor([] { return deviceHandle().isOpen(); }, 5000))
            return false;
        if (!QTest::qWaitFor([this] { return widget<QStackedWidget>("stackedWidget")->currentIndex() == 0; },
                             5000))
            return false;
        QTest::qWait(50);
        wheel.clearTranscript();
        prompts.clear();
        return true;
    }

    // A drag that ends at value: the slider sends on release only.
    void drag(const char *name, int value) const
    {
        auto *slider = widget<QAbstractSlider>(name);
        slider->setSliderDown(true);
        slider->setValue(value);
        slider->setSliderDown(false);
    }
};

// Presses and releases a button on the wheel, each as its own input report,
// and waits until the window has seen the release.
inline bool tap(wheeltest::WheelFixture &wheel, const Window &w, int button, const char *indicator)
{
    auto *lit = w.widget(indicator);
    wheel.press(button);
    if (!QTest::qWaitFor([lit] { return lit->statusTip() == QLatin1String("SHOW"); }, 3000))
        return false;
    wheel.release(button);
    return QTest::qWaitFor([lit] { return lit->statusTip() == QLatin1String("HIDE"); }, 3000);
}

} // namespace settingstest
