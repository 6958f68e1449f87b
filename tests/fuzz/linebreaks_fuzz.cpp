// Compares NormaliseLineBreaks with a byte-at-a-time reference. The first input byte picks the code
// page: odd for Shift-JIS, even for one without lead bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/LineBreaks.hpp"

namespace {

bool IsShiftJisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

std::string Reference(std::string_view in, bool shiftJis)
{
    std::string out;
    for (std::size_t i = 0; i < in.size();) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        if (shiftJis && IsShiftJisLead(b)) {
            out += in[i++];
            if (i < in.size())
                out += in[i++];
        } else if (b == '\n') {
            out += "\r\n";
            ++i;
        } else if (b == '\r') {
            out += "\r\n";
            ++i;
            if (i < in.size() && in[i] == '\n')
                ++i;
        } else {
            out += in[i++];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const kestrane::LeadByteTable shiftJis = kestrane::LeadByteTable::ForCharset("SHIFT_JIS");
    static const kestrane::LeadByteTable none = kestrane::LeadByteTable::ForCharset("UTF-8");
    const bool sjis = data[0] & 1;
    const std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (kestrane::NormaliseLineBreaks(in, sjis ? shiftJis : none) != Reference(in, sjis))
        std::abort();
    return 0;
}
