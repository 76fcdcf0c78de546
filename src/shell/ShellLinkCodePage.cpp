// SPDX-License-Identifier: MIT
#include "shell/ShellLinkCodePage.h"

#include "shell/ShellLinkText.h"

#include <algorithm>
#include <array>
#include <iconv.h>
#include <optional>
#include <string_view>

namespace shell::detail {
namespace {

struct CodePage {
    unsigned number;
    const char* iconvName;
    bool singleByte;
};

// The ANSI code pages of Windows, in the order ties are settled: Western first, since it is
// the default, then the other single-byte pages, then the double-byte ones and UTF-8. glibc's
// CP932 and CP936 are Microsoft's variants (0x5C is '\', 0x80 is the euro sign).
constexpr std::array<CodePage, 15> kCodePages = {{{1252, nullptr, true}, {1250, "CP1250", true},
    {1251, "CP1251", true}, {1253, "CP1253", true}, {1254, "CP1254", true}, {1257, "CP1257", true},
    {1255, "CP1255", true}, {1256, "CP1256", true}, {1258, "CP1258", true}, {874, "CP874", true},
    {932, "CP932", false}, {936, "CP936", false}, {949, "CP949", false}, {950, "CP950", false},
    {65001, "UTF-8", false}}};

// A single-byte page as a table; kUndefined where the page has no character for the byte.
constexpr char16_t kUndefined = 0xFFFF;
using ByteTable = std::array<char16_t, 256>;

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Opening a converter costs more than all the conversions of a shortcut (the fuzzer ran at
// 3,400 inputs a second opening one per string, 8,600 keeping them), so each thread keeps the
// converters it opened and the byte tables it built from them.
class Converters {
public:
    Converters() { opened.fill(std::nullopt); }
    ~Converters()
    {
        for (const auto& converter : opened) {
            if (converter && *converter != kNoConverter)
                iconv_close(*converter);
        }
    }
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;

    // The converter from the page to UTF-16LE, back in its initial state; kNoConverter when
    // this C library has none.
    iconv_t to16(std::size_t index)
    {
        auto& converter = opened[index];
        if (!converter)
            converter = iconv_open("UTF-16LE", kCodePages[index].iconvName);
        if (*converter != kNoConverter)
            iconv(*converter, nullptr, nullptr, nullptr, nullptr);
        return *converter;
    }

    // Each byte converted on its own. Byte for byte is also how Windows reads these pages:
    // glibc would join a CP1255 or CP1258 letter and the accent after it into one character.
    const ByteTable* table(std::size_t index)
    {
        auto& table = tables[index];
        if (!table) {
            const iconv_t converter = to16(index);
            if (converter == kNoConverter)
                return nullptr;
            table.emplace();
            for (std::size_t byte = 0; byte < table->size(); ++byte)
                (*table)[byte] = convertByte(converter, static_cast<char>(byte));
        }
        return &*table;
    }

private:
    static char16_t convertByte(iconv_t converter, char byte)
    {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char out[8];
        char* in = &byte;
        std::size_t inLeft = 1;
        char* outPos = out;
        std::size_t outLeft = sizeof out;
        if (iconv(converter, &in, &inLeft, &outPos, &outLeft) == std::size_t(-1)
            || iconv(converter, nullptr, nullptr, &outPos, &outLeft) == std::size_t(-1)
            || sizeof out - outLeft != 2)
            return kUndefined;
        return static_cast<char16_t>(
            static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
    }

    std::array<std::optional<iconv_t>, kCodePages.size()> opened;
    std::array<std::optional<ByteTable>, kCodePages.size()> tables;
};

Converters& threadConverters()
{
    thread_local Converters converters;
    return converters;
}

const CodePage* findCodePage(unsigned number)
{
    const auto it = std::find_if(kCodePages.begin(), kCodePages.end(),
        [number](const CodePage& page) { return page.number == number; });
    return it == kCodePages.end() ? nullptr : &*it;
}

// The bytes as UTF-8 under one code page; empty when some byte sequence is not valid there.
// 1252 is decoded by our own table because glibc refuses the five bytes it leaves undefined,
// which Windows maps to control characters.
std::optional<std::string> decodeStrict(Bytes ansi, const CodePage& page)
{
    if (!page.iconvName)
        return cp1252ToUtf8(ansi);
    if (ansi.empty())
        return std::string();
    const auto index = static_cast<std::size_t>(&page - kCodePages.data());
    if (page.singleByte) {
        const ByteTable* table = threadConverters().table(index);
        if (!table)
            return std::nullopt;
        std::vector<std::uint8_t> utf16;
        utf16.reserve(2 * ansi.size());
        for (const std::uint8_t byte : ansi) {
            const char16_t unit = (*table)[byte];
            if (unit == kUndefined)
                return std::nullopt;
            utf16.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            utf16.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        return utf16ToUtf8(utf16);
    }
    const iconv_t converter = threadConverters().to16(index);
    if (converter == kNoConverter)
        return std::nullopt;
    // UTF-8 may spend four bytes on a surrogate pair; the other pages at most one unit a byte.
    std::vector<std::uint8_t> out(4 * ansi.size() + 8);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(ansi.data()));
    std::size_t inLeft = ansi.size();
    char* outPos = reinterpret_cast<char*>(out.data());
    std::size_t outLeft = out.size();
    const bool converted = iconv(converter, &in, &inLeft, &outPos, &outLeft) != std::size_t(-1)
        && inLeft == 0 && iconv(converter, nullptr, nullptr, &outPos, &outLeft) != std::size_t(-1);
    if (!converted)
        return std::nullopt;
    return utf16ToUtf8(Bytes(out.data(), out.size() - outLeft));
}

// The code points of valid UTF-8, as written by utf16ToUtf8 and cp1252ToUtf8.
std::vector<char32_t> codePoints(std::string_view utf8)
{
    std::vector<char32_t> points;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        points.push_back(code);
        i += length;
    }
    return points;
}

// Lower case for the scripts of the single-byte code pages, so that "C:\USERS\ИВАН" and the
// short name "ИВАН" count as the same letters as "Иван": Windows file names ignore case.
char32_t foldCase(char32_t c)
{
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
        || (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return c | 1;
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && (c & 1))
        return c + 1;
    if (c == 0x178)
        return 0xFF;
    if (c == 0x386)
        return 0x3AC;
    if (c >= 0x388 && c <= 0x38A)
        return c + 0x25;
    if (c == 0x38C)
        return 0x3CC;
    if (c == 0x38E || c == 0x38F)
        return c + 0x3F;
    if (c == 0x3C2)
        return 0x3C3;
    return c;
}

struct Score {
    bool valid = true;
    long hits = 0;
    long misses = 0;
};

Score scorePage(
    const CodePage& page, const std::vector<std::string>& ansi, const std::vector<char32_t>& known)
{
    Score score;
    for (const std::string& text : ansi) {
        const auto bytes = Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        const auto decoded = decodeStrict(bytes, page);
        if (!decoded)
            return Score {false};
        for (const char32_t c : codePoints(*decoded)) {
            if (c < 0x80)
                continue;
            if (std::binary_search(known.begin(), known.end(), foldCase(c)))
                ++score.hits;
            else
                ++score.misses;
        }
    }
    return score;
}

} // namespace

std::string ansiToUtf8(Bytes ansi, unsigned codePage)
{
    const CodePage* page = findCodePage(codePage);
    if (page) {
        if (auto text = decodeStrict(ansi, *page))
            return *text;
    }
    return cp1252ToUtf8(ansi);
}

unsigned guessCodePage(const TextEvidence& evidence)
{
    std::vector<std::string> ansi;
    std::copy_if(evidence.ansi.begin(), evidence.ansi.end(), std::back_inserter(ansi),
        [](const std::string& text) { return !isAscii(text); });
    std::vector<char32_t> known;
    for (const std::string& text : evidence.unicode) {
        for (const char32_t c : codePoints(text)) {
            if (c >= 0x80)
                known.push_back(foldCase(c));
        }
    }
    if (ansi.empty() || known.empty())
        return kDefaultCodePage;
    std::sort(known.begin(), known.end());
    known.erase(std::unique(known.begin(), known.end()), known.end());
    unsigned best = kDefaultCodePage;
    std::optional<long> bestScore;
    for (const CodePage& page : kCodePages) {
        const Score score = scorePage(page, ansi, known);
        if (!score.valid || score.hits == 0)
            continue;
        const long total = score.hits - score.misses;
        if (!bestScore || total > *bestScore) {
            best = page.number;
            bestScore = total;
        }
    }
    return best;
}

} // namespace shell::detail
