// SPDX-License-Identifier: MIT
// The few pixel operations every part of the skin is drawn with.
#pragma once

#include "skin/Skin.h"

#include <QImage>

namespace skingen {

// Grey n has three equal components n: greyRgb(22) is RGB(22, 22, 22).
constexpr QRgb greyRgb(int n)
{
    return qRgb(n, n, n);
}

inline constexpr QRgb kBlack = greyRgb(0);
inline constexpr QRgb kWhite = greyRgb(255);
inline constexpr QRgb kRed = skin::kColourKey;

// The last column and row of the background.
inline constexpr int kRight = skin::kBackgroundWidth - 1;
inline constexpr int kBottom = skin::kBackgroundHeight - 1;

// The column that mirrors x about the window's vertical centre line.
constexpr int mirror(int x)
{
    return kRight - x;
}

// Paints columns x0 to x1 of row y, both included.
void drawRun(QImage& image, int y, int x0, int x1, QRgb colour);

// Paints a pixel and its mirror image.
void mirroredPixel(QImage& image, int x, int y, QRgb colour);

// Paints columns x0 to mirror(x0) of row y: a run centred on the window.
void centredRun(QImage& image, int y, int x0, QRgb colour);

} // namespace skingen
