#pragma once

#include "wheel_spots.h"

class QPainter;

// The controls on a wheel's front, each drawn centred on its spot so that the
// window's indicator or LED button lands exactly on it.

// The blade of a shift paddle, which sits behind the wheel: draw it before the body.
void drawPaddleBlade(QPainter &p, const WheelSpot &spot);
// The part itself, on top of the body.
void drawPart(QPainter &p, const WheelSpot &spot);
