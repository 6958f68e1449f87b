#pragma once
// Private to the Qt backend: how the text view decodes, measures and breaks its paragraphs.
#include <QFont>
#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/TextBuffer.hpp"
#include "core/WrapLayout.hpp"
#include "layer/TextCodec.hpp"

namespace kestrane::qt {

// A paragraph's text decoded: one cell per caret stop, a character or the mark of one byte.
struct Cell {
    std::size_t offset;       // in the document
    std::uint32_t index;      // of its first code unit in the text
    std::uint8_t bytes;       // 1 to 4
    std::uint8_t units;       // code units in the text: 1, or 2 for a surrogate pair
    bool mark;                // a byte shown as its value
    bool unitStart;           // rows break only before a cell that begins a unit
    char32_t ch;              // the character, or for a mark its byte
    double x;                 // from the row's left edge
    double width;
};

// One row of text as drawn.
struct ShapedRow {
    QString text;
    std::vector<Cell> cells;
    std::size_t start = 0;
    std::size_t end = 0;
    double width = 0;
};

// Decodes the bytes with the text codec, measures characters with the font (widths cached per
// character) and breaks paragraphs into rows at a width. Row counts live in a RowIndex, exact for
// paragraphs laid out and estimated from their length for the others; the row starts of recently
// used paragraphs are kept.
class TextLayout {
public:
    explicit TextLayout(const TextBuffer& text) : text_(text) {}

    void SetCodec(const os::TextCodec& codec);
    void SetFont(const QFont& font);
    // The width rows break at; none (each paragraph one row) when wrap is false.
    void SetWrap(bool wrap, double width);
    // Forgets every row: the whole text or the way it is shown changed.
    void Reset();
    // Keeps the rows right after text_.Replace(pos, removed, …inserted bytes) returned `change`.
    void Edited(const TextBuffer::Change& change, std::size_t pos, std::size_t removed, std::size_t inserted);

    const os::TextCodec& Codec() const { return *codec_; }
    const QFont& Font() const { return font_; }
    const QFont& MarkFont() const { return markFont_; }
    int RowHeight() const { return rowHeight_; }
    int Ascent() const { return ascent_; }
    double MarkWidth() const { return markWidth_; }
    double TabWidth() const { return tabWidth_; }
    bool Wraps() const { return wrap_; }

    RowIndex& Index() { return index_; }
    // A paragraph's rows, laid out only as far as asked (and a little further); the count of a
    // paragraph laid out to its end is exact in Index(), else estimated from the part done.
    // Row k's start, from the paragraph's start (the last row's for a row past it).
    std::uint32_t RowStart(std::size_t p, std::uint32_t k);
    bool HasRow(std::size_t p, std::uint32_t k);
    // The row that holds the byte at `rel` from the paragraph's start (or its end); with upstream,
    // the row before for a position where a row begins.
    std::uint32_t RowAt(std::size_t p, std::size_t rel, bool upstream);
    // Lays the paragraph out to its end.
    std::uint32_t RowCount(std::size_t p);
    const std::vector<std::uint32_t>& Rows(std::size_t p);
    // Row starts kept only for paragraphs in [first, last], for `also`, and for long ones.
    void Trim(std::size_t first, std::size_t last, std::size_t also);
    // Lays out what is still estimated (without wrap: measures widths) until the budget is spent;
    // false once nothing is left.
    bool LayOutSome(std::chrono::steady_clock::duration budget);
    // The widest row measured so far (without wrap: the widest paragraph).
    double WidestRow() const { return widest_; }
    // A row is known to be at least this wide.
    void Widen(double width) { widest_ = std::max(widest_, width); }

    // A row is [start, end), a part of one paragraph between unit boundaries, with its left edge
    // at x = 0. Its cells whose extent meets [xFrom, xTo), with the text they show.
    void Shape(std::size_t start, std::size_t end, ShapedRow& out, double xFrom = -1e300, double xTo = 1e300);
    // Where the caret stands at a cell boundary of the row; the row's width for its end.
    double XOf(std::size_t start, std::size_t end, std::size_t offset);
    // The cell boundary of the row nearest to x.
    std::size_t OffsetAt(std::size_t start, std::size_t end, double x);
    // Calls visit(cell) for each cell of the row [start, end); a false return stops.
    void VisitCells(std::size_t start, std::size_t end, const std::function<bool(const Cell&)>& visit);
    double CharWidth(char32_t c);
    double TabAdvance(double x) const;

private:
    // Calls visit(offset, bytes, units, count) for each unit of [from, to) in order, where units
    // holds the count code units it decodes to (marks: one per byte); a false return stops, and
    // makes ForEachUnit return false.
    template <class Visit>
    bool ForEachUnit(std::size_t from, std::size_t to, Visit&& visit);
    // Calls visit(cell) for each cell of the row [start, end) with its x; a false return stops.
    template <class Visit>
    void ForEachCell(std::size_t start, std::size_t end, Visit&& visit);
    // Breaks paragraph p into rows from `from` (a row start), calling onRow(start) for each row
    // after it; true when it reached the paragraph's end, false when onRow stopped it.
    template <class OnRow>
    bool Break(std::size_t p, std::uint32_t from, OnRow&& onRow);
    WrapItem Item(std::uint32_t bytes, const char16_t* units, std::size_t count);
    std::uint32_t Estimate(std::size_t p) const;

    // The row starts known of a paragraph; complete once they reach its end.
    struct KnownRows {
        std::vector<std::uint32_t> starts{0};
        bool complete = false;
    };
    KnownRows& Entry(std::size_t p);
    // Breaks on until `rows` starts are known (and some bytes further, so that breaking again
    // soon is not needed) or the deadline passes; then records the count.
    void Extend(std::size_t p, KnownRows& e, std::size_t rows,
                std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
    void Account(std::size_t p, const KnownRows& e);
    bool Long(std::size_t p) const;

    const TextBuffer& text_;
    const os::TextCodec* codec_ = nullptr;
    QFont font_;
    QFont markFont_;
    int rowHeight_ = 1;
    int ascent_ = 0;
    double markWidth_ = 1;
    double tabWidth_ = 8;
    double averageWidth_ = 1;
    bool wrap_ = true;
    double width_ = 0;
    double widest_ = 0;
    QFontMetricsF metrics_{QFont()};
    float ascii_[128] = {};
    std::vector<float> bmp_;  // NaN until measured
    std::unordered_map<char32_t, float> astral_;

    RowIndex index_;
    std::map<std::size_t, KnownRows> rows_;
    std::size_t idleNext_ = 0;
    std::string scratch_;
    std::u16string decoded_;
};

}  // namespace kestrane::qt
