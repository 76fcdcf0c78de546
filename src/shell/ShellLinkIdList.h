// SPDX-License-Identifier: MIT
#pragma once

#include "shell/ShellLinkBytes.h"
#include "shell/ShellLinkCodePage.h"

#include <string>

namespace shell::detail {

// The drive path that an item-ID list (without its leading size field) spells: My Computer,
// then a drive, then folder and file items, named by their long Unicode names where the
// items carry them. Empty when the list is malformed or holds any other kind of item
// (Control Panel, Store apps, URLs, network places, a lone "This PC"). Items without a
// long name give their ANSI name read under `codePage`.
std::string drivePathFromIdList(Bytes idList, unsigned codePage = kDefaultCodePage);

// Adds the names of every file-system item of the list, wherever the list starts (Desktop,
// Users Files, a drive): long and UTF-16 names as Unicode evidence, the others as ANSI bytes.
// Adds nothing when the list is malformed.
void collectIdListText(Bytes idList, TextEvidence& evidence);

} // namespace shell::detail
