// SPDX-License-Identifier: MIT
#pragma once

// Builds shortcut files byte by byte, so the tests can say exactly which field lies.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace linkbuilder {

using Bytes = std::vector<std::uint8_t>;

enum Flag : std::uint32_t {
    IdList = 0x1,
    LinkInfo = 0x2,
    Name = 0x4,
    RelativePath = 0x8,
    WorkingDir = 0x10,
    Unicode = 0x80,
    ForceNoLinkInfo = 0x100,
    DarwinId = 0x1000,
};

inline void PutU16(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void PutU32(Bytes& out, std::uint32_t value)
{
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

inline void SetU16(Bytes& out, std::size_t at, std::uint32_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void SetU32(Bytes& out, std::size_t at, std::uint32_t value)
{
    SetU16(out, at, value & 0xFFFF);
    SetU16(out, at + 2, value >> 16);
}

// Bytes of 8-bit text as written, so tests can store any code page.
inline void PutAnsi(Bytes& out, std::string_view text, bool terminate = true)
{
    out.insert(out.end(), text.begin(), text.end());
    if (terminate)
        out.push_back(0);
}

inline void PutUtf16(Bytes& out, std::u16string_view text, bool terminate = true)
{
    for (const char16_t unit : text)
        PutU16(out, unit);
    if (terminate)
        PutU16(out, 0);
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes Header(std::uint32_t flags)
{
    constexpr std::uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    Bytes out(0x4C, 0);
    SetU32(out, 0, 0x4C);
    std::copy(std::begin(kLinkClsid), std::end(kLinkClsid), out.begin() + 4);
    SetU32(out, 0x14, flags);
    return out;
}

// --- Item-ID list ---------------------------------------------------------------------------

inline Bytes Item(std::uint8_t type, const Bytes& body)
{
    Bytes out;
    PutU16(out, static_cast<std::uint32_t>(body.size() + 3));
    out.push_back(type);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes RootItem(std::initializer_list<std::uint8_t> clsid)
{
    Bytes body {0x50};
    body.insert(body.end(), clsid);
    return Item(0x1F, body);
}

inline Bytes MyComputerItem()
{
    return RootItem({0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B,
        0x30, 0x30, 0x9D});
}

// The Users Files folder, one of the roots a list may start at below the Desktop instead of
// going through My Computer and a drive.
inline Bytes UsersFilesItem()
{
    return RootItem({0x47, 0x1A, 0x03, 0x59, 0x72, 0x3F, 0xA7, 0x44, 0x89, 0xC5, 0x55, 0x95, 0xFE,
        0x6B, 0x30, 0xEE});
}

inline Bytes ControlPanelItem()
{
    return RootItem({0x80, 0x53, 0x1C, 0x87, 0xA0, 0x42, 0x69, 0x10, 0xA2, 0xEA, 0x08, 0x00, 0x2B,
        0x30, 0x30, 0x9D});
}

inline Bytes DriveItem(std::string_view drive)
{
    Bytes body;
    PutAnsi(body, drive);
    body.resize(22, 0);
    return Item(0x2F, body);
}

// The long-name extension block of the given version; versions before 3 carry no name.
inline Bytes LongNameBlock(std::uint16_t version, std::u16string_view longName)
{
    const std::size_t nameOffset = version >= 9 ? 46 : version >= 8 ? 42 : version >= 7 ? 38 : 20;
    Bytes block;
    PutU16(block, 0);
    PutU16(block, version);
    PutU32(block, 0xBEEF0004);
    block.resize(nameOffset, 0);
    SetU16(block, 16, static_cast<std::uint32_t>(nameOffset));
    if (version >= 3)
        PutUtf16(block, longName);
    PutU16(block, 0);
    SetU16(block, 0, static_cast<std::uint32_t>(block.size()));
    return block;
}

// A file entry with an ANSI short name and, when `version` is non-zero, a long-name block
// whose offset the item's last two bytes give.
inline Bytes FileItem(std::string_view shortName, std::u16string_view longName = {},
    std::uint16_t version = 9, std::uint8_t type = 0x32)
{
    Bytes body(11, 0);
    PutAnsi(body, shortName);
    if (body.size() % 2 == 0)
        body.push_back(0);
    if (version == 0)
        return Item(type, body);
    const std::size_t blockOffset = body.size() + 3;
    const Bytes block = LongNameBlock(version, longName);
    body.insert(body.end(), block.begin(), block.end() - 2);
    PutU16(body, static_cast<std::uint32_t>(blockOffset));
    return Item(type, body);
}

inline Bytes IdListSection(std::initializer_list<Bytes> items)
{
    Bytes list = Concat(items);
    PutU16(list, 0);
    Bytes out;
    PutU16(out, static_cast<std::uint32_t>(list.size()));
    out.insert(out.end(), list.begin(), list.end());
    return out;
}

// --- LinkInfo -------------------------------------------------------------------------------

// Offsets of LinkInfo's header fields, for tests that make them lie.
enum LinkInfoField : std::size_t {
    LinkInfoSize = 0,
    LinkInfoHeaderSize = 4,
    VolumeIdOffset = 12,
    LocalBasePathOffset = 16,
    NetworkLinkOffset = 20,
    SuffixOffset = 24,
    LocalBasePathUnicodeOffset = 28,
};

inline Bytes VolumeId()
{
    Bytes out;
    PutU32(out, 0x11);
    PutU32(out, 3);
    PutU32(out, 0x12345678);
    PutU32(out, 0x10);
    out.push_back(0);
    return out;
}

// LinkInfo with a local volume and ANSI strings only.
inline Bytes LocalLinkInfo(std::string_view base, std::string_view suffix)
{
    Bytes out(0x1C, 0);
    SetU32(out, LinkInfoHeaderSize, 0x1C);
    SetU32(out, 8, 1);
    SetU32(out, VolumeIdOffset, static_cast<std::uint32_t>(out.size()));
    const Bytes volume = VolumeId();
    out.insert(out.end(), volume.begin(), volume.end());
    SetU32(out, LocalBasePathOffset, static_cast<std::uint32_t>(out.size()));
    PutAnsi(out, base);
    SetU32(out, SuffixOffset, static_cast<std::uint32_t>(out.size()));
    PutAnsi(out, suffix);
    SetU32(out, LinkInfoSize, static_cast<std::uint32_t>(out.size()));
    return out;
}

// LinkInfo with a local volume and both ANSI and Unicode strings.
inline Bytes UnicodeLinkInfo(std::u16string_view base, std::u16string_view suffix)
{
    Bytes out(0x24, 0);
    SetU32(out, LinkInfoHeaderSize, 0x24);
    SetU32(out, 8, 1);
    SetU32(out, VolumeIdOffset, static_cast<std::uint32_t>(out.size()));
    const Bytes volume = VolumeId();
    out.insert(out.end(), volume.begin(), volume.end());
    SetU32(out, LocalBasePathOffset, static_cast<std::uint32_t>(out.size()));
    PutAnsi(out, "?");
    SetU32(out, SuffixOffset, static_cast<std::uint32_t>(out.size()));
    PutAnsi(out, "?");
    SetU32(out, LocalBasePathUnicodeOffset, static_cast<std::uint32_t>(out.size()));
    PutUtf16(out, base);
    SetU32(out, 32, static_cast<std::uint32_t>(out.size()));
    PutUtf16(out, suffix);
    SetU32(out, LinkInfoSize, static_cast<std::uint32_t>(out.size()));
    return out;
}

// The share part of LinkInfo (ANSI net name only) starts right after the header.
constexpr std::size_t kNetworkLinkAt = 0x1C;

inline Bytes NetworkLinkInfo(std::string_view netName, std::string_view suffix)
{
    Bytes out(0x1C, 0);
    SetU32(out, LinkInfoHeaderSize, 0x1C);
    SetU32(out, 8, 2);
    SetU32(out, NetworkLinkOffset, static_cast<std::uint32_t>(out.size()));
    Bytes share(0x14, 0);
    SetU32(share, 8, 0x14);
    SetU32(share, 16, 0x20000);
    PutAnsi(share, netName);
    SetU32(share, 0, static_cast<std::uint32_t>(share.size()));
    out.insert(out.end(), share.begin(), share.end());
    SetU32(out, SuffixOffset, static_cast<std::uint32_t>(out.size()));
    PutAnsi(out, suffix);
    SetU32(out, LinkInfoSize, static_cast<std::uint32_t>(out.size()));
    return out;
}

// --- StringData and ExtraData ---------------------------------------------------------------

inline Bytes UnicodeString(std::u16string_view text)
{
    Bytes out;
    PutU16(out, static_cast<std::uint32_t>(text.size()));
    PutUtf16(out, text, false);
    return out;
}

// A StringData string of a shortcut without the Unicode flag: 8-bit bytes as written.
inline Bytes AnsiString(std::string_view text)
{
    Bytes out;
    PutU16(out, static_cast<std::uint32_t>(text.size()));
    PutAnsi(out, text, false);
    return out;
}

// The environment, Darwin and icon blocks share one layout: a 260-byte ANSI field, then a
// 520-byte Unicode one.
inline Bytes TargetBlock(
    std::uint32_t signature, std::string_view ansi, std::u16string_view unicode)
{
    constexpr std::size_t kAnsiAt = 8;
    constexpr std::size_t kUnicodeAt = kAnsiAt + 260;
    Bytes out(0x314, 0);
    SetU32(out, 0, 0x314);
    SetU32(out, 4, signature);
    for (std::size_t i = 0; i < ansi.size() && kAnsiAt + i < kUnicodeAt; ++i)
        out[kAnsiAt + i] = static_cast<std::uint8_t>(ansi[i]);
    for (std::size_t i = 0; i < unicode.size() && kUnicodeAt + 2 * i < out.size(); ++i)
        SetU16(out, kUnicodeAt + 2 * i, unicode[i]);
    return out;
}

inline Bytes EnvironmentBlock(std::string_view ansi, std::u16string_view unicode)
{
    return TargetBlock(0xA0000001, ansi, unicode);
}

inline Bytes DarwinBlock(std::string_view ansi, std::u16string_view unicode)
{
    return TargetBlock(0xA0000006, ansi, unicode);
}

inline Bytes IconEnvironmentBlock(std::string_view ansi, std::u16string_view unicode)
{
    return TargetBlock(0xA0000007, ansi, unicode);
}

inline Bytes TerminalBlock()
{
    return Bytes(4, 0);
}

} // namespace linkbuilder
