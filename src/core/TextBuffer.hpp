#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/CodePage.hpp"

namespace kestrane {

// How a code page's bytes form characters, by the same rule as the text codec: a lead byte and
// any byte after it in a double-byte set, a well-formed sequence in UTF-8, else one byte.
class CharUnits {
public:
    enum class Kind { SingleByte, DoubleByte, Utf8 };

    CharUnits() = default;
    static CharUnits ForCharset(std::string_view charsetName);

    Kind kind() const { return kind_; }

    // Length of the unit that begins at p[0], where `available` (≥ 1) bytes lie from p on.
    std::size_t Length(const unsigned char* p, std::size_t available) const
    {
        if (kind_ == Kind::SingleByte || p[0] < 0x80)
            return 1;
        if (kind_ == Kind::DoubleByte)
            return leads_.IsLeadByte(p[0]) && available > 1 ? 2 : 1;
        const std::size_t n = Utf8SequenceLength(p, available);
        return n ? n : 1;
    }

    // Whether every text has a unit boundary at a position, knowing only the byte before it
    // (-1 at the start) and the byte at it (-1 at the end): after a byte that is no lead byte,
    // before a byte that continues no UTF-8 sequence.
    bool SureBoundary(int before, int at) const
    {
        if (before < 0 || at < 0)
            return true;
        switch (kind_) {
        case Kind::SingleByte:
            return true;
        case Kind::DoubleByte:
            return !leads_.IsLeadByte(static_cast<unsigned char>(before));
        case Kind::Utf8:
            return (at & 0xC0) != 0x80;
        }
        return true;
    }

private:
    Kind kind_ = Kind::SingleByte;
    LeadByteTable leads_;
};

// The bytes of a text area (a gap buffer, so that edits near each other cost their own size) and
// its paragraphs: the runs of bytes between line breaks. A break is a CR unit followed by an LF
// unit; a CR or LF elsewhere, a lead byte's second byte among them, is an ordinary character.
class TextBuffer {
public:
    // The largest text, in bytes: offsets fit 32 bits.
    static constexpr std::size_t kMaxSize = 0x7FFFFFFE;

    // Paragraphs [first, first + removed) of the text before an edit became [first, first + inserted).
    struct Change {
        std::size_t first = 0;
        std::size_t removed = 0;
        std::size_t inserted = 0;
    };

    explicit TextBuffer(CharUnits units = {});

    const CharUnits& Units() const { return units_; }
    // Reads the same bytes by another rule.
    void SetUnits(CharUnits units);

    // Throws std::length_error beyond kMaxSize.
    void Assign(std::string_view bytes);
    // Replaces n bytes at pos (both clamped to the text). Throws std::length_error beyond kMaxSize,
    // leaving the text as it was.
    Change Replace(std::size_t pos, std::size_t n, std::string_view bytes);

    std::size_t Size() const { return size_; }
    std::string Bytes() const { return Read(0, size_); }
    std::string Read(std::size_t pos, std::size_t n) const;
    void Read(std::size_t pos, std::size_t n, std::string& out) const;
    unsigned char At(std::size_t i) const
    {
        return static_cast<unsigned char>(i < gapStart_ ? data_[i] : data_[i + (gapEnd_ - gapStart_)]);
    }

    std::size_t Paragraphs() const { return starts_.size(); }
    std::size_t ParagraphStart(std::size_t p) const { return starts_[p]; }
    // Where the paragraph's text ends: before its line break, or at the end of the text.
    std::size_t ParagraphEnd(std::size_t p) const { return p + 1 < starts_.size() ? starts_[p + 1] - 2 : size_; }
    // The paragraph whose text or break holds pos; the last one for the end of the text.
    std::size_t ParagraphOf(std::size_t pos) const;

    // Length of the unit that begins at pos (a unit boundary before the end of the text).
    std::size_t UnitLength(std::size_t pos) const;
    // The start of the unit that holds byte pos - 1 (pos > 0).
    std::size_t UnitStartBefore(std::size_t pos) const;
    // A unit boundary at or before pos, near it, and not before floor (itself a boundary).
    std::size_t SyncBefore(std::size_t pos, std::size_t floor) const;

private:
    int ByteOr(std::size_t i) const { return i < size_ ? At(i) : -1; }
    int ByteBefore(std::size_t i) const { return i > 0 ? At(i - 1) : -1; }
    void Read(std::size_t pos, std::size_t n, char* out) const;
    void MakeGap(std::size_t pos, std::size_t room);
    // Starts of the paragraphs that follow the breaks found from `from` (a boundary) up to `to`.
    void FindBreaks(const unsigned char* p, std::size_t n, std::size_t base, std::size_t to,
                    std::vector<std::uint32_t>& out) const;

    CharUnits units_;
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t gapStart_ = 0;
    std::size_t gapEnd_ = 0;
    std::size_t size_ = 0;
    std::vector<std::uint32_t> starts_{0};
};

}  // namespace kestrane
