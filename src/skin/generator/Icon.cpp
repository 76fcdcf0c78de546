// SPDX-License-Identifier: MIT
// The icon is worked out per pixel: each pixel samples a 4 × 4 grid of points, so the
// disc's outline and the rim's inner edge come out smooth, while the T, drawn on whole
// pixels, stays sharp.
#include "Icon.h"

#include <algorithm>
#include <cmath>

namespace skingen {

namespace icon {

double rimGrey(double y)
{
    return kRimHigh + (kRimLow - kRimHigh) * (y / kGrid);
}

double glossGrey(double d)
{
    return d >= 1 ? 0 : kGlossPeak * (1 - d) * (1 - d);
}

QRgb letterColour(int row)
{
    constexpr QRgb kTop = qRgb(203, 150, 255);
    constexpr QRgb kFoot = qRgb(176, 108, 250);
    const QRect bounds = kLetter[0].united(kLetter[1]);
    const double t = double(row - bounds.top()) / (bounds.height() - 1);
    const auto mix = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    return qRgb(mix(qRed(kTop), qRed(kFoot)), mix(qGreen(kTop), qGreen(kFoot)),
        mix(qBlue(kTop), qBlue(kFoot)));
}

} // namespace icon

namespace {

using namespace icon;

constexpr int kSamples = 4;

struct Colour {
    double r = 0, g = 0, b = 0, a = 0;
};

// The face's grey at a point inside the rim: black, brightened by the gloss.
double faceGrey(double x, double y)
{
    const double dx = (x - kGlossX) / kGlossRx;
    const double dy = (y - kGlossY) / kGlossRy;
    return glossGrey(dx * dx + dy * dy);
}

// One sample point, in steps of the grid: transparent outside the disc, else rim or face.
Colour sample(double x, double y)
{
    const double r = std::hypot(x - kCentre, y - kCentre);
    if (r > kOuterRadius)
        return {};
    const double grey = r > kFaceRadius ? rimGrey(y) : faceGrey(x, y);
    return {grey, grey, grey, 1};
}

// Pixel (px, py) of an icon drawn at `scale` pixels to a step of the grid.
QRgb discPixel(int px, int py, int scale)
{
    Colour sum;
    for (int i = 0; i < kSamples; ++i) {
        for (int j = 0; j < kSamples; ++j) {
            const Colour c
                = sample((px + (i + 0.5) / kSamples) / scale, (py + (j + 0.5) / kSamples) / scale);
            sum = {sum.r + c.r * c.a, sum.g + c.g * c.a, sum.b + c.b * c.a, sum.a + c.a};
        }
    }
    if (sum.a == 0)
        return qRgba(0, 0, 0, 0);
    const auto channel = [&](double v) { return int(std::lround(v / sum.a)); };
    return qRgba(channel(sum.r), channel(sum.g), channel(sum.b),
        int(std::lround(255 * sum.a / (kSamples * kSamples))));
}

bool inLetter(int x, int y)
{
    return std::any_of(
        kLetter.begin(), kLetter.end(), [x, y](const QRect& part) { return part.contains(x, y); });
}

} // namespace

QImage drawIcon(int size)
{
    if (size < kGrid || size % kGrid != 0)
        return {};
    const int scale = size / kGrid;
    QImage image(size, size, QImage::Format_ARGB32);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int gx = x / scale, gy = y / scale;
            image.setPixel(x, y, inLetter(gx, gy) ? letterColour(gy) : discPixel(x, y, scale));
        }
    }
    return image;
}

} // namespace skingen
