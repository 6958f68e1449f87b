#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane {

// A character set's name reduced to upper-case letters and digits: "Shift_JIS" and "SHIFT-JIS" meet.
std::string CanonicalCharsetName(std::string_view name);

// Whether a character set is Shift-JIS in one of its names (the Windows flavour, CP932, is meant).
bool IsShiftJisCharset(std::string_view name);

// Length of the well-formed UTF-8 sequence that begins at p[0], where `available` (>= 1) bytes lie:
// 1 for ASCII, 2 to 4, or 0 when none begins there (no overlong form, no encoded surrogate,
// nothing above U+10FFFF).
std::size_t Utf8SequenceLength(const unsigned char* p, std::size_t available);

// Which bytes begin a two-byte character in a code page. Single-byte sets and UTF-8 have none.
class LeadByteTable {
public:
    LeadByteTable() = default;

    static LeadByteTable ForCharset(std::string_view charsetName);

    bool IsLeadByte(unsigned char b) const { return lead_[b]; }
    bool HasLeadBytes() const { return any_; }

    // Length of the character that begins at text[i]: 2 for a lead byte with a byte after it, else 1.
    std::size_t CharLength(std::string_view text, std::size_t i) const
    {
        return lead_[static_cast<unsigned char>(text[i])] && i + 1 < text.size() ? 2 : 1;
    }

private:
    void SetRange(unsigned first, unsigned last);

    std::array<bool, 256> lead_{};
    bool any_ = false;
};

}  // namespace kestrane
