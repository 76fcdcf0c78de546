// SPDX-License-Identifier: MIT
#pragma once

// Bounded little-endian reads for the shortcut parser. Every read names the section it may
// touch and gives nothing rather than reading past it, so a lying size or offset in a
// shortcut can only make the parse fail.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace shell::detail {

using Bytes = std::span<const std::uint8_t>;

// The `size` bytes at `offset`, when they lie wholly inside `section`.
inline std::optional<Bytes> slice(Bytes section, std::size_t offset, std::size_t size)
{
    if (offset > section.size() || size > section.size() - offset)
        return std::nullopt;
    return section.subspan(offset, size);
}

inline std::optional<std::uint16_t> readU16(Bytes section, std::size_t offset)
{
    const auto field = slice(section, offset, 2);
    if (!field)
        return std::nullopt;
    return static_cast<std::uint16_t>((*field)[0] | ((*field)[1] << 8));
}

inline std::optional<std::uint32_t> readU32(Bytes section, std::size_t offset)
{
    const auto field = slice(section, offset, 4);
    if (!field)
        return std::nullopt;
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = (value << 8) | (*field)[i];
    return value;
}

// The bytes of a NUL-terminated 8-bit string starting at `offset`, without the NUL; empty
// when the string does not end inside `section`.
inline std::optional<Bytes> terminatedAnsi(Bytes section, std::size_t offset)
{
    if (offset >= section.size())
        return std::nullopt;
    for (std::size_t end = offset; end < section.size(); ++end) {
        if (section[end] == 0)
            return section.subspan(offset, end - offset);
    }
    return std::nullopt;
}

// The bytes of a NUL-terminated UTF-16LE string starting at `offset`, without the NUL;
// empty when the string does not end inside `section`.
inline std::optional<Bytes> terminatedUtf16(Bytes section, std::size_t offset)
{
    if (offset >= section.size())
        return std::nullopt;
    for (std::size_t end = offset; section.size() - end >= 2; end += 2) {
        if (section[end] == 0 && section[end + 1] == 0)
            return section.subspan(offset, end - offset);
    }
    return std::nullopt;
}

// The 8-bit text in a fixed-size field: up to its first NUL, or the whole field.
inline Bytes upToNul(Bytes field)
{
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == 0)
            return field.first(i);
    }
    return field;
}

// The UTF-16LE text in a fixed-size field: up to its first NUL unit, or the whole field
// (an odd last byte cannot hold a unit and is dropped).
inline Bytes upToNulUtf16(Bytes field)
{
    std::size_t end = 0;
    while (field.size() - end >= 2 && (field[end] != 0 || field[end + 1] != 0))
        end += 2;
    return field.first(end);
}

} // namespace shell::detail
