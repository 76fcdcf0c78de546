// SPDX-License-Identifier: MIT
// The colours each skin image may hold. Each check returns what is wrong, or nothing.
#pragma once

#include <QImage>
#include <QString>

namespace skingen {

// At most 55 greys, none lighter than grey 64; pure red in exactly the 48 corner pixels;
// and the 13 violets of the bar, which include the two text colours of the title.
QString checkBackgroundColours(const QImage& image);

// White and the normal colour, nothing else.
QString checkGlyphColours(const QImage& image);

// No pure red, not even see-through: the icon never punches a hole in the window.
QString checkIconColours(const QImage& image);

} // namespace skingen
