// SPDX-License-Identifier: MIT
// resolveShortcut against the file system: what it refuses to read, and targets found next to
// the shortcut through its relative path.
#include "LinkBuilder.h"
#include "shell/ShellLink.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace linkbuilder;
using shell::resolveShortcut;

namespace {

const fs::path kTestData = TANDREL_LNK_TESTDATA;

std::string Utf8(const fs::path& path)
{
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

class ResolveShortcutFile : public testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        dir = fs::temp_directory_path() / ("tandrel-lnk-" + std::to_string(random()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path write(const fs::path& name, const Bytes& bytes)
    {
        const fs::path path = dir / name;
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    fs::path CopyTestFile(const std::string& name, const fs::path& to)
    {
        fs::create_directories((dir / to).parent_path());
        fs::copy_file(kTestData / name, dir / to);
        return dir / to;
    }

    fs::path dir;
};

Bytes RelativeLink(std::u16string_view relative)
{
    return Concat({Header(LinkInfo | RelativePath | Unicode), LocalLinkInfo("C:\\x.wav", ""),
        UnicodeString(relative), TerminalBlock()});
}

TEST_F(ResolveShortcutFile, ReadsARealShortcut)
{
    EXPECT_EQ(resolveShortcut(Utf8(CopyTestFile("win10-local-explorer.lnk", "a.lnk"))),
        "C:\\Windows\\explorer.exe");
}

TEST_F(ResolveShortcutFile, RefusesWhatIsNotARegularShortcutFile)
{
    EXPECT_EQ(resolveShortcut(Utf8(dir / "missing.lnk")), "");
    EXPECT_EQ(resolveShortcut(""), "");
    EXPECT_EQ(resolveShortcut(Utf8(write("empty.lnk", {}))), "");
    fs::create_directory(dir / "folder.lnk");
    EXPECT_EQ(resolveShortcut(Utf8(dir / "folder.lnk")), "");
}

TEST_F(ResolveShortcutFile, RefusesFilesOverOneMebibyte)
{
    Bytes link = Concat({Header(LinkInfo), LocalLinkInfo("C:\\a.wav", ""), TerminalBlock()});
    link.resize(1024 * 1024, 0);
    EXPECT_EQ(resolveShortcut(Utf8(write("limit.lnk", link))), "C:\\a.wav");
    link.push_back(0);
    EXPECT_EQ(resolveShortcut(Utf8(write("over.lnk", link))), "");
}

TEST_F(ResolveShortcutFile, DoesNotBlockOnAFifo)
{
    const fs::path fifo = dir / "x.lnk";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::async(std::launch::async, [&] { return resolveShortcut(Utf8(fifo)); });
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        // Release the blocked reader so the test can end, then report the hang.
        const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            close(writer);
        FAIL() << "resolveShortcut blocked on a FIFO";
    }
    EXPECT_EQ(result.get(), "");
}

TEST_F(ResolveShortcutFile, FindsTheRelativeTargetBesideTheShortcut)
{
    const fs::path link = CopyTestFile("derived-relative-only.lnk", "share/derived.lnk");
    EXPECT_EQ(resolveShortcut(Utf8(link)), "");
    write("share/Fatality.rdp", {});
    EXPECT_EQ(resolveShortcut(Utf8(link)), Utf8(dir / "share/Fatality.rdp"));
}

TEST_F(ResolveShortcutFile, RelativeTargetBeatsTheRecordedWindowsPath)
{
    const fs::path link = CopyTestFile("win7-shared-local-file.lnk", "copy.lnk");
    EXPECT_EQ(resolveShortcut(Utf8(link)), "C:\\Users\\root\\Desktop\\Fatality.rdp");
    write("Fatality.rdp", {});
    EXPECT_EQ(resolveShortcut(Utf8(link)), Utf8(dir / "Fatality.rdp"));
}

struct RelativeCase {
    const char* name;
    std::u16string relative;
    std::string expected; // below the test folder; empty for the recorded C:\x.wav
};

class RelativeTarget : public ResolveShortcutFile,
                       public testing::WithParamInterface<RelativeCase> { };

// The shortcut sits in dir/a/b; the files dir/a/b/take.wav and dir/a/up.wav exist, and
// dir/a/b/sub is a folder.
TEST_P(RelativeTarget, NamesAnExistingFileOrFallsBack)
{
    write("a/b/take.wav", {});
    write("a/up.wav", {});
    fs::create_directories(dir / "a/b/sub");
    const fs::path link = write("a/b/link.lnk", RelativeLink(GetParam().relative));
    const std::string expected = GetParam().expected;
    EXPECT_EQ(resolveShortcut(Utf8(link)), expected.empty() ? "C:\\x.wav" : Utf8(dir / expected));
}

INSTANTIATE_TEST_SUITE_P(ResolveShortcutFile, RelativeTarget,
    testing::Values(RelativeCase {"Dot", u".\\take.wav", "a/b/take.wav"},
        RelativeCase {"Plain", u"take.wav", "a/b/take.wav"},
        RelativeCase {"Parent", u"..\\up.wav", "a/up.wav"},
        RelativeCase {"DownAndBack", u"sub\\..\\.\\take.wav", "a/b/take.wav"},
        RelativeCase {"DoubledSeparators", u".\\\\take.wav", "a/b/take.wav"},
        RelativeCase {"Missing", u".\\gone.wav", ""}, RelativeCase {"Folder", u".\\sub", ""},
        RelativeCase {"ItselfIsNoTarget", u".\\link.lnk", ""},
        RelativeCase {"RootedIsNotRelative", u"\\take.wav", ""},
        RelativeCase {"DriveIsNotRelative", u"C:take.wav", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// On the machine that wrote it, the path climbed no further than its drive's root; here the
// folder may sit at another depth, and climbing past "/" must not land somewhere by chance.
TEST_F(ResolveShortcutFile, RelativePathMayNotClimbAboveTheRoot)
{
    write("target.wav", {});
    const fs::path linkFolder = fs::absolute(dir / "deep");
    std::u16string relative;
    for (auto part = linkFolder; part.has_relative_path(); part = part.parent_path())
        relative += u"..\\";
    const std::string down = Utf8(dir.relative_path() / "target.wav");
    const std::u16string downWide(down.begin(), down.end());
    const fs::path link = write("deep/link.lnk", RelativeLink(u"..\\" + relative + downWide));
    EXPECT_EQ(resolveShortcut(Utf8(link)), "C:\\x.wav");
    const fs::path exact = write("deep/exact.lnk", RelativeLink(relative + downWide));
    EXPECT_EQ(resolveShortcut(Utf8(exact)), Utf8(dir / "target.wav"));
}

TEST_F(ResolveShortcutFile, HandlesUnicodeFolderNames)
{
    const fs::path folder = fs::path(u8"Mörk ♫ 音楽");
    write(folder / u8"Tönung.wav", {});
    const fs::path link = write(folder / u8"Verknüpfung.lnk", RelativeLink(u".\\Tönung.wav"));
    EXPECT_EQ(resolveShortcut(Utf8(link)), Utf8(dir / folder / u8"Tönung.wav"));
}

// Made on a Russian system and saved without Unicode strings: the relative path is in code
// page 1251 and only the item-ID list's long names tell so. Read as 1252 it would name
// "Èâàí", which does not exist here.
TEST_F(ResolveShortcutFile, FindsAnAnsiRelativeTargetWrittenUnderAnotherCodePage)
{
    const fs::path target = fs::path(u8"Иван") / u8"песня.wav";
    write(target, {});
    const Bytes relative = AnsiString("..\\\xC8\xE2\xE0\xED\\\xEF\xE5\xF1\xED\xFF.wav");
    const Bytes withNames = Concat({Header(IdList | RelativePath),
        IdListSection({UsersFilesItem(), FileItem("IVAN~1", u"\u0418\u0432\u0430\u043D", 9, 0x31)}),
        relative, TerminalBlock()});
    EXPECT_EQ(resolveShortcut(Utf8(write("links/named.lnk", withNames))), Utf8(dir / target));
    const Bytes withoutNames = Concat({Header(RelativePath), relative});
    EXPECT_EQ(resolveShortcut(Utf8(write("links/unnamed.lnk", withoutNames))), "");
}

// Its relative path, seven folders up and into Windows\Installer, names an icon file.
TEST_F(ResolveShortcutFile, AdvertisedShortcutIgnoresItsRelativePath)
{
    write("Windows/Installer/{90140000-0011-0000-0000-0000000FF1CE}/cagicon.exe", {});
    const fs::path link = CopyTestFile("win7-darwin-office.lnk", "1/2/3/4/5/6/7/office.lnk");
    EXPECT_EQ(resolveShortcut(Utf8(link)), "");
}

} // namespace
