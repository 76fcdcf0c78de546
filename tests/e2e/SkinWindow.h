// SPDX-License-Identifier: MIT
#pragma once

// What the window must look like on the screen at the design's size, for screenshot tests.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cmath>

namespace e2e {

// The window's design on the screen's pixels at `scale`: design pixel i begins at screen
// pixel round(i × scale), halves rounded up, and a screen pixel shows the last design pixel
// that begins at or before it. At a whole scale each design pixel is a block of scale × scale
// screen pixels; at 1.25 blocks of one and two.
inline int ScreenEdge(int design, double scale)
{
    return int(std::floor(design * scale + 0.5));
}

inline int DesignPixel(int screen, double scale)
{
    return int(std::ceil((screen + 0.5) / scale)) - 1;
}

// Where the bar's two covers stand before anything has played.
inline constexpr QRect kFrontCoverHome {23, 96, 398, 19};
inline constexpr QRect kBackCoverHome {24, 95, 395, 21};

// The skin, the bar's two covers (at their start unless given), the ten glyphs with their
// white ground see-through, and `root` (the screen behind) where the skin is pure red.
QImage ExpectedWindow(
    QRgb root, QRect frontCover = kFrontCoverHome, QRect backCover = kBackCoverHome);

// Whether a design pixel lies in a text label, whose pixels depend on font rendering and are
// checked on their own.
bool InLabel(QPoint p);

} // namespace e2e
