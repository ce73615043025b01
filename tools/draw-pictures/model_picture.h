#pragma once

#include "device/model_table.h"

#include <QImage>

// The text key under which a model picture carries the fingerprint of the
// layout it was drawn for.
inline constexpr const char *kLayoutStampKey = "QuorSet-Layout";

// The 1280 x 720 front view of one model, on a transparent background, with
// a control under every indicator and LED button the model places.
QImage drawModelPicture(const ModelEntry &entry);

// The picture's file name: the resource path without ":/img/".
QString modelPictureFileName(const ModelEntry &entry);

// The picture with every placed widget's rectangle drawn over it (indicators
// red, LED buttons yellow, extra LEDs cyan), to check the two line up.
QImage drawPlacementCheck(const QImage &picture, const ModelEntry &entry);
