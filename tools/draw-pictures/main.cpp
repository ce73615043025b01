// Draws every picture the program ships into resources/img.
//
//   draw-pictures OUTDIR            the pictures
//   draw-pictures --check OUTDIR    each model picture with its placements drawn over it
//
// Runs on any Qt platform; QT_QPA_PLATFORM=offscreen needs no display.

#include "model_picture.h"
#include "paint_kit.h"
#include "stored_png.h"
#include "window_pictures.h"

#include "device/model_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QSize>
#include <QTextStream>

namespace {

bool save(const QImage &image, const QString &path, const char *format)
{
    QImageWriter writer(path, format);
    // For PNG the quality is the inverse of zlib's effort: 0 packs hardest.
    if (qstrcmp(format, "png") == 0)
        writer.setQuality(0);
    if (!writer.write(image)) {
        QTextStream(stderr) << "draw-pictures: cannot write " << path << ": " << writer.errorString() << '\n';
        return false;
    }
    return true;
}

// The window decodes its frame and about pictures on every start, before its
// first frame; stored unpacked they decode in a third of the instructions.
// resources.qrc keeps rcc from packing them in turn.
bool saveStored(const QImage &image, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(storedPng(image)) < 0) {
        QTextStream(stderr) << "draw-pictures: cannot write " << path << ": " << file.errorString() << '\n';
        return false;
    }
    return true;
}

// How each picture is shown in the window. The style sheets draw them as
// border images, which stretch a picture to its widget on every paint; a
// picture stored at that size is drawn 1:1 and decodes in a quarter of the
// time. They are drawn large and scaled down once, here.
//
// The about picture always lies on the window's colour. Stored with that
// colour under it and without alpha, Qt copies it to the screen instead of
// blending it, which for a picture of its height it would hand out to a
// pool of threads, on the first frame of every start.
struct Shown
{
    const char *name;
    QSize size;
    bool onWindowColour;
};

constexpr Shown kShown[] = {
    {"head.png", {901, 71}, false}, {"logo.png", {31, 31}, false},   {"about.png", {400, 125}, true},
    {"close.png", {24, 24}, false}, {"closeh.png", {24, 24}, false}, {"min.png", {24, 24}, false},
    {"minh.png", {24, 24}, false},
};

QImage asShown(const QImage &image, const QString &fileName)
{
    for (const Shown &shown : kShown) {
        if (fileName != QLatin1String(shown.name))
            continue;
        QImage scaled = image.scaled(shown.size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!shown.onWindowColour)
            return scaled;
        QImage opaque(scaled.size(), QImage::Format_RGB32);
        opaque.fill(PaintKit::kWindow);
        QPainter(&opaque).drawImage(0, 0, scaled);
        return opaque;
    }
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool check = !args.isEmpty() && args.first() == QLatin1String("--check");
    if (check)
        args.removeFirst();
    if (args.size() != 1) {
        QTextStream(stderr) << "usage: draw-pictures [--check] OUTDIR\n";
        return 2;
    }
    const QDir out(args.first());
    if (!QDir().mkpath(out.path())) {
        QTextStream(stderr) << "draw-pictures: cannot create " << out.path() << '\n';
        return 1;
    }

    bool ok = true;
    if (!check) {
        for (const WindowPicture &picture : drawWindowPictures()) {
            const QImage shown = asShown(picture.image, picture.fileName);
            const QString path = out.filePath(picture.fileName);
            const bool saved = qstrcmp(picture.format, "png") == 0 ? saveStored(shown, path)
                                                                   : save(shown, path, picture.format);
            ok = saved && ok;
        }
    }
    for (const ModelEntry &entry : ModelTable::entries()) {
        const QImage picture = drawModelPicture(entry);
        const QString name = modelPictureFileName(entry);
        if (check)
            ok = save(drawPlacementCheck(picture, entry), out.filePath(QStringLiteral("check.") + name),
                      "png") &&
                 ok;
        else
            ok = save(picture.scaled(640, 365, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                      out.filePath(name), "png") &&
                 ok;
    }
    return ok ? 0 : 1;
}
