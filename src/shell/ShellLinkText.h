// SPDX-License-Identifier: MIT
#pragma once

// Text conversions for the shortcut parser: the file stores UTF-16 and "ANSI" strings, the
// program works in UTF-8.

#include "shell/ShellLinkBytes.h"

#include <optional>
#include <string>
#include <string_view>

namespace shell::detail {

// UTF-16LE to UTF-8. A surrogate without its partner cannot be written in UTF-8 and becomes
// '?', which is also what Windows' own ANSI calls give for it.
std::string utf16ToUtf8(Bytes utf16le);

// Windows code page 1252 to UTF-8. Shortcuts do not record which ANSI code page wrote them;
// 1252 is the one most of them were written in.
std::string cp1252ToUtf8(Bytes ansi);

// Recovers the true characters of an ANSI path from a Unicode path that spells the same
// components (typically the item-ID list's long names). Components whose ANSI bytes are
// plain ASCII must equal their Unicode partner ignoring case, and keep their ANSI form;
// components with other bytes take the Unicode form when their ASCII characters line up
// and each run of other bytes could encode the partner's run of non-ASCII characters.
// Compares the ANSI components with the last ones of `unicodePath`; when `wholePath` is
// set the two must have the same number of components, else `unicodePath` must have more.
// Empty when the two paths do not agree.
std::optional<std::string> recoverAnsiPath(
    std::string_view ansiPath, std::string_view unicodePath, bool wholePath);

// True when the bytes are all below 0x80.
bool isAscii(std::string_view text);

// True when an ANSI path may not hold its true characters: it has bytes whose meaning depends
// on the code page, or '?', which Windows writes for characters the code page lacks.
bool mayHaveLostCharacters(std::string_view ansiPath);

} // namespace shell::detail
