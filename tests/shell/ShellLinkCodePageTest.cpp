// SPDX-License-Identifier: MIT
// Shortcuts written under other ANSI code pages than 1252, built field by field: the Unicode
// strings the file carries decide how its ANSI bytes are read, also when the item-ID list does
// not spell a drive path.
#include "shell/ShellLinkCodePage.h"

#include "LinkBuilder.h"
#include "shell/ShellLink.h"
#include "shell/ShellLinkText.h"

#include <functional>
#include <gtest/gtest.h>

using namespace linkbuilder;
using shell::parseShellLink;

namespace {

std::string Utf8(std::u16string_view text)
{
    Bytes utf16;
    PutUtf16(utf16, text, false);
    return shell::detail::utf16ToUtf8(utf16);
}

// A path as the test writes it: ANSI bytes of the creating system's code page and the
// Unicode names Windows stores beside them.
struct Names {
    std::string ansiFolder;
    std::string ansiShortFolder;
    std::string ansiFile;
    std::u16string folder;
    std::u16string file;
};

// What Windows writes for C:\Users\<folder>\<file> when the shortcut was made from a folder
// view below the Desktop: an item-ID list through Users Files, whose items carry 8.3 ANSI
// names and Unicode long names, ANSI-only LinkInfo and a Unicode working folder.
Bytes DesktopRootedLink(const Names& n)
{
    return Concat({Header(IdList | LinkInfo | WorkingDir | Unicode),
        IdListSection({UsersFilesItem(), FileItem(n.ansiShortFolder, n.folder, 9, 0x31),
            FileItem("SONG~1.WAV", n.file, 9)}),
        LocalLinkInfo("C:\\Users\\" + n.ansiFolder + "\\" + n.ansiFile, ""),
        UnicodeString(u"C:\\Users\\" + n.folder)});
}

std::string LocalPath(const Bytes& link)
{
    const auto targets = parseShellLink(link);
    return targets ? targets->localPath : "<invalid>";
}

// --- One code page per row ----------------------------------------------------------------

struct CodePageCase {
    const char* name;
    Names names;
};

class CodePageFromUnicodeNames : public testing::TestWithParam<CodePageCase> { };

TEST_P(CodePageFromUnicodeNames, GivesTheTrueCharacters)
{
    const Names& n = GetParam().names;
    const auto targets = parseShellLink(DesktopRootedLink(n));
    ASSERT_TRUE(targets.has_value());
    EXPECT_EQ(targets->idListPath, "");
    EXPECT_EQ(targets->localPath, "C:\\Users\\" + Utf8(n.folder) + "\\" + Utf8(n.file));
}

INSTANTIATE_TEST_SUITE_P(CodePage, CodePageFromUnicodeNames,
    testing::Values(CodePageCase {"Russian1251",
                        {"\xC8\xE2\xE0\xED", "\xC8\xC2\xC0\xCD", "\xEF\xE5\xF1\xED\xFF.wav",
                            u"\u0418\u0432\u0430\u043D", u"\u043F\u0435\u0441\u043D\u044F.wav"}},
        CodePageCase {"Czech1250",
            {"P\xF8\xEDli\x9A", "P\xD8\xCDLI\x8A", "\x9Elu\x9Dou\xE8k\xFD k\xF9\xF2.wav",
                u"P\u0159\u00EDli\u0161", u"\u017Elu\u0165ou\u010Dk\u00FD k\u016F\u0148.wav"}},
        CodePageCase {"Polish1250",
            {"\xA3ukasz", "\xA3UKASZ",
                "\xA3\xF3"
                "d\x9F.wav",
                u"\u0141ukasz", u"\u0141\u00F3d\u017A.wav"}},
        CodePageCase {"Greek1253",
            {"\xC3\xE9\xFE\xF1\xE3\xEF\xF2", "\xC3\xC9\xBF\xD1\xC3\xCF\xD3",
                "\xF4\xF1\xE1\xE3\xEF\xFD\xE4\xE9.wav",
                u"\u0393\u03B9\u03CE\u03C1\u03B3\u03BF\u03C2",
                u"\u03C4\u03C1\u03B1\u03B3\u03BF\u03CD\u03B4\u03B9.wav"}},
        // Both names hold a second byte of 0x5C, the backslash: the path must be read whole,
        // never split at that byte first.
        CodePageCase {"Japanese932",
            {"\x83\x5C\x83t\x83g", "\x83\x5C\x83t\x83g", "\x95\x5C\x8E\xA6.wav",
                u"\u30BD\u30D5\u30C8", u"\u8868\u793A.wav"}},
        CodePageCase {"Chinese936",
            {"\xD2\xF4\xC0\xD6", "\xD2\xF4\xC0\xD6", "\xB2\xA5\xB7\xC5.wav", u"\u97F3\u4E50",
                u"\u64AD\u653E.wav"}},
        CodePageCase {
            "Western1252", {"Jos\xE9", "JOS\xC9", "Caf\xE9.wav", u"Jos\u00E9", u"Caf\u00E9.wav"}},
        CodePageCase {
            "Utf8", {"\xC3\xB6\xC3\xB6", "OO", "\xC3\xA4.wav", u"\u00F6\u00F6", u"\u00E4.wav"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Each Unicode string on its own tells the code page -------------------------------------

const std::string kIvanAnsi = "\xC8\xE2\xE0\xED";
const std::u16string kIvan = u"\u0418\u0432\u0430\u043D";
const std::string kIvanUtf8 = "Иван";

Bytes IvanLinkInfo()
{
    return LocalLinkInfo("C:\\Users\\" + kIvanAnsi, "song.wav");
}

struct EvidenceCase {
    const char* name;
    Bytes link;
    std::string expected;
};

class CodePageEvidence : public testing::TestWithParam<EvidenceCase> { };

TEST_P(CodePageEvidence, DecidesHowLinkInfoIsRead)
{
    EXPECT_EQ(LocalPath(GetParam().link), GetParam().expected);
}

const std::string kRussian = "C:\\Users\\Иван\\song.wav";
// What the bytes give under 1252, as before: nothing in the file says otherwise.
const std::string kWestern = "C:\\Users\\Èâàí\\song.wav";

INSTANTIATE_TEST_SUITE_P(CodePage, CodePageEvidence,
    testing::Values(EvidenceCase {"WorkingFolder",
                        Concat({Header(LinkInfo | WorkingDir | Unicode), IvanLinkInfo(),
                            UnicodeString(u"C:\\Users\\" + kIvan)}),
                        kRussian},
        EvidenceCase {"WorkingFolderInOtherCase",
            Concat({Header(LinkInfo | WorkingDir | Unicode), IvanLinkInfo(),
                UnicodeString(u"c:\\users\\\u0438\u0412\u0410\u041D")}),
            kRussian},
        EvidenceCase {"RelativePath",
            Concat({Header(LinkInfo | RelativePath | Unicode), IvanLinkInfo(),
                UnicodeString(u"..\\" + kIvan + u"\\song.wav")}),
            kRussian},
        EvidenceCase {"NameString",
            Concat({Header(LinkInfo | Name | Unicode), IvanLinkInfo(),
                UnicodeString(u"\u041F\u0435\u0441\u043D\u0438 " + kIvan)}),
            kRussian},
        EvidenceCase {"ItemLongName",
            Concat({Header(IdList | LinkInfo),
                IdListSection({UsersFilesItem(), FileItem("IVAN~1", kIvan, 8, 0x31)}),
                IvanLinkInfo()}),
            kRussian},
        EvidenceCase {"EnvironmentBlock",
            Concat({Header(LinkInfo), IvanLinkInfo(),
                EnvironmentBlock("%USERPROFILE%", u"%USERPROFILE%\\..\\" + kIvan),
                TerminalBlock()}),
            kRussian},
        EvidenceCase {"DarwinBlock",
            Concat({Header(LinkInfo), IvanLinkInfo(), DarwinBlock("", kIvan), TerminalBlock()}),
            kRussian},
        EvidenceCase {"IconBlock",
            Concat({Header(LinkInfo), IvanLinkInfo(),
                IconEnvironmentBlock("", u"C:\\Users\\" + kIvan + u"\\i.ico"), TerminalBlock()}),
            kRussian},
        // The file's Unicode strings share only some letters with the path; the code page
        // that explains those still reads the rest.
        EvidenceCase {"PartialAgreement",
            Concat({Header(LinkInfo | WorkingDir | Unicode),
                LocalLinkInfo("C:\\" + kIvanAnsi + "\\\xC4\xEE\xEA\xF3\xEC\xE5\xED\xF2\xFB", ""),
                UnicodeString(u"C:\\" + kIvan)}),
            "C:\\Иван\\Документы"},
        EvidenceCase {"NoUnicodeStrings",
            Concat({Header(IdList | LinkInfo | WorkingDir),
                IdListSection({UsersFilesItem(), FileItem(kIvanAnsi, u"", 0, 0x31)}),
                IvanLinkInfo(), AnsiString("C:\\Users\\" + kIvanAnsi)}),
            kWestern},
        EvidenceCase {"UnicodeStringsWithoutThoseLetters",
            Concat({Header(LinkInfo | WorkingDir | Unicode), IvanLinkInfo(),
                UnicodeString(u"C:\\Users\\Public \u266B")}),
            kWestern},
        EvidenceCase {"AsciiOnlyUnicodeStrings",
            Concat({Header(LinkInfo | WorkingDir | Unicode), IvanLinkInfo(),
                UnicodeString(u"C:\\Users")}),
            kWestern},
        // Bytes that 932 cannot read (a lead byte at the end of the environment target) rule
        // it out, although under it LinkInfo's 83 5C would be the ソ the working folder holds.
        EvidenceCase {"InvalidUnderTheAgreeingPage",
            Concat({Header(LinkInfo | WorkingDir | Unicode), LocalLinkInfo("C:\\\x83\x5C", ""),
                UnicodeString(u"C:\\\u30BD"), EnvironmentBlock("\x83", u""), TerminalBlock()}),
            "C:\\ƒ\\"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Evidence that disagrees ----------------------------------------------------------------

// C8 E2 E0 ED reads "Иван" under 1251 and "Θβΰν" under 1253.
const std::u16string kGreek = u"\u0398\u03B2\u03B0\u03BD";

struct ConflictCase {
    const char* name;
    std::u16string workingFolder;
    std::u16string itemName;
    std::string expected;
};

class ConflictingEvidence : public testing::TestWithParam<ConflictCase> { };

TEST_P(ConflictingEvidence, SettlesTheSameWayEveryTime)
{
    const Bytes link = Concat({Header(IdList | LinkInfo | WorkingDir | Unicode),
        IdListSection({UsersFilesItem(), FileItem("X~1", GetParam().itemName, 9, 0x31)}),
        LocalLinkInfo("C:\\" + kIvanAnsi, ""), UnicodeString(GetParam().workingFolder)});
    const std::string first = LocalPath(link);
    EXPECT_EQ(first, GetParam().expected);
    EXPECT_EQ(LocalPath(link), first);
}

INSTANTIATE_TEST_SUITE_P(CodePage, ConflictingEvidence,
    testing::Values(
        // A tie goes to the page listed first, whichever string holds which script.
        ConflictCase {"TieCyrillicFirst", kIvan, kGreek, "C:\\Иван"},
        ConflictCase {"TieGreekFirst", kGreek, kIvan, "C:\\Иван"},
        ConflictCase {"MoreGreek", u"\u0418\u0432", kGreek, "C:\\Θβΰν"},
        ConflictCase {"MoreCyrillic", kIvan, u"\u0398\u03B2", "C:\\Иван"},
        // Letters that 1252 and 1254 explain alike keep 1252, listed first.
        ConflictCase {"LatinKeeps1252", u"\u00C8\u00E2", u"\u00E0\u00ED", "C:\\Èâàí"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Every ANSI string of the file is read under the page found -----------------------------

struct OtherFieldCase {
    const char* name;
    Bytes link;
    std::function<std::string(const shell::ShellLinkTargets&)> field;
    std::string expected;
};

class OtherAnsiFields : public testing::TestWithParam<OtherFieldCase> { };

TEST_P(OtherAnsiFields, FollowTheCodePage)
{
    const auto targets = parseShellLink(GetParam().link);
    ASSERT_TRUE(targets.has_value());
    EXPECT_EQ(GetParam().field(*targets), GetParam().expected);
}

const Bytes kIvanItems = IdListSection({UsersFilesItem(), FileItem("IVAN~1", kIvan, 9, 0x31)});

INSTANTIATE_TEST_SUITE_P(CodePage, OtherAnsiFields,
    testing::Values(OtherFieldCase {"NetworkShare",
                        Concat({Header(IdList | LinkInfo), kIvanItems,
                            NetworkLinkInfo("\\\\SRV\\" + kIvanAnsi, "song.wav")}),
                        [](const auto& t) { return t.networkPath; }, "\\\\SRV\\Иван\\song.wav"},
        OtherFieldCase {"AnsiRelativePath",
            Concat({Header(IdList | RelativePath), kIvanItems,
                AnsiString("..\\" + kIvanAnsi + "\\song.wav")}),
            [](const auto& t) { return t.relativePath; }, "..\\Иван\\song.wav"},
        OtherFieldCase {"AnsiOnlyEnvironmentTarget",
            Concat({Header(IdList), kIvanItems, EnvironmentBlock("%HOMEDRIVE%\\" + kIvanAnsi, u""),
                TerminalBlock()}),
            [](const auto& t) { return t.environmentTarget; }, "%HOMEDRIVE%\\Иван"},
        // An item without a long name spells its part of a drive path in ANSI.
        OtherFieldCase {"IdListShortName",
            Concat({Header(IdList | WorkingDir | Unicode),
                IdListSection(
                    {MyComputerItem(), DriveItem("C:\\"), FileItem(kIvanAnsi, u"", 0, 0x31)}),
                UnicodeString(u"C:\\" + kIvan)}),
            [](const auto& t) { return t.idListPath; }, "C:\\Иван"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The decoder itself ---------------------------------------------------------------------

struct DecodeCase {
    const char* name;
    std::string ansi;
    unsigned codePage;
    std::string expected;
};

class AnsiDecoding : public testing::TestWithParam<DecodeCase> { };

TEST_P(AnsiDecoding, GivesUtf8)
{
    const std::string& ansi = GetParam().ansi;
    const auto bytes
        = shell::detail::Bytes(reinterpret_cast<const std::uint8_t*>(ansi.data()), ansi.size());
    EXPECT_EQ(shell::detail::ansiToUtf8(bytes, GetParam().codePage), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(CodePage, AnsiDecoding,
    testing::Values(DecodeCase {"Cyrillic", kIvanAnsi, 1251, kIvanUtf8},
        DecodeCase {"Greek", kIvanAnsi, 1253, "Θβΰν"},
        DecodeCase {"Western", "\x80\x81", 1252, "€\u0081"},
        DecodeCase {"ShiftJisBackslashTrail", "\x95\x5C", 932, "表"},
        DecodeCase {"GbkEuro", "\x80", 936, "€"},
        // Windows reads 1258 byte for byte: the hook above stays a character of its own.
        DecodeCase {"VietnameseAccentStaysApart", "e\xD2", 1258, "e\u0309"},
        DecodeCase {"Empty", "", 1251, ""},
        // Not readable under the page asked for: read as 1252 rather than lost.
        DecodeCase {"UndefinedInSingleBytePage", "\x98", 1251, "˜"},
        DecodeCase {"CutShiftJis", "a\x83", 932, "aƒ"},
        DecodeCase {"InvalidUtf8", "\xC3(", 65001, "Ã("},
        DecodeCase {"UnknownCodePage", "\xE9", 437, "é"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
