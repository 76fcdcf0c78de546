// SPDX-License-Identifier: MIT
#include "controls/FloodFill.h"

#include <vector>

namespace controls {

int borderFloodFill(QImage& image, QPoint seed, QRgb border, QRgb fill)
{
    const int w = image.width(), h = image.height();
    auto isBorder
        = [&](int x, int y) { return (image.pixel(x, y) & 0xffffffu) == (border & 0xffffffu); };
    if (!image.rect().contains(seed) || isBorder(seed.x(), seed.y()))
        return 0;
    // The area may already be in the fill colour, so progress is kept apart from colour.
    std::vector<bool> seen(std::size_t(w) * h, false);
    std::vector<QPoint> stack {seed};
    seen[std::size_t(seed.y()) * w + seed.x()] = true;
    int painted = 0;
    while (!stack.empty()) {
        const QPoint p = stack.back();
        stack.pop_back();
        image.setPixel(p, fill);
        ++painted;
        for (const QPoint step : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
            const QPoint n = p + step;
            if (n.x() < 0 || n.y() < 0 || n.x() >= w || n.y() >= h)
                continue;
            const std::size_t at = std::size_t(n.y()) * w + n.x();
            if (seen[at] || isBorder(n.x(), n.y()))
                continue;
            seen[at] = true;
            stack.push_back(n);
        }
    }
    return painted;
}

} // namespace controls
