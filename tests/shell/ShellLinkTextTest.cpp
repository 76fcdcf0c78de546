// SPDX-License-Identifier: MIT
// Text handling behind the shortcut reader: UTF-16 and code page 1252 to UTF-8, recovering
// ANSI paths from Unicode ones, and %NAME% expansion.
#include "shell/ShellLinkText.h"

#include "shell/ShellLink.h"

#include <gtest/gtest.h>
#include <map>

namespace {

using shell::detail::Bytes;

struct Utf16Case {
    const char* name;
    std::vector<std::uint8_t> utf16le;
    std::string expected;
};

class Utf16Decoding : public testing::TestWithParam<Utf16Case> { };

TEST_P(Utf16Decoding, GivesUtf8)
{
    EXPECT_EQ(shell::detail::utf16ToUtf8(GetParam().utf16le), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Text, Utf16Decoding,
    testing::Values(Utf16Case {"Ascii", {'C', 0, ':', 0}, "C:"},
        Utf16Case {"TwoByteUtf8", {0xE9, 0x00}, "é"},
        Utf16Case {"ThreeByteUtf8", {0xAD, 0x64}, "播"},
        Utf16Case {"SurrogatePair", {0x3C, 0xD8, 0x70, 0xDF}, "🍰"},
        Utf16Case {"LoneHighSurrogate", {0x00, 0xD8, 'x', 0}, "?x"},
        Utf16Case {"HighSurrogateAtEnd", {'a', 0, 0x3C, 0xD8}, "a?"},
        Utf16Case {"LoneLowSurrogate", {0x70, 0xDF, 'x', 0}, "?x"},
        Utf16Case {"PairInWrongOrder", {0x70, 0xDF, 0x3C, 0xD8}, "??"},
        Utf16Case {"OddTrailingByteDropped", {'a', 0, 'b'}, "a"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Cp1252Case {
    std::uint8_t byte;
    std::string expected;
};

class Cp1252Decoding : public testing::TestWithParam<Cp1252Case> { };

TEST_P(Cp1252Decoding, GivesUtf8)
{
    const std::uint8_t byte = GetParam().byte;
    EXPECT_EQ(shell::detail::cp1252ToUtf8(Bytes(&byte, 1)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Text, Cp1252Decoding,
    testing::Values(Cp1252Case {0x41, "A"}, Cp1252Case {0x7F, "\x7F"}, Cp1252Case {0x80, "€"},
        Cp1252Case {0x81, "\u0081"}, Cp1252Case {0x8A, "Š"}, Cp1252Case {0x8E, "Ž"},
        Cp1252Case {0x9F, "Ÿ"}, Cp1252Case {0xA0, "\u00A0"}, Cp1252Case {0xC9, "É"},
        Cp1252Case {0xFF, "ÿ"}));

struct RecoveryCase {
    const char* name;
    std::string ansi;
    std::string unicode;
    bool wholePath;
    std::optional<std::string> expected;
};

class AnsiRecovery : public testing::TestWithParam<RecoveryCase> { };

TEST_P(AnsiRecovery, TakesUnicodeOnlyWhereThePathsAgree)
{
    const auto& c = GetParam();
    EXPECT_EQ(shell::detail::recoverAnsiPath(c.ansi, c.unicode, c.wholePath), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Text, AnsiRecovery,
    testing::Values(
        RecoveryCase {"Gbk", "C:\\\xB2\xA5\xB7\xC5.exe", "C:\\播放.exe", true, "C:\\播放.exe"},
        RecoveryCase {"Utf8", "D:\\\xC3\xB6\xC3\xB6", "D:\\öö", true, "D:\\öö"},
        RecoveryCase {
            "AsciiKeepsItsOwnCase", "C:\\WINDOWS\\\xE9", "C:\\Windows\\é", true, "C:\\WINDOWS\\é"},
        RecoveryCase {"QuestionMarkStandsForLostCharacter", "C:\\a?b", "C:\\a♫b", true, "C:\\a♫b"},
        RecoveryCase {"AsciiComponentDiffers", "C:\\x\\\xE9", "C:\\y\\é", true, std::nullopt},
        RecoveryCase {"AsciiAroundRunDiffers", "C:\\\xE9.wav", "C:\\é.mp3", true, std::nullopt},
        RecoveryCase {"AsciiBestFitForAccent", "C:\\e", "C:\\é", true, std::nullopt},
        RecoveryCase {"RunTooShort", "C:\\\xE9", "C:\\éé", true, std::nullopt},
        RecoveryCase {"RunTooLong", "C:\\\xE9\xE9\xE9\xE9\xE9", "C:\\é", true, std::nullopt},
        RecoveryCase {"ComponentCountDiffers", "C:\\\xE9", "C:\\a\\é", true, std::nullopt},
        RecoveryCase {"TailOfMappedDrive", "dir\\\xE9", "Z:\\dir\\é", false, "dir\\é"},
        RecoveryCase {"TailNeedsALongerPath", "dir\\\xE9", "dir\\é", false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct ExpansionCase {
    const char* name;
    std::string text;
    std::string expected;
};

class EnvironmentExpansion : public testing::TestWithParam<ExpansionCase> { };

TEST_P(EnvironmentExpansion, ReplacesSetVariablesOnly)
{
    const std::map<std::string, std::string> environment
        = {{"windir", "C:\\Windows"}, {"HOMEDRIVE", "C:"}, {"HOMEPATH", "\\Users\\me"},
            {"ProgramFiles(x86)", "C:\\PF86"}, {"EMPTY", ""}};
    const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
        const auto it = environment.find(name);
        return it == environment.end() ? std::nullopt : std::optional(it->second);
    };
    EXPECT_EQ(shell::expandEnvironmentVariables(GetParam().text, lookup), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Text, EnvironmentExpansion,
    testing::Values(ExpansionCase {"Set", "%windir%\\cmd.exe", "C:\\Windows\\cmd.exe"},
        ExpansionCase {"Unset", "%SystemRoot%\\cmd.exe", "%SystemRoot%\\cmd.exe"},
        ExpansionCase {"Adjacent", "%HOMEDRIVE%%HOMEPATH%", "C:\\Users\\me"},
        ExpansionCase {"UnsetThenSet", "%nope%%windir%", "%nope%C:\\Windows"},
        ExpansionCase {"Parentheses", "%ProgramFiles(x86)%\\a", "C:\\PF86\\a"},
        ExpansionCase {"SetButEmpty", "a%EMPTY%b", "ab"},
        ExpansionCase {"NamesAreCaseSensitiveHere", "%WINDIR%", "%WINDIR%"},
        ExpansionCase {"Unclosed", "100%windir", "100%windir"},
        ExpansionCase {"DoublePercent", "a%%b", "a%%b"},
        ExpansionCase {"ClosingPercentOpensNext", "%x%windir%", "%xC:\\Windows"},
        ExpansionCase {"Nothing", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EnvironmentExpansion, ProcessLookupReadsTheEnvironment)
{
    ASSERT_EQ(setenv("TANDREL_LNK_TEST_VARIABLE", "/music", 1), 0);
    EXPECT_EQ(shell::processEnvironment("TANDREL_LNK_TEST_VARIABLE"), "/music");
    ASSERT_EQ(unsetenv("TANDREL_LNK_TEST_VARIABLE"), 0);
    EXPECT_EQ(shell::processEnvironment("TANDREL_LNK_TEST_VARIABLE"), std::nullopt);
    EXPECT_EQ(shell::processEnvironment(""), std::nullopt);
}

} // namespace
