// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>

namespace skingen {

// The program's 32 × 32 icon: a black glossy disc with a lighter grey rim on a transparent
// ground, bearing a violet T.
QImage DrawIcon();

} // namespace skingen
