// SPDX-License-Identifier: MIT
// Every real shortcut in the test data, checked against the target its manifest gives.
#include "shell/ShellLink.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path kTestData = TANDREL_LNK_TESTDATA;

struct ManifestRow {
    std::string file;
    std::string expected;
    std::string kind;
};

void PrintTo(const ManifestRow& row, std::ostream* out)
{
    *out << row.file;
}

std::vector<std::string> SplitOn(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

// Columns are found by name: the manifest may grow more of them at the end.
std::vector<ManifestRow> ReadManifest()
{
    std::ifstream in(kTestData / "MANIFEST.tsv");
    std::string line;
    if (!std::getline(in, line))
        return {};
    const auto header = SplitOn(line, '\t');
    const auto column = [&](const std::string& name) {
        return static_cast<std::size_t>(
            std::find(header.begin(), header.end(), name) - header.begin());
    };
    const std::size_t file = column("file"), expected = column("expected_target"),
                      kind = column("kind");
    std::vector<ManifestRow> rows;
    while (std::getline(in, line)) {
        const auto cells = SplitOn(line, '\t');
        if (cells.size() > std::max({file, expected, kind}))
            rows.push_back({cells[file], cells[expected], cells[kind]});
    }
    return rows;
}

bool HasTag(const ManifestRow& row, const std::string& tag)
{
    const auto tags = SplitOn(row.kind, '+');
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// What this Linux program should give for a row. Advertised (darwin) shortcuts name an
// installer icon rather than their program, and the relative-only row's target does not sit
// beside it in the test folder: both give nothing. Everything else must match the manifest.
std::string ExpectedHere(const ManifestRow& row)
{
    if (HasTag(row, "virtual") || HasTag(row, "darwin") || HasTag(row, "relative-only"))
        return {};
    return row.expected;
}

// Windows compares paths ignoring case; other characters must match exactly.
std::string FoldAsciiCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Unsets the %NAME% variables of an expected value for one test, so that they come back
// unexpanded whatever the machine running the tests has set.
class UnsetVariables {
public:
    explicit UnsetVariables(const std::string& text)
    {
        const auto parts = SplitOn(text, '%');
        for (std::size_t i = 1; i + 1 < parts.size(); i += 2) {
            if (const char* value = std::getenv(parts[i].c_str()))
                saved.emplace_back(parts[i], value);
            unsetenv(parts[i].c_str());
        }
    }
    ~UnsetVariables()
    {
        for (const auto& [name, value] : saved)
            setenv(name.c_str(), value.c_str(), 1);
    }

private:
    std::vector<std::pair<std::string, std::string>> saved;
};

TEST(ShortcutManifest, IsPresentAndCoversEveryFile)
{
    ASSERT_TRUE(fs::exists(kTestData / "MANIFEST.tsv"))
        << "shortcut test data missing: " << kTestData;
    std::set<std::string> listed;
    for (const auto& row : ReadManifest())
        listed.insert(row.file);
    ASSERT_GE(listed.size(), 49u);
    for (const auto& entry : fs::directory_iterator(kTestData)) {
        const std::string name = entry.path().filename().string();
        if (name != "MANIFEST.tsv" && name != "README.md") {
            EXPECT_TRUE(listed.count(name)) << name << " is not in the manifest";
        }
    }
}

class ShortcutManifestRow : public testing::TestWithParam<ManifestRow> { };

TEST_P(ShortcutManifestRow, ResolvesAsExpected)
{
    const ManifestRow& row = GetParam();
    const std::set<std::string> known = {"local", "folder", "shared", "unc", "mapped", "env",
        "idlist", "idlist-only", "unicode", "darwin", "virtual", "not-a-link", "relative-only"};
    for (const auto& tag : SplitOn(row.kind, '+'))
        EXPECT_TRUE(known.count(tag)) << "decide what tag '" << tag << "' should give";
    const UnsetVariables unset(row.expected);
    const std::string actual = shell::resolveShortcut((kTestData / row.file).string());
    EXPECT_EQ(FoldAsciiCase(actual), FoldAsciiCase(ExpectedHere(row)))
        << "kind " << row.kind << ", resolved to " << actual;
}

std::string RowName(const testing::TestParamInfo<ManifestRow>& info)
{
    std::string name = info.param.file;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Manifest, ShortcutManifestRow, testing::ValuesIn(ReadManifest()), RowName);

} // namespace
