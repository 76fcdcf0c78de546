// SPDX-License-Identifier: MIT
#include "shell/ShellLinkText.h"

#include <array>
#include <vector>

namespace shell::detail {
namespace {

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// 0x80..0x9F are where 1252 differs from Latin-1. The five bytes it leaves undefined map
// to the control characters of the same value, as Windows converts them.
constexpr std::array<char16_t, 32> kCp1252High
    = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::vector<std::string_view> splitComponents(std::string_view path)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// A name reduced to its ASCII characters (lower-cased) and the runs of other characters
// between them; `run` counts bytes on the ANSI side and characters on the Unicode side.
struct Token {
    char ascii = 0;
    std::size_t run = 0;
};

bool isPlainAscii(unsigned char byte)
{
    return byte < 0x80 && byte != '?';
}

// On the ANSI side '?' belongs to the runs: Windows writes it for characters the code page
// lacks, and it cannot appear in a file name otherwise.
std::vector<Token> ansiSkeleton(std::string_view name)
{
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < name.size();) {
        if (isPlainAscii(static_cast<unsigned char>(name[i]))) {
            tokens.push_back({lowerAscii(name[i]), 0});
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < name.size() && !isPlainAscii(static_cast<unsigned char>(name[end])))
            ++end;
        tokens.push_back({0, end - i});
        i = end;
    }
    return tokens;
}

std::vector<Token> unicodeSkeleton(std::string_view utf8)
{
    std::vector<Token> tokens;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            tokens.push_back({lowerAscii(c), 0});
        } else if ((byte & 0xC0) != 0x80) {
            if (tokens.empty() || tokens.back().run == 0)
                tokens.push_back({0, 0});
            ++tokens.back().run;
        }
    }
    return tokens;
}

// Every ANSI code page spends one to four bytes on a character (one '?' per UTF-16 unit
// for characters it lacks).
bool skeletonsMatch(std::string_view ansi, std::string_view utf8)
{
    const auto a = ansiSkeleton(ansi);
    const auto u = unicodeSkeleton(utf8);
    if (a.size() != u.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if ((a[i].run == 0) != (u[i].run == 0))
            return false;
        if (a[i].run == 0 && a[i].ascii != u[i].ascii)
            return false;
        if (a[i].run != 0 && (a[i].run < u[i].run || a[i].run > 4 * u[i].run))
            return false;
    }
    return true;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

std::optional<std::string> recoverComponent(std::string_view ansi, std::string_view unicode)
{
    const bool plain = isAscii(ansi) && ansi.find('?') == std::string_view::npos;
    if (plain)
        return equalIgnoringAsciiCase(ansi, unicode) ? std::optional(std::string(ansi))
                                                     : std::nullopt;
    return skeletonsMatch(ansi, unicode) ? std::optional(std::string(unicode)) : std::nullopt;
}

} // namespace

std::string utf16ToUtf8(Bytes utf16le)
{
    std::string out;
    out.reserve(utf16le.size());
    const std::size_t units = utf16le.size() / 2;
    const auto unitAt = [&](std::size_t i) {
        return static_cast<char32_t>(utf16le[2 * i] | (utf16le[2 * i + 1] << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = unitAt(i);
        if (isHighSurrogate(unit) && i + 1 < units && isLowSurrogate(unitAt(i + 1))) {
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            out += '?';
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::string cp1252ToUtf8(Bytes ansi)
{
    std::string out;
    out.reserve(ansi.size());
    for (const std::uint8_t byte : ansi) {
        if (byte >= 0x80 && byte < 0xA0)
            appendUtf8(out, kCp1252High[byte - 0x80]);
        else
            appendUtf8(out, byte);
    }
    return out;
}

bool isAscii(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool mayHaveLostCharacters(std::string_view ansiPath)
{
    return !isAscii(ansiPath) || ansiPath.find('?') != std::string_view::npos;
}

std::optional<std::string> recoverAnsiPath(
    std::string_view ansiPath, std::string_view unicodePath, bool wholePath)
{
    const auto ansi = splitComponents(ansiPath);
    const auto unicode = splitComponents(unicodePath);
    if (wholePath ? ansi.size() != unicode.size() : unicode.size() <= ansi.size())
        return std::nullopt;
    const std::size_t skip = unicode.size() - ansi.size();
    std::string out;
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        const auto part = recoverComponent(ansi[i], unicode[skip + i]);
        if (!part)
            return std::nullopt;
        if (i > 0)
            out += '\\';
        out += *part;
    }
    return out;
}

} // namespace shell::detail
