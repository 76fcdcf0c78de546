// SPDX-License-Identifier: MIT
#include "Draw.h"

namespace skingen {

void Run(QImage& image, int y, int x0, int x1, QRgb colour)
{
    for (int x = x0; x <= x1; ++x)
        image.setPixel(x, y, colour);
}

void MirroredPixel(QImage& image, int x, int y, QRgb colour)
{
    image.setPixel(x, y, colour);
    image.setPixel(Mirror(x), y, colour);
}

void CentredRun(QImage& image, int y, int x0, QRgb colour)
{
    Run(image, y, x0, Mirror(x0), colour);
}

} // namespace skingen
