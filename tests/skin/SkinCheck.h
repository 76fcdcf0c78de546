// SPDX-License-Identifier: MIT
// Small helpers for the skin image tests: colour names and descriptions of a first fault,
// so that a failing comparison says which pixel is wrong and what it holds.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>

namespace skincheck {

constexpr QRgb Grey(int n)
{
    return qRgb(n, n, n);
}
inline constexpr QRgb kRed = qRgb(255, 0, 0);
inline constexpr QRgb kWhite = qRgb(255, 255, 255);

inline bool isGrey(QRgb c)
{
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
}
inline bool isRed(QRgb c)
{
    return (c & RGB_MASK) == (kRed & RGB_MASK);
}

inline QString Name(QRgb c)
{
    if (isGrey(c))
        return QStringLiteral("grey %1").arg(qRed(c));
    return QStringLiteral("RGB(%1, %2, %3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// "(x, y) is grey 13"
inline QString Describe(const QImage& image, int x, int y)
{
    return QStringLiteral("(%1, %2) is %3").arg(x).arg(y).arg(Name(image.pixel(x, y)));
}

// The first pixel of area that is not colour, or nothing when all are.
inline QString FirstOtherThan(const QImage& image, const QRect& area, QRgb colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != colour)
                return Describe(image, x, y);
        }
    }
    return {};
}

// The violets of the bar, top row to bottom row (window rows 95 to 115); the title's two
// colours are among them.
inline constexpr std::array<QRgb, 21> kBarRowColours {qRgb(217, 196, 242), qRgb(205, 167, 249),
    qRgb(194, 139, 255), qRgb(194, 139, 255), qRgb(191, 131, 255), qRgb(191, 131, 255),
    qRgb(191, 131, 255), qRgb(189, 127, 255), qRgb(187, 125, 255), qRgb(181, 115, 255),
    qRgb(161, 74, 255), qRgb(141, 35, 255), qRgb(139, 30, 255), qRgb(141, 35, 255),
    qRgb(143, 36, 255), qRgb(141, 35, 255), qRgb(143, 36, 255), qRgb(143, 36, 255),
    qRgb(125, 30, 231), qRgb(125, 30, 231), qRgb(111, 26, 210)};

inline bool isViolet(QRgb c)
{
    for (const QRgb violet : kBarRowColours) {
        if ((c & RGB_MASK) == (violet & RGB_MASK))
            return true;
    }
    return false;
}

// The fill greys of a button tile, box rows 1 to 21.
inline constexpr std::array kTileRowGreys {
    43, 39, 39, 37, 36, 34, 33, 30, 29, 27, 26, 23, 22, 20, 19, 17, 17, 14, 14, 14, 14};

// The eight tiles behind the panel's glyph buttons: their left column and top row.
inline constexpr std::array kTileCorners {QPoint(355, 34), QPoint(391, 34), QPoint(355, 64),
    QPoint(391, 64), QPoint(355, 124), QPoint(391, 124), QPoint(355, 154), QPoint(391, 154)};
inline constexpr int kTileWidth = 31;
// A box's rows: outline rows 0 to 22, then the highlight line.
inline constexpr int kBoxRows = 24;

} // namespace skincheck
