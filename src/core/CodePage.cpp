#include "core/CodePage.hpp"

#include <algorithm>
#include <cctype>
#include <string>

namespace kestrane {

std::string CanonicalCharsetName(std::string_view name)
{
    std::string out;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool IsShiftJisCharset(std::string_view name)
{
    const std::string n = CanonicalCharsetName(name);
    return n == "SHIFTJIS" || n == "SJIS" || n == "CP932" || n == "WINDOWS31J" || n == "MSKANJI";
}

std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t available)
{
    const unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((p[k] & 0xC0) != 0x80)
            return 0;
    return length;
}

void LeadByteTable::SetRange(unsigned first, unsigned last)
{
    for (unsigned b = first; b <= last; ++b)
        lead_[b] = true;
    any_ = true;
}

LeadByteTable LeadByteTable::ForCharset(std::string_view charsetName)
{
    const std::string n = CanonicalCharsetName(charsetName);
    LeadByteTable t;
    if (IsShiftJisCharset(n)) {
        t.SetRange(0x81, 0x9F);
        t.SetRange(0xE0, 0xFC);
    } else if (n == "GBK" || n == "CP936" || n == "GB18030" || n == "BIG5" || n == "BIG5HKSCS" || n == "CP950" ||
               n == "CP949" || n == "UHC" || n == "EUCKR" || n == "GB2312" || n == "EUCCN") {
        t.SetRange(0x81, 0xFE);
    }
    return t;
}

}  // namespace kestrane
