// SPDX-License-Identifier: MIT
// The bevelled box that the button tiles and the bar are both made of.
#pragma once

#include <QImage>
#include <array>

namespace skingen {

// A box has 23 rows: the outline's top row 0, rows 1–21 inside it, the bottom row 22.
inline constexpr int kBoxFillRows = 21;

struct BevelBox {
    int left;
    int top;
    int width;
    // The fill colour of box rows 1 to 21, one per row.
    const std::array<QRgb, kBoxFillRows>& fills;
    // The three pixels just outside each lower chamfer.
    QRgb shine;
    // The line under the box, row 23.
    QRgb highlight;
};

// Paints a box of width W over columns left to left + W − 1 and rows top to top + 23:
//
//     row  0     ...#########...      black outline, flat top on box columns 3 to W − 4
//     row  1     ..#fffffffff#..      two-step chamfers: columns 2, then 1, then 0
//     row  2     .#fffffffffff#.
//     rows 3–19  #fffffffffffff#      straight sides on columns 0 and W − 1
//     row 20     s#fffffffffff#s      s: shine, just outside the lower chamfers
//     row 21     .s#fffffffff#s.
//     row 22     ..s#########s..      flat bottom on columns 3 to W − 4
//     row 23     ...hhhhhhhhh...      h: highlight line
//
// f takes the fill colour of its row; the dots keep whatever lies beneath (the panel fill).
void paintBevelBox(QImage& image, const BevelBox& box);

} // namespace skingen
