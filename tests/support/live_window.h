// The program's window in a test against the emulated wheel: its
// single-instance guard in a private directory, its message boxes answered
// and kept by a PromptRecorder, and what the suites look at.
#pragma once

#include "private_runtime_dir.h"
#include "prompt_recorder.h"
#include "window_probe.h"

#include "app/mainwindow.h"
#include "device/device_handle.h"

#include <QAbstractButton>
#include <QStackedWidget>
#include <QTest>

#include <memory>

namespace wheeltest {

inline const QString kWaitingHeader = QStringLiteral("WAITING FOR DEVICE...");

struct LiveWindow
{
    PrivateRuntimeDir runtimeDir;
    PromptRecorder prompts;
    std::unique_ptr<MainWindow> window;

    // Makes the window unless there is one, and shows it frameless.
    void show()
    {
        if (!window)
            window = std::make_unique<MainWindow>();
        window->setWindowFlags(Qt::FramelessWindowHint);
        window->show();
    }
    bool open(int timeoutMs = 10000)
    {
        show();
        return QTest::qWaitFor([this] { return connected(); }, timeoutMs);
    }

    template<typename T = QWidget> T *widget(const QString &name) const
    {
        return child<T>(window.get(), name);
    }
    void click(const char *name) const { widget<QAbstractButton>(name)->click(); }
    // A label's or a button's text.
    QString text(const char *name) const { return widget(name)->property("text").toString(); }
    int page() const { return widget<QStackedWidget>("stackedWidget")->currentIndex(); }
    bool redDot() const { return widget("pbStatus")->isVisibleTo(window.get()); }
    bool waiting() const { return text("lbHead") == kWaitingHeader && redDot(); }
    // Open, laid out for the model and past the initial reads, which end on
    // the INPUTS page.
    bool connected() const
    {
        return deviceHandle().isOpen() && text("lbHead") != kWaitingHeader && !redDot() && page() == 0;
    }
    void scan() { QMetaObject::invokeMethod(window.get(), "onInit"); }
};

} // namespace wheeltest
