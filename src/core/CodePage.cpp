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
    if (n == "SHIFTJIS" || n == "SJIS" || n == "CP932" || n == "WINDOWS31J" || n == "MSKANJI") {
        t.SetRange(0x81, 0x9F);
        t.SetRange(0xE0, 0xFC);
    } else if (n == "GBK" || n == "CP936" || n == "GB18030" || n == "BIG5" || n == "BIG5HKSCS" || n == "CP950" ||
               n == "CP949" || n == "UHC" || n == "EUCKR" || n == "GB2312" || n == "EUCCN") {
        t.SetRange(0x81, 0xFE);
    }
    return t;
}

}  // namespace kestrane
