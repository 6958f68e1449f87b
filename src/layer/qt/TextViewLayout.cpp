#include "qt/TextViewLayout.hpp"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrane::qt {

namespace {

// Decoding and measuring go a chunk at a time, so a long paragraph needs no copy of its own.
constexpr std::size_t kChunk = 16 * 1024;
// Row starts of paragraphs this long are kept: they take a while to find again.
constexpr std::size_t kLong = 64 * 1024;
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
bool TextLayout::ForEachUnit(std::size_t from, std::size_t to, Visit&& visit)
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
                return false;
            i += length;
        }
        pos += cut;
    }
    return true;
}

WrapItem TextLayout::Item(std::uint32_t bytes, const char16_t* units, std::size_t count)
{
    const char32_t u = units[0];
    if (IsMark(u))
        return {bytes, static_cast<float>(count * markWidth_), WrapItem::Class::Other};
    const char32_t c = count == 2 ? 0x10000 + ((u - 0xD800) << 10) + (units[1] - 0xDC00) : u;
    return {bytes, static_cast<float>(CharWidth(c)), WrapItem::ClassOf(c)};
}

template <class OnRow>
bool TextLayout::Break(std::size_t p, std::uint32_t from, OnRow&& onRow)
{
    if (!wrap_)
        return true;
    RowBreaker breaker(width_, tabWidth_, from);
    const std::size_t start = text_.ParagraphStart(p);
    return ForEachUnit(start + from, text_.ParagraphEnd(p),
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

TextLayout::KnownRows& TextLayout::Entry(std::size_t p)
{
    auto [it, added] = rows_.try_emplace(p);
    if (added && !wrap_)
        it->second.complete = true;
    return it->second;
}

void TextLayout::Extend(std::size_t p, KnownRows& e, std::size_t rows, std::chrono::steady_clock::time_point deadline)
{
    if (!e.complete) {
        const std::uint32_t from = e.starts.back();
        const bool timed = deadline != std::chrono::steady_clock::time_point::max();
        e.complete = Break(p, from, [&](std::uint32_t s) {
            e.starts.push_back(s);
            if (timed)
                return (e.starts.size() & 63) != 0 || std::chrono::steady_clock::now() < deadline;
            return e.starts.size() < rows || s - from < kChunk;
        });
    }
    Account(p, e);
}

void TextLayout::Account(std::size_t p, const KnownRows& e)
{
    const auto known = static_cast<std::uint32_t>(e.starts.size());
    if (e.complete) {
        index_.Set(p, known, true);
        return;
    }
    // The rest of the paragraph as dense in rows as the part laid out.
    const double done = e.starts.back();
    const double rest = static_cast<double>(text_.ParagraphEnd(p) - text_.ParagraphStart(p)) - done;
    const double more = done > 0 ? std::ceil(rest * (known - 1) / done) : Estimate(p);
    index_.Set(p, known + static_cast<std::uint32_t>(std::clamp(more, 0.0, 1e9)), false);
}

std::uint32_t TextLayout::RowStart(std::size_t p, std::uint32_t k)
{
    KnownRows& e = Entry(p);
    if (k >= e.starts.size())
        Extend(p, e, std::size_t{k} + 1);
    return e.starts[std::min<std::size_t>(k, e.starts.size() - 1)];
}

bool TextLayout::HasRow(std::size_t p, std::uint32_t k)
{
    KnownRows& e = Entry(p);
    if (k >= e.starts.size())
        Extend(p, e, std::size_t{k} + 1);
    return k < e.starts.size();
}

std::uint32_t TextLayout::RowAt(std::size_t p, std::size_t rel, bool upstream)
{
    KnownRows& e = Entry(p);
    while (!e.complete && e.starts.back() <= rel)
        Extend(p, e, e.starts.size() + 1);
    auto row = static_cast<std::uint32_t>(std::upper_bound(e.starts.begin(), e.starts.end(), rel) - e.starts.begin()) - 1;
    if (upstream && row > 0 && e.starts[row] == rel)
        --row;
    return row;
}

std::uint32_t TextLayout::RowCount(std::size_t p) { return static_cast<std::uint32_t>(Rows(p).size()); }

const std::vector<std::uint32_t>& TextLayout::Rows(std::size_t p)
{
    KnownRows& e = Entry(p);
    Extend(p, e, SIZE_MAX);
    return e.starts;
}

void TextLayout::Trim(std::size_t first, std::size_t last, std::size_t also)
{
    for (auto it = rows_.begin(); it != rows_.end();) {
        const std::size_t p = it->first;
        if ((p < first || p > last) && p != also && !Long(p))
            it = rows_.erase(it);
        else
            ++it;
    }
}

bool TextLayout::Long(std::size_t p) const { return text_.ParagraphEnd(p) - text_.ParagraphStart(p) >= kLong; }

bool TextLayout::LayOutSome(std::chrono::steady_clock::duration budget)
{
    const auto deadline = std::chrono::steady_clock::now() + budget;
    const std::size_t paragraphs = text_.Paragraphs();
    while (true) {
        std::size_t p = wrap_ ? index_.NextEstimated(idleNext_) : idleNext_;
        if (p >= paragraphs && wrap_ && idleNext_ > 0)
            p = index_.NextEstimated(idleNext_ = 0);
        if (p >= paragraphs)
            return false;
        if (!wrap_) {
            widest_ = std::max(widest_, XOf(text_.ParagraphStart(p), text_.ParagraphEnd(p), text_.ParagraphEnd(p)));
        } else if (rows_.count(p) || Long(p)) {
            // Long paragraphs go a slice at a time, their row starts kept.
            KnownRows& e = Entry(p);
            Extend(p, e, SIZE_MAX, deadline);
            if (!e.complete)
                return true;
        } else {
            std::uint32_t rows = 1;
            Break(p, 0, [&](std::uint32_t) {
                ++rows;
                return true;
            });
            index_.Set(p, rows, true);
        }
        idleNext_ = p + 1;
        if (std::chrono::steady_clock::now() >= deadline)
            return true;
    }
}

void TextLayout::Edited(const TextBuffer::Change& change, std::size_t pos, std::size_t removed, std::size_t inserted)
{
    if (change.removed == 0 && change.inserted == 0)
        return;
    const std::size_t p = change.first;
    auto cached = rows_.find(p);
    if (wrap_ && change.removed == 1 && change.inserted == 1 && cached != rows_.end()) {
        // Rows before the one two above the edit keep their starts; so does everything from the
        // first row start past the edit that was a row start before it. Where the rows after the
        // edit all moved (a line without spaces), they are laid out again later, as needed.
        KnownRows& e = cached->second;
        const std::vector<std::uint32_t> old = std::move(e.starts);
        const bool oldComplete = e.complete;
        const auto rel = static_cast<std::uint32_t>(pos - text_.ParagraphStart(p));
        const auto editEnd = static_cast<std::uint32_t>(rel + inserted);
        const auto delta = static_cast<std::uint32_t>(inserted - removed);  // modulo 2^32, as the offsets
        const std::size_t row = static_cast<std::size_t>(std::upper_bound(old.begin(), old.end(), rel) - old.begin()) - 1;
        const std::size_t restart = row >= 2 ? row - 2 : 0;
        e.starts.assign(old.begin(), old.begin() + static_cast<std::ptrdiff_t>(restart) + 1);
        auto tail = old.end();
        bool converged = false;
        const bool finished = Break(p, old[restart], [&](std::uint32_t s) {
            e.starts.push_back(s);
            if (s < editEnd)
                return true;
            const auto same = std::lower_bound(old.begin() + static_cast<std::ptrdiff_t>(row), old.end(), s - delta);
            if (same != old.end() && *same == s - delta) {
                converged = true;
                tail = same + 1;
                return false;
            }
            return s - editEnd < kChunk;
        });
        e.complete = finished || (converged && oldComplete);
        for (auto it = tail; it != old.end(); ++it)
            e.starts.push_back(*it + delta);
        Account(p, e);
        return;
    }

    // Paragraphs were replaced: their rows are estimated again, those after them move.
    std::map<std::size_t, KnownRows> moved;
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
