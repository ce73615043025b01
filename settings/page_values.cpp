#include "settings/page_values.h"

QString pulseWidthText(int milliseconds)
{
    return QString::asprintf("%dms", milliseconds);
}

QString bitePointText(int value)
{
    return QString::asprintf("%d.%02d%%", value / 100, value % 100);
}

int storedValue(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}
