// SPDX-License-Identifier: MIT
// The part of shortcut resolution that touches the file system: reading the shortcut and
// looking for its target next to it.
#include "shell/ShellLink.h"

#include <filesystem>
#include <fstream>
#include <vector>

namespace shell {
namespace {

namespace fs = std::filesystem;

// Real shortcuts are a few kilobytes; anything this large is something else with a .lnk name.
constexpr std::uintmax_t kMaxShortcutSize = 1024 * 1024;

fs::path fromUtf8(std::string_view text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string toUtf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Only regular files are read: opening a FIFO would block until someone writes to it, and
// a device could be endless. The read asks for one byte more than the file had, so a file
// that grows in the meantime is refused rather than read in part.
std::optional<std::vector<std::uint8_t>> readShortcutFile(const fs::path& path)
{
    std::error_code error;
    if (!fs::is_regular_file(fs::status(path, error)) || error)
        return std::nullopt;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || size > kMaxShortcutSize)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size) + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.bad() || static_cast<std::uintmax_t>(in.gcount()) > size)
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

bool isRelative(std::string_view path)
{
    const bool rooted = !path.empty() && (path[0] == '\\' || path[0] == '/');
    const bool hasDrive = path.size() >= 2 && path[1] == ':';
    return !path.empty() && !rooted && !hasDrive;
}

// Applies a Windows relative path to `folder` by name, as Windows does: a backslash
// separates, "." stays, ".." climbs. Empty when ".." would climb above the root, where the
// path can no longer mean what it meant on the machine that wrote it.
std::optional<fs::path> applyRelative(fs::path folder, std::string_view relative)
{
    std::size_t start = 0;
    while (start <= relative.size()) {
        const std::size_t end = std::min(relative.find_first_of("\\/", start), relative.size());
        const std::string_view part = relative.substr(start, end - start);
        if (part == ".." && !folder.has_relative_path())
            return std::nullopt;
        if (part == "..")
            folder = folder.parent_path();
        else if (!part.empty() && part != ".")
            folder /= fromUtf8(part);
        start = end + 1;
    }
    return folder;
}

// The shortcut's RelativePath taken from the folder that holds the shortcut; empty unless
// it names an existing file there. Shortcuts copied to a shared drive together with their
// targets keep working. Folders are left out: "..\.." from a shortcut copied to a shallower
// place would otherwise name whatever folder happens to sit there.
std::optional<std::string> existingRelativeTarget(const fs::path& link, std::string_view relative)
{
    if (!isRelative(relative))
        return std::nullopt;
    std::error_code error;
    const fs::path linkPath = fs::absolute(link, error).lexically_normal();
    if (error)
        return std::nullopt;
    const auto target = applyRelative(linkPath.parent_path(), relative);
    if (!target || *target == linkPath || !fs::is_regular_file(*target, error))
        return std::nullopt;
    return toUtf8(*target);
}

} // namespace

std::string resolveShortcut(const std::string& lnkPath)
{
    try {
        const fs::path path = fromUtf8(lnkPath);
        const auto bytes = readShortcutFile(path);
        const auto targets = bytes ? parseShellLink(*bytes) : std::nullopt;
        if (!targets)
            return {};
        if (!targets->advertised && !targets->relativePath.empty()) {
            if (auto existing = existingRelativeTarget(path, targets->relativePath))
                return *existing;
        }
        return chooseTarget(*targets);
    } catch (...) {
        // Out of memory or a path the file system rejects: either way, no shortcut.
        return {};
    }
}

} // namespace shell
