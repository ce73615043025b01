#pragma once

#include <QImage>
#include <QString>

#include <vector>

// The pictures of the window frame: header band, logo, about picture, the
// minimise and close buttons and the tray icon.
struct WindowPicture
{
    QString fileName;
    QImage image;
    const char *format; // "png" or "ico"
};

std::vector<WindowPicture> drawWindowPictures();
