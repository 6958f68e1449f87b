#include "layer/TextCodec.hpp"

#include <iconv.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "core/CodePage.hpp"
#include "layer/CodePage.hpp"

namespace kestrane::os {

namespace {

constexpr char16_t kMarkBase = 0xDC00;
constexpr char16_t Mark(unsigned char b) { return static_cast<char16_t>(kMarkBase + b); }
constexpr bool IsMark(char32_t u) { return u >= 0xDC00 && u <= 0xDCFF; }
constexpr bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Whether a decoded character may be shown as itself. Control characters other than TAB would be
// invisible (CR and LF count only as the pair CR LF). The text widget takes U+2029 for its own
// paragraph break, shows U+2028 as a line break, turns U+FDD0/U+FDD1 (its frame boundaries) into
// breaks, and copying inside the program turns U+00A0 into a space. Such characters are shown as
// the marks of their bytes instead, which come through all of that unchanged.
constexpr bool Shown(char32_t c)
{
    if (c < 0x20)
        return c == '\t';
    if ((c >= 0x7F && c <= 0xA0) || (c >= 0xD800 && c <= 0xDFFF))
        return false;
    return c != 0x2028 && c != 0x2029 && c != 0xFDD0 && c != 0xFDD1;
}

// Counts the bytes an encoding produces, so the output is allocated once and exactly.
struct ByteCounter {
    std::size_t n = 0;
    void operator()(char) { ++n; }
};

struct ByteWriter {
    char* p;
    void operator()(char b) { *p++ = b; }
};

// Runs the encoder over the text twice: once to count the bytes, once to write them.
template <class EncodeText>
std::string EncodeExactly(std::u16string_view text, const EncodeText& encodeText)
{
    ByteCounter count;
    encodeText(text, count);
    std::string out(count.n, '\0');
    ByteWriter write{out.data()};
    encodeText(text, write);
    return out;
}

// What every code page shares when encoding: breaks, marks and surrogates. encodeChar(c, put)
// handles every other character (c is never a surrogate, a zero or a break).
template <class EncodeChar, class Put>
void EncodeUnits(std::u16string_view text, const EncodeChar& encodeChar, Put& put)
{
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t u = text[i];
        // Most characters take the first branch: none of them is a break, a zero or a surrogate.
        if (u >= 0x20 && u < 0xD800 && u != 0x2028 && u != 0x2029) {
            encodeChar(u, put);
        } else if (u == '\n' || u == 0x2028 || u == 0x2029) {
            put('\r');
            put('\n');
        } else if (IsMark(u)) {
            // The text area holds no zero byte, so the mark of zero has no byte to stand for.
            if (u != kMarkBase)
                put(static_cast<char>(u - kMarkBase));
        } else if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
            encodeChar(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00), put);
            ++i;
        } else if (IsLowSurrogate(u) || IsHighSurrogate(u)) {
            put('?');
        } else if (u != 0) {
            encodeChar(u, put);
        }
    }
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted and flushed, or nothing when any of it fails.
    std::string Convert(std::string_view in)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[16];
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
            iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
            return {};
        return std::string(buffer, static_cast<std::size_t>(outPtr - buffer));
    }

private:
    iconv_t cd_;
};

// Single-byte and double-byte code pages, from tables built once through iconv: a unit (a byte, or
// a lead byte and the byte after it) keeps its character only when that character encodes back to
// exactly the unit's bytes; every other unit is shown as marks.
class TableCodec final : public TextCodec {
public:
    TableCodec(const LeadByteTable& leads, const char* iconvName)
        : leads_(leads), pairs_(leads.HasLeadBytes() ? 0x10000 : 0), bytes_(0x10000)
    {
        Iconv decoder("UTF-16LE", iconvName);
        Iconv encoder(iconvName, "UTF-16LE");
        const bool ok = decoder.ok() && encoder.ok();
        // Without a converter only ASCII is known; every other byte stays a mark and is kept.
        for (unsigned b = 1; b < 256; ++b) {
            const char in[1] = {static_cast<char>(b)};
            const char16_t c = ok ? RoundTrip(decoder, encoder, {in, 1}) : (b < 0x80 ? static_cast<char16_t>(b) : 0);
            single_[b] = c != 0 && Shown(c) ? c : Mark(static_cast<unsigned char>(b));
            if (c != 0)
                bytes_[c] = static_cast<std::uint16_t>(b);
        }
        single_[0] = Mark(0);
        if (!ok || !leads.HasLeadBytes())
            return;
        for (unsigned lead = 1; lead < 256; ++lead) {
            if (!leads.IsLeadByte(static_cast<unsigned char>(lead)))
                continue;
            for (unsigned trail = 1; trail < 256; ++trail) {
                const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const char16_t c = RoundTrip(decoder, encoder, {in, 2});
                if (c == 0)
                    continue;
                if (Shown(c))
                    pairs_[lead << 8 | trail] = c;
                if (bytes_[c] == 0)
                    bytes_[c] = static_cast<std::uint16_t>(lead << 8 | trail);
            }
        }
    }

    std::u16string Decode(std::string_view bytes) const override
    {
        // Every unit gives at most as many code units as it has bytes.
        std::u16string out(bytes.size(), u'\0');
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t n = bytes.size();
        char16_t* o = out.data();
        for (std::size_t i = 0; i < n;) {
            const unsigned char b = p[i];
            if (leads_.IsLeadByte(b) && i + 1 < n) {
                const unsigned char trail = p[i + 1];
                if (const char16_t c = pairs_[b << 8 | trail]) {
                    *o++ = c;
                } else {
                    *o++ = Mark(b);
                    *o++ = Mark(trail);
                }
                i += 2;
            } else if (b == '\r' && i + 1 < n && p[i + 1] == '\n') {
                *o++ = u'\n';
                i += 2;
            } else {
                *o++ = single_[b];
                ++i;
            }
        }
        out.resize(static_cast<std::size_t>(o - out.data()));
        return out;
    }

    std::string Encode(std::u16string_view text) const override
    {
        return EncodeExactly(text, [this](std::u16string_view t, auto& put) {
            EncodeUnits(
                t,
                [this](char32_t c, auto& out) {
                    const std::uint16_t v = c < 0x10000 ? bytes_[c] : 0;
                    if (v == 0) {
                        out('?');
                    } else if (v > 0xFF) {
                        out(static_cast<char>(v >> 8));
                        out(static_cast<char>(v & 0xFF));
                    } else {
                        out(static_cast<char>(v));
                    }
                },
                put);
        });
    }

private:
    // The one UTF-16 code unit the bytes decode to, when it encodes back to the same bytes; else 0.
    static char16_t RoundTrip(Iconv& decoder, Iconv& encoder, std::string_view in)
    {
        const std::string utf16 = decoder.Convert(in);
        if (utf16.size() != 2)
            return 0;
        const auto c = static_cast<char16_t>(static_cast<unsigned char>(utf16[0]) |
                                             static_cast<unsigned char>(utf16[1]) << 8);
        if (c == 0 || (c >= 0xD800 && c <= 0xDFFF) || encoder.Convert(utf16) != in)
            return 0;
        return c;
    }

    LeadByteTable leads_;
    std::array<char16_t, 256> single_{};  // what each byte standing alone is shown as
    std::vector<char16_t> pairs_;         // lead << 8 | trail → character, 0 for marks
    std::vector<std::uint16_t> bytes_;    // character → byte, or lead << 8 | trail; 0 when lacking
};

// UTF-8, decoded strictly: no overlong forms, no encoded surrogates, nothing above U+10FFFF. Every
// byte of a sequence that breaks these rules is shown as a mark.
class Utf8Codec final : public TextCodec {
public:
    std::u16string Decode(std::string_view bytes) const override
    {
        // A sequence of k bytes gives at most k code units (four give a surrogate pair).
        std::u16string out(bytes.size(), u'\0');
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t n = bytes.size();
        char16_t* o = out.data();
        for (std::size_t i = 0; i < n;) {
            const unsigned char b = p[i];
            if (b < 0x80) {
                if (b == '\r' && i + 1 < n && p[i + 1] == '\n') {
                    *o++ = u'\n';
                    i += 2;
                } else {
                    *o++ = Shown(b) ? b : Mark(b);
                    ++i;
                }
                continue;
            }
            const std::size_t length = Utf8SequenceLength(p + i, n - i);
            if (length == 0) {
                *o++ = Mark(b);
                ++i;
                continue;
            }
            char32_t c = b & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k)
                c = c << 6 | (p[i + k] & 0x3F);
            if (!Shown(c)) {
                for (std::size_t k = 0; k < length; ++k)
                    *o++ = Mark(p[i + k]);
            } else if (c >= 0x10000) {
                *o++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                *o++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                *o++ = static_cast<char16_t>(c);
            }
            i += length;
        }
        out.resize(static_cast<std::size_t>(o - out.data()));
        return out;
    }

    std::string Encode(std::u16string_view text) const override
    {
        return EncodeExactly(text, [](std::u16string_view t, auto& put) {
            EncodeUnits(
                t,
                [](char32_t c, auto& out) {
                    if (c < 0x80) {
                        out(static_cast<char>(c));
                    } else if (c < 0x800) {
                        out(static_cast<char>(0xC0 | c >> 6));
                        out(static_cast<char>(0x80 | (c & 0x3F)));
                    } else if (c < 0x10000) {
                        out(static_cast<char>(0xE0 | c >> 12));
                        out(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
                        out(static_cast<char>(0x80 | (c & 0x3F)));
                    } else {
                        out(static_cast<char>(0xF0 | c >> 18));
                        out(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
                        out(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
                        out(static_cast<char>(0x80 | (c & 0x3F)));
                    }
                },
                put);
        });
    }
};

}  // namespace

std::unique_ptr<TextCodec> TextCodec::ForCharset(std::string_view charsetName)
{
    const std::string name = CanonicalCharsetName(charsetName);
    if (name == "UTF8")
        return std::make_unique<Utf8Codec>();
    // The Windows flavour of Shift-JIS, where 0x5C is a backslash and 0x7E a tilde.
    const std::string iconvName = IsShiftJisCharset(name) ? "CP932" : std::string(charsetName);
    return std::make_unique<TableCodec>(LeadByteTable::ForCharset(charsetName), iconvName.c_str());
}

const TextCodec& TextCodec::System()
{
    static const std::unique_ptr<TextCodec> codec = ForCharset(CodePageName());
    return *codec;
}

}  // namespace kestrane::os
