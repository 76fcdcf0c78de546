// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRegion>

class QWidget;

namespace skin {

// The two text colours of the window, used again by the glyphs, the bar and the title.
inline const QColor kNormalColour(189, 127, 255);
inline const QColor kAccentColour(139, 30, 255);
// The window's own colour, behind everything.
inline const QColor kWindowColour(30, 30, 30);
// The fill of the inner panel and of the about panel.
inline const QColor kPanelColour(11, 11, 11);
// Pure red is the window's colour key: the background's red corner pixels are its
// see-through, click-through outline, and no other pixel of any skin image is pure red.
inline constexpr QRgb kColourKey = qRgb(255, 0, 0);

// The background covers the whole window.
inline constexpr int kBackgroundWidth = 490;
inline constexpr int kBackgroundHeight = 202;

// Tahoma at a pixel height, from the copy carried inside the program so that text looks
// the same on every machine, whatever fonts it has.
QFont tahoma(int pixelSize, bool bold = false);

// The text cell of a font as the window's design measured it: ascent and descent from the
// font's Windows metrics, each rounded to whole pixels. Qt's own metrics come from the
// typographic ones, which put Tahoma's baseline two pixels higher in a shorter line.
struct CellMetrics {
    int ascent;
    int descent;
    int height() const { return ascent + descent; }
};
CellMetrics cellMetricsOf(const QFont& font);

enum class Glyph { X, Play, Pause, Dot, QuestionMark, Folder };

inline constexpr int kGlyphWidth = 29;
inline constexpr int kGlyphHeight = 21;

// The name the skin generator writes a glyph under, and the program finds it by.
constexpr const char* glyphFileName(Glyph glyph)
{
    switch (glyph) {
    case Glyph::X:
        return "glyph-x.png";
    case Glyph::Play:
        return "glyph-play.png";
    case Glyph::Pause:
        return "glyph-pause.png";
    case Glyph::Dot:
        return "glyph-dot.png";
    case Glyph::QuestionMark:
        return "glyph-question.png";
    case Glyph::Folder:
        return "glyph-folder.png";
    }
    return "";
}

// A fresh 29 × 21 glyph bitmap: white ground, glyph pixels in the normal colour, 24 bits
// a pixel (Format_RGB888) so that recolouring in place finds exact colours. Each call
// returns its own copy, since every glyph button recolours its own bitmap.
QImage glyphImage(Glyph glyph);

// The 490 × 202 background picture, exact colours in Format_RGB32.
QImage background();

// The program's 32 × 32 icon with its alpha channel, Format_ARGB32.
QImage icon();

// The part of the window that is shown: every pixel of the background that is not the
// colour key.
QRegion outlineMask(const QImage& background);

// A copy of `image` in Format_ARGB32 in which every colour-key pixel is fully transparent.
// Those pixels keep their colour, so outlineMask finds the same outline in the copy.
QImage colourKeyTransparent(const QImage& image);

// Gives `window` the skin's outline: the colour-key corners of `background` are cut out,
// see-through and click-through. Returns the picture to paint as the background there. A
// Wayland surface has no shape, only an input region, which is what the mask becomes: the
// compositor still shows every pixel it is given (seen under weston, `tst_wayland`), so
// there the window is made translucent and the corners are painted fully transparent.
QImage shapeWindow(QWidget& window, const QImage& background);

} // namespace skin
