// SPDX-License-Identifier: MIT
// Kept apart from Qt: GIO's headers use "signals" as a name, which Qt makes a keyword.
#include "shell/Trash.h"

#include <gio/gio.h>
#include <memory>

namespace shell {

// GIO follows the freedesktop.org trash layout (files/ and info/ with a percent-encoded
// Path=, $topdir/.Trash-$uid on other mounts), so a moved file is restored under its own
// name by any file manager. Qt's own moveToTrash writes the path unencoded and, without
// ~/.local/share, reports success after moving the file into the current directory.
std::optional<std::string> trashFile(const std::string& path)
{
    if (path.empty())
        return "No file name given";
    std::unique_ptr<GFile, decltype(&g_object_unref)> file(
        g_file_new_for_path(path.c_str()), g_object_unref);
    GError* raw = nullptr;
    if (g_file_trash(file.get(), nullptr, &raw))
        return std::nullopt;
    std::unique_ptr<GError, decltype(&g_error_free)> error(raw, g_error_free);
    return error && error->message ? error->message : "Unknown error";
}

} // namespace shell
