#pragma once

#include <QImageIOPlugin>

// Reads the program's own pictures (PNG files under ":/") with Qt's built-in
// PNG decoder, without Qt first asking every image plugin of the system.
//
// A style sheet loads its pictures by file name alone. For that Qt picks a
// plugin by the file's suffix, and as no installed plugin claims "png" it
// loads every image plugin of the system, with its codec libraries, to ask
// whether it reads "png", before it falls back to its own decoder. With Qt's
// three base plugins that cost 0.5 ms of the start's CPU; with the common
// extra-formats package (nine plugins) 2 ms, 7 % of it. This plugin claims the
// suffix for the program's own pictures, so Qt asks it alone. Those stored
// uncompressed it reads itself (stored_png_reader.h), the others with Qt's
// decoder.
//
// Linked in by the program (Q_IMPORT_PLUGIN in its main), not installed.
class ResourcePngPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "resource_png_plugin.json")

public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device, const QByteArray &format = QByteArray()) const override;
};
