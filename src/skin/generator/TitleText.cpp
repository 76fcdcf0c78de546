// SPDX-License-Identifier: MIT
// The product name on the title strip, in a small hand-made pixel font: no smoothing,
// vertical strokes two pixels wide, capitals 11 pixels high on rows 7–17, lower case 8 on
// rows 10–17, ascenders from row 6 and descenders down to row 20; the baseline is the
// bottom of row 17.
#include "TitleText.h"

#include "Draw.h"

#include <QString>
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace skingen {

namespace {

constexpr int kCapitalTop = 7;
constexpr int kLowerCaseTop = 10;
constexpr int kAscenderTop = 6;

// One letter: its top row in the window and its pixels, '#' for ink, row by row; and how
// many columns the next letter may move in under an overhanging arm.
struct Letter {
    char name;
    int top;
    std::vector<std::string_view> rows;
    int overhang = 0;
};

// clang-format off
const Letter kT{'T', kCapitalTop, {
    "##########",
    "##########",
    "....##....",
    "....##....",
    "....##....",
    "....##....",
    "....##....",
    "....##....",
    "....##....",
    "....##....",
    "....##....",
}, 2};
const Letter kA{'a', kLowerCaseTop, {
    ".#####.",
    ".....##",
    ".######",
    "##...##",
    "##...##",
    "##...##",
    "##..###",
    ".###.##",
}};
const Letter kN{'n', kLowerCaseTop, {
    "######.",
    "##...##",
    "##...##",
    "##...##",
    "##...##",
    "##...##",
    "##...##",
    "##...##",
}};
const Letter kD{'d', kAscenderTop, {
    ".....##",
    ".....##",
    ".....##",
    ".....##",
    ".######",
    "##...##",
    "##...##",
    "##...##",
    "##...##",
    "##...##",
    "##...##",
    ".######",
}};
const Letter kR{'r', kLowerCaseTop, {
    "##.###",
    "#####.",
    "###...",
    "##....",
    "##....",
    "##....",
    "##....",
    "##....",
}};
const Letter kE{'e', kLowerCaseTop, {
    ".#####.",
    "##...##",
    "##...##",
    "#######",
    "##.....",
    "##.....",
    "##...##",
    ".#####.",
}};
const Letter kL{'l', kAscenderTop, {
    "##",
    "##",
    "##",
    "##",
    "##",
    "##",
    "##",
    "##",
    "##",
    "##",
    "##",
    "##",
}};
// clang-format on

// "Tandrel": the first three letters in the normal colour, the rest in the accent colour.
const std::array<const Letter*, 7> kTitle {&kT, &kA, &kN, &kD, &kR, &kE, &kL};
constexpr int kNormalLetters = 3;
// Columns between two letters; the shadow falls into them.
constexpr int kLetterGap = 2;
// The shadow is drawn beneath the text, black, first 2 then 1 pixel right and down.
constexpr std::array kShadowOffsets {2, 1};

int letterWidth(const Letter& letter)
{
    int width = 0;
    for (const std::string_view row : letter.rows)
        width = std::max(width, int(row.size()));
    return width;
}

// From the left of a letter to the left of the next one.
int advance(const Letter& letter)
{
    return letterWidth(letter) + kLetterGap - letter.overhang;
}

int titleWidth()
{
    int width = letterWidth(*kTitle.back());
    for (int i = 0; i + 1 < int(kTitle.size()); ++i)
        width += advance(*kTitle[i]);
    return width;
}

void paintLetter(QImage& image, const Letter& letter, int left, int offset, QRgb colour)
{
    for (int r = 0; r < int(letter.rows.size()); ++r) {
        const std::string_view row = letter.rows[r];
        for (int c = 0; c < int(row.size()); ++c) {
            if (row[c] == '#')
                image.setPixel(left + c + offset, letter.top + r + offset, colour);
        }
    }
}

// Paints the whole name once, every letter shifted by offset, all in one colour or, with
// none given, in the two text colours.
void paintText(QImage& image, int left, int offset, std::optional<QRgb> colour)
{
    const QRgb normal = skin::kNormalColour.rgb();
    const QRgb accent = skin::kAccentColour.rgb();
    for (int i = 0; i < int(kTitle.size()); ++i) {
        const QRgb ink = colour ? *colour : (i < kNormalLetters ? normal : accent);
        paintLetter(image, *kTitle[i], left, offset, ink);
        left += advance(*kTitle[i]);
    }
}

} // namespace

void paintTitle(QImage& image)
{
    // Centred: the coloured pixels' middle falls on the line between columns 244 and 245,
    // or half a pixel left of it when the name is an odd number of columns wide.
    const int left = (skin::kBackgroundWidth - titleWidth()) / 2;
    for (const int offset : kShadowOffsets)
        paintText(image, left, offset, kBlack);
    paintText(image, left, 0, std::nullopt);
}

} // namespace skingen
