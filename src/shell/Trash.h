// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace shell {

// Moves the file at `path` (file-system bytes) to the user's trash, never deleting it.
// Returns nothing on success, else why it could not be moved; the file then stays where it
// was.
std::optional<std::string> trashFile(const std::string& path);

} // namespace shell
