// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>

namespace skingen {

// The 490 × 202 background of the window, in exact colours.
QImage drawBackground();

} // namespace skingen
