// SPDX-License-Identifier: MIT
// The bounded readers at the edges of their section. Each section is cut from a longer
// buffer whose next bytes would complete the read, so a reader that looks one byte too far
// gives a value instead of nothing.
#include "shell/ShellLinkBytes.h"

#include <gtest/gtest.h>

namespace {

using namespace shell::detail;

// Eight bytes; sections are its first `size` bytes, and the rest are NULs.
const std::uint8_t kBuffer[] = {'a', 0, 'b', 0, 0, 0, 0, 0};

Bytes Section(std::size_t size)
{
    return Bytes(kBuffer, size);
}

std::optional<std::size_t> Length(std::optional<Bytes> bytes)
{
    return bytes ? std::optional(bytes->size()) : std::nullopt;
}

struct ReadCase {
    const char* name;
    std::size_t sectionSize;
    std::size_t offset;
    std::optional<std::size_t> expected; // length read, or nothing
};

class BoundedRead : public testing::TestWithParam<ReadCase> { };

TEST_P(BoundedRead, TerminatedAnsi)
{
    const auto& c = GetParam();
    EXPECT_EQ(Length(terminatedAnsi(Section(c.sectionSize), c.offset)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Ansi, BoundedRead,
    testing::Values(ReadCase {"NulIsLastByte", 2, 0, 1}, ReadCase {"NulJustOutside", 1, 0, {}},
        ReadCase {"EmptyString", 2, 1, 0}, ReadCase {"OffsetAtEnd", 2, 2, {}},
        ReadCase {"OffsetFarOut", 2, 1u << 31, {}}, ReadCase {"EmptySection", 0, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

class BoundedUtf16Read : public testing::TestWithParam<ReadCase> { };

TEST_P(BoundedUtf16Read, TerminatedUtf16)
{
    const auto& c = GetParam();
    EXPECT_EQ(Length(terminatedUtf16(Section(c.sectionSize), c.offset)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Utf16, BoundedUtf16Read,
    testing::Values(ReadCase {"NulIsLastUnit", 6, 0, 4}, ReadCase {"HalfNulInside", 5, 0, {}},
        ReadCase {"NulJustOutside", 4, 0, {}}, ReadCase {"OddOffsetIsAllowed", 6, 1, 2},
        ReadCase {"OffsetAtEnd", 6, 6, {}}, ReadCase {"OffsetFarOut", 6, SIZE_MAX, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BoundedRead, IntegersStopAtTheSectionEnd)
{
    EXPECT_EQ(readU16(Section(2), 0), 'a');
    EXPECT_EQ(readU16(Section(3), 2), std::nullopt);
    EXPECT_EQ(readU32(Section(4), 0), 0x00620061u);
    EXPECT_EQ(readU32(Section(7), 4), std::nullopt);
    EXPECT_EQ(readU32(Section(8), SIZE_MAX - 1), std::nullopt);
}

TEST(BoundedRead, SliceRefusesSizesThatWrapAround)
{
    EXPECT_EQ(Length(slice(Section(4), 2, 2)), 2u);
    EXPECT_EQ(Length(slice(Section(4), 4, 0)), 0u);
    EXPECT_EQ(Length(slice(Section(4), 3, 2)), std::nullopt);
    EXPECT_EQ(Length(slice(Section(4), 5, 0)), std::nullopt);
    EXPECT_EQ(Length(slice(Section(4), 2, SIZE_MAX)), std::nullopt);
}

TEST(BoundedRead, FixedFieldsStopAtTheirEnd)
{
    EXPECT_EQ(upToNul(Section(1)).size(), 1u);
    EXPECT_EQ(upToNul(Section(4)).size(), 1u);
    EXPECT_EQ(upToNulUtf16(Section(3)).size(), 2u);
    EXPECT_EQ(upToNulUtf16(Section(8)).size(), 4u);
}

} // namespace
