// SPDX-License-Identifier: MIT
// The six glyph bitmaps of the window's buttons, pixel row by pixel row. White is their
// transparent ground, so the bottom-left pixel (0, 20) stays white in all of them. Where
// the glyphs are split matters: the program lights a glyph by flood-filling from the
// pixels (12, 9) and (18, 13) through shared sides, so the question mark's dot (cut off by
// the empty row 16) and the folder's back (touching the flap only at corners) keep their
// colour when the rest lights up.
#include "Glyphs.h"

#include "Draw.h"

#include <cstdlib>
#include <initializer_list>

namespace skingen {

namespace {

// One horizontal run of glyph pixels: row y, columns x0 to x1 inclusive.
struct GlyphRun {
    int y, x0, x1;
};

void paint(QImage& image, std::initializer_list<GlyphRun> runs)
{
    const QRgb colour = skin::kNormalColour.rgb();
    for (const GlyphRun& run : runs)
        drawRun(image, run.y, run.x0, run.x1, colour);
}

// The X of the recycle buttons: 93 pixels on x 8–20, y 4–16.
void paintX(QImage& image)
{
    // Rows 4 to 10 draw the upper half; rows 11 to 16 mirror rows 9 down to 4.
    const GlyphRun upper[] = {{4, 10, 10}, {4, 18, 18}, {5, 9, 11}, {5, 17, 19}, {6, 8, 12},
        {6, 16, 20}, {7, 9, 13}, {7, 15, 19}, {8, 10, 18}, {9, 11, 17}, {10, 12, 16}};
    for (const GlyphRun& run : upper) {
        paint(image, {run});
        if (run.y < 10)
            paint(image, {{20 - run.y, run.x0, run.x1}});
    }
}

// Play: 85 pixels on x 9–21, y 4–16.
void paintPlay(QImage& image)
{
    // A triangle pointing right: every row starts at 9 and is longest on row 10.
    for (int y = 4; y <= 16; ++y)
        paint(image, {{y, 9, 21 - 2 * std::abs(y - 10)}});
}

// Pause: two bars of 44 pixels each.
void paintPause(QImage& image)
{
    for (int y = 5; y <= 15; ++y)
        paint(image, {{y, 9, 12}, {y, 16, 19}});
}

// The dot of the close button: 78 pixels on x 10–19, y 7–15.
void paintDot(QImage& image)
{
    paint(image, {{7, 12, 17}, {8, 11, 18}, {14, 11, 18}, {15, 12, 17}});
    for (int y = 9; y <= 13; ++y)
        paint(image, {{y, 10, 19}});
}

// The question mark of the about button: a hook of 45 pixels and a dot of 6.
void paintQuestionMark(QImage& image)
{
    paint(image,
        {{6, 12, 16}, {7, 11, 17}, {8, 10, 18}, {9, 10, 12}, {9, 16, 18}, {10, 16, 18},
            {11, 15, 17}, {12, 14, 16}, {13, 13, 15}, {14, 13, 15}, {15, 13, 15}});
    paint(image, {{17, 13, 15}, {18, 13, 15}});
}

// The folder of the open buttons: a back with its tab (70 pixels) and a slanted front
// flap (112 pixels).
void paintFolder(QImage& image)
{
    paint(image,
        {{5, 5, 10}, {6, 4, 11}, {7, 4, 20}, {8, 4, 21}, {9, 4, 9}, {10, 4, 8}, {11, 4, 7},
            {12, 4, 6}, {13, 4, 5}, {14, 4, 4}});
    paint(image,
        {{10, 10, 25}, {11, 9, 24}, {12, 8, 23}, {13, 7, 22}, {14, 6, 21}, {15, 5, 20},
            {16, 4, 19}});
}

} // namespace

QImage drawGlyph(skin::Glyph glyph)
{
    QImage image(skin::kGlyphWidth, skin::kGlyphHeight, QImage::Format_RGB888);
    image.fill(Qt::white);
    switch (glyph) {
    case skin::Glyph::X:
        paintX(image);
        break;
    case skin::Glyph::Play:
        paintPlay(image);
        break;
    case skin::Glyph::Pause:
        paintPause(image);
        break;
    case skin::Glyph::Dot:
        paintDot(image);
        break;
    case skin::Glyph::QuestionMark:
        paintQuestionMark(image);
        break;
    case skin::Glyph::Folder:
        paintFolder(image);
        break;
    }
    return image;
}

} // namespace skingen
