// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <optional>

class QFileDialog;

namespace controls {

// Shows `dialog` until the user has chosen a file or given up, starting from the file chosen
// the time before; the file chosen, or nothing.
std::optional<QString> runOpenDialog(QFileDialog& dialog);

} // namespace controls
