#include "led/button_colour.h"

#include "led/channel_order.h"

#include <QStringList>

namespace {

const QLatin1String kRgbClause("rgb");
const QLatin1String kClauseEnd(";");
const QLatin1String kColourProperty("color:");
const QLatin1String kRgbOpen("rgb(");
const QLatin1String kRgbClose(")");

int channelValue(const QStringList &parts, int index)
{
    if (index >= parts.size())
        return 0;
    // toInt gives 0 for anything that is not a decimal number.
    return parts.at(index).trimmed().toInt(nullptr, 10);
}

bool inByteRange(int value)
{
    return value >= 0 && value <= 255;
}

} // namespace

void setButtonColour(QString &styleSheet, const QColor &colour)
{
    QString s = styleSheet;
    const qsizetype rgbAt = s.indexOf(kRgbClause, 0, Qt::CaseSensitive);
    if (rgbAt >= 0) {
        const qsizetype endAt = s.indexOf(kClauseEnd, rgbAt, Qt::CaseSensitive);
        s.remove(rgbAt, endAt >= 0 ? endAt - rgbAt + 1 : s.size() - rgbAt);
    }
    const qsizetype colourAt = s.indexOf(kColourProperty, 0, Qt::CaseSensitive);
    if (colourAt < 0)
        return;
    s.insert(colourAt + kColourProperty.size(),
             QString::asprintf("rgb(%d,%d,%d);", colour.red(), colour.green(), colour.blue()));
    styleSheet = s;
}

QColor buttonColour(const QString &styleSheet, int order)
{
    const qsizetype openAt = styleSheet.indexOf(kRgbOpen, 0, Qt::CaseSensitive);
    if (openAt < 0)
        return QColor();
    const qsizetype start = openAt + kRgbOpen.size();
    const qsizetype closeAt = styleSheet.indexOf(kRgbClose, start, Qt::CaseSensitive);
    const QString inner = styleSheet.mid(start, closeAt >= 0 ? closeAt - start : -1);
    const QStringList parts = inner.split(QLatin1Char(','));
    const int r = channelValue(parts, 0);
    const int g = channelValue(parts, 1);
    const int b = channelValue(parts, 2);
    if (!inByteRange(r) || !inByteRange(g) || !inByteRange(b))
        return QColor();
    return toFrameOrder(QColor(r, g, b), channelOrderFromCode(order));
}
