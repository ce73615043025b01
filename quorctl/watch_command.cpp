#include "device/device_handle.h"
#include "input/input_report.h"
#include "quorctl/commands.h"
#include "quorctl/console.h"
#include "quorctl/exit_codes.h"
#include "quorctl/wheel_session.h"

#include <QElapsedTimer>

namespace {

constexpr int kReportSize = 17; // report id + payload
constexpr int kReadTimeoutMs = 100;

// The lines one report adds to what the previous one showed.
QStringList changes(const InputPayload &before, const InputPayload &now)
{
    QStringList out;
    const uint64_t changed = before.buttons ^ now.buttons;
    for (const int index : pressedButtons(changed)) {
        const bool down = (now.buttons >> index) & 1U;
        out << QStringLiteral("button %1 %2")
                   .arg(index + 1)
                   .arg(down ? QStringLiteral("pressed") : QStringLiteral("released"));
    }
    if (before.left != now.left || before.right != now.right)
        out << QStringLiteral("paddles left %1 right %2").arg(now.left).arg(now.right);
    return out;
}

} // namespace

int runWatch(const CommandLine &line)
{
    WheelSession session;
    if (const int code = session.open(false))
        return reportError(code, session.error());
    printNote(QStringLiteral("watching the wheel (Ctrl+C to stop)"));
    InputPayload shown;
    int printed = 0;
    QElapsedTimer clock;
    clock.start();
    while (line.timeoutMs == 0 || clock.elapsed() < line.timeoutMs) {
        uint8_t report[kReportSize] = {};
        const int read = deviceHandle().readInput(report, sizeof report, kReadTimeoutMs);
        if (read < 0)
            return reportError(ExitDeviceError, QStringLiteral("the wheel went away"));
        if (read == 0)
            continue;
        const InputPayload now = decodeInputPayload(report + 1, std::size_t(read - 1));
        for (const QString &text : changes(shown, now)) {
            printLine(text);
            if (line.count > 0 && ++printed >= line.count)
                return ExitSuccess;
        }
        shown = now;
    }
    return ExitSuccess;
}
