// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>
#include <QRect>

class QPainter;
class QWidget;

namespace controls {

// The window is pixel art drawn on a design of 490 × 202 pixels. At a whole scale each
// design pixel is a block of scale × scale screen pixels; at 125 % or 175 % the blocks are
// ⌊scale⌋ or ⌈scale⌉ wide, and which is which must be decided once for the whole window:
// left to Qt, each widget's picture is scaled from its own fractional origin, and Qt 6.8.2
// (Debian 13) rounds those differently from picture to picture (measured at 125 %: a black
// cover one pixel short of the trough it hides, rows of a glyph one pixel off the skin
// beneath it; 3802 screen pixels off the grid at 125 %, 3520 at 175 %), where Qt 6.4.2
// (Debian 12) happened to agree. So the skin, the glyphs and the covers are drawn here, in the
// screen's own pixels, on one grid: design pixel i of the window begins at screen pixel
// round(i × scale), halves rounded up, which is also where Qt puts a widget's own
// position. Text is not pixel art and is left to Qt, at the screen's resolution.

// The screen pixel of the window where its design pixel `design` begins.
int screenEdge(int design, qreal scale);

// The design pixel that the window's screen pixel `screen` shows.
int designPixel(int screen, qreal scale);

// `design`, a part of `widget` in its own coordinates (design pixels), as the screen pixels
// of the window it takes on the grid.
QRect onScreen(const QWidget& widget, const QRect& design);

// A picture as last drawn on the grid, so that an unchanged picture (its cache key) at the
// same scale and place is not scaled again on every paint.
struct GridCache {
    qint64 key = 0;
    qreal scale = 0;
    QPoint at;
    QImage image;
};

// Paint on `widget`, with `painter` made on it and not yet transformed: a picture at the
// widget's top-left corner, each design pixel a block on the grid; or a solid rectangle.
void paintOnGrid(
    QPainter& painter, const QWidget& widget, const QImage& picture, GridCache& scaled);
void fillOnGrid(QPainter& painter, const QWidget& widget, const QRect& rect, const QColor& colour);

} // namespace controls
