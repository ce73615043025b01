// Draws the launcher icon into a hicolor icon tree.
//
//   draw-app-icon ICONDIR APPID
//
// writes ICONDIR/scalable/apps/APPID.svg and ICONDIR/SxS/apps/APPID.png for
// each bitmap size. Runs on any Qt platform; QT_QPA_PLATFORM=offscreen needs
// no display.

#include "app_icon.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTextStream>

namespace {

// The sizes desktops look up for launchers and software centres.
constexpr int kBitmapSizes[] = {48, 128};

bool makeDir(const QString &dir)
{
    if (QDir().mkpath(dir))
        return true;
    QTextStream(stderr) << "draw-app-icon: cannot create " << dir << '\n';
    return false;
}

bool writeBitmap(const QString &path, int size)
{
    QImageWriter writer(path, "png");
    writer.setQuality(0); // zlib's hardest packing
    if (writer.write(drawAppIcon(size)))
        return true;
    QTextStream(stderr) << "draw-app-icon: cannot write " << path << ": " << writer.errorString() << '\n';
    return false;
}

bool writeSvg(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(appIconSvg()) >= 0 &&
        file.flush())
        return true;
    QTextStream(stderr) << "draw-app-icon: cannot write " << path << ": " << file.errorString() << '\n';
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: draw-app-icon ICONDIR APPID\n";
        return 2;
    }
    const QDir root(args.at(0));
    const QString appId = args.at(1);

    bool ok = true;
    const QString scalable = root.filePath(QStringLiteral("scalable/apps"));
    ok = makeDir(scalable) && writeSvg(scalable + QLatin1Char('/') + appId + QStringLiteral(".svg")) && ok;
    for (int size : kBitmapSizes) {
        const QString dir = root.filePath(QStringLiteral("%1x%1/apps").arg(size));
        ok = makeDir(dir) && writeBitmap(dir + QLatin1Char('/') + appId + QStringLiteral(".png"), size) && ok;
    }
    return ok ? 0 : 1;
}
