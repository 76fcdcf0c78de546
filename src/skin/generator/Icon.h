// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <array>

namespace skingen {

// The program's icon: a black glossy disc with a lighter grey rim on a transparent ground,
// bearing a violet T. The design is laid out on the 32 × 32 grid of the window's icon;
// every length below is in steps of that grid.
namespace icon {

inline constexpr int kGrid = 32;
inline constexpr double kCentre = kGrid / 2.0;
inline constexpr double kOuterRadius = 15.6;
inline constexpr double kRimWidth = 2.2;
inline constexpr double kFaceRadius = kOuterRadius - kRimWidth;

// The rim is a lighter grey, lit from above: this grey at the top, kRimLow at the bottom.
inline constexpr int kRimHigh = 168;
inline constexpr int kRimLow = 86;
// The gloss: a soft light ellipse across the upper part of the black face.
inline constexpr double kGlossX = 16.0, kGlossY = 7.0, kGlossRx = 11.0, kGlossRy = 5.5;
inline constexpr int kGlossPeak = 110;

// The T, in whole steps of the grid: crossbar and stem.
inline constexpr std::array kLetter {QRect(9, 8, 14, 4), QRect(14, 12, 4, 13)};

// The rim's grey at height y.
double rimGrey(double y);
// The gloss on the black face, from kGlossPeak at the ellipse's centre to 0 on its edge, by
// the square of the normalised distance from the centre (0 at the centre, 1 on the edge).
double glossGrey(double squaredDistance);
// The T's violet in a row of the grid: a touch lighter than the normal colour at the top,
// a touch deeper at the foot.
QRgb letterColour(int row);

} // namespace icon

// The icon at size × size pixels, size a whole multiple of 32. The disc is drawn afresh at
// that size, so its outline stays sharp; the T, on whole steps of the grid, grows by whole
// pixels.
QImage drawIcon(int size = icon::kGrid);

// The same design as an SVG document, for the icon theme's scalable folder.
QByteArray drawIconSvg();

} // namespace skingen
