// Hash-chain match finder. Chain links live in a 1 MiB ring indexed by
// position; a link is only followed while it lies inside the window, so links
// overwritten by newer positions are never reached.
#include "pack/lz_matcher.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pack {

EntryInput MemoryInput::input() {
    EntryInput in;
    in.context = this;
    in.read = [](void* context, uint8_t* buffer, size_t count) {
        auto* m = static_cast<MemoryInput*>(context);
        size_t n = std::min(count, m->size - m->done);
        if (n != 0) std::memcpy(buffer, m->data + m->done, n);
        m->done += n;
        return n;
    };
    in.rewind = [](void* context) {
        static_cast<MemoryInput*>(context)->done = 0;
        return true;
    };
    return in;
}

namespace {

// Drops whole MiB steps of history below index limit so that at least 1 MiB
// stays in front of it; positions in the chains move down by the same amount,
// which keeps their ring slots (position modulo 1 MiB) unchanged. Nothing a
// later search can reach is dropped, so the coding does not depend on when
// the history slides.
void slide(LzMatcher& lz, size_t limit) {
    size_t keep_from = 0;
    if (limit > 2 * CHAIN_WINDOW) keep_from = ((limit - CHAIN_WINDOW) / CHAIN_WINDOW) * CHAIN_WINDOW;
    if (keep_from == 0) return;
    lz.buffer.erase(lz.buffer.begin(), lz.buffer.begin() + static_cast<std::ptrdiff_t>(keep_from));
    uint32_t shift = static_cast<uint32_t>(keep_from);
    auto rebase = [shift](std::vector<uint32_t>& v) {
        for (auto& x : v) x = x > shift ? x - shift : 0;
    };
    rebase(lz.head);
    rebase(lz.prev);
    rebase(lz.head2);
    rebase(lz.head3);
    rebase(lz.prev3);
    lz.inserted = lz.inserted > keep_from ? lz.inserted - keep_from : 0;
    lz.inserted3 = lz.inserted3 > keep_from ? lz.inserted3 - keep_from : 0;
    lz.stream_start = lz.stream_start > keep_from ? lz.stream_start - keep_from : 0;
    lz.lowest_match = lz.lowest_match > keep_from ? lz.lowest_match - keep_from : 0;
    lz.entry_origin -= static_cast<int64_t>(keep_from);
}

}  // namespace

void lz_init(LzMatcher& lz, int max_chain, uint32_t nice_length, uint32_t good_length) {
    lz.buffer.clear();
    lz.entry_origin = 0;
    lz.entry_size = lz.entry_read = 0;
    lz.lowest_match = lz.stream_start = lz.inserted = 0;
    lz.head.assign(size_t{1} << HASH_BITS, 0);
    lz.prev.assign(CHAIN_WINDOW, 0);
    lz.head2.assign(65536, 0);
    lz.head3.clear();
    lz.prev3.clear();
    lz.inserted3 = 0;
    lz.max_chain = max_chain;
    lz.nice_length = nice_length;
    lz.good_length = good_length;
}

void lz_begin_entry(LzMatcher& lz, const EntryInput& input, uint64_t size, bool continue_history) {
    // A stand-alone entry keeps the buffer (so that nothing needs clearing) but
    // lowest_match cuts every chain off at its first byte.
    slide(lz, std::min(lz.buffer.size(), lz.inserted));
    lz.entry_origin = static_cast<int64_t>(lz.buffer.size());
    // The decoder's window holds zeros in front of a stand-alone entry, so a
    // solid run may only look back to the start of the entry that began it.
    if (!continue_history) lz.stream_start = lz.buffer.size();
    lz.lowest_match = lz.stream_start;
    lz.input = input;
    lz.input_failed = false;
    lz.entry_size = size;
    lz.entry_read = 0;
    if (lz.buffer.capacity() < 3 * CHAIN_WINDOW + lz.read_piece) lz.buffer.reserve(3 * CHAIN_WINDOW + lz.read_piece);
}

void lz_read_until(LzMatcher& lz, uint64_t keep, uint64_t want) {
    want = std::min(want, lz.entry_size);
    while (lz.entry_read < want) {
        size_t piece = static_cast<size_t>(std::min<uint64_t>(lz.read_piece, lz.entry_size - lz.entry_read));
        if (lz.buffer.size() + piece > 2 * CHAIN_WINDOW + lz.read_piece)
            slide(lz, std::min(lz_index(lz, keep), lz.inserted));
        size_t old = lz.buffer.size();
        lz.buffer.resize(old + piece);
        size_t got = 0;
        if (!lz.input_failed && lz.input.read) got = lz.input.read(lz.input.context, lz.buffer.data() + old, piece);
        // After a short read the rest of the entry codes as zeros; the caller
        // sees input_failed and reports the failure.
        if (got < piece) {
            lz.input_failed = true;
            std::memset(lz.buffer.data() + old + got, 0, piece - got);
        }
        lz.entry_read += piece;
    }
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

namespace {
inline uint32_t hash3(const uint8_t* p) {
    uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - HASH3_BITS);
}
}  // namespace

void lz_enable_chains3(LzMatcher& lz) {
    if (!lz.head3.empty()) return;
    lz.head3.assign(size_t{1} << HASH3_BITS, 0);
    lz.prev3.assign(CHAIN3_WINDOW, 0);
    lz.inserted3 = lz.stream_start;
}

void lz_insert3_until(LzMatcher& lz, size_t end) {
    size_t last = lz.buffer.size() >= 3 ? lz.buffer.size() - 2 : 0;  // positions with 3 bytes
    end = std::min(end, last);
    const uint8_t* base = lz.buffer.data();
    for (size_t pos = lz.inserted3; pos < end; ++pos) {
        uint32_t h = hash3(base + pos);
        lz.prev3[pos & (CHAIN3_WINDOW - 1)] = lz.head3[h];
        lz.head3[h] = static_cast<uint32_t>(pos + 1);
    }
    if (end > lz.inserted3) lz.inserted3 = end;
}

uint32_t lz_nearest3(const LzMatcher& lz, size_t pos, uint32_t max_distance, int chain) {
    if (lz.head3.empty() || pos + 3 > lz.buffer.size()) return 0;
    const uint8_t* base = lz.buffer.data();
    const uint8_t* cur = base + pos;
    // A link is only followed while it lies inside the ring's reach, where no
    // newer position has overwritten it.
    max_distance = std::min(max_distance, CHAIN3_WINDOW - 1);
    size_t low = lz.lowest_match;
    if (pos > max_distance && pos - max_distance > low) low = pos - max_distance;
    uint32_t cand = lz.head3[hash3(cur)];
    while (cand != 0 && chain-- > 0) {
        size_t c = cand - 1;
        if (c >= pos || c < low) break;
        const uint8_t* m = base + c;
        if (m[0] == cur[0] && m[1] == cur[1] && m[2] == cur[2]) return static_cast<uint32_t>(pos - c);
        cand = lz.prev3[c & (CHAIN3_WINDOW - 1)];
    }
    return 0;
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

int lz_find_matches(const LzMatcher& lz, size_t pos, size_t limit, uint32_t max_length, uint32_t min_length,
                    MatchResult* out, int max_out) {
    uint32_t max = static_cast<uint32_t>(std::min<size_t>(max_length, limit - pos));
    if (max < 4 || max <= min_length || pos + 4 > lz.buffer.size()) return 0;
    const uint8_t* base = lz.buffer.data();
    const uint8_t* cur = base + pos;
    size_t low = lz.lowest_match;
    if (pos > MAX_WINDOW_REACH && pos - MAX_WINDOW_REACH > low) low = pos - MAX_WINDOW_REACH;
    uint32_t cand = lz.head[hash4(cur)];
    int chain = lz.max_chain;
    uint32_t best_len = std::max<uint32_t>(min_length, 3);
    int found = 0;
    while (cand != 0 && chain-- > 0 && found < max_out) {
        size_t c = cand - 1;
        if (c >= pos || c < low) break;
        const uint8_t* m = base + c;
        if (m[best_len] == cur[best_len]) {
            uint32_t n = common_length(m, cur, max);
            if (n > best_len) {
                best_len = n;
                out[found++] = {n, static_cast<uint32_t>(pos - c)};
                if (n >= lz.nice_length || n >= max) break;
            }
        }
        cand = lz.prev[c & (CHAIN_WINDOW - 1)];
    }
    return found;
}

}  // namespace pack
