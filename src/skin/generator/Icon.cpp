// SPDX-License-Identifier: MIT
// The icon is worked out per pixel: each pixel samples a 4 × 4 grid of points, so the
// disc's outline and the rim's inner edge come out smooth, while the T, drawn on whole
// pixels, stays sharp.
#include "Icon.h"

#include "skin/Skin.h"

#include <QRect>
#include <algorithm>
#include <array>
#include <cmath>

namespace skingen {

namespace {

constexpr int kSize = 32;
constexpr double kCentre = kSize / 2.0;
constexpr double kOuterRadius = 15.6;
constexpr double kRimWidth = 2.2;
constexpr int kSamples = 4;

// The rim is a lighter grey, lit from above: this grey at the top, kRimLow at the bottom.
constexpr int kRimHigh = 168;
constexpr int kRimLow = 86;
// The gloss: a soft light ellipse across the upper part of the black face.
constexpr double kGlossX = 16.0, kGlossY = 7.0, kGlossRx = 11.0, kGlossRy = 5.5;
constexpr int kGlossPeak = 110;

// The T, in whole pixels: crossbar and stem.
constexpr std::array kLetter {QRect(9, 8, 14, 4), QRect(14, 12, 4, 13)};
// The T's violet runs from a touch lighter than the normal colour at the top to a touch
// deeper at the foot.
constexpr QRgb kLetterTop = qRgb(203, 150, 255);
constexpr QRgb kLetterFoot = qRgb(176, 108, 250);

struct Colour {
    double r = 0, g = 0, b = 0, a = 0;
};

// The face's grey at a point inside the rim: black, brightened by the gloss.
double FaceGrey(double x, double y)
{
    const double dx = (x - kGlossX) / kGlossRx;
    const double dy = (y - kGlossY) / kGlossRy;
    const double d = dx * dx + dy * dy;
    return d >= 1 ? 0 : kGlossPeak * (1 - d) * (1 - d);
}

double RimGrey(double y)
{
    return kRimHigh + (kRimLow - kRimHigh) * (y / kSize);
}

// One sample point: transparent outside the disc, else rim or face.
Colour Sample(double x, double y)
{
    const double r = std::hypot(x - kCentre, y - kCentre);
    if (r > kOuterRadius)
        return {};
    const double grey = r > kOuterRadius - kRimWidth ? RimGrey(y) : FaceGrey(x, y);
    return {grey, grey, grey, 1};
}

QRgb DiscPixel(int px, int py)
{
    Colour sum;
    for (int i = 0; i < kSamples; ++i) {
        for (int j = 0; j < kSamples; ++j) {
            const Colour c = Sample(px + (i + 0.5) / kSamples, py + (j + 0.5) / kSamples);
            sum = {sum.r + c.r * c.a, sum.g + c.g * c.a, sum.b + c.b * c.a, sum.a + c.a};
        }
    }
    if (sum.a == 0)
        return qRgba(0, 0, 0, 0);
    const auto channel = [&](double v) { return int(std::lround(v / sum.a)); };
    return qRgba(channel(sum.r), channel(sum.g), channel(sum.b),
        int(std::lround(255 * sum.a / (kSamples * kSamples))));
}

QRgb LetterPixel(int y)
{
    const QRect& bounds = kLetter[0].united(kLetter[1]);
    const double t = double(y - bounds.top()) / (bounds.height() - 1);
    const auto mix = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
    return qRgb(mix(qRed(kLetterTop), qRed(kLetterFoot)),
        mix(qGreen(kLetterTop), qGreen(kLetterFoot)), mix(qBlue(kLetterTop), qBlue(kLetterFoot)));
}

bool InLetter(int x, int y)
{
    return std::any_of(
        kLetter.begin(), kLetter.end(), [x, y](const QRect& part) { return part.contains(x, y); });
}

} // namespace

QImage DrawIcon()
{
    QImage image(kSize, kSize, QImage::Format_ARGB32);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x)
            image.setPixel(x, y, InLetter(x, y) ? LetterPixel(y) : DiscPixel(x, y));
    }
    return image;
}

} // namespace skingen
