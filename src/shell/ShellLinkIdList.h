// SPDX-License-Identifier: MIT
#pragma once

#include "shell/ShellLinkBytes.h"

#include <string>

namespace shell::detail {

// The drive path that an item-ID list (without its leading size field) spells: My Computer,
// then a drive, then folder and file items, named by their long Unicode names where the
// items carry them. Empty when the list is malformed or holds any other kind of item
// (Control Panel, Store apps, URLs, network places, a lone "This PC").
std::string drivePathFromIdList(Bytes idList);

} // namespace shell::detail
