#include <gtest/gtest.h>

#include "TestHex.hpp"

#include <cstdio>
#include <random>
#include <string>

#include "layer/CodePage.hpp"
#include "layer/Exceptions.hpp"
#include "layer/TextCodec.hpp"

using kestrane::os::TextCodec;

namespace {

std::u16string Marks(std::string_view bytes)
{
    std::u16string out;
    for (unsigned char b : bytes)
        out += static_cast<char16_t>(0xDC00 + b);
    return out;
}

std::string Hex(std::u16string_view text)
{
    std::string out;
    char buffer[6];
    for (char16_t u : text) {
        std::snprintf(buffer, sizeof buffer, "%04X ", static_cast<unsigned>(u));
        out += buffer;
    }
    return out;
}

// Every code page the codec knows, a name it does not know (only ASCII is then decoded), and the
// names as the locale reports them.
const char* const kCharsets[] = {"SHIFT_JIS", "UTF-8", "ISO-8859-1", "ISO-8859-15", "CP1252", "ANSI_X3.4-1968",
                                 "GBK", "BIG5", "BIG5-HKSCS", "CP949", "GB18030", "NO-SUCH-CHARSET"};

}  // namespace

TEST(TextCodec, EveryStringOfOneAndTwoBytesComesBackUnchanged)
{
    for (const char* charset : kCharsets) {
        const auto codec = TextCodec::ForCharset(charset);
        std::string bytes;
        for (unsigned first = 1; first < 256; ++first) {
            bytes.assign(1, static_cast<char>(first));
            ASSERT_EQ(codec->Encode(codec->Decode(bytes)), bytes) << charset << ": " << Hex(bytes);
            for (unsigned second = 1; second < 256; ++second) {
                bytes.assign({static_cast<char>(first), static_cast<char>(second)});
                ASSERT_EQ(codec->Encode(codec->Decode(bytes)), bytes) << charset << ": " << Hex(bytes);
            }
        }
    }
}

TEST(TextCodec, RandomByteStringsComeBackUnchanged)
{
    // Half the bytes from those that start, end or break sequences, so mixtures are frequent.
    const std::string interesting = "\r\n\t\x7F\x80\x81\x9F\xA0\xBF\xC2\xDF\xE0\xED\xEF\xF0\xF4\xF5\xFC\xFF\\~";
    std::mt19937 random(20240611);
    for (const char* charset : kCharsets) {
        const auto codec = TextCodec::ForCharset(charset);
        for (int round = 0; round < 3000; ++round) {
            std::string bytes(random() % 24, '\0');
            for (char& b : bytes)
                b = random() % 2 ? interesting[random() % interesting.size()] : static_cast<char>(1 + random() % 255);
            ASSERT_EQ(codec->Encode(codec->Decode(bytes)), bytes) << charset << ": " << Hex(bytes);
        }
    }
}

TEST(TextCodec, Decodes)
{
    const struct {
        const char* charset;
        std::string bytes;
        std::u16string text;
    } rows[] = {
        {"SHIFT_JIS", "a\\b~", u"a\\b~"},
        {"SHIFT_JIS", "\x81\x60\x83\x5C\xB1", u"～ソｱ"},
        {"SHIFT_JIS", "\x88\x9F\x8E\x9A", u"亜字"},
        {"SHIFT_JIS", "a\x82", u"a" + Marks("\x82")},
        {"SHIFT_JIS", "a\r\nb\rc\nd\r\r\n", u"a\nb" + Marks("\r") + u"c" + Marks("\n") + u"d" + Marks("\r") + u"\n"},
        {"SHIFT_JIS", "\t\x01", u"\t" + Marks("\x01")},
        {"UTF-8", "\xEF\xBB\xBF\xE6\x97\xA5", u"\uFEFF日"},
        {"UTF-8", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"UTF-8", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"UTF-8", "\xE6\x97" "a", Marks("\xE6\x97") + u"a"},
        {"UTF-8", "\xC2\xA1\xEF\xB7\x92\xEF\xBF\xBC\xEF\xBF\xBF", u"¡\uFDD2\uFFFC\uFFFF"},
        {"ISO-8859-1", "\xE9\xFF", u"éÿ"},
        {"ISO-8859-15", "\xA4", u"€"},
        {"CP1252", "\x80", u"€"},
        {"GBK", "\xC4\xE3", u"你"},
        {"BIG5", "\xA7\x41", u"你"},
        {"CP949", "\xB0\xA1", u"가"},
        {"NO-SUCH-CHARSET", "az", u"az"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Hex(TextCodec::ForCharset(r.charset)->Decode(r.bytes)), Hex(r.text))
            << r.charset << ": " << Hex(r.bytes);
}

TEST(TextCodec, ShowsEveryByteAsAMark)
{
    const struct {
        const char* charset;
        std::string bytes;
    } rows[] = {
        {"SHIFT_JIS", "\x80\xA0\xFD\xFE\xFF"},
        {"SHIFT_JIS", "\x87\x90\xED\x40"},  // duplicates: their characters encode as other bytes
        {"SHIFT_JIS", "\x85\x40"},
        {"SHIFT_JIS", "\x81\n\x81\r\n"},
        {"SHIFT_JIS", "\n\r\x01\x1F\x7F"},
        {"UTF-8", "\xC0\xAF\xC1\xBF\xE0\x80\xAF\xF0\x8F\xBF\xBF"},  // overlong forms
        {"UTF-8", "\xED\xA0\x80\xED\xBF\xBF\xF4\x90\x80\x80"},        // surrogates, above U+10FFFF
        {"UTF-8", "\x80\xBF\xF5\xFF\xF0\x9F\x98"},                    // stray and cut-off sequences
        // Characters the text widget would change or show as breaks, and invisible controls.
        {"UTF-8", "\xE2\x80\xA8\xE2\x80\xA9\xEF\xB7\x90\xEF\xB7\x91\xC2\xA0\xC2\x85"},
        {"ISO-8859-1", "\x9F\xA0"},
        {"CP1252", "\x81"},
        {"ANSI_X3.4-1968", "\x80"},
        {"NO-SUCH-CHARSET", "\xE9"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Hex(TextCodec::ForCharset(r.charset)->Decode(r.bytes)), Hex(Marks(r.bytes)))
            << r.charset << ": " << Hex(r.bytes);
}

TEST(TextCodec, Encodes)
{
    const struct {
        const char* charset;
        std::u16string text;
        std::string bytes;
    } rows[] = {
        {"SHIFT_JIS", u"a\nb\u2029c\u2028", "a\r\nb\r\nc\r\n"},
        {"SHIFT_JIS", u"～ソｱ\\~", "\x81\x60\x83\x5C\xB1\\~"},
        // The duplicates' characters take the bytes that decode to them.
        {"SHIFT_JIS", u"≒纊", "\x81\xE0\xFA\x5C"},
        {"SHIFT_JIS", u"é€¥\U0001F600", "????"},
        {"SHIFT_JIS", Marks("\x81\x0A\xFF"), "\x81\x0A\xFF"},
        // The mark of zero and zero itself have no place in the text; other lone surrogates are lost.
        {"SHIFT_JIS", u"a" + Marks(std::string(1, '\0')) + u'\0' + u"b", "ab"},
        {"SHIFT_JIS", u"\xDE00\xD800\xDBFF", "???"},
        {"UTF-8", u"é日\U0001F600\uFFFF", "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xEF\xBF\xBF"},
        {"UTF-8", u"\xD83D" "a\xD83D", "?a?"},
        {"UTF-8", u"\n" + Marks("\xFF\xC3\xA9"), "\r\n\xFF\xC3\xA9"},
        {"ISO-8859-1", u"é€", "\xE9?"},
        {"ISO-8859-15", u"€", "\xA4"},
        {"ANSI_X3.4-1968", u"aé", "a?"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Hex(TextCodec::ForCharset(r.charset)->Encode(r.text)), Hex(r.bytes))
            << r.charset << ": " << Hex(r.text);
}

TEST(TextCodec, TypingAnywhereKeepsEveryOtherByte)
{
    const struct {
        const char* charset;
        std::string bytes;
        std::u16string typed;
        std::string typedBytes;
    } rows[] = {
        {"SHIFT_JIS", "\x8A\xBF\x8E\x9A\x80\r\na\x87\x90\xB1\r\x81", u"字", "\x8E\x9A"},
        {"SHIFT_JIS", "\x8A\xBF\x81\n\x80", u"é", "?"},
        {"UTF-8", "\xE6\x97\xA5\xF0\x9F\x98\x80\xE6\x97\r\n\xC0\xAF\xE2\x80\xA8z", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"ISO-8859-1", "a\x85\r\n\xE9", u"€", "?"},
    };
    for (const auto& r : rows) {
        const auto codec = TextCodec::ForCharset(r.charset);
        const std::u16string text = codec->Decode(r.bytes);
        for (std::size_t at = 0; at <= text.size(); ++at) {
            if (at > 0 && at < text.size() && text[at - 1] >= 0xD800 && text[at - 1] <= 0xDBFF)
                continue;  // the caret never stands inside a surrogate pair
            std::u16string edited = text;
            edited.insert(at, r.typed);
            const std::size_t split = codec->Encode(std::u16string_view(text).substr(0, at)).size();
            EXPECT_EQ(Hex(codec->Encode(edited)), Hex(r.bytes.substr(0, split) + r.typedBytes + r.bytes.substr(split)))
                << r.charset << " at " << at;
        }
    }
}

// CTest runs this under the Shift-JIS locale (see codec.cmake).
TEST(TextCodec, SystemFollowsTheLocale)
{
    if (kestrane::os::CodePageName() != "SHIFT_JIS")
        GTEST_SKIP() << "needs LC_ALL=ja_JP.SJIS, the locale is " << kestrane::os::CodePageName();
    const TextCodec& codec = TextCodec::System();
    EXPECT_EQ(&codec, &TextCodec::System());
    EXPECT_EQ(Hex(codec.Decode("\x82\xA0\\\r\n")), Hex(u"あ\\\n"));
    // The program's own texts meet document bytes in the code page; a path goes in as it is.
    EXPECT_EQ(kestrane::ProgramText(kestrane::Msg::FOpenError, "/tmp/\x82\xA0"),
              "\x83\x74\x83\x40\x83\x43\x83\x8B /tmp/\x82\xA0 \x82\xCD\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1");
}
