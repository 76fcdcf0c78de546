// SPDX-License-Identifier: MIT
// The parser on shortcuts built field by field: what each well-formed layout yields, and that
// every lying size, offset or length makes it give up instead of reading past its section.
#include "LinkBuilder.h"
#include "shell/ShellLink.h"

#include <functional>
#include <gtest/gtest.h>

using namespace linkbuilder;
using shell::chooseTarget;
using shell::parseShellLink;

namespace {

std::optional<std::string> NoEnvironment(const std::string&)
{
    return std::nullopt;
}

// What the program would open, or "<invalid>" when the parser refuses the bytes.
std::string Resolve(const Bytes& bytes)
{
    const auto targets = parseShellLink(bytes);
    return targets ? chooseTarget(*targets, NoEnvironment) : "<invalid>";
}

Bytes LocalLink()
{
    return Concat({Header(LinkInfo), LocalLinkInfo("C:\\Music", "take1.wav")});
}

// --- Well-formed layouts ----------------------------------------------------------------------

struct LayoutCase {
    const char* name;
    Bytes bytes;
    std::string expected;
};

class WellFormedLayout : public testing::TestWithParam<LayoutCase> { };

TEST_P(WellFormedLayout, ResolvesToItsTarget)
{
    EXPECT_EQ(Resolve(GetParam().bytes), GetParam().expected);
}

const Bytes kLongNames = IdListSection({MyComputerItem(), DriveItem("D:\\"),
    FileItem("MUSIC~1", u"Music Files", 3, 0x31), FileItem("TAKEON~1.WAV", u"Take one.wav", 8)});

INSTANTIATE_TEST_SUITE_P(Parser, WellFormedLayout,
    testing::Values(LayoutCase {"HeaderOnly", Header(0), ""},
        LayoutCase {"LocalAnsi", LocalLink(), "C:\\Music\\take1.wav"},
        LayoutCase {"LocalBaseEndsInSeparator",
            Concat({Header(LinkInfo), LocalLinkInfo("C:\\", "")}), "C:\\"},
        LayoutCase {"LocalCp1252",
            Concat({Header(LinkInfo), LocalLinkInfo("C:\\Caf\xE9", "\x80.wav")}),
            "C:\\Café\\€.wav"},
        LayoutCase {"LocalUnicode",
            Concat({Header(LinkInfo), UnicodeLinkInfo(u"C:\\\u266B", u"\xD83C\xDFB5.flac")}),
            "C:\\♫\\🎵.flac"},
        LayoutCase {"Network",
            Concat({Header(LinkInfo), NetworkLinkInfo("\\\\server\\share", "a\\b.wav")}),
            "\\\\server\\share\\a\\b.wav"},
        LayoutCase {"NetworkWithoutSuffix",
            Concat({Header(LinkInfo), NetworkLinkInfo("\\\\server\\share", "")}),
            "\\\\server\\share"},
        LayoutCase {"Environment",
            Concat({Header(0), EnvironmentBlock("%ANSI%\\a.wav", u"%windir%\\b.wav"),
                TerminalBlock()}),
            "%windir%\\b.wav"},
        LayoutCase {"EnvironmentAnsiOnly",
            Concat({Header(0), EnvironmentBlock("%TEMP%\\a.wav", u""), TerminalBlock()}),
            "%TEMP%\\a.wav"},
        LayoutCase {"EnvironmentWithoutTerminalBlock",
            Concat({Header(0), EnvironmentBlock("", u"%TEMP%\\c.wav")}), "%TEMP%\\c.wav"},
        LayoutCase {"IdListLongNames", Concat({Header(IdList), kLongNames}),
            "D:\\Music Files\\Take one.wav"},
        LayoutCase {"IdListShortNamesBeforeVersion3",
            Concat({Header(IdList),
                IdListSection({MyComputerItem(), DriveItem("C:\\"), FileItem("A.WAV", u"", 2)})}),
            "C:\\A.WAV"},
        LayoutCase {"IdListWithoutExtension",
            Concat({Header(IdList),
                IdListSection({MyComputerItem(), DriveItem("C:\\"), FileItem("B.WAV", u"", 0)})}),
            "C:\\B.WAV"},
        LayoutCase {"IdListDriveOnly",
            Concat({Header(IdList), IdListSection({MyComputerItem(), DriveItem("E:\\")})}), "E:\\"},
        LayoutCase {
            "IdListThisPcOnly", Concat({Header(IdList), IdListSection({MyComputerItem()})}), ""},
        LayoutCase {"IdListControlPanel",
            Concat({Header(IdList), IdListSection({ControlPanelItem(), DriveItem("C:\\")})}), ""},
        LayoutCase {"IdListNameWithSeparator",
            Concat({Header(IdList),
                IdListSection({MyComputerItem(), DriveItem("C:\\"), FileItem("X", u"..")})}),
            ""},
        LayoutCase {"LocalBeatsNetworkEnvironmentAndIdList",
            Concat({Header(IdList | LinkInfo), kLongNames, LocalLinkInfo("C:\\x.wav", ""),
                EnvironmentBlock("", u"%A%"), TerminalBlock()}),
            "C:\\x.wav"},
        LayoutCase {"EnvironmentBeatsIdList",
            Concat({Header(IdList), kLongNames, EnvironmentBlock("", u"%A%"), TerminalBlock()}),
            "%A%"},
        LayoutCase {"ForcedOffLinkInfoIsIgnored",
            Concat({Header(IdList | LinkInfo | ForceNoLinkInfo), kLongNames,
                LocalLinkInfo("C:\\x.wav", "")}),
            "D:\\Music Files\\Take one.wav"},
        LayoutCase {"AdvertisedGivesNothing", Concat({Header(IdList | DarwinId), kLongNames}), ""},
        LayoutCase {"AnsiRecoveredFromIdList",
            Concat({Header(IdList | LinkInfo),
                IdListSection(
                    {MyComputerItem(), DriveItem("C:\\"), FileItem("X.WAV", u"\u64AD\u653E.wav")}),
                LocalLinkInfo("C:\\", "\xB2\xA5\xB7\xC5.wav")}),
            "C:\\播放.wav"},
        LayoutCase {"AnsiQuestionMarksRecoveredFromIdList",
            Concat({Header(IdList | LinkInfo),
                IdListSection(
                    {MyComputerItem(), DriveItem("C:\\"), FileItem("X.WAV", u"\u64AD\u653E.wav")}),
                LocalLinkInfo("C:\\", "??.wav")}),
            "C:\\播放.wav"},
        // The list names another file, so LinkInfo's bytes are kept (.wav, not .mp3); the
        // list's characters still show that those bytes were written under code page 936.
        LayoutCase {"AnsiKeptWhenIdListDisagrees",
            Concat({Header(IdList | LinkInfo),
                IdListSection(
                    {MyComputerItem(), DriveItem("C:\\"), FileItem("Y.WAV", u"\u64AD\u653E.mp3")}),
                LocalLinkInfo("C:\\", "\xB2\xA5\xB7\xC5.wav")}),
            "C:\\播放.wav"},
        LayoutCase {"AnsiKeptAs1252WhenIdListSharesNoCharacters",
            Concat({Header(IdList | LinkInfo),
                IdListSection(
                    {MyComputerItem(), DriveItem("C:\\"), FileItem("Y.WAV", u"\u97F3\u4E50.mp3")}),
                LocalLinkInfo("C:\\", "\xB2\xA5\xB7\xC5.wav")}),
            "C:\\²¥·Å.wav"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Parser, KeepsRelativePathAndAdvertisedFlag)
{
    const auto targets = parseShellLink(Concat({Header(RelativePath | Unicode | DarwinId),
        UnicodeString(u".\\take 1.wav"), TerminalBlock()}));
    ASSERT_TRUE(targets.has_value());
    EXPECT_EQ(targets->relativePath, ".\\take 1.wav");
    EXPECT_TRUE(targets->advertised);
}

TEST(Parser, ReadsStringsInOrderPastTheOnesItSkips)
{
    const auto targets = parseShellLink(Concat({Header(Name | RelativePath | WorkingDir | Unicode),
        UnicodeString(u"comment"), UnicodeString(u"..\\a.wav"), UnicodeString(u"C:\\")}));
    ASSERT_TRUE(targets.has_value());
    EXPECT_EQ(targets->relativePath, "..\\a.wav");
}

// --- Malformed files --------------------------------------------------------------------------

struct MalformedCase {
    const char* name;
    std::function<Bytes()> build;
};

class MalformedLink : public testing::TestWithParam<MalformedCase> { };

TEST_P(MalformedLink, IsRefused)
{
    EXPECT_EQ(Resolve(GetParam().build()), "<invalid>");
}

Bytes WithLinkInfoField(LinkInfoField field, std::uint32_t value)
{
    Bytes bytes = LocalLink();
    SetU32(bytes, 0x4C + field, value);
    return bytes;
}

// The volume ID sits right after LinkInfo's header; its first field is its size.
Bytes WithVolumeIdSize(std::uint32_t value)
{
    Bytes bytes = LocalLink();
    SetU32(bytes, 0x4C + 0x1C, value);
    return bytes;
}

Bytes NetworkLinkWithShareField(std::size_t field, std::uint32_t value)
{
    Bytes bytes = Concat({Header(LinkInfo), NetworkLinkInfo("\\\\s\\x", "")});
    SetU32(bytes, 0x4C + kNetworkLinkAt + field, value);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Parser, MalformedLink,
    testing::Values(MalformedCase {"Empty", [] { return Bytes {}; }},
        MalformedCase {"OneByte", [] { return Bytes {0x4C}; }},
        MalformedCase {"TruncatedHeader",
            [] {
                Bytes b = Header(0);
                b.pop_back();
                return b;
            }},
        MalformedCase {"WrongHeaderSize",
            [] {
                Bytes b = Header(0);
                SetU32(b, 0, 0x4D);
                return b;
            }},
        MalformedCase {"WrongClsid",
            [] {
                Bytes b = Header(0);
                b[19] = 0x47;
                return b;
            }},
        MalformedCase {"IdListSizePastEnd",
            [] {
                Bytes b = Concat({Header(IdList), IdListSection({MyComputerItem()})});
                SetU16(b, 0x4C, 0xFFFF);
                return b;
            }},
        MalformedCase {"IdListFlagWithoutList", [] { return Header(IdList); }},
        MalformedCase {
            "LinkInfoSizePastEnd", [] { return WithLinkInfoField(LinkInfoSize, 0x7FFFFFFF); }},
        MalformedCase {"LinkInfoSizeTooSmall", [] { return WithLinkInfoField(LinkInfoSize, 6); }},
        MalformedCase {"LinkInfoHeaderPastLinkInfo",
            [] { return WithLinkInfoField(LinkInfoHeaderSize, 0x1000); }},
        MalformedCase {
            "LinkInfoHeaderTooSmall", [] { return WithLinkInfoField(LinkInfoHeaderSize, 0x10); }},
        MalformedCase {"LocalPathOffsetPastEnd",
            [] { return WithLinkInfoField(LocalBasePathOffset, 0xFFFFFFF0); }},
        MalformedCase {
            "SuffixOffsetPastEnd", [] { return WithLinkInfoField(SuffixOffset, 0x10000); }},
        MalformedCase {
            "VolumeIdOffsetPastEnd", [] { return WithLinkInfoField(VolumeIdOffset, 0x10000); }},
        MalformedCase {"VolumeIdSizePastLinkInfo", [] { return WithVolumeIdSize(0x1000); }},
        MalformedCase {"VolumeIdSizeTooSmall", [] { return WithVolumeIdSize(0x10); }},
        MalformedCase {"VolumeIdSizeZero", [] { return WithVolumeIdSize(0); }},
        MalformedCase {"LocalPathRunsPastLinkInfo",
            [] {
                // LinkInfo ends one byte early: the suffix's NUL lies outside it.
                const auto size = LocalLinkInfo("C:\\Music", "take1.wav").size();
                return WithLinkInfoField(LinkInfoSize, static_cast<std::uint32_t>(size - 1));
            }},
        MalformedCase {
            "ShareSizePastLinkInfo", [] { return NetworkLinkWithShareField(0, 0x1000); }},
        MalformedCase {"ShareSizeTooSmall", [] { return NetworkLinkWithShareField(0, 0x10); }},
        MalformedCase {
            "NetNameOffsetPastShare", [] { return NetworkLinkWithShareField(8, 0x1000); }},
        MalformedCase {
            "NetNameRunsPastShare", [] { return NetworkLinkWithShareField(0, 0x14 + 5); }},
        MalformedCase {"StringLengthHuge",
            [] {
                Bytes b = Concat({Header(RelativePath | Unicode), UnicodeString(u"a.wav")});
                SetU16(b, 0x4C, 0xFFFF);
                return b;
            }},
        MalformedCase {"StringFlagWithoutString", [] { return Header(Name); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Cutting a file anywhere before its extra data must fail the parse; cutting inside the extra
// data only loses the blocks that were cut.
TEST(Parser, EveryTruncationIsRefusedOrKeepsWhatIsWhole)
{
    const Bytes head = Concat({Header(IdList | LinkInfo | RelativePath | Unicode), kLongNames,
        LocalLinkInfo("C:\\Music", "take1.wav"), UnicodeString(u".\\take1.wav")});
    const Bytes full = Concat({head, EnvironmentBlock("", u"%A%"), TerminalBlock()});
    for (std::size_t size = 0; size < full.size(); ++size) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
        const auto targets = parseShellLink(cut);
        SCOPED_TRACE(size);
        if (size < head.size()) {
            EXPECT_FALSE(targets.has_value());
            continue;
        }
        ASSERT_TRUE(targets.has_value());
        EXPECT_EQ(targets->localPath, "C:\\Music\\take1.wav");
        EXPECT_EQ(targets->environmentTarget, size >= head.size() + 0x314 ? "%A%" : "");
    }
}

// A block too small to hold its own size and signature ends the walk; the blocks after it
// are not read, and the target before it stands.
TEST(Parser, ExtraBlockSmallerThanItsHeaderEndsTheWalk)
{
    Bytes b = LocalLink();
    PutU32(b, 4);
    const Bytes environment = EnvironmentBlock("", u"%A%");
    b.insert(b.end(), environment.begin(), environment.end());
    EXPECT_EQ(parseShellLink(b)->environmentTarget, "");
    EXPECT_EQ(Resolve(b), "C:\\Music\\take1.wav");
}

TEST(Parser, ExtraBlockSizePastEndIsIgnored)
{
    Bytes b = Concat({LocalLink(), EnvironmentBlock("", u"%A%")});
    SetU32(b, LocalLink().size(), 0x315);
    EXPECT_EQ(parseShellLink(b)->environmentTarget, "");
    EXPECT_EQ(Resolve(b), "C:\\Music\\take1.wav");
}

TEST(Parser, ShortEnvironmentBlockIsIgnored)
{
    Bytes block = EnvironmentBlock("%A%", u"%A%");
    block.resize(0x100);
    SetU32(block, 0, 0x100);
    EXPECT_EQ(parseShellLink(Concat({Header(0), block}))->environmentTarget, "");
}

TEST(Parser, UnterminatedEnvironmentTargetStopsAtItsField)
{
    const Bytes block
        = EnvironmentBlock(std::string(260, 'a'), std::u16string(260, u'b')); // no NULs at all
    EXPECT_EQ(parseShellLink(Concat({Header(0), block}))->environmentTarget, std::string(260, 'b'));
}

struct BadIdListCase {
    const char* name;
    std::function<Bytes()> list;
};

class BadIdList : public testing::TestWithParam<BadIdListCase> { };

// A bad item spoils only the path the list would spell, not the rest of the file.
TEST_P(BadIdList, SpellsNoPathButKeepsLinkInfo)
{
    const auto targets = parseShellLink(Concat(
        {Header(IdList | LinkInfo), GetParam().list(), LocalLinkInfo("C:\\Music", "take1.wav")}));
    ASSERT_TRUE(targets.has_value());
    EXPECT_EQ(targets->idListPath, "");
    EXPECT_EQ(targets->localPath, "C:\\Music\\take1.wav");
}

Bytes ListWithItemSize(std::uint16_t size)
{
    Bytes list = IdListSection({MyComputerItem(), DriveItem("C:\\")});
    SetU16(list, 2 + MyComputerItem().size(), size);
    return list;
}

INSTANTIATE_TEST_SUITE_P(Parser, BadIdList,
    testing::Values(BadIdListCase {"ItemPastList", [] { return ListWithItemSize(0x200); }},
        BadIdListCase {"ItemTooSmall", [] { return ListWithItemSize(1); }},
        BadIdListCase {"NoTerminator",
            [] {
                Bytes list = IdListSection({MyComputerItem(), DriveItem("C:\\")});
                list.resize(list.size() - 2);
                SetU16(list, 0, static_cast<std::uint32_t>(list.size() - 2));
                return list;
            }},
        BadIdListCase {"LongNameOffsetPastBlock",
            [] {
                Bytes item = FileItem("A.WAV", u"a.wav");
                // Claim the block is too short to hold its name, then drop the short name.
                const std::size_t block = item[item.size() - 2];
                SetU16(item, block, 20);
                item[14] = 0;
                return IdListSection({MyComputerItem(), DriveItem("C:\\"), item});
            }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
