#pragma once

class QPainter;

// Draws the wheel itself (rim, grips, plates, display) for a model code,
// without its controls. Returns false for a code it has no drawing for.
bool drawWheelBody(QPainter &p, const char *code);
