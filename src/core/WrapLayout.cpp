#include "core/WrapLayout.hpp"

#include <algorithm>
#include <bit>

namespace kestrane {

void RowIndex::Assign(std::vector<std::uint32_t> rows, bool exact)
{
    for (std::uint32_t& r : rows)
        r = std::max<std::uint32_t>(r & ~kEstimated, 1) | (exact ? 0 : kEstimated);
    rows_ = std::move(rows);
    Rebuild();
}

void RowIndex::Rebuild()
{
    const std::size_t blocks = (rows_.size() + kBlock - 1) / kBlock;
    tree_.assign(blocks + 1, 0);
    total_ = 0;
    for (std::size_t p = 0; p < rows_.size(); ++p) {
        tree_[p / kBlock + 1] += Rows(p);
        total_ += Rows(p);
    }
    for (std::size_t i = 1; i <= blocks; ++i) {
        const std::size_t parent = i + (i & (~i + 1));
        if (parent <= blocks)
            tree_[parent] += tree_[i];
    }
}

void RowIndex::AddToBlock(std::size_t block, std::int64_t delta)
{
    for (std::size_t i = block + 1; i < tree_.size(); i += i & (~i + 1))
        tree_[i] += static_cast<std::uint64_t>(delta);
    total_ += static_cast<std::uint64_t>(delta);
}

void RowIndex::Set(std::size_t p, std::uint32_t rows, bool exact)
{
    rows = std::clamp<std::uint32_t>(rows, 1, ~kEstimated);
    const std::int64_t delta = static_cast<std::int64_t>(rows) - Rows(p);
    rows_[p] = exact ? rows : rows | kEstimated;
    if (delta != 0)
        AddToBlock(p / kBlock, delta);
}

void RowIndex::Splice(std::size_t first, std::size_t removed, std::size_t inserted)
{
    const auto at = rows_.begin() + static_cast<std::ptrdiff_t>(first);
    if (inserted >= removed) {
        std::fill(at, at + static_cast<std::ptrdiff_t>(removed), 1 | kEstimated);
        rows_.insert(at + static_cast<std::ptrdiff_t>(removed), inserted - removed, 1 | kEstimated);
    } else {
        std::fill(at, at + static_cast<std::ptrdiff_t>(inserted), 1 | kEstimated);
        rows_.erase(at + static_cast<std::ptrdiff_t>(inserted), at + static_cast<std::ptrdiff_t>(removed));
    }
    Rebuild();
}

std::uint64_t RowIndex::Before(std::size_t p) const
{
    std::uint64_t sum = 0;
    for (std::size_t i = p / kBlock; i > 0; i -= i & (~i + 1))
        sum += tree_[i];
    for (std::size_t q = p / kBlock * kBlock; q < p; ++q)
        sum += Rows(q);
    return sum;
}

std::pair<std::size_t, std::uint32_t> RowIndex::Find(std::uint64_t row) const
{
    if (rows_.empty())
        return {0, 0};
    if (row >= total_)
        return {rows_.size() - 1, Rows(rows_.size() - 1) - 1};
    const std::size_t blocks = tree_.size() - 1;
    std::size_t block = 0;
    for (std::size_t step = std::bit_floor(blocks); step > 0; step >>= 1) {
        if (block + step <= blocks && tree_[block + step] <= row) {
            block += step;
            row -= tree_[block];
        }
    }
    for (std::size_t p = block * kBlock;; ++p) {
        if (row < Rows(p))
            return {p, static_cast<std::uint32_t>(row)};
        row -= Rows(p);
    }
}

std::size_t RowIndex::NextEstimated(std::size_t from) const
{
    while (from < rows_.size() && Exact(from))
        ++from;
    return from;
}

}  // namespace kestrane
