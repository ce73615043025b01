// Draws every picture the program ships into resources/img.
//
//   draw-pictures OUTDIR            the pictures
//   draw-pictures --check OUTDIR    each model picture with its placements drawn over it
//
// Runs on any Qt platform; QT_QPA_PLATFORM=offscreen needs no display.

#include "model_picture.h"
#include "stored_png.h"
#include "window_pictures.h"

#include "device/model_table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
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

// The size each picture is shown at in the window. The style sheets draw
// them as border images, which stretch a picture to its widget on every
// paint; a picture stored at that size is drawn 1:1 and decodes in a
// quarter of the time. They are drawn large and scaled down once, here.
QSize shownSize(const QString &fileName)
{
    static const struct
    {
        const char *name;
        QSize size;
    } sizes[] = {
        {"head.png", {901, 71}},  {"logo.png", {31, 31}}, {"about.png", {400, 125}}, {"close.png", {24, 24}},
        {"closeh.png", {24, 24}}, {"min.png", {24, 24}},  {"minh.png", {24, 24}},
    };
    for (const auto &entry : sizes) {
        if (fileName == QLatin1String(entry.name))
            return entry.size;
    }
    return {};
}

QImage atShownSize(const QImage &image, QSize size)
{
    return size.isEmpty() ? image : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
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
            const QImage shown = atShownSize(picture.image, shownSize(picture.fileName));
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
            ok = save(atShownSize(picture, QSize(640, 365)), out.filePath(name), "png") && ok;
    }
    return ok ? 0 : 1;
}
