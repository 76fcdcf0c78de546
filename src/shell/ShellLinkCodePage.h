// SPDX-License-Identifier: MIT
#pragma once

// The ANSI code page a shortcut was written under. Shortcuts do not record it, but most also
// carry Unicode strings (item names, working folder, environment block) that spell some of the
// same characters: the right code page is the one under which the ANSI bytes agree with them.

#include "shell/ShellLinkBytes.h"

#include <string>
#include <vector>

namespace shell::detail {

// The code page most shortcuts were written in, and the one kept when nothing tells another.
constexpr unsigned kDefaultCodePage = 1252;

// The ANSI bytes as UTF-8 under `codePage`; bytes that are not valid there are read as 1252,
// so the result is always whole, valid UTF-8.
std::string ansiToUtf8(Bytes ansi, unsigned codePage);

// Everything a shortcut holds in both forms: its ANSI strings (raw bytes) and its Unicode
// strings (UTF-8).
struct TextEvidence {
    std::vector<std::string> ansi;
    std::vector<std::string> unicode;
};

// The code page under which the ANSI strings' non-ASCII characters best agree with the
// characters of the Unicode strings: each decoded character found there counts for it, each
// one missing counts against it. A page must explain at least one character, and must
// decode every ANSI string, to be chosen; ties go to the page listed first (1252 first), so
// the answer never depends on anything but the bytes. kDefaultCodePage when nothing agrees.
unsigned guessCodePage(const TextEvidence& evidence);

} // namespace shell::detail
