// SPDX-License-Identifier: MIT
#include "shell/ShellLink.h"

#include "shell/ShellLinkBytes.h"
#include "shell/ShellLinkIdList.h"
#include "shell/ShellLinkText.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace shell {
namespace {

using detail::Bytes;
using detail::readU16;
using detail::readU32;
using detail::slice;

constexpr std::uint32_t kHeaderSize = 0x4C;
// {00021401-0000-0000-C000-000000000046}, as stored.
constexpr std::array<std::uint8_t, 16> kLinkClsid = {
    0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::size_t kFlagsOffset = 0x14;

enum LinkFlag : std::uint32_t {
    HasLinkTargetIdList = 0x1,
    HasLinkInfo = 0x2,
    HasName = 0x4,
    HasRelativePath = 0x8,
    HasWorkingDir = 0x10,
    HasArguments = 0x20,
    HasIconLocation = 0x40,
    IsUnicode = 0x80,
    ForceNoLinkInfo = 0x100,
    HasDarwinId = 0x1000,
};

// LinkInfo's header: size, header size, flags, then offsets from the start of LinkInfo.
constexpr std::uint32_t kLinkInfoMinHeader = 0x1C;
constexpr std::uint32_t kLinkInfoUnicodeHeader = 0x24;
constexpr std::uint32_t kVolumeIdAndLocalBasePath = 0x1;
// A volume ID holds its size, the drive type, the serial number and the label's offset,
// then the label.
constexpr std::uint32_t kVolumeIdMinSize = 0x11;
constexpr std::uint32_t kCommonNetworkRelativeLink = 0x2;
// The share's part: size, flags, offsets of the names, provider type, Unicode offsets.
constexpr std::uint32_t kNetworkLinkMinSize = 0x14;

constexpr std::uint32_t kEnvironmentBlock = 0xA0000001;
constexpr std::uint32_t kDarwinBlock = 0xA0000006;
constexpr std::size_t kEnvironmentBlockSize = 0x314;
constexpr std::size_t kTargetAnsiSize = 260;
constexpr std::size_t kTargetUnicodeSize = 520;

// A path read from LinkInfo, plus its raw bytes when all of it came from ANSI fields (the
// code page is a guess, which the item-ID list may later correct).
struct LinkInfoText {
    std::string text;
    std::optional<std::string> ansi;
};

std::string asString(Bytes bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// One string of LinkInfo: the Unicode form where its offset is given, else the ANSI form.
// Both forms must end inside their section, even the one left unused.
std::optional<LinkInfoText> readLinkInfoString(
    Bytes section, std::uint32_t ansiOffset, std::optional<std::uint32_t> unicodeOffset)
{
    const auto ansi = detail::terminatedAnsi(section, ansiOffset);
    if (!ansi)
        return std::nullopt;
    if (!unicodeOffset || *unicodeOffset == 0)
        return LinkInfoText {detail::cp1252ToUtf8(*ansi), asString(*ansi)};
    const auto unicode = detail::terminatedUtf16(section, *unicodeOffset);
    if (!unicode)
        return std::nullopt;
    return LinkInfoText {detail::utf16ToUtf8(*unicode), std::nullopt};
}

// Joins two path parts with one backslash between them.
template <typename T> T joinPath(const T& base, const T& rest)
{
    if (base.empty() || rest.empty() || base.back() == '\\')
        return base + rest;
    return base + '\\' + rest;
}

LinkInfoText joinText(const LinkInfoText& base, const LinkInfoText& rest)
{
    LinkInfoText joined {joinPath(base.text, rest.text), std::nullopt};
    if (base.ansi && rest.ansi)
        joined.ansi = joinPath(*base.ansi, *rest.ansi);
    return joined;
}

struct LinkInfoPaths {
    std::optional<LinkInfoText> local;
    std::optional<std::string> netName;
    LinkInfoText suffix;
};

std::optional<std::string> readNetName(Bytes linkInfo, std::uint32_t offset)
{
    const auto size = readU32(linkInfo, offset);
    const auto part = size ? slice(linkInfo, offset, *size) : std::nullopt;
    if (!part || *size < kNetworkLinkMinSize)
        return std::nullopt;
    const std::uint32_t nameOffset = *readU32(*part, 8);
    std::optional<std::uint32_t> unicodeOffset;
    if (nameOffset > kNetworkLinkMinSize) {
        unicodeOffset = readU32(*part, kNetworkLinkMinSize);
        if (!unicodeOffset)
            return std::nullopt;
    }
    const auto name = readLinkInfoString(*part, nameOffset, unicodeOffset);
    if (!name)
        return std::nullopt;
    return name->text;
}

std::optional<LinkInfoPaths> readLinkInfo(Bytes linkInfo)
{
    const auto headerSize = readU32(linkInfo, 4);
    if (!headerSize || *headerSize < kLinkInfoMinHeader || *headerSize > linkInfo.size())
        return std::nullopt;
    const bool hasUnicode = *headerSize >= kLinkInfoUnicodeHeader;
    const auto field = [&](std::size_t offset) { return *readU32(linkInfo, offset); };
    const std::uint32_t flags = field(8);
    const auto unicodeField = [&](std::size_t offset) {
        return hasUnicode ? std::optional(field(offset)) : std::nullopt;
    };
    LinkInfoPaths paths;
    const auto suffix = readLinkInfoString(linkInfo, field(24), unicodeField(32));
    if (!suffix)
        return std::nullopt;
    paths.suffix = *suffix;
    if (flags & kVolumeIdAndLocalBasePath) {
        paths.local = readLinkInfoString(linkInfo, field(16), unicodeField(28));
        // The volume ID is not read, but a LinkInfo whose volume ID runs outside it is
        // damaged, and so may be the path beside it.
        const auto volumeSize = readU32(linkInfo, field(12));
        if (!paths.local || !volumeSize || *volumeSize < kVolumeIdMinSize
            || !slice(linkInfo, field(12), *volumeSize))
            return std::nullopt;
    }
    if (flags & kCommonNetworkRelativeLink) {
        paths.netName = readNetName(linkInfo, field(20));
        if (!paths.netName)
            return std::nullopt;
    }
    return paths;
}

// One StringData string: a character count, then that many characters with no NUL after
// them. Moves `pos` past it.
std::optional<std::string> readStringData(Bytes bytes, std::size_t& pos, bool unicode)
{
    const auto count = readU16(bytes, pos);
    if (!count)
        return std::nullopt;
    const std::size_t size = static_cast<std::size_t>(*count) * (unicode ? 2 : 1);
    const auto text = slice(bytes, pos + 2, size);
    if (!text)
        return std::nullopt;
    pos += 2 + size;
    return unicode ? detail::utf16ToUtf8(detail::upToNulUtf16(*text))
                   : detail::cp1252ToUtf8(detail::upToNul(*text));
}

std::string readEnvironmentTarget(Bytes block)
{
    const auto unicode = slice(block, 8 + kTargetAnsiSize, kTargetUnicodeSize);
    if (unicode) {
        const auto text = detail::upToNulUtf16(*unicode);
        if (!text.empty())
            return detail::utf16ToUtf8(text);
    }
    const auto ansi = slice(block, 8, kTargetAnsiSize);
    return ansi ? detail::cp1252ToUtf8(detail::upToNul(*ansi)) : std::string();
}

// Extra data is optional trailing matter: a block whose size runs past the end stops the
// walk but does not spoil what came before it.
void readExtraData(Bytes bytes, std::size_t pos, ShellLinkTargets& targets)
{
    while (const auto size = readU32(bytes, pos)) {
        const auto block = slice(bytes, pos, *size);
        if (*size < 8 || !block)
            return;
        const std::uint32_t signature = *readU32(*block, 4);
        if (signature == kEnvironmentBlock && *size >= kEnvironmentBlockSize)
            targets.environmentTarget = readEnvironmentTarget(*block);
        if (signature == kDarwinBlock)
            targets.advertised = true;
        pos += *size;
    }
}

bool hasValidHeader(Bytes bytes)
{
    const auto clsid = slice(bytes, 4, kLinkClsid.size());
    return bytes.size() >= kHeaderSize && readU32(bytes, 0) == kHeaderSize
        && std::equal(clsid->begin(), clsid->end(), kLinkClsid.begin());
}

// The network path, with its suffix corrected from the item-ID list where that list spells
// the same folders through a mapped drive.
std::string networkPath(const LinkInfoPaths& info, const std::string& idListPath)
{
    std::string suffix = info.suffix.text;
    if (info.suffix.ansi && detail::mayHaveLostCharacters(*info.suffix.ansi) && !idListPath.empty())
        suffix = detail::recoverAnsiPath(*info.suffix.ansi, idListPath, false).value_or(suffix);
    return joinPath(*info.netName, suffix);
}

std::string localPath(const LinkInfoPaths& info, const std::string& idListPath)
{
    const LinkInfoText local = joinText(*info.local, info.suffix);
    if (local.ansi && detail::mayHaveLostCharacters(*local.ansi) && !idListPath.empty())
        return detail::recoverAnsiPath(*local.ansi, idListPath, true).value_or(local.text);
    return local.text;
}

// Each section reader below starts at `pos`, moves it past its section and gives false when
// the section does not fit in the file.
bool readIdListSection(
    Bytes bytes, std::uint32_t flags, std::size_t& pos, ShellLinkTargets& targets)
{
    if (!(flags & HasLinkTargetIdList))
        return true;
    const auto size = readU16(bytes, pos);
    const auto idList = size ? slice(bytes, pos + 2, *size) : std::nullopt;
    if (!idList)
        return false;
    targets.idListPath = detail::drivePathFromIdList(*idList);
    pos += 2 + *size;
    return true;
}

// A LinkInfo that the flags tell Windows to ignore must still be well formed.
bool readLinkInfoSection(
    Bytes bytes, std::uint32_t flags, std::size_t& pos, ShellLinkTargets& targets)
{
    if (!(flags & HasLinkInfo))
        return true;
    const auto size = readU32(bytes, pos);
    const auto section = size ? slice(bytes, pos, *size) : std::nullopt;
    const auto info = section ? readLinkInfo(*section) : std::nullopt;
    if (!info)
        return false;
    if (!(flags & ForceNoLinkInfo) && info->local)
        targets.localPath = localPath(*info, targets.idListPath);
    if (!(flags & ForceNoLinkInfo) && info->netName)
        targets.networkPath = networkPath(*info, targets.idListPath);
    pos += *size;
    return true;
}

// The strings come in a fixed order, each present when its flag is set.
bool readStringDataSection(
    Bytes bytes, std::uint32_t flags, std::size_t& pos, ShellLinkTargets& targets)
{
    const bool unicode = (flags & IsUnicode) != 0;
    for (const std::uint32_t flag :
        {HasName, HasRelativePath, HasWorkingDir, HasArguments, HasIconLocation}) {
        if (!(flags & flag))
            continue;
        const auto text = readStringData(bytes, pos, unicode);
        if (!text)
            return false;
        if (flag == HasRelativePath)
            targets.relativePath = *text;
    }
    return true;
}

} // namespace

std::optional<ShellLinkTargets> parseShellLink(std::span<const std::uint8_t> bytes)
{
    if (!hasValidHeader(bytes))
        return std::nullopt;
    const std::uint32_t flags = *readU32(bytes, kFlagsOffset);
    ShellLinkTargets targets;
    targets.advertised = (flags & HasDarwinId) != 0;
    std::size_t pos = kHeaderSize;
    if (!readIdListSection(bytes, flags, pos, targets)
        || !readLinkInfoSection(bytes, flags, pos, targets)
        || !readStringDataSection(bytes, flags, pos, targets))
        return std::nullopt;
    readExtraData(bytes, pos, targets);
    return targets;
}

std::optional<std::string> processEnvironment(const std::string& name)
{
    if (name.empty())
        return std::nullopt;
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// A name with no closing '%' is copied as is; an unset name is copied with its opening '%'
// only, since its closing '%' may open the next variable.
std::string expandEnvironmentVariables(std::string_view text, const EnvironmentLookup& lookup)
{
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('%', pos);
        const std::size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, open - pos));
        const auto value = lookup(std::string(text.substr(open + 1, close - open - 1)));
        if (value) {
            out += *value;
            pos = close + 1;
        } else {
            out.append(text.substr(open, close - open));
            pos = close;
        }
    }
    return out;
}

std::string chooseTarget(const ShellLinkTargets& targets, const EnvironmentLookup& lookup)
{
    if (targets.advertised)
        return {};
    if (!targets.localPath.empty())
        return targets.localPath;
    if (!targets.networkPath.empty())
        return targets.networkPath;
    if (!targets.environmentTarget.empty())
        return expandEnvironmentVariables(targets.environmentTarget, lookup);
    return targets.idListPath;
}

} // namespace shell
