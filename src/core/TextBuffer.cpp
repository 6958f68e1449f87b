#include "core/TextBuffer.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kestrane {

CharUnits CharUnits::ForCharset(std::string_view charsetName)
{
    CharUnits u;
    if (CanonicalCharsetName(charsetName) == "UTF8") {
        u.kind_ = Kind::Utf8;
    } else {
        u.leads_ = LeadByteTable::ForCharset(charsetName);
        u.kind_ = u.leads_.HasLeadBytes() ? Kind::DoubleByte : Kind::SingleByte;
    }
    return u;
}

TextBuffer::TextBuffer(CharUnits units) : units_(units) {}

void TextBuffer::SetUnits(CharUnits units)
{
    units_ = units;
    MakeGap(size_, 0);
    std::vector<std::uint32_t> starts{0};
    FindBreaks(reinterpret_cast<const unsigned char*>(data_.get()), size_, 0, size_, starts);
    starts_.swap(starts);
}

void TextBuffer::Assign(std::string_view bytes)
{
    if (bytes.size() > kMaxSize)
        throw std::length_error("text too large");
    const std::size_t gap = std::max<std::size_t>(bytes.size() / 16, 4096);
    auto data = std::make_unique_for_overwrite<char[]>(bytes.size() + gap);
    std::memcpy(data.get(), bytes.data(), bytes.size());
    std::vector<std::uint32_t> starts{0};
    FindBreaks(reinterpret_cast<const unsigned char*>(data.get()), bytes.size(), 0, bytes.size(), starts);
    data_ = std::move(data);
    capacity_ = bytes.size() + gap;
    size_ = bytes.size();
    gapStart_ = size_;
    gapEnd_ = capacity_;
    starts_.swap(starts);
}

void TextBuffer::FindBreaks(const unsigned char* p, std::size_t n, std::size_t base, std::size_t to,
                            std::vector<std::uint32_t>& out) const
{
    const std::size_t end = to - base;
    std::size_t i = 0;
    if (units_.kind() != CharUnits::Kind::DoubleByte) {
        // No unit but CR itself holds a CR byte: every CR LF is a break.
        while (i < end) {
            const void* cr = std::memchr(p + i, '\r', end - i);
            if (!cr)
                break;
            i = static_cast<std::size_t>(static_cast<const unsigned char*>(cr) - p);
            if (i + 1 < n && p[i + 1] == '\n') {
                out.push_back(static_cast<std::uint32_t>(base + i + 2));
                i += 2;
            } else {
                ++i;
            }
        }
        return;
    }
    while (i < end) {
        const unsigned char b = p[i];
        if (b == '\r' && i + 1 < n && p[i + 1] == '\n') {
            out.push_back(static_cast<std::uint32_t>(base + i + 2));
            i += 2;
        } else {
            i += units_.Length(p + i, n - i);
        }
    }
}

TextBuffer::Change TextBuffer::Replace(std::size_t pos, std::size_t n, std::string_view bytes)
{
    pos = std::min(pos, size_);
    n = std::min(n, size_ - pos);
    if (size_ - n + bytes.size() > kMaxSize)
        throw std::length_error("text too large");
    const std::size_t p = ParagraphOf(pos);
    if (n == 0 && bytes.empty())
        return {p, 0, 0};

    // Units before a boundary at or before the edit keep their places; so do those after the first
    // boundary past it that every text has there. Breaks are looked for between the two.
    const std::size_t a = pos == starts_[p] ? pos : SyncBefore(pos - 1, starts_[p]);
    // In a double-byte set the byte that tells must be one the edit keeps.
    const bool keptBefore = units_.kind() == CharUnits::Kind::DoubleByte;
    std::size_t z = pos + n;
    while (z < size_ && ((keptBefore && z == pos + n) || !units_.SureBoundary(ByteBefore(z), At(z))))
        ++z;
    const std::size_t tail = std::min(size_, z + 1);
    std::string region;
    region.reserve(pos - a + bytes.size() + (tail - pos - n));
    Read(a, pos - a, region);
    region.append(bytes);
    const std::size_t kept = region.size();
    region.resize(kept + (tail - pos - n));
    for (std::size_t i = pos + n; i < tail; ++i)
        region[kept + i - pos - n] = static_cast<char>(At(i));

    const std::size_t newZ = z - n + bytes.size();
    std::vector<std::uint32_t> found;
    FindBreaks(reinterpret_cast<const unsigned char*>(region.data()), region.size(), a, newZ, found);

    const auto first = std::lower_bound(starts_.begin(), starts_.end(), static_cast<std::uint32_t>(a + 2));
    const auto last = std::lower_bound(first, starts_.end(), static_cast<std::uint32_t>(z + 2));
    const std::size_t i0 = static_cast<std::size_t>(first - starts_.begin());
    const std::size_t removed = static_cast<std::size_t>(last - first);
    // Everything that can fail is done before the text changes.
    starts_.reserve(starts_.size() - removed + found.size());
    MakeGap(pos, bytes.size() > n ? bytes.size() - n : 0);

    gapEnd_ += n;
    std::memcpy(data_.get() + gapStart_, bytes.data(), bytes.size());
    gapStart_ += bytes.size();
    size_ = size_ - n + bytes.size();

    const auto delta = static_cast<std::uint32_t>(bytes.size() - n);  // modulo 2^32, as the offsets
    if (found.size() >= removed) {
        starts_.insert(starts_.begin() + static_cast<std::ptrdiff_t>(i0 + removed),
                       found.begin() + static_cast<std::ptrdiff_t>(removed), found.end());
    } else {
        starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(i0 + found.size()),
                      starts_.begin() + static_cast<std::ptrdiff_t>(i0 + removed));
    }
    std::copy(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(std::min(found.size(), removed)),
              starts_.begin() + static_cast<std::ptrdiff_t>(i0));
    for (std::size_t k = i0 + found.size(); k < starts_.size(); ++k)
        starts_[k] += delta;
    return {p, removed + 1, found.size() + 1};
}

void TextBuffer::MakeGap(std::size_t pos, std::size_t room)
{
    const std::size_t gap = gapEnd_ - gapStart_;
    if (gap < room || !data_) {
        const std::size_t newGap = room + std::max<std::size_t>(size_ / 16, 4096);
        auto data = std::make_unique_for_overwrite<char[]>(size_ + newGap);
        Read(0, pos, data.get());
        Read(pos, size_ - pos, data.get() + pos + newGap);
        data_ = std::move(data);
        capacity_ = size_ + newGap;
        gapStart_ = pos;
        gapEnd_ = pos + newGap;
        return;
    }
    if (pos < gapStart_) {
        const std::size_t moved = gapStart_ - pos;
        std::memmove(data_.get() + gapEnd_ - moved, data_.get() + pos, moved);
        gapStart_ = pos;
        gapEnd_ -= moved;
    } else if (pos > gapStart_) {
        const std::size_t moved = pos - gapStart_;
        std::memmove(data_.get() + gapStart_, data_.get() + gapEnd_, moved);
        gapStart_ = pos;
        gapEnd_ += moved;
    }
}

void TextBuffer::Read(std::size_t pos, std::size_t n, char* out) const
{
    if (n == 0)
        return;
    const char* d = data_.get();
    if (pos + n <= gapStart_) {
        std::memcpy(out, d + pos, n);
    } else if (pos >= gapStart_) {
        std::memcpy(out, d + pos + (gapEnd_ - gapStart_), n);
    } else {
        const std::size_t before = gapStart_ - pos;
        std::memcpy(out, d + pos, before);
        std::memcpy(out + before, d + gapEnd_, n - before);
    }
}

std::string TextBuffer::Read(std::size_t pos, std::size_t n) const
{
    std::string out;
    Read(pos, n, out);
    return out;
}

void TextBuffer::Read(std::size_t pos, std::size_t n, std::string& out) const
{
    pos = std::min(pos, size_);
    n = std::min(n, size_ - pos);
    const std::size_t at = out.size();
    out.resize(at + n);
    Read(pos, n, out.data() + at);
}

std::size_t TextBuffer::ParagraphOf(std::size_t pos) const
{
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), pos);
    return static_cast<std::size_t>(it - starts_.begin()) - 1;
}

std::size_t TextBuffer::UnitLength(std::size_t pos) const
{
    unsigned char bytes[4];
    const std::size_t n = std::min<std::size_t>(4, size_ - pos);
    for (std::size_t k = 0; k < n; ++k)
        bytes[k] = At(pos + k);
    return units_.Length(bytes, n);
}

std::size_t TextBuffer::SyncBefore(std::size_t pos, std::size_t floor) const
{
    while (pos > floor && !units_.SureBoundary(ByteBefore(pos), ByteOr(pos)))
        --pos;
    return pos;
}

std::size_t TextBuffer::UnitStartBefore(std::size_t pos) const
{
    std::size_t b = SyncBefore(pos - 1, starts_[ParagraphOf(pos - 1)]);
    for (;;) {
        const std::size_t next = b + UnitLength(b);
        if (next >= pos)
            return b;
        b = next;
    }
}

}  // namespace kestrane
