// SPDX-License-Identifier: MIT
#include "shell/ShellLink.h"

#include "shell/ShellLinkBytes.h"
#include "shell/ShellLinkCodePage.h"
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
// Same layout as the environment block; names the icon's file.
constexpr std::uint32_t kIconEnvironmentBlock = 0xA0000007;
constexpr std::size_t kEnvironmentBlockSize = 0x314;
constexpr std::size_t kTargetAnsiSize = 260;
constexpr std::size_t kTargetUnicodeSize = 520;

// A string as the file holds it: UTF-8 from a Unicode field, or the raw bytes of an ANSI
// field, read once the whole file has told its code page.
struct FileText {
    std::string unicode;
    std::optional<std::string> ansi;
};

std::string asString(Bytes bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

Bytes asBytes(const std::string& text)
{
    return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

FileText fromUnicode(Bytes utf16le)
{
    return FileText {detail::utf16ToUtf8(utf16le), std::nullopt};
}

FileText fromAnsi(Bytes ansi)
{
    return FileText {std::string(), asString(ansi)};
}

std::string decode(const FileText& text, unsigned codePage)
{
    return text.ansi ? detail::ansiToUtf8(asBytes(*text.ansi), codePage) : text.unicode;
}

void addEvidence(const FileText& text, detail::TextEvidence& evidence)
{
    if (text.ansi)
        evidence.ansi.push_back(*text.ansi);
    else
        evidence.unicode.push_back(text.unicode);
}

// One string of LinkInfo: the Unicode form where its offset is given, else the ANSI form.
// Both forms must end inside their section, even the one left unused.
std::optional<FileText> readLinkInfoString(
    Bytes section, std::uint32_t ansiOffset, std::optional<std::uint32_t> unicodeOffset)
{
    const auto ansi = detail::terminatedAnsi(section, ansiOffset);
    if (!ansi)
        return std::nullopt;
    if (!unicodeOffset || *unicodeOffset == 0)
        return fromAnsi(*ansi);
    const auto unicode = detail::terminatedUtf16(section, *unicodeOffset);
    if (!unicode)
        return std::nullopt;
    return fromUnicode(*unicode);
}

// Joins two path parts with one backslash between them.
template <typename T> T joinPath(const T& base, const T& rest)
{
    if (base.empty() || rest.empty() || base.back() == '\\')
        return base + rest;
    return base + '\\' + rest;
}

struct LinkInfoPaths {
    std::optional<FileText> local;
    std::optional<FileText> netName;
    FileText suffix;
};

std::optional<FileText> readNetName(Bytes linkInfo, std::uint32_t offset)
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
    return readLinkInfoString(*part, nameOffset, unicodeOffset);
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
std::optional<FileText> readStringData(Bytes bytes, std::size_t& pos, bool unicode)
{
    const auto count = readU16(bytes, pos);
    if (!count)
        return std::nullopt;
    const std::size_t size = static_cast<std::size_t>(*count) * (unicode ? 2 : 1);
    const auto text = slice(bytes, pos + 2, size);
    if (!text)
        return std::nullopt;
    pos += 2 + size;
    return unicode ? fromUnicode(detail::upToNulUtf16(*text)) : fromAnsi(detail::upToNul(*text));
}

// Everything read from the file before its ANSI strings can be decoded.
struct RawLink {
    std::optional<Bytes> idList;
    std::optional<LinkInfoPaths> linkInfo;
    std::optional<FileText> relativePath;
    std::optional<FileText> environmentTarget;
    detail::TextEvidence evidence;
};

// The target of an environment, Darwin or icon block: its Unicode field where that holds
// anything, else its ANSI field. Both fields go to the evidence, since Windows writes the
// same path into each.
std::optional<FileText> readBlockTarget(Bytes block, detail::TextEvidence& evidence)
{
    const auto unicode = slice(block, 8 + kTargetAnsiSize, kTargetUnicodeSize);
    const auto ansi = slice(block, 8, kTargetAnsiSize);
    std::optional<FileText> target;
    if (ansi) {
        target = fromAnsi(detail::upToNul(*ansi));
        addEvidence(*target, evidence);
    }
    if (unicode && !detail::upToNulUtf16(*unicode).empty()) {
        target = fromUnicode(detail::upToNulUtf16(*unicode));
        addEvidence(*target, evidence);
    }
    return target;
}

// Extra data is optional trailing matter: a block whose size runs past the end stops the
// walk but does not spoil what came before it.
void readExtraData(Bytes bytes, std::size_t pos, ShellLinkTargets& targets, RawLink& raw)
{
    while (const auto size = readU32(bytes, pos)) {
        const auto block = slice(bytes, pos, *size);
        if (*size < 8 || !block)
            return;
        const std::uint32_t signature = *readU32(*block, 4);
        const bool hasTarget = signature == kEnvironmentBlock || signature == kDarwinBlock
            || signature == kIconEnvironmentBlock;
        if (hasTarget && *size >= kEnvironmentBlockSize) {
            auto target = readBlockTarget(*block, raw.evidence);
            if (signature == kEnvironmentBlock)
                raw.environmentTarget = std::move(target);
        }
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
std::string networkPath(const LinkInfoPaths& info, const std::string& idListPath, unsigned codePage)
{
    std::string suffix = decode(info.suffix, codePage);
    if (info.suffix.ansi && detail::mayHaveLostCharacters(*info.suffix.ansi) && !idListPath.empty())
        suffix = detail::recoverAnsiPath(*info.suffix.ansi, idListPath, false).value_or(suffix);
    return joinPath(decode(*info.netName, codePage), suffix);
}

// The item-ID list's Unicode names are exact where they spell the same path, so they come
// before the code page, which is a judgement.
std::string localPath(const LinkInfoPaths& info, const std::string& idListPath, unsigned codePage)
{
    const std::string text = joinPath(decode(*info.local, codePage), decode(info.suffix, codePage));
    if (!info.local->ansi || !info.suffix.ansi || idListPath.empty())
        return text;
    const std::string ansi = joinPath(*info.local->ansi, *info.suffix.ansi);
    if (!detail::mayHaveLostCharacters(ansi))
        return text;
    return detail::recoverAnsiPath(ansi, idListPath, true).value_or(text);
}

// Each section reader below starts at `pos`, moves it past its section and gives false when
// the section does not fit in the file.
bool readIdListSection(Bytes bytes, std::uint32_t flags, std::size_t& pos, RawLink& raw)
{
    if (!(flags & HasLinkTargetIdList))
        return true;
    const auto size = readU16(bytes, pos);
    const auto idList = size ? slice(bytes, pos + 2, *size) : std::nullopt;
    if (!idList)
        return false;
    raw.idList = *idList;
    detail::collectIdListText(*idList, raw.evidence);
    pos += 2 + *size;
    return true;
}

// A LinkInfo that the flags tell Windows to ignore must still be well formed, and its
// strings were still written under the same code page.
bool readLinkInfoSection(Bytes bytes, std::uint32_t flags, std::size_t& pos, RawLink& raw)
{
    if (!(flags & HasLinkInfo))
        return true;
    const auto size = readU32(bytes, pos);
    const auto section = size ? slice(bytes, pos, *size) : std::nullopt;
    const auto info = section ? readLinkInfo(*section) : std::nullopt;
    if (!info)
        return false;
    for (const auto& text : {info->local, info->netName, std::optional(info->suffix)}) {
        if (text)
            addEvidence(*text, raw.evidence);
    }
    if (!(flags & ForceNoLinkInfo))
        raw.linkInfo = info;
    pos += *size;
    return true;
}

// The strings come in a fixed order, each present when its flag is set.
bool readStringDataSection(Bytes bytes, std::uint32_t flags, std::size_t& pos, RawLink& raw)
{
    const bool unicode = (flags & IsUnicode) != 0;
    for (const std::uint32_t flag :
        {HasName, HasRelativePath, HasWorkingDir, HasArguments, HasIconLocation}) {
        if (!(flags & flag))
            continue;
        const auto text = readStringData(bytes, pos, unicode);
        if (!text)
            return false;
        addEvidence(*text, raw.evidence);
        if (flag == HasRelativePath)
            raw.relativePath = *text;
    }
    return true;
}

// Reads every ANSI string under the one code page the whole file agrees with.
void decodeTargets(const RawLink& raw, ShellLinkTargets& targets)
{
    const unsigned codePage = detail::guessCodePage(raw.evidence);
    if (raw.idList)
        targets.idListPath = detail::drivePathFromIdList(*raw.idList, codePage);
    if (raw.linkInfo && raw.linkInfo->local)
        targets.localPath = localPath(*raw.linkInfo, targets.idListPath, codePage);
    if (raw.linkInfo && raw.linkInfo->netName)
        targets.networkPath = networkPath(*raw.linkInfo, targets.idListPath, codePage);
    if (raw.relativePath)
        targets.relativePath = decode(*raw.relativePath, codePage);
    if (raw.environmentTarget)
        targets.environmentTarget = decode(*raw.environmentTarget, codePage);
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
    RawLink raw;
    if (!readIdListSection(bytes, flags, pos, raw) || !readLinkInfoSection(bytes, flags, pos, raw)
        || !readStringDataSection(bytes, flags, pos, raw))
        return std::nullopt;
    readExtraData(bytes, pos, targets, raw);
    decodeTargets(raw, targets);
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
