// SPDX-License-Identifier: MIT
#pragma once

// What the window must look like on the screen at the design's size, for screenshot tests.

#include <QImage>
#include <QPoint>

namespace e2e {

// The skin, the bar's two covers at their start, the ten glyphs with their white ground
// see-through, and `root` (the screen behind) where the skin is pure red.
QImage ExpectedWindow(QRgb root);

// Whether a design pixel lies in a text label, whose pixels depend on font rendering and are
// checked on their own.
bool InLabel(QPoint p);

} // namespace e2e
