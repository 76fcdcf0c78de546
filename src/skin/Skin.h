// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>

namespace skin {

// The two text colours of the window, used again by the glyphs, the bar and the title.
inline const QColor kNormalColour(189, 127, 255);
inline const QColor kAccentColour(139, 30, 255);
// The window's own colour, behind everything.
inline const QColor kWindowColour(30, 30, 30);
// The fill of the inner panel and of the about panel.
inline const QColor kPanelColour(11, 11, 11);

// Tahoma at a pixel height, from the copy carried inside the program so that text looks
// the same on every machine, whatever fonts it has.
QFont Tahoma(int pixelSize, bool bold = false);

// The text cell of a font as the window's design measured it: ascent and descent from the
// font's Windows metrics, each rounded to whole pixels. Qt's own metrics come from the
// typographic ones, which put Tahoma's baseline two pixels higher in a shorter line.
struct CellMetrics {
    int ascent;
    int descent;
    int height() const { return ascent + descent; }
};
CellMetrics CellMetricsOf(const QFont& font);

enum class Glyph { X, Play, Pause, Dot, QuestionMark, Folder };

inline constexpr int kGlyphWidth = 29;
inline constexpr int kGlyphHeight = 21;

// A fresh 29 × 21 glyph bitmap: white ground, glyph pixels in the normal colour, 24 bits
// a pixel so that recolouring finds exact colours.
QImage GlyphImage(Glyph glyph);

} // namespace skin
