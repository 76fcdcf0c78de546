// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the shortcut parser. Besides the sanitizers' checks, every path it
// reports must be valid UTF-8, and expansion with no variables set must change nothing.
#include "shell/ShellLink.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool IsValidUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4 || i + length > text.size())
            return false;
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const char32_t minimum = length == 1 ? 0
            : length == 2                    ? 0x80
            : length == 3                    ? 0x800
                                             : 0x10000;
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto targets = shell::parseShellLink({data, size});
    if (!targets)
        return 0;
    for (const std::string* text : {&targets->localPath, &targets->networkPath,
             &targets->environmentTarget, &targets->idListPath, &targets->relativePath})
        Check(IsValidUtf8(*text));
    const auto unset = [](const std::string&) { return std::optional<std::string>(); };
    const auto set = [](const std::string&) { return std::optional<std::string>("value"); };
    Check(shell::expandEnvironmentVariables(targets->environmentTarget, unset)
        == targets->environmentTarget);
    Check(IsValidUtf8(shell::chooseTarget(*targets, set)));
    return 0;
}
