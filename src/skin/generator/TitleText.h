// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>

namespace skingen {

// Writes the product name with its shadow, centred on the title strip of the background.
void paintTitle(QImage& image);

} // namespace skingen
