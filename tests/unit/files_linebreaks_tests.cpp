#include <gtest/gtest.h>

#include <string>

#include "core/CodePage.hpp"
#include "core/LineBreaks.hpp"

using namespace kestrane;
using namespace std::string_literals;

namespace {

std::string Hex(const std::string& bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

}  // namespace

TEST(NormaliseLineBreaks, TableOfInputs)
{
    const LeadByteTable none = LeadByteTable::ForCharset("UTF-8");
    const LeadByteTable cp932 = LeadByteTable::ForCharset("SHIFT_JIS");
    const struct {
        const char* what;
        const LeadByteTable& codePage;
        std::string in, out;
    } rows[] = {
        {"empty", none, "", ""},
        {"CR LF stays", none, "a\r\nb", "a\r\nb"},
        {"lone LF", none, "a\nb", "a\r\nb"},
        {"lone CR", none, "a\rb", "a\r\nb"},
        {"LF CR is two breaks", none, "a\n\rb", "a\r\n\r\nb"},
        {"CR CR LF is two breaks", none, "a\r\r\nb", "a\r\n\r\nb"},
        {"ends in a lone CR", none, "a\r", "a\r\n"},
        {"ends in a lone LF", none, "a\n", "a\r\n"},
        {"only breaks", none, "\n\r\n\r", "\r\n\r\n\r\n"},
        {"zero byte kept", none, "a\0\nb"s, "a\0\r\nb"s},
        {"only CR LF breaks unchanged", none, "one\r\ntwo\r\n\r\nthree", "one\r\ntwo\r\n\r\nthree"},
        {"no lead bytes: 0x81 0x0A is a byte and a break", none, "\x81\n", "\x81\r\n"},
        {"UTF-8 text", none, "\xE6\x97\xA5\n\xE6\x9C\xAC", "\xE6\x97\xA5\r\n\xE6\x9C\xAC"},
        {"CP932: 0x5C and 0x7E alone", cp932, "\\\n~\r", "\\\r\n~\r\n"},
        {"CP932: 0x81 0x60", cp932, "\x81\x60\n", "\x81\x60\r\n"},
        {"CP932: 0x83 0x5C", cp932, "\x83\x5C\n", "\x83\x5C\r\n"},
        {"CP932: 0x80 is not a lead byte", cp932, "\x80\n", "\x80\r\n"},
        {"CP932: 0xA0 is not a lead byte", cp932, "\xA0\n", "\xA0\r\n"},
        {"CP932: 0xFD-0xFF are not lead bytes", cp932, "\xFD\n\xFE\r\xFF\n", "\xFD\r\n\xFE\r\n\xFF\r\n"},
        {"CP932: 0xFC is a lead byte", cp932, "\xFC\n", "\xFC\n"},
        {"CP932: a lead byte at the end", cp932, "a\n\x82", "a\r\n\x82"},
        {"CP932: 0x81 0x0A is one character", cp932, "\x81\nb", "\x81\nb"},
        {"CP932: 0x81 0x0D is one character", cp932, "\x81\rb", "\x81\rb"},
        {"CP932: 0x82 0x0A is one character", cp932, "\x82\nb", "\x82\nb"},
        {"CP932: 0x81 0x0D then LF is a break", cp932, "\x81\r\n", "\x81\r\r\n"},
        {"CP932: the trail byte is a lead-range byte", cp932, "\x81\x81\n", "\x81\x81\r\n"},
        {"CP932: three lead-range bytes pair the LF", cp932, "\x81\x81\x81\n", "\x81\x81\x81\n"},
        {"CP932: pairs restart after a plain byte", cp932, "\x81\x81" "a\x81\n\n", "\x81\x81" "a\x81\n\r\n"},
        {"CP932: Japanese lines", cp932, "\x93\xFA\x96\x7B\n\x8C\xEA\r\n", "\x93\xFA\x96\x7B\r\n\x8C\xEA\r\n"},
        {"CP932: zero byte as a trail", cp932, "\x81\0\n"s, "\x81\0\r\n"s},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Hex(NormaliseLineBreaks(r.in, r.codePage)), Hex(r.out)) << r.what;
}
