// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>
#include <QPoint>

namespace controls {

// Paints `fill` over the area around `seed` that is bounded by pixels of colour `border`,
// spreading through shared sides only, never across a corner alone. A seed outside the image
// or on a border pixel paints nothing. Returns the number of pixels painted.
int borderFloodFill(QImage& image, QPoint seed, QRgb border, QRgb fill);

} // namespace controls
