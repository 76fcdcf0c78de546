// SPDX-License-Identifier: MIT
// The window's background, region by region. Everything but the title text, the bar, the
// button tiles and one stretch of row 185 is mirror-symmetric about the line between
// columns 244 and 245, so the symmetric regions are drawn as pixel pairs or centred runs.
#include "Background.h"

#include "BevelBox.h"
#include "Draw.h"
#include "TitleText.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace skingen {

namespace {

// --- Title strip: rows 0–25 ---------------------------------------------------------------

constexpr int kStripBottomRow = 25;
// The ends of the strip and the side frames below them are the 12 outer columns each side.
constexpr int kEndWidth = 12;
// Rows 0–8 are a lighter band fading downwards; rows 9–25 are flat grey 22.
constexpr std::array kBandGreys {52, 51, 49, 47, 45, 43, 41, 39, 38};
constexpr int kStripGrey = 22;
// Towards the outer edge each end darkens to 3/5 of its row's grey (22 falls to 13), along
// this ramp in sixteenths, steep at the edge and flat towards the strip.
constexpr std::array kEndRamp {0, 4, 7, 9, 11, 12, 13, 14, 15, 15, 16, 16};
// The shades in between are taken to the nearest of these steps, greys that the band and
// the button tiles use anyway, which keeps the whole picture within 55 greys.
constexpr std::array kEndSteps {
    13, 15, 17, 19, 20, 22, 24, 26, 28, 30, 33, 34, 36, 38, 39, 41, 43, 45, 47, 49, 51};

int stripGrey(int y)
{
    return y < int(kBandGreys.size()) ? kBandGreys[y] : kStripGrey;
}

int nearestEndStep(int grey)
{
    return *std::min_element(kEndSteps.begin(), kEndSteps.end(),
        [grey](int a, int b) { return std::abs(a - grey) < std::abs(b - grey); });
}

int endGrey(int x, int rowGrey)
{
    const int outer = (rowGrey * 3 + 2) / 5;
    const int grey = outer + (rowGrey - outer) * kEndRamp[x] / 16;
    return grey == rowGrey ? grey : nearestEndStep(grey);
}

void paintTitleStrip(QImage& image)
{
    for (int y = 0; y <= kStripBottomRow; ++y) {
        const int grey = stripGrey(y);
        centredRun(image, y, kEndWidth, greyRgb(grey));
        for (int x = 0; x < kEndWidth; ++x)
            mirroredPixel(image, x, y, greyRgb(endGrey(x, grey)));
    }
}

// --- Separator: row 26 --------------------------------------------------------------------

constexpr int kSeparatorRow = 26;

void paintSeparator(QImage& image)
{
    centredRun(image, kSeparatorRow, 0, kBlack);
}

// --- Side frames: rows 27–200, columns 0–11 and 478–489 -----------------------------------

constexpr int kFrameTopRow = 27;
constexpr int kFrameBottomRow = 200;
// From black at the outer edge through grey 18 to grey 29 next to the panel.
constexpr std::array kFrameRamp {0, 8, 12, 15, 17, 18, 20, 22, 24, 26, 28, 29};

void paintSideFrames(QImage& image)
{
    for (int y = kFrameTopRow; y <= kFrameBottomRow; ++y) {
        for (int x = 0; x < kEndWidth; ++x)
            mirroredPixel(image, x, y, greyRgb(kFrameRamp[x]));
    }
}

// --- Inner panel: rows 27–188, columns 12–477 ---------------------------------------------

constexpr int kPanelLeft = 12;
constexpr int kPanelBottomRow = 188;
constexpr int kPanelFill = 11;
// The straight edge lines run down to row 179: a lit line outside, a shaded one inside.
constexpr int kEdgeBottomRow = 179;
constexpr int kLitEdge = 60;
constexpr int kShadedEdge = 7;

// The bevelled bottom edge, a centred run per row: a faint line, a dark groove, a mid
// grey and a lit lip.
struct BevelLine {
    int y;
    int x0;
    int grey;
};
constexpr std::array kBevelLines {BevelLine {185, 20, 12}, BevelLine {186, 21, 9},
    BevelLine {187, 21, 26}, BevelLine {188, 23, 51}};
// Towards the left end the faint line breaks off: columns 41–110 keep the fill.
constexpr int kBevelGapRow = 185;
constexpr int kBevelGapLeft = 41;
constexpr int kBevelGapRight = 110;

// The lower left corner, rows 180–188 on columns 12–22, mirrored on the right: the lit
// edge (60 fading to the lip's 51) and the shaded edge (7 into the groove's 9) bend round
// a radius of about ten pixels. Outside the bend lies the bottom band's grey 30.
constexpr int kCornerTopRow = 180;
constexpr int kCornerColumns = 11;
constexpr int kPanelCorner[][kCornerColumns] = {
    {60, 7, 11, 11, 11, 11, 11, 11, 11, 11, 11}, // 180
    {59, 7, 11, 11, 11, 11, 11, 11, 11, 11, 11}, // 181
    {30, 58, 7, 11, 11, 11, 11, 11, 11, 11, 11}, // 182
    {30, 57, 8, 11, 11, 11, 11, 11, 11, 11, 11}, // 183
    {30, 30, 56, 8, 11, 11, 11, 11, 11, 11, 11}, // 184
    {30, 30, 30, 55, 8, 11, 11, 11, 12, 12, 12}, // 185
    {30, 30, 30, 30, 54, 8, 9, 9, 9, 9, 9}, // 186
    {30, 30, 30, 30, 30, 53, 52, 36, 26, 26, 26}, // 187
    {30, 30, 30, 30, 30, 30, 30, 52, 51, 51, 51}, // 188
};

void paintPanelEdges(QImage& image)
{
    for (int y = kFrameTopRow; y <= kEdgeBottomRow; ++y) {
        mirroredPixel(image, kPanelLeft, y, greyRgb(kLitEdge));
        mirroredPixel(image, kPanelLeft + 1, y, greyRgb(kShadedEdge));
    }
}

void paintPanelBevel(QImage& image)
{
    for (const BevelLine& line : kBevelLines)
        centredRun(image, line.y, line.x0, greyRgb(line.grey));
    drawRun(image, kBevelGapRow, kBevelGapLeft, kBevelGapRight, greyRgb(kPanelFill));
}

void paintPanelCorners(QImage& image)
{
    int y = kCornerTopRow;
    for (const auto& row : kPanelCorner) {
        for (int i = 0; i < kCornerColumns; ++i)
            mirroredPixel(image, kPanelLeft + i, y, greyRgb(row[i]));
        ++y;
    }
}

void paintInnerPanel(QImage& image)
{
    for (int y = kFrameTopRow; y <= kPanelBottomRow; ++y)
        centredRun(image, y, kPanelLeft, greyRgb(kPanelFill));
    paintPanelEdges(image);
    paintPanelBevel(image);
    paintPanelCorners(image);
}

// --- Bottom band: rows 189–200; bottom edge: row 201 --------------------------------------

constexpr int kBandTopRow = 189;
constexpr int kBandGrey = 30;
// From row 192 down the band's two outer columns carry on the frame's ramp.
constexpr int kBandRampTopRow = 192;
constexpr std::array kBandRamp {28, 29};

void paintBottomBand(QImage& image)
{
    for (int y = kBandTopRow; y <= kFrameBottomRow; ++y) {
        centredRun(image, y, kPanelLeft, greyRgb(kBandGrey));
        if (y < kBandRampTopRow)
            continue;
        for (int i = 0; i < int(kBandRamp.size()); ++i)
            mirroredPixel(image, kPanelLeft + i, y, greyRgb(kBandRamp[i]));
    }
    centredRun(image, kBottom, 0, kBlack);
}

// --- Corners: the window's see-through outline --------------------------------------------

// How many pixels of a corner's rows are pure red, counted from the window's edge: the
// outermost row has 5, then 3, 2, 1 and 1, 12 pixels a corner and 48 in all.
constexpr std::array kRedStaircase {5, 3, 2, 1, 1};

// At the top the first shown pixel beside or below a red one is a dark rim, this many
// sixteenths of the grey it replaces, so that the strip's edge looks rounded.
constexpr int kTopRimSixteenths = 9;

// The lower left corner, rows 197–201 on columns 0–6, mirrored on the right: the black
// outer edge bends round the staircase in dark greys. -1 marks the red pixels; to the
// right of a row the frame ramp and the black bottom edge carry on.
constexpr int kBottomCornerTopRow = 197;
constexpr int kBottomCorner[][7] = {
    {-1, 4, 12, 15, 17, 18, 20}, // 197
    {-1, 3, 9, 15, 17, 18, 20}, // 198
    {-1, -1, 3, 11, 17, 18, 20}, // 199
    {-1, -1, -1, 3, 9, 15, 19}, // 200
    {-1, -1, -1, -1, -1, 2, 1}, // 201
};

bool isRed(const QImage& image, int x, int y)
{
    return x >= 0 && y >= 0 && image.pixel(x, y) == kRed;
}

void paintTopCorners(QImage& image)
{
    for (int y = 0; y < int(kRedStaircase.size()); ++y) {
        for (int x = 0; x < kRedStaircase[y]; ++x)
            mirroredPixel(image, x, y, kRed);
    }
    for (int y = 0; y <= int(kRedStaircase.size()); ++y) {
        for (int x = 0; x < kEndWidth; ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (pixel == kRed || !(isRed(image, x - 1, y) || isRed(image, x, y - 1)))
                continue;
            mirroredPixel(image, x, y, greyRgb(qRed(pixel) * kTopRimSixteenths / 16));
        }
    }
}

void paintBottomCorners(QImage& image)
{
    int y = kBottomCornerTopRow;
    for (const auto& row : kBottomCorner) {
        for (int x = 0; x < int(std::size(row)); ++x)
            mirroredPixel(image, x, y, row[x] < 0 ? kRed : greyRgb(row[x]));
        ++y;
    }
}

// --- Boxes on the panel -------------------------------------------------------------------

// Fill greys of the button tiles, box rows 1 to 21: light at the top, dark at the bottom.
constexpr std::array<QRgb, kBoxFillRows> kTileFills {greyRgb(43), greyRgb(39), greyRgb(39),
    greyRgb(37), greyRgb(36), greyRgb(34), greyRgb(33), greyRgb(30), greyRgb(29), greyRgb(27),
    greyRgb(26), greyRgb(23), greyRgb(22), greyRgb(20), greyRgb(19), greyRgb(17), greyRgb(17),
    greyRgb(14), greyRgb(14), greyRgb(14), greyRgb(14)};
constexpr int kTileWidth = 31;
// Two columns of tiles behind the panel's buttons, four rows of them.
constexpr std::array kTileLefts {355, 391};
constexpr std::array kTileTops {34, 64, 124, 154};

// The bar's violets, box rows 1 to 21 (window rows 95–115): light and milky at the top,
// the normal colour on row 102, the accent colour on row 107, deep violet at the bottom.
constexpr std::array<QRgb, kBoxFillRows> kBarFills {qRgb(217, 196, 242), qRgb(205, 167, 249),
    qRgb(194, 139, 255), qRgb(194, 139, 255), qRgb(191, 131, 255), qRgb(191, 131, 255),
    qRgb(191, 131, 255), qRgb(189, 127, 255), qRgb(187, 125, 255), qRgb(181, 115, 255),
    qRgb(161, 74, 255), qRgb(141, 35, 255), qRgb(139, 30, 255), qRgb(141, 35, 255),
    qRgb(143, 36, 255), qRgb(141, 35, 255), qRgb(143, 36, 255), qRgb(143, 36, 255),
    qRgb(125, 30, 231), qRgb(125, 30, 231), qRgb(111, 26, 210)};
constexpr int kBarLeft = 22;
constexpr int kBarTop = 94;
constexpr int kBarWidth = 400;

void paintButtonTiles(QImage& image)
{
    for (const int top : kTileTops) {
        for (const int left : kTileLefts)
            paintBevelBox(image, {left, top, kTileWidth, kTileFills, greyRgb(26), greyRgb(51)});
    }
}

void paintBar(QImage& image)
{
    paintBevelBox(image, {kBarLeft, kBarTop, kBarWidth, kBarFills, greyRgb(51), greyRgb(64)});
}

} // namespace

QImage drawBackground()
{
    QImage image(skin::kBackgroundWidth, skin::kBackgroundHeight, QImage::Format_RGB32);
    image.fill(Qt::black);
    paintTitleStrip(image);
    paintSeparator(image);
    paintSideFrames(image);
    paintInnerPanel(image);
    paintBottomBand(image);
    paintTopCorners(image);
    paintBottomCorners(image);
    paintTitle(image);
    paintButtonTiles(image);
    paintBar(image);
    return image;
}

} // namespace skingen
