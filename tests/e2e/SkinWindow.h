// SPDX-License-Identifier: MIT
#pragma once

// What the window must look like on the screen at the design's size, for screenshot tests.

#include <QImage>
#include <QPoint>
#include <QRect>

namespace e2e {

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
