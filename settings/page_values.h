#pragma once

#include <QString>

// What the settings pages show, and the stored copies they keep as text.

// "100ms"
QString pulseWidthText(int milliseconds);
// Hundredths of a percent: 5 is "0.05%", 10000 is "100.00%".
QString bitePointText(int value);
// A stored copy kept as decimal text; anything that is not a decimal int
// (an empty tip before the first load, say) counts as 0.
int storedValue(const QString &text);
