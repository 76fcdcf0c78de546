// SPDX-License-Identifier: MIT
#include "Palette.h"

#include "Draw.h"

#include <QSet>
#include <algorithm>
#include <array>

namespace skingen {

namespace {

constexpr int kMostGreys = 55;
constexpr int kLightestGrey = 64;
constexpr int kRedCornerPixels = 48;
// The bar's violets, top row to bottom row without repeats; the normal and accent colours
// are among them.
constexpr std::array kViolets {qRgb(217, 196, 242), qRgb(205, 167, 249), qRgb(194, 139, 255),
    qRgb(191, 131, 255), qRgb(189, 127, 255), qRgb(187, 125, 255), qRgb(181, 115, 255),
    qRgb(161, 74, 255), qRgb(141, 35, 255), qRgb(139, 30, 255), qRgb(143, 36, 255),
    qRgb(125, 30, 231), qRgb(111, 26, 210)};

bool isGrey(QRgb c)
{
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
}

bool isViolet(QRgb c)
{
    return std::find(kViolets.begin(), kViolets.end(), c) != kViolets.end();
}

QString where(int x, int y)
{
    return QStringLiteral(" at (%1, %2)").arg(x).arg(y);
}

} // namespace

QString checkBackgroundColours(const QImage& image)
{
    QSet<int> greys;
    int reds = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y) | 0xff000000;
            if (c == kRed)
                ++reds;
            else if (isGrey(c) && qRed(c) <= kLightestGrey)
                greys.insert(qRed(c));
            else if (!isViolet(c))
                return QStringLiteral("colour %1 is not allowed").arg(c, 8, 16) + where(x, y);
        }
    }
    if (reds != kRedCornerPixels)
        return QStringLiteral("%1 pure red pixels, not %2").arg(reds).arg(kRedCornerPixels);
    if (greys.size() > kMostGreys)
        return QStringLiteral("%1 greys, more than %2").arg(greys.size()).arg(kMostGreys);
    return {};
}

QString checkGlyphColours(const QImage& image)
{
    const QRgb normal = skin::kNormalColour.rgb();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (c != kWhite && c != normal)
                return QStringLiteral("colour %1 is not allowed").arg(c, 8, 16) + where(x, y);
        }
    }
    return {};
}

QString checkIconColours(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & RGB_MASK) == (kRed & RGB_MASK))
                return QStringLiteral("pure red") + where(x, y);
        }
    }
    return {};
}

} // namespace skingen
