#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kestrane {

// One unit of a paragraph as line breaking sees it: a character, or the marks of one unit's bytes.
struct WrapItem {
    enum class Class : std::uint8_t {
        Other,
        Space,  // a break may follow; it may hang past the right edge
        Tab,    // as a space; its width runs to the next tab stop
        Wide,   // U+3000 and above: a break may come before and after it
    };
    std::uint32_t bytes = 1;
    float width = 0;  // not used for a tab
    Class cls = Class::Other;

    static constexpr Class ClassOf(char32_t c)
    {
        return c == ' ' ? Class::Space : c == '\t' ? Class::Tab : c >= 0x3000 ? Class::Wide : Class::Other;
    }
};

// Breaks a paragraph into rows greedily, in one pass over its items: a row ends at the last break
// opportunity that lets it fit the width, and a run without one is broken anywhere. Every row holds
// at least one item. The state at the start of a row is always the same, so a paragraph may be
// broken again from any of its row starts.
class RowBreaker {
public:
    RowBreaker(double width, double tabWidth, std::uint32_t start = 0)
        : width_(width), tab_(tabWidth > 0 ? tabWidth : 1), pos_(start), rowStart_(start), opp_(start)
    {
    }

    // Takes the next item. onRow(offset) is called for each row that begins before or at it (never
    // for the first row); when onRow returns false the breaker stops and Add returns false.
    template <class OnRow>
    bool Add(const WrapItem& item, OnRow&& onRow)
    {
        const std::uint32_t at = pos_;
        pos_ += item.bytes;
        if (hang_) {
            hang_ = false;
            NewRow(at);
            if (!onRow(at))
                return false;
        }
        const bool blank = item.cls == WrapItem::Class::Space || item.cls == WrapItem::Class::Tab;
        if (item.cls == WrapItem::Class::Wide && at > rowStart_) {
            opp_ = at;
            sinceOpp_ = 0;
        }
        const double w = item.cls == WrapItem::Class::Tab ? TabAdvance(x_) : item.width;
        if (at > rowStart_ && x_ + w > width_) {
            if (blank) {
                // The blank ends this row; the next item begins the next one.
                hang_ = true;
            } else {
                if (opp_ > rowStart_) {
                    const std::uint32_t start = opp_;
                    const double carried = sinceOpp_;
                    NewRow(start);
                    x_ = carried;
                    if (!onRow(start))
                        return false;
                }
                if (at > rowStart_ && x_ + w > width_) {
                    NewRow(at);
                    if (!onRow(at))
                        return false;
                }
            }
        }
        x_ += w;
        if (blank || item.cls == WrapItem::Class::Wide) {
            opp_ = pos_;
            sinceOpp_ = 0;
        } else {
            sinceOpp_ += w;
        }
        return true;
    }

    // Where the next item begins.
    std::uint32_t Offset() const { return pos_; }
    // The width of the current row so far.
    double X() const { return x_; }
    double TabAdvance(double x) const { return (static_cast<std::int64_t>(x / tab_) + 1) * tab_ - x; }

private:
    void NewRow(std::uint32_t start)
    {
        rowStart_ = start;
        opp_ = start;
        x_ = 0;
        sinceOpp_ = 0;
    }

    double width_;
    double tab_;
    std::uint32_t pos_;
    std::uint32_t rowStart_;
    std::uint32_t opp_;  // the last break opportunity; none while it is the row's start
    double x_ = 0;
    double sinceOpp_ = 0;  // width of the items after opp_
    bool hang_ = false;
};

// The rows of every paragraph, each count exact or estimated, with sums over blocks of paragraphs
// in a Fenwick tree: the rows before a paragraph and the paragraph of a row take logarithmic time.
class RowIndex {
public:
    // Every paragraph at the given rows, all exact or all estimated.
    void Assign(std::vector<std::uint32_t> rows, bool exact = false);

    std::size_t Size() const { return rows_.size(); }
    std::uint32_t Rows(std::size_t p) const { return rows_[p] & ~kEstimated; }
    bool Exact(std::size_t p) const { return !(rows_[p] & kEstimated); }
    // A paragraph has at least one row.
    void Set(std::size_t p, std::uint32_t rows, bool exact);
    // Paragraphs [first, first + removed) replaced by `inserted` paragraphs of one estimated row each.
    void Splice(std::size_t first, std::size_t removed, std::size_t inserted);

    std::uint64_t Total() const { return total_; }
    // Rows before paragraph p (p ≤ Size()).
    std::uint64_t Before(std::size_t p) const;
    // The paragraph that holds a row and the row's place in it; the last row for rows past the end.
    std::pair<std::size_t, std::uint32_t> Find(std::uint64_t row) const;
    // The first paragraph from `from` on whose count is estimated, or Size().
    std::size_t NextEstimated(std::size_t from) const;

private:
    static constexpr std::uint32_t kEstimated = 0x80000000u;
    static constexpr std::size_t kBlock = 64;

    void Rebuild();
    void AddToBlock(std::size_t block, std::int64_t delta);

    std::vector<std::uint32_t> rows_;
    std::vector<std::uint64_t> tree_;  // 1-based over blocks
    std::uint64_t total_ = 0;
};

}  // namespace kestrane
