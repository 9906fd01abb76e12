// Hash-chain match finder. Chain links live in a 1 MiB ring indexed by
// position; a link is only followed while it lies inside the window, so links
// overwritten by newer positions are never reached.
#include "pack/lz_matcher.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pack {

namespace {


// Drops whole MiB steps of history so that at most 2 MiB stay in front of the
// new entry; positions in the chains move down by the same amount, which keeps
// their ring slots (position modulo 1 MiB) unchanged.
void slide(LzMatcher& lz) {
    size_t keep_from = 0;
    if (lz.buffer.size() > 2 * CHAIN_WINDOW)
        keep_from = ((lz.buffer.size() - CHAIN_WINDOW) / CHAIN_WINDOW) * CHAIN_WINDOW;
    if (keep_from == 0) return;
    lz.buffer.erase(lz.buffer.begin(), lz.buffer.begin() + static_cast<std::ptrdiff_t>(keep_from));
    uint32_t shift = static_cast<uint32_t>(keep_from);
    auto rebase = [shift](std::vector<uint32_t>& v) {
        for (auto& x : v) x = x > shift ? x - shift : 0;
    };
    rebase(lz.head);
    rebase(lz.prev);
    rebase(lz.head2);
    lz.inserted = lz.inserted > keep_from ? lz.inserted - keep_from : 0;
    lz.stream_start = lz.stream_start > keep_from ? lz.stream_start - keep_from : 0;
}

}  // namespace

void lz_init(LzMatcher& lz, int max_chain, uint32_t nice_length, uint32_t good_length) {
    lz.buffer.clear();
    lz.entry_start = lz.lowest_match = lz.stream_start = lz.inserted = 0;
    lz.head.assign(size_t{1} << HASH_BITS, 0);
    lz.prev.assign(CHAIN_WINDOW, 0);
    lz.head2.assign(65536, 0);
    lz.max_chain = max_chain;
    lz.nice_length = nice_length;
    lz.good_length = good_length;
}

void lz_begin_entry(LzMatcher& lz, const uint8_t* data, size_t size, bool continue_history) {
    // A stand-alone entry keeps the buffer (so that nothing needs clearing) but
    // lowest_match cuts every chain off at its first byte.
    slide(lz);
    lz.entry_start = lz.buffer.size();
    // The decoder's window holds zeros in front of a stand-alone entry, so a
    // solid run may only look back to the start of the entry that began it.
    if (!continue_history) lz.stream_start = lz.entry_start;
    lz.lowest_match = lz.stream_start;
    lz.buffer.insert(lz.buffer.end(), data, data + size);
}

void lz_insert_range(LzMatcher& lz, size_t end) {
    size_t last = lz.buffer.size() >= 4 ? lz.buffer.size() - 3 : 0;  // positions with 4 bytes
    end = std::min(end, last);
    const uint8_t* base = lz.buffer.data();
    for (size_t pos = lz.inserted; pos < end; ++pos) {
        uint32_t h = hash4(base + pos);
        lz.prev[pos & (CHAIN_WINDOW - 1)] = lz.head[h];
        lz.head[h] = static_cast<uint32_t>(pos + 1);
        lz.head2[pair(base + pos)] = static_cast<uint32_t>(pos + 1);
    }
    if (end > lz.inserted) lz.inserted = end;
}

MatchResult lz_longest_match(const LzMatcher& lz, size_t pos, size_t limit, uint32_t max_length, int chain) {
    MatchResult best;
    uint32_t max = static_cast<uint32_t>(std::min<size_t>(max_length, limit - pos));
    if (max < 4 || pos + 4 > lz.buffer.size()) return best;
    const uint8_t* base = lz.buffer.data();
    const uint8_t* cur = base + pos;
    size_t low = lz.lowest_match;
    if (pos > MAX_WINDOW_REACH && pos - MAX_WINDOW_REACH > low) low = pos - MAX_WINDOW_REACH;
    uint32_t cand = lz.head[hash4(cur)];
    if (chain <= 0) chain = lz.max_chain;
    uint32_t best_len = 3;
    while (cand != 0 && chain-- > 0) {
        size_t c = cand - 1;
        if (c >= pos || c < low) break;
        const uint8_t* m = base + c;
        if (m[best_len] == cur[best_len]) {
            uint32_t n = common_length(m, cur, max);
            if (n > best_len) {
                // Once a good match is in hand, only a few more candidates are worth a look.
                if (best_len < lz.good_length && n >= lz.good_length) chain >>= 2;
                best_len = n;
                best.length = n;
                best.distance = static_cast<uint32_t>(pos - c);
                if (n >= lz.nice_length || n >= max) break;
            }
        }
        cand = lz.prev[c & (CHAIN_WINDOW - 1)];
    }
    return best;
}

}  // namespace pack
