// SPDX-License-Identifier: MIT
#pragma once

#include "skin/Skin.h"

#include <QImage>

namespace skingen {

// A 29 × 21 glyph bitmap: white ground, the glyph's pixels in the normal colour.
QImage drawGlyph(skin::Glyph glyph);

} // namespace skingen
