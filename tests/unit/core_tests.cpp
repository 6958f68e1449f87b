#include <gtest/gtest.h>

#include "core/AccessKeys.hpp"
#include "core/CodePage.hpp"
#include "core/ErrorText.hpp"
#include "core/SensorRecord.hpp"
#include "core/Stabiliser.hpp"

using namespace kestrane;

TEST(ComputeDisplacement, TableOfReadings)
{
    const struct {
        int32_t reading, displacement;
    } rows[] = {{0, 0},  {1, 2},   {2, 2},    {3, 3},  {4, 4},  {5, 4},  {7, 5},
                {25, 10}, {100, 20}, {65535, 511}, {-1, 2}, {-2, 2}, {-25, 10}, {-65535, 511}};
    for (const auto& r : rows)
        EXPECT_EQ(ComputeDisplacement(r.reading), r.displacement) << "reading " << r.reading;
}

TEST(ComputeDisplacement, IsTheIntegerRootOfFourTimesTheMagnitudeOverTheWholeRange)
{
    for (int32_t r = -65535; r <= 65535; ++r) {
        const int64_t d = ComputeDisplacement(r);
        const int64_t m = 4 * static_cast<int64_t>(r < 0 ? -r : r);
        ASSERT_TRUE(d * d <= m && (d + 1) * (d + 1) > m) << "reading " << r;
    }
}

TEST(StepStabiliser, TicksInOrder)
{
    // Each row is one tick, fed the previous row's result: first tick, next tick, return to rest.
    struct Row {
        const char* what;
        int32_t first, second;
        StabiliserState expected;
    };
    const Row rows[] = {
        {"first tick moves by the first displacement", 25, 4, {104, 210, 4, 10}},
        {"same horizontal displacement from -4, vertical back to 0", 0, -4, {104, 200, 4, 0}},
        {"both readings at rest bring the window back", 0, 0, {100, 200, 0, 0}},
        {"first axis alone moves only the top edge", 100, 0, {100, 220, 0, 20}},
        {"second axis alone moves only the left edge", 0, 100, {120, 200, 20, 0}},
    };
    StabiliserState s{100, 200, 0, 0};
    for (const auto& r : rows) {
        s = StepStabiliser(s.left, s.top, r.first, r.second, s.appliedHorizontal, s.appliedVertical);
        EXPECT_EQ(s.left, r.expected.left) << r.what;
        EXPECT_EQ(s.top, r.expected.top) << r.what;
        EXPECT_EQ(s.appliedHorizontal, r.expected.appliedHorizontal) << r.what;
        EXPECT_EQ(s.appliedVertical, r.expected.appliedVertical) << r.what;
    }
}

TEST(StepStabiliser, KeepsAMoveMadeBetweenTicks)
{
    StabiliserState s = StepStabiliser(100, 200, 25, 4, 0, 0);
    s = StepStabiliser(s.left + 50, s.top, 25, 4, s.appliedHorizontal, s.appliedVertical);
    EXPECT_EQ(s.left, 154);
    EXPECT_EQ(s.top, 210);
}

TEST(SensorRecord, ReadsUnsignedLittleEndianAxes)
{
    SensorRecord r;
    r.bytes[4] = 0xFF;
    r.bytes[5] = 0xFF;
    r.bytes[6] = 0x34;
    r.bytes[7] = 0x12;
    EXPECT_EQ(r.FirstAxis(), 65535);
    EXPECT_EQ(r.SecondAxis(), 0x1234);
}

TEST(ErrorBoxText, AppendsADotByTheLastCharacter)
{
    const auto sjis = LeadByteTable::ForCharset("SHIFT_JIS");
    const auto utf8 = LeadByteTable::ForCharset("UTF-8");
    const struct {
        const char* what;
        std::string message;
        const LeadByteTable& cp;
        std::string shown;
    } rows[] = {
        {"three letters", "abc", utf8, "abc."},
        {"ends in a dot", "abc.", utf8, "abc."},
        {"closing parenthesis", "abc)", utf8, "abc)"},
        {"space", "abc ", utf8, "abc "},
        {"line break", "abc\n", utf8, "abc\n"},
        {"hyphen, just below the dot", "a-", utf8, "a-"},
        {"slash, just above the dot", "a/", utf8, "a/."},
        {"empty", "", utf8, ""},
        {"UTF-8 multibyte ending", "\xE3\x81\x9B\xE3\x82\x93", utf8, "\xE3\x81\x9B\xE3\x82\x93."},
        {"single-byte katakana", "\xB1", sjis, "\xB1."},
        {"two-byte character whose trail byte is below the dot", "x\x81\x21", sjis, "x\x81\x21."},
        {"ideographic full stop", "\x81\x42", sjis, "\x81\x42."},
        {"a lead byte as trail byte of the one before", "\x81\x81!", sjis, "\x81\x81!"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ErrorBoxText(r.message, r.cp), r.shown) << r.what;
}

TEST(AccessKeys, FirstFreeLetterPerLevel)
{
    const struct {
        const char* what;
        std::vector<std::string> captions, shown;
    } rows[] = {
        {"the menu bar", {"File"}, {"&File"}},
        {"the file menu", {"Open", "Save", "Quit"}, {"&Open", "&Save", "&Quit"}},
        {"a taken first letter moves to the next", {"Save", "Select", "Sort"}, {"&Save", "S&elect", "S&ort"}},
        {"case does not matter", {"save", "Seal"}, {"&save", "S&eal"}},
        {"an explicit key is kept and taken", {"Open", "&Other"}, {"O&pen", "&Other"}},
        {"no free letter, no key", {"ab", "ba", "b"}, {"&ab", "&ba", "b"}},
        {"a literal ampersand is not a key", {"R&&D"}, {"&R&&D"}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(WithAccessKeys(r.captions), r.shown) << r.what;
}
