#include "qt/TextViewLayout.hpp"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrane::qt {

namespace {

// Decoding and measuring go a chunk at a time, so a long paragraph needs no copy of its own.
constexpr std::size_t kChunk = 16 * 1024;
// Without wrap, an edited paragraph up to this size is measured at once for the horizontal range.
constexpr std::size_t kMeasureAtOnce = 1024 * 1024;

constexpr bool IsMark(char32_t u) { return u >= 0xDC00 && u <= 0xDCFF; }
constexpr bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }

}  // namespace

void TextLayout::SetCodec(const os::TextCodec& codec)
{
    codec_ = &codec;
    Reset();
}

void TextLayout::SetFont(const QFont& font)
{
    font_ = font;
    // Characters stand where their own advances put them, as the caret and the wrapping count.
    font_.setKerning(false);
    font_.setStyleStrategy(QFont::StyleStrategy(font_.styleStrategy() | QFont::PreferNoShaping));
    metrics_ = QFontMetricsF(font_);
    rowHeight_ = std::max(1, static_cast<int>(std::ceil(metrics_.lineSpacing())));
    ascent_ = static_cast<int>(std::ceil(metrics_.ascent()));
    averageWidth_ = metrics_.averageCharWidth() > 0 ? metrics_.averageCharWidth() : metrics_.horizontalAdvance(u'x');
    averageWidth_ = std::max(averageWidth_, 1.0);
    tabWidth_ = 8 * averageWidth_;
    for (char32_t c = 0; c < 128; ++c)
        ascii_[c] = static_cast<float>(metrics_.horizontalAdvance(QChar(static_cast<char16_t>(c))));
    bmp_.assign(0x10000, std::numeric_limits<float>::quiet_NaN());
    astral_.clear();

    markFont_ = font_;
    markFont_.setPixelSize(std::max(6, rowHeight_ * 11 / 20));
    const QFontMetricsF markMetrics(markFont_);
    double digit = 0;
    for (char c : std::string_view("0123456789ABCDEF"))
        digit = std::max(digit, markMetrics.horizontalAdvance(QChar(c)));
    markWidth_ = std::ceil(2 * digit + 4);
    Reset();
}

void TextLayout::SetWrap(bool wrap, double width)
{
    if (wrap == wrap_ && (!wrap || width == width_))
        return;
    wrap_ = wrap;
    width_ = width;
    Reset();
}

std::uint32_t TextLayout::Estimate(std::size_t p) const
{
    if (!wrap_)
        return 1;
    const double bytes = static_cast<double>(text_.ParagraphEnd(p) - text_.ParagraphStart(p));
    const double rows = width_ > averageWidth_ ? std::ceil(bytes * averageWidth_ / width_) : bytes;
    return static_cast<std::uint32_t>(std::clamp(rows, 1.0, 1e9));
}

void TextLayout::Reset()
{
    rows_.clear();
    idleNext_ = 0;
    widest_ = 0;
    std::vector<std::uint32_t> estimates(text_.Paragraphs());
    for (std::size_t p = 0; p < estimates.size(); ++p)
        estimates[p] = Estimate(p);
    index_.Assign(std::move(estimates), !wrap_);
}

double TextLayout::CharWidth(char32_t c)
{
    if (c < 128)
        return ascii_[c];
    if (c < 0x10000) {
        float& w = bmp_[c];
        if (std::isnan(w))
            w = static_cast<float>(metrics_.horizontalAdvance(QString(QChar(static_cast<char16_t>(c)))));
        return w;
    }
    auto [it, added] = astral_.try_emplace(c, 0.0f);
    if (added)
        it->second = static_cast<float>(metrics_.horizontalAdvance(QString::fromUcs4(&c, 1)));
    return it->second;
}

double TextLayout::TabAdvance(double x) const
{
    return (std::floor(x / tabWidth_) + 1) * tabWidth_ - x;
}

template <class Visit>
void TextLayout::ForEachUnit(std::size_t from, std::size_t to, Visit&& visit)
{
    const CharUnits& units = text_.Units();
    std::u16string fallback;
    for (std::size_t pos = from; pos < to;) {
        const std::size_t want = std::min(to - pos, kChunk);
        // A unit that begins in the chunk may end up to three bytes after it.
        const std::size_t have = std::min(to - pos, want + 3);
        scratch_.clear();
        text_.Read(pos, have, scratch_);
        const auto* p = reinterpret_cast<const unsigned char*>(scratch_.data());
        std::size_t cut = 0;
        while (cut < want)
            cut += units.Length(p + cut, have - cut);
        decoded_ = codec_->Decode(std::string_view(scratch_.data(), cut));
        std::size_t j = 0;
        for (std::size_t i = 0; i < cut;) {
            const std::size_t length = units.Length(p + i, have - i);
            const char16_t* u = decoded_.data() + j;
            std::size_t count = 1;
            if (j < decoded_.size() && IsMark(decoded_[j]))
                count = length;
            else if (j < decoded_.size() && IsHighSurrogate(decoded_[j]))
                count = 2;
            if (j + count > decoded_.size()) {
                // The codec went another way: show the rest as marks rather than guess.
                fallback.clear();
                for (std::size_t k = 0; k < length; ++k)
                    fallback += static_cast<char16_t>(0xDC00 + p[i + k]);
                u = fallback.data();
                count = length;
                j = decoded_.size();
            } else {
                j += count;
            }
            if (!visit(pos + i, static_cast<std::uint32_t>(length), u, count))
                return;
            i += length;
        }
        pos += cut;
    }
}

WrapItem TextLayout::Item(std::uint32_t bytes, const char16_t* units, std::size_t count)
{
    const char32_t u = units[0];
    if (IsMark(u))
        return {bytes, static_cast<float>(count * markWidth_), WrapItem::Class::Other};
    const char32_t c = count == 2 ? 0x10000 + ((u - 0xD800) << 10) + (units[1] - 0xDC00) : u;
    WrapItem::Class cls = WrapItem::Class::Other;
    if (c == ' ')
        cls = WrapItem::Class::Space;
    else if (c == '\t')
        cls = WrapItem::Class::Tab;
    else if (c >= 0x3000)
        cls = WrapItem::Class::Wide;
    return {bytes, static_cast<float>(CharWidth(c)), cls};
}

template <class OnRow>
void TextLayout::Break(std::size_t p, std::uint32_t from, OnRow&& onRow)
{
    if (!wrap_)
        return;
    RowBreaker breaker(width_, tabWidth_, from);
    const std::size_t start = text_.ParagraphStart(p);
    ForEachUnit(start + from, text_.ParagraphEnd(p),
                [&](std::size_t, std::uint32_t bytes, const char16_t* units, std::size_t count) {
                    return breaker.Add(Item(bytes, units, count), onRow);
                });
}

template <class Visit>
void TextLayout::ForEachCell(std::size_t start, std::size_t end, Visit&& visit)
{
    double x = 0;
    ForEachUnit(start, end, [&](std::size_t offset, std::uint32_t bytes, const char16_t* units, std::size_t count) {
        Cell cell{};
        cell.unitStart = true;
        if (IsMark(units[0])) {
            cell.mark = true;
            cell.bytes = 1;
            cell.units = 1;
            cell.width = markWidth_;
            for (std::size_t k = 0; k < count; ++k) {
                cell.offset = offset + k;
                cell.ch = units[k] - 0xDC00;
                cell.x = x;
                x += markWidth_;
                if (!visit(cell))
                    return false;
                cell.unitStart = false;
            }
            return true;
        }
        cell.offset = offset;
        cell.bytes = static_cast<std::uint8_t>(bytes);
        cell.units = static_cast<std::uint8_t>(count);
        cell.ch = count == 2 ? 0x10000 + ((units[0] - 0xD800) << 10) + (units[1] - 0xDC00) : units[0];
        cell.width = cell.ch == '\t' ? TabAdvance(x) : CharWidth(cell.ch);
        cell.x = x;
        x += cell.width;
        return visit(cell);
    });
}

void TextLayout::Shape(std::size_t start, std::size_t end, ShapedRow& out, double xFrom, double xTo)
{
    out.text.clear();
    out.cells.clear();
    out.start = start;
    out.end = end;
    out.width = 0;
    ForEachCell(start, end, [&](const Cell& c) {
        out.width = c.x + c.width;
        if (c.x + c.width < xFrom || c.x >= xTo)
            return true;
        Cell kept = c;
        kept.index = static_cast<std::uint32_t>(out.text.size());
        if (c.mark)
            out.text += QChar(static_cast<char16_t>(0xDC00 + c.ch));
        else if (c.units == 2)
            out.text += QString::fromUcs4(&c.ch, 1);
        else
            out.text += QChar(static_cast<char16_t>(c.ch));
        out.cells.push_back(kept);
        return true;
    });
    widest_ = std::max(widest_, out.width);
}

void TextLayout::VisitCells(std::size_t start, std::size_t end, const std::function<bool(const Cell&)>& visit)
{
    ForEachCell(start, end, visit);
}

double TextLayout::XOf(std::size_t start, std::size_t end, std::size_t offset)
{
    double x = 0;
    ForEachCell(start, end, [&](const Cell& c) {
        if (c.offset >= offset)
            return false;
        x = c.x + c.width;
        return true;
    });
    return x;
}

std::size_t TextLayout::OffsetAt(std::size_t start, std::size_t end, double x)
{
    std::size_t found = end;
    ForEachCell(start, end, [&](const Cell& c) {
        if (x < c.x + c.width / 2) {
            found = c.offset;
            return false;
        }
        return true;
    });
    return found;
}

std::vector<std::uint32_t>& TextLayout::Cached(std::size_t p)
{
    auto it = rows_.find(p);
    if (it != rows_.end())
        return it->second;
    std::vector<std::uint32_t> starts{0};
    Break(p, 0, [&](std::uint32_t s) {
        starts.push_back(s);
        return true;
    });
    index_.Set(p, static_cast<std::uint32_t>(starts.size()), true);
    return rows_.emplace(p, std::move(starts)).first->second;
}

const std::vector<std::uint32_t>& TextLayout::Rows(std::size_t p) { return Cached(p); }

void TextLayout::Trim(std::size_t first, std::size_t last, std::size_t also)
{
    for (auto it = rows_.begin(); it != rows_.end();) {
        if ((it->first < first || it->first > last) && it->first != also)
            it = rows_.erase(it);
        else
            ++it;
    }
}

bool TextLayout::LayOutSome(std::chrono::steady_clock::duration budget)
{
    const auto deadline = std::chrono::steady_clock::now() + budget;
    const std::size_t paragraphs = text_.Paragraphs();
    while (true) {
        std::size_t p = wrap_ ? index_.NextEstimated(idleNext_) : idleNext_;
        if (p >= paragraphs)
            return false;
        if (wrap_) {
            std::uint32_t rows = 1;
            Break(p, 0, [&](std::uint32_t) {
                ++rows;
                return true;
            });
            index_.Set(p, rows, true);
        } else {
            widest_ = std::max(widest_, XOf(text_.ParagraphStart(p), text_.ParagraphEnd(p), text_.ParagraphEnd(p)));
        }
        idleNext_ = p + 1;
        if (std::chrono::steady_clock::now() >= deadline)
            return idleNext_ < paragraphs;
    }
}

void TextLayout::Edited(const TextBuffer::Change& change, std::size_t pos, std::size_t removed, std::size_t inserted)
{
    if (change.removed == 0 && change.inserted == 0)
        return;
    const std::size_t p = change.first;
    auto cached = rows_.find(p);
    if (wrap_ && change.removed == 1 && change.inserted == 1 && cached != rows_.end()) {
        // Rows before the one two above the edit keep their breaks; so does everything from the
        // first row start past the edit that was a row start before it.
        const std::vector<std::uint32_t>& old = cached->second;
        const auto rel = static_cast<std::uint32_t>(pos - text_.ParagraphStart(p));
        const auto editEnd = static_cast<std::uint32_t>(rel + inserted);
        const auto delta = static_cast<std::uint32_t>(inserted - removed);  // modulo 2^32, as the offsets
        const std::size_t row = static_cast<std::size_t>(std::upper_bound(old.begin(), old.end(), rel) - old.begin()) - 1;
        const std::size_t restart = row >= 2 ? row - 2 : 0;
        std::vector<std::uint32_t> starts(old.begin(), old.begin() + static_cast<std::ptrdiff_t>(restart) + 1);
        auto tail = old.end();
        Break(p, old[restart], [&](std::uint32_t s) {
            if (s >= editEnd) {
                const std::uint32_t before = s - delta;
                const auto same = std::lower_bound(old.begin() + static_cast<std::ptrdiff_t>(row), old.end(), before);
                if (same != old.end() && *same == before) {
                    tail = same;
                    return false;
                }
            }
            starts.push_back(s);
            return true;
        });
        for (auto it = tail; it != old.end(); ++it)
            starts.push_back(*it + delta);
        cached->second = std::move(starts);
        index_.Set(p, static_cast<std::uint32_t>(cached->second.size()), true);
        return;
    }

    // Paragraphs were replaced: their rows are estimated again, those after them move.
    std::map<std::size_t, std::vector<std::uint32_t>> moved;
    for (auto it = rows_.lower_bound(p); it != rows_.end();) {
        if (it->first >= p + change.removed)
            moved.emplace(it->first - change.removed + change.inserted, std::move(it->second));
        it = rows_.erase(it);
    }
    rows_.merge(moved);
    if (change.removed != change.inserted)
        index_.Splice(p, change.removed, change.inserted);
    std::size_t measured = 0;
    for (std::size_t q = p; q < p + change.inserted; ++q) {
        index_.Set(q, Estimate(q), !wrap_);
        const std::size_t start = text_.ParagraphStart(q), end = text_.ParagraphEnd(q);
        if (!wrap_ && measured + (end - start) <= kMeasureAtOnce) {
            measured += end - start;
            widest_ = std::max(widest_, XOf(start, end, end));
        }
    }
    if (wrap_)
        idleNext_ = std::min(idleNext_, p);
}

}  // namespace kestrane::qt
