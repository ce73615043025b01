#include "quorctl/flash_progress.h"

#include "quorctl/console.h"

namespace {
constexpr int kBarWidth = 40;
constexpr int kDone = 100;
} // namespace

FlashProgress::FlashProgress(bool terminal, QObject *parent) : QObject(parent), terminal_(terminal) {}

void FlashProgress::onProgress(int value)
{
    const bool changed = value != last_;
    last_ = value;
    if (value < 0 || !changed)
        return;
    if (!terminal_) {
        printLine(QStringLiteral("progress %1%").arg(value));
        return;
    }
    const int filled = value * kBarWidth / kDone;
    printRaw(QStringLiteral("\r[%1%2] %3%")
                 .arg(QString(filled, QLatin1Char('#')), QString(kBarWidth - filled, QLatin1Char('-')))
                 .arg(value, 3));
    if (value == kDone)
        printRaw(QStringLiteral("\n"));
}
