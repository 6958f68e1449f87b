#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/TextBuffer.hpp"
#include "core/WrapLayout.hpp"
#include "layer/TextCodec.hpp"

using kestrane::CharUnits;
using kestrane::RowBreaker;
using kestrane::RowIndex;
using kestrane::TextBuffer;
using kestrane::WrapItem;
using kestrane::os::TextCodec;

namespace {

const char* const kCharsets[] = {"SHIFT_JIS", "UTF-8", "ISO-8859-1"};

// Random bytes, dense in what segmentation must get right: CR, LF, lead bytes (also as the byte
// before a CR), UTF-8 sequences whole and cut, and plain ASCII.
std::string RandomBytes(std::mt19937& rng, std::size_t n)
{
    static const std::string pieces[] = {"\r",   "\n",   "\r\n", "a",        " ",    "\x82", "\x82\xA0", "\x81\r",
                                         "\xE0", "\xFC", "\x80", "\xE3\x81\x82", "\xE3\x81", "\xC3\xA9", "\xF0\x9F\x98\x80",
                                         "\xA0", "\t",   "\x7F", "\xFF"};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::string out;
    while (out.size() < n)
        out += pieces[pick(rng)];
    return out;
}

std::vector<std::size_t> Starts(const TextBuffer& b)
{
    std::vector<std::size_t> out;
    for (std::size_t p = 0; p < b.Paragraphs(); ++p)
        out.push_back(b.ParagraphStart(p));
    return out;
}

}  // namespace

// The paragraphs are exactly what the codec's own decoding splits at its line breaks, and the
// bytes come back unchanged, for any bytes in each kind of code page.
TEST(TextBuffer, ParagraphsFollowTheCodec)
{
    std::mt19937 rng(7);
    for (const char* charset : kCharsets) {
        const auto codec = TextCodec::ForCharset(charset);
        for (int round = 0; round < 200; ++round) {
            const std::string bytes = RandomBytes(rng, round % 50);
            TextBuffer b(CharUnits::ForCharset(charset));
            b.Assign(bytes);
            ASSERT_EQ(b.Bytes(), bytes);
            ASSERT_EQ(b.Size(), bytes.size());
            std::u16string joined;
            for (std::size_t p = 0; p < b.Paragraphs(); ++p) {
                if (p > 0)
                    joined += u'\n';
                const std::size_t start = b.ParagraphStart(p);
                joined += codec->Decode(bytes.substr(start, b.ParagraphEnd(p) - start));
            }
            ASSERT_EQ(joined, codec->Decode(bytes)) << charset << " round " << round;
        }
    }
}

// After any edit the paragraphs are those of the new bytes read afresh, and the change reported
// covers every paragraph whose start did not just move by the edit's size.
TEST(TextBuffer, EditsKeepParagraphsRight)
{
    std::mt19937 rng(11);
    for (const char* charset : kCharsets) {
        TextBuffer b(CharUnits::ForCharset(charset));
        std::string mirror = RandomBytes(rng, 300);
        b.Assign(mirror);
        for (int round = 0; round < 2000; ++round) {
            const std::size_t pos = std::uniform_int_distribution<std::size_t>(0, mirror.size())(rng);
            const std::size_t n = std::min(mirror.size() - pos, std::uniform_int_distribution<std::size_t>(0, 6)(rng));
            const std::string bytes = RandomBytes(rng, std::uniform_int_distribution<std::size_t>(0, 5)(rng));
            const std::vector<std::size_t> before = Starts(b);
            const TextBuffer::Change c = b.Replace(pos, n, bytes);
            mirror.replace(pos, n, bytes);

            TextBuffer fresh(CharUnits::ForCharset(charset));
            fresh.Assign(mirror);
            const std::vector<std::size_t> after = Starts(b);
            ASSERT_EQ(b.Bytes(), mirror);
            ASSERT_EQ(after, Starts(fresh)) << charset << " round " << round;
            ASSERT_EQ(after.size(), before.size() - c.removed + c.inserted);
            for (std::size_t p = 0; p <= c.first && p < before.size(); ++p)
                ASSERT_EQ(after[p], before[p]);
            for (std::size_t k = 0; c.first + c.removed + k < before.size(); ++k)
                ASSERT_EQ(after[c.first + c.inserted + k], before[c.first + c.removed + k] - n + bytes.size());
            if (mirror.size() > 2000 || mirror.size() < 50)
                b.Assign(mirror = RandomBytes(rng, 300));
        }
    }
}

// Going back from any position finds the unit a walk from the paragraph's start finds.
TEST(TextBuffer, UnitBeforeAPositionMatchesAWalkFromTheStart)
{
    std::mt19937 rng(3);
    for (const char* charset : kCharsets) {
        TextBuffer b(CharUnits::ForCharset(charset));
        for (int round = 0; round < 50; ++round) {
            b.Assign(RandomBytes(rng, 120));
            // An edit leaves the gap in the middle: reading must look across it.
            b.Replace(b.Size() / 2, 0, "");
            b.Replace(b.Size() / 3, 1, "\x82");
            for (std::size_t p = 0; p < b.Paragraphs(); ++p) {
                std::size_t unit = b.ParagraphStart(p);
                const std::size_t end = p + 1 < b.Paragraphs() ? b.ParagraphStart(p + 1) : b.Size();
                while (unit < end) {
                    const std::size_t length = b.UnitLength(unit);
                    for (std::size_t pos = unit + 1; pos <= unit + length; ++pos)
                        ASSERT_EQ(b.UnitStartBefore(pos), unit) << charset << " at " << pos;
                    unit += length;
                }
            }
        }
    }
}

namespace {

// Items of one column each, two for characters from U+3000 on.
std::vector<WrapItem> Items(const std::u32string& text)
{
    std::vector<WrapItem> out;
    for (char32_t c : text)
        out.push_back({1, c >= 0x3000 ? 2.0f : 1.0f, WrapItem::ClassOf(c)});
    return out;
}

std::vector<std::uint32_t> Break(const std::vector<WrapItem>& items, double width, std::size_t from = 0)
{
    std::vector<std::uint32_t> starts{static_cast<std::uint32_t>(from)};
    RowBreaker breaker(width, 4, static_cast<std::uint32_t>(from));
    for (std::size_t i = from; i < items.size(); ++i)
        breaker.Add(items[i], [&](std::uint32_t s) {
            starts.push_back(s);
            return true;
        });
    return starts;
}

std::vector<std::u32string> Rows(const std::u32string& text, const std::vector<std::uint32_t>& starts)
{
    std::vector<std::u32string> rows;
    for (std::size_t k = 0; k < starts.size(); ++k)
        rows.push_back(text.substr(starts[k], (k + 1 < starts.size() ? starts[k + 1] : text.size()) - starts[k]));
    return rows;
}

}  // namespace

// Rows end after blanks and around wide characters; a run longer than a row is broken anywhere;
// breaking again from any row start gives the same rows after it.
TEST(RowBreaker, BreaksAtOpportunitiesElseAnywhere)
{
    struct Case {
        const char* name;
        std::u32string text;
        double width;
        std::vector<std::u32string> rows;
    } cases[] = {
        {"fits", U"abc def", 20, {U"abc def"}},
        {"a blank past the edge hangs", U"aaa bbb ccc", 7, {U"aaa bbb ", U"ccc"}},
        {"words move down whole", U"aaa bbb ccc", 5, {U"aaa ", U"bbb ", U"ccc"}},
        {"a long run is cut", U"abcdefghij", 4, {U"abcd", U"efgh", U"ij"}},
        {"a long word starts its own row", U"ab cdefghij", 4, {U"ab ", U"cdef", U"ghij"}},
        {"between wide characters", U"あいうえお", 5, {U"あい", U"うえ", U"お"}},
        {"before a wide character", U"abc あいう", 6, {U"abc あ", U"いう"}},
        {"after a wide character", U"あabcdef", 5, {U"あ", U"abcde", U"f"}},
        {"after a tab", U"a\tb", 4, {U"a\t", U"b"}},
        {"a tab runs to its stop", U"a\tbcd", 8, {U"a\tbcd"}},
        {"no empty row after trailing blanks", U"abcd ", 4, {U"abcd "}},
        {"the next blank begins a row", U"abcd  x", 4, {U"abcd ", U" x"}},
        {"no width: one item a row", U"abc", 0, {U"a", U"b", U"c"}},
        {"an item wider than the row", U"あ", 1, {U"あ"}},
    };
    for (const Case& c : cases) {
        const std::vector<WrapItem> items = Items(c.text);
        const std::vector<std::uint32_t> starts = Break(items, c.width);
        EXPECT_EQ(Rows(c.text, starts), c.rows) << c.name;
        for (std::size_t k = 1; k < starts.size(); ++k) {
            const std::vector<std::uint32_t> again = Break(items, c.width, starts[k]);
            EXPECT_TRUE(std::equal(again.begin(), again.end(), starts.begin() + static_cast<std::ptrdiff_t>(k),
                                   starts.end()))
                << c.name << ", again from row " << k;
        }
    }
}

// Sums and lookups agree with a plain list through settings and splices.
TEST(RowIndex, AgreesWithAPlainList)
{
    std::mt19937 rng(5);
    std::vector<std::uint32_t> plain(1000);
    for (std::uint32_t& r : plain)
        r = std::uniform_int_distribution<std::uint32_t>(1, 9)(rng);
    RowIndex index;
    index.Assign(plain);
    for (int round = 0; round < 300; ++round) {
        const std::size_t p = std::uniform_int_distribution<std::size_t>(0, plain.size() - 1)(rng);
        if (round % 3 == 0) {
            const std::size_t removed = std::min<std::size_t>(plain.size() - p, rng() % 100);
            const std::size_t inserted = rng() % 100;
            index.Splice(p, removed, inserted);
            plain.erase(plain.begin() + static_cast<std::ptrdiff_t>(p),
                        plain.begin() + static_cast<std::ptrdiff_t>(p + removed));
            plain.insert(plain.begin() + static_cast<std::ptrdiff_t>(p), inserted, 1);
        } else {
            plain[p] = std::uniform_int_distribution<std::uint32_t>(1, 200)(rng);
            index.Set(p, plain[p], true);
            ASSERT_TRUE(index.Exact(p));
        }
        ASSERT_EQ(index.Size(), plain.size());
        std::uint64_t before = 0;
        for (std::size_t q = 0; q < plain.size(); ++q) {
            ASSERT_EQ(index.Before(q), before) << "round " << round;
            ASSERT_EQ(index.Find(before), std::make_pair(q, std::uint32_t{0}));
            ASSERT_EQ(index.Find(before + plain[q] - 1), std::make_pair(q, plain[q] - 1));
            before += plain[q];
        }
        ASSERT_EQ(index.Total(), before);
        ASSERT_EQ(index.Find(before + 5).first, plain.size() - 1);
    }
}
