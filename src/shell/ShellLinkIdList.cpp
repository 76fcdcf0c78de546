// SPDX-License-Identifier: MIT
#include "shell/ShellLinkIdList.h"

#include "shell/ShellLinkCodePage.h"
#include "shell/ShellLinkText.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace shell::detail {
namespace {

// Items are kinds of shell item told apart by their type byte; only three kinds spell a
// drive path.
constexpr std::uint8_t kRootFolderType = 0x1F;
constexpr std::uint8_t kKindMask = 0x70;
constexpr std::uint8_t kVolumeKind = 0x20;
constexpr std::uint8_t kFileEntryKind = 0x30;
// Set in a file entry's type when its primary name is UTF-16 rather than ANSI.
constexpr std::uint8_t kUnicodeNameFlag = 0x04;

// {20D04FE0-3AEA-1069-A2D8-08002B30309D}, as stored.
constexpr std::array<std::uint8_t, 16> kMyComputer = {
    0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};

// A file entry: size, type, a spare byte, file size, DOS time and attributes come first.
constexpr std::size_t kPrimaryNameOffset = 14;
// The extension block that carries a file entry's long name.
constexpr std::uint32_t kLongNameSignature = 0xBEEF0004;
constexpr std::size_t kExtensionHeaderSize = 8;

// The items of the list, each with its size field; empty when the sizes do not tile the
// list up to its terminating zero size.
std::optional<std::vector<Bytes>> splitItems(Bytes idList)
{
    std::vector<Bytes> items;
    std::size_t pos = 0;
    while (const auto size = readU16(idList, pos)) {
        if (*size == 0)
            return items;
        const auto item = slice(idList, pos, *size);
        if (*size < 3 || !item)
            return std::nullopt;
        items.push_back(*item);
        pos += *size;
    }
    return std::nullopt;
}

bool isMyComputer(Bytes item)
{
    const auto clsid = slice(item, 4, kMyComputer.size());
    return item[2] == kRootFolderType && clsid
        && std::equal(clsid->begin(), clsid->end(), kMyComputer.begin());
}

// "C:\" from a volume item, whose name is stored as ANSI right after the type byte.
std::optional<std::string> driveName(Bytes item)
{
    const auto name = slice(item, 3, 2);
    if ((item[2] & kKindMask) != kVolumeKind || !name)
        return std::nullopt;
    const char letter = static_cast<char>((*name)[0]);
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    if (!isLetter || (*name)[1] != ':')
        return std::nullopt;
    return std::string {letter, ':', '\\'};
}

std::optional<Bytes> extensionAt(Bytes item, std::size_t offset)
{
    const auto size = readU16(item, offset);
    if (!size || *size < kExtensionHeaderSize || readU32(item, offset + 4) != kLongNameSignature)
        return std::nullopt;
    return slice(item, offset, *size);
}

// The item's last two bytes give the offset of its first extension block; fall back to a
// search in case a writer left them out.
std::optional<std::size_t> findLongNameBlock(Bytes item)
{
    const auto tail = readU16(item, item.size() - 2);
    if (tail && *tail >= kPrimaryNameOffset && extensionAt(item, *tail))
        return *tail;
    for (std::size_t offset = kPrimaryNameOffset; offset + kExtensionHeaderSize <= item.size();
        ++offset) {
        if (extensionAt(item, offset))
            return offset;
    }
    return std::nullopt;
}

// The long name follows fields that each block version added: access and creation times
// first, then an NTFS file reference (version 7), then two more fields (versions 8 and 9).
std::optional<std::string> longName(Bytes block)
{
    const auto version = readU16(block, 2);
    if (!version || *version < 3)
        return std::nullopt;
    const std::size_t offset = *version >= 9 ? 46 : *version >= 8 ? 42 : *version >= 7 ? 38 : 20;
    const auto name = terminatedUtf16(block, offset);
    if (!name || name->empty())
        return std::nullopt;
    return utf16ToUtf8(*name);
}

// The short (or, in UTF-16 items, possibly cut-off) name stored before the extensions.
struct PrimaryName {
    Bytes text;
    bool unicode = false;
};

PrimaryName primaryName(Bytes item, std::size_t end)
{
    const auto field = slice(item, kPrimaryNameOffset, end - kPrimaryNameOffset);
    if (!field)
        return {};
    if (item[2] & kUnicodeNameFlag)
        return {upToNulUtf16(*field), true};
    return {upToNul(*field), false};
}

bool isFileEntry(Bytes item)
{
    return (item[2] & kKindMask) == kFileEntryKind && item.size() > kPrimaryNameOffset;
}

std::optional<std::string> itemLongName(Bytes item, std::optional<std::size_t> blockOffset)
{
    return blockOffset ? longName(*extensionAt(item, *blockOffset)) : std::nullopt;
}

std::string fileEntryName(Bytes item, unsigned codePage)
{
    if (!isFileEntry(item))
        return {};
    const auto blockOffset = findLongNameBlock(item);
    if (auto name = itemLongName(item, blockOffset))
        return *name;
    const PrimaryName name = primaryName(item, blockOffset.value_or(item.size()));
    return name.unicode ? utf16ToUtf8(name.text) : ansiToUtf8(name.text, codePage);
}

// A name that cannot smuggle in another path component.
bool isPlainName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 0x20;
    });
}

} // namespace

std::string drivePathFromIdList(Bytes idList, unsigned codePage)
{
    const auto items = splitItems(idList);
    if (!items || items->size() < 2 || !isMyComputer((*items)[0]))
        return {};
    const auto drive = driveName((*items)[1]);
    if (!drive)
        return {};
    std::string path = *drive;
    for (std::size_t i = 2; i < items->size(); ++i) {
        const std::string name = fileEntryName((*items)[i], codePage);
        if (!isPlainName(name))
            return {};
        if (i > 2)
            path += '\\';
        path += name;
    }
    return path;
}

void collectIdListText(Bytes idList, TextEvidence& evidence)
{
    const auto items = splitItems(idList);
    if (!items)
        return;
    for (const Bytes item : *items) {
        if (!isFileEntry(item))
            continue;
        const auto blockOffset = findLongNameBlock(item);
        if (auto name = itemLongName(item, blockOffset))
            evidence.unicode.push_back(std::move(*name));
        const PrimaryName name = primaryName(item, blockOffset.value_or(item.size()));
        if (name.unicode)
            evidence.unicode.push_back(utf16ToUtf8(name.text));
        else
            evidence.ansi.emplace_back(name.text.begin(), name.text.end());
    }
}

} // namespace shell::detail
