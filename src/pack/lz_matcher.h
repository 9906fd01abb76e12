// Match finding over the 1 MiB window: hash chains on four-byte prefixes and a
// table of the latest position of every two-byte pair (for near matches),
// kept across the entries of a solid stream, and for the best level chains on
// three-byte prefixes too. The buffer holds the history the
// decoder's window still has (at least 1 MiB behind the position being coded,
// plus up to 1 MiB more that is kept only to make the history slide in whole
// MiB steps) followed by as much of the entry as has been read: entries are
// read in pieces while they are coded, so memory does not grow with their size.
#pragma once

#include <cstddef>
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace pack {

inline constexpr int HASH_BITS = 17;
inline constexpr int HASH3_BITS = 14;
inline constexpr uint32_t CHAIN_WINDOW = 0x100000;  // prev[] is indexed modulo this
// Farthest distance a match may reach back (the decoder's window less one byte).
inline constexpr size_t MAX_WINDOW_REACH = CHAIN_WINDOW - 1;
// The three-byte chains reach back less than this (prev3[] is indexed modulo
// it): farther on, a three-byte match cannot be coded.
inline constexpr uint32_t CHAIN3_WINDOW = 0x2000;

// Supplies an entry's bytes in order: up to count bytes into buffer, returns
// how many; fewer only at the end of the input or when reading failed.
// rewind starts the input over from its first byte (false when it cannot).
struct EntryInput {
    size_t (*read)(void* context, uint8_t* buffer, size_t count) = nullptr;
    bool (*rewind)(void* context) = nullptr;
    void* context = nullptr;
};

// An input over bytes in memory (the context is the MemoryInput itself).
struct MemoryInput {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t done = 0;
    EntryInput input();
};

// Bytes a coding step may look at beyond its position: the longest match (and
// repeat) from the next position, and the hash of the position after it.
inline constexpr size_t LOOKAHEAD = 1024;
// Bytes read from the input at a time.
inline constexpr size_t READ_PIECE = size_t{1} << 20;

struct LzMatcher {
    std::vector<uint8_t> buffer;  // history, then the part of the current entry read so far
    int64_t entry_origin = 0;     // index in buffer of the entry's first byte (below 0 once slid out)
    uint64_t entry_size = 0;
    uint64_t entry_read = 0;      // bytes of the entry in buffer or already slid out
    EntryInput input;
    bool input_failed = false;    // the input ended before entry_size bytes
    size_t read_piece = READ_PIECE;
    size_t lowest_match = 0;      // no match may reach below this position
    size_t stream_start = 0;      // first byte of the current run of solid entries
    size_t inserted = 0;          // positions below this are in the hash chains
    std::vector<uint32_t> head;   // 1 << HASH_BITS chain heads: position + 1, 0 = none
    std::vector<uint32_t> prev;   // CHAIN_WINDOW links: position + 1, 0 = none
    std::vector<uint32_t> head2;  // last position + 1 of each two-byte pair (short matches)
    // Chains on three-byte prefixes, kept only by the optimal parse (empty
    // otherwise): the nearest three-byte match, which the four-byte chains
    // miss and the pair table finds only when it is the pair's latest copy.
    std::vector<uint32_t> head3;  // 1 << HASH3_BITS chain heads: position + 1, 0 = none
    std::vector<uint32_t> prev3;  // CHAIN3_WINDOW links
    size_t inserted3 = 0;         // positions below this are in the three-byte chains
    int max_chain = 32;
    uint32_t nice_length = 128;
    uint32_t good_length = 32;  // a match this long shortens the rest of the search
};

// Prepares an empty matcher with the given search effort.
void lz_init(LzMatcher& lz, int max_chain, uint32_t nice_length, uint32_t good_length);
// Starts a new entry of size bytes, read from input behind the history as
// coding needs it. When continue_history is false the entry stands alone:
// nothing before it can be matched.
void lz_begin_entry(LzMatcher& lz, const EntryInput& input, uint64_t size, bool continue_history);
// Index in buffer of the entry's byte at offset (offsets not yet read lie at or
// beyond buffer.size(); clamped to SIZE_MAX).
inline size_t lz_index(const LzMatcher& lz, uint64_t offset) {
    int64_t i = lz.entry_origin + static_cast<int64_t>(offset);
    if (sizeof(size_t) < 8 && static_cast<uint64_t>(i) > SIZE_MAX) return SIZE_MAX;
    return static_cast<size_t>(i);
}
// Reads the entry on until buffer holds its bytes up to offset want (or all
// of it). History more than the window's reach behind offset keep, and already
// in the chains, may slide out: indices then move down (lz_index follows).
void lz_read_until(LzMatcher& lz, uint64_t keep, uint64_t want);
// True when buffer lacks bytes a step at offset pos may look at.
inline bool lz_needs_input(const LzMatcher& lz, uint64_t pos) {
    return lz.entry_read < lz.entry_size && lz_index(lz, pos) + LOOKAHEAD > lz.buffer.size();
}
// Adds positions up to (not including) end to the hash chains.
void lz_insert_range(LzMatcher& lz, size_t end);
// Starts keeping the three-byte chains (a no-op once they are kept): positions
// from the first byte of the current solid run on go into them.
void lz_enable_chains3(LzMatcher& lz);
// Adds positions up to (not including) end to the three-byte chains.
void lz_insert3_until(LzMatcher& lz, size_t end);
// Distance of the nearest earlier copy of the three bytes at pos within
// max_distance (below CHAIN3_WINDOW), trying at most chain candidates; 0 when
// there is none.
uint32_t lz_nearest3(const LzMatcher& lz, size_t pos, uint32_t max_distance, int chain);

struct MatchResult {
    uint32_t length = 0;
    uint32_t distance = 0;
};
// Longest match of at least 4 bytes for position pos, not running past limit;
// lengths are capped at max_length. Earlier (nearer) candidates win ties.
// chain: candidates to try (0: the matcher's max_chain).
MatchResult lz_longest_match(const LzMatcher& lz, size_t pos, size_t limit, uint32_t max_length, int chain = 0);
// Every match of at least 4 bytes for position pos that is longer than
// min_length and than all nearer ones (so lengths and distances both grow),
// at most max_out of them, into out; returns how many. Searches the whole
// chain up to max_chain candidates (no early cut for good matches).
int lz_find_matches(const LzMatcher& lz, size_t pos, size_t limit, uint32_t max_length, uint32_t min_length,
                    MatchResult* out, int max_out);
// ------------------------------------------------------------ inline helpers
// (called for every position; kept where the compiler can inline them)

// Chains link positions with equal four-byte prefixes: three-byte matches pay
// only at small distances, and those come from the two-byte pair table.
inline uint32_t hash4(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - HASH_BITS);
}
inline uint32_t pair(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 8 | p[1]; }

// Number of equal leading bytes of a and b, at most max.
inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t max) {
    uint32_t n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        while (n + 8 <= max) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (uint64_t d = x ^ y) return n + static_cast<uint32_t>(std::countr_zero(d)) / 8;
            n += 8;
        }
    }
    while (n < max && a[n] == b[n]) ++n;
    return n;
}

// Adds positions up to (not including) end to the hash chains.
inline void lz_insert_until(LzMatcher& lz, size_t end) {
    if (end == lz.inserted + 1 && end + 3 <= lz.buffer.size()) {
        size_t pos = lz.inserted;
        const uint8_t* p = lz.buffer.data() + pos;
        uint32_t h = hash4(p);
        lz.prev[pos & (CHAIN_WINDOW - 1)] = lz.head[h];
        lz.head[h] = static_cast<uint32_t>(pos + 1);
        lz.head2[pair(p)] = static_cast<uint32_t>(pos + 1);
        lz.inserted = end;
    } else if (end > lz.inserted) {
        lz_insert_range(lz, end);
    }
}

// Length of the match at distance for position pos (0 when it reaches below lowest_match).
inline uint32_t lz_match_length(const LzMatcher& lz, size_t pos, uint32_t distance, size_t limit,
                                uint32_t max_length) {
    if (distance == 0 || distance > pos || pos - distance < lz.lowest_match) return 0;
    const uint8_t* a = lz.buffer.data() + pos;
    const uint8_t* b = a - distance;
    if (a[0] != b[0]) return 0;
    return common_length(a, b, static_cast<uint32_t>(std::min<size_t>(max_length, limit - pos)));
}

// Nearest earlier occurrence of the two bytes at pos within max_distance, or 0
// (positions whose successors were not all known when they were added excepted).
inline uint32_t lz_short_candidate(const LzMatcher& lz, size_t pos, uint32_t max_distance) {
    if (pos + 2 > lz.buffer.size()) return 0;
    uint32_t cand = lz.head2[pair(lz.buffer.data() + pos)];
    if (cand == 0) return 0;
    size_t c = cand - 1;
    if (c >= pos || c < lz.lowest_match || pos - c > max_distance) return 0;
    return static_cast<uint32_t>(pos - c);
}

}  // namespace pack
