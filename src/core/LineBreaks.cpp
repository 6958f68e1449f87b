#include "core/LineBreaks.hpp"

#include <algorithm>
#include <cstring>

namespace kestrane {

namespace {

// Position of the first `c` at or after `from`, or `n` when there is none.
std::size_t Find(const char* s, std::size_t n, std::size_t from, char c)
{
    const void* hit = std::memchr(s + from, c, n - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s) : n;
}

// Calls insert(at, byte) for every lone break, in order: a lone LF needs a CR before it, a lone CR
// an LF after it. Every other byte, CR LF included, already stands as the text area keeps it, so
// the output is the input with these bytes inserted.
template <class Insert>
void ForEachLoneBreak(std::string_view in, const LeadByteTable& codePage, Insert insert)
{
    const char* const s = in.data();
    const std::size_t n = in.size();
    std::size_t start = 0;  // a character boundary; everything before it is settled
    std::size_t nextCr = Find(s, n, 0, '\r');
    std::size_t nextLf = Find(s, n, 0, '\n');
    for (;;) {
        if (nextCr < start)
            nextCr = Find(s, n, start, '\r');
        if (nextLf < start)
            nextLf = Find(s, n, start, '\n');
        const std::size_t p = std::min(nextCr, nextLf);
        if (p == n)
            return;
        // A character begins at `start` and after every byte that is not a lead byte, so the lead
        // bytes right before p pair up from there: an odd number makes p the second byte of one.
        std::size_t leads = 0;
        while (p - leads > start && codePage.IsLeadByte(static_cast<unsigned char>(s[p - leads - 1])))
            ++leads;
        if (leads % 2 != 0) {
            start = p + 1;
        } else if (s[p] == '\n') {
            insert(p, '\r');
            start = p + 1;
        } else if (p + 1 < n && s[p + 1] == '\n') {
            start = p + 2;
        } else {
            insert(p + 1, '\n');
            start = p + 1;
        }
    }
}

}  // namespace

std::string NormaliseLineBreaks(std::string_view in, const LeadByteTable& codePage)
{
    // Count first, so the output is allocated once at its exact size.
    std::size_t inserted = 0;
    ForEachLoneBreak(in, codePage, [&](std::size_t, char) { ++inserted; });
    std::string out;
    if (inserted == 0) {
        out.assign(in);
        return out;
    }
    out.reserve(in.size() + inserted);
    std::size_t copied = 0;
    ForEachLoneBreak(in, codePage, [&](std::size_t at, char byte) {
        out.append(in.data() + copied, at - copied);
        out.push_back(byte);
        copied = at;
    });
    out.append(in.data() + copied, in.size() - copied);
    return out;
}

}  // namespace kestrane
