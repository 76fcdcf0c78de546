// SPDX-License-Identifier: MIT
#include "BevelBox.h"

#include "Draw.h"

#include <algorithm>

namespace skingen {

namespace {

constexpr int kOutlineBottomRow = kBoxFillRows + 1;
constexpr int kHighlightRow = kOutlineBottomRow + 1;
// The chamfers cut three pixels off each corner.
constexpr int kChamfer = 3;

// Where the outline lies on a box row: this many columns in from either side.
int outlineInset(int r)
{
    return std::max({0, kChamfer - r, r - (kOutlineBottomRow - kChamfer)});
}

} // namespace

void paintBevelBox(QImage& image, const BevelBox& box)
{
    const int x0 = box.left;
    const int x1 = box.left + box.width - 1;
    const auto row = [&](int r) { return box.top + r; };

    drawRun(image, row(0), x0 + kChamfer, x1 - kChamfer, kBlack);
    for (int r = 1; r <= kBoxFillRows; ++r) {
        const int inset = outlineInset(r);
        image.setPixel(x0 + inset, row(r), kBlack);
        image.setPixel(x1 - inset, row(r), kBlack);
        drawRun(image, row(r), x0 + inset + 1, x1 - inset - 1, box.fills[r - 1]);
    }
    drawRun(image, row(kOutlineBottomRow), x0 + kChamfer, x1 - kChamfer, kBlack);

    for (int i = 0; i < kChamfer; ++i) {
        const int r = kOutlineBottomRow - kChamfer + 1 + i;
        image.setPixel(x0 + i, row(r), box.shine);
        image.setPixel(x1 - i, row(r), box.shine);
    }
    drawRun(image, row(kHighlightRow), x0 + kChamfer, x1 - kChamfer, box.highlight);
}

} // namespace skingen
