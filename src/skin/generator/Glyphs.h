// SPDX-License-Identifier: MIT
#pragma once

#include "skin/Skin.h"

#include <QImage>

namespace skingen {

// A 29 × 21 glyph bitmap: white ground, the glyph's pixels in the normal colour.
QImage DrawGlyph(skin::Glyph glyph);

} // namespace skingen
