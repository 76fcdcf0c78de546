// SPDX-License-Identifier: MIT
#pragma once

// Reads Windows shell shortcuts (.lnk) so that a shortcut dropped on the window or picked in
// the file dialog opens the file it points at. Plain C++ with no Qt, so the fuzzer can build
// these files with clang alone.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace shell {

// Every place a shortcut may name its target, as UTF-8, empty where the file has none.
struct ShellLinkTargets {
    // LinkInfo's local volume path: base path joined with the common path suffix. Where the
    // file has only the ANSI forms, components the item-ID list spells alike take the list's
    // Unicode names; the rest are read under the code page whose reading agrees with the
    // Unicode strings the file carries (item names, working folder, environment block), 1252
    // when none does. Every ANSI string of the file is read under that one code page.
    std::string localPath;
    // LinkInfo's share: \\server\share joined with the common path suffix.
    std::string networkPath;
    // The environment-variable block's target, with its %NAME% variables unexpanded.
    std::string environmentTarget;
    // The drive path spelled by the item-ID list; empty when its items are not plain
    // My Computer, drive, folder and file items.
    std::string idListPath;
    // The RelativePath string as stored, relative to the folder that holds the shortcut.
    std::string relativePath;
    // A Windows Installer ("advertised") shortcut: its paths name an icon, not the program.
    bool advertised = false;
};

// Parses a whole shortcut file. Empty when the bytes are not a well-formed shortcut: a wrong
// header, or any size, offset or length in the item-ID list, the LinkInfo (its volume ID and
// share included) or the strings that points outside its section. The extra-data blocks
// that follow are optional trailing matter: a block whose size runs past the end, or below
// a block's own header, ends the walk there and keeps everything read before it, since
// the target those sections name is whole.
std::optional<ShellLinkTargets> parseShellLink(std::span<const std::uint8_t> bytes);

// Looks up one environment variable; empty when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The lookup into this process's environment.
std::optional<std::string> processEnvironment(const std::string& name);

// Replaces each %NAME% whose variable is set and leaves the others as written, so that
// %windir%\system32 stays readable where windir does not exist.
std::string expandEnvironmentVariables(std::string_view text, const EnvironmentLookup& lookup);

// The one path the program opens: local path, else network path, else the expanded
// environment target, else the item-ID list's path. Empty for advertised shortcuts.
std::string chooseTarget(
    const ShellLinkTargets& targets, const EnvironmentLookup& lookup = processEnvironment);

// The path a Windows shortcut file points at, or an empty string when `lnkPath` is not a
// valid shortcut to a file-system object. Never throws; never reads outside the file.
std::string resolveShortcut(const std::string& lnkPath);

} // namespace shell
