#include "core/LineBreaks.hpp"

namespace kestrane {

std::string NormaliseLineBreaks(std::string_view in, const LeadByteTable& codePage)
{
    std::string out;
    out.reserve(in.size() + in.size() / 16);
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        if (codePage.IsLeadByte(b)) {
            const std::size_t len = i + 1 < n ? 2 : 1;
            out.append(in.data() + i, len);
            i += len;
        } else if (b == '\n') {
            out += "\r\n";
            ++i;
        } else if (b == '\r') {
            out += "\r\n";
            i += (i + 1 < n && in[i + 1] == '\n') ? 2 : 1;
        } else {
            out += static_cast<char>(b);
            ++i;
        }
    }
    return out;
}

}  // namespace kestrane
