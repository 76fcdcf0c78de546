// SPDX-License-Identifier: MIT
#include "Draw.h"

namespace skingen {

void drawRun(QImage& image, int y, int x0, int x1, QRgb colour)
{
    for (int x = x0; x <= x1; ++x)
        image.setPixel(x, y, colour);
}

void mirroredPixel(QImage& image, int x, int y, QRgb colour)
{
    image.setPixel(x, y, colour);
    image.setPixel(mirror(x), y, colour);
}

void centredRun(QImage& image, int y, int x0, QRgb colour)
{
    drawRun(image, y, x0, mirror(x0), colour);
}

} // namespace skingen
