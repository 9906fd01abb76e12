// Length-limited canonical prefix codes. The lengths come from the classic
// two-queue Huffman construction; when a code would exceed the limit the
// frequencies are flattened (halved, keeping every used symbol) and the code
// rebuilt, which costs a fraction of a percent in the rare cases it happens.
#include "pack/huffman_builder.h"

#include <algorithm>
#include <cstring>

namespace pack {

namespace {

constexpr int MAX_SYMBOLS = 1028;

// Plain Huffman code lengths for the used symbols; returns the longest length.
int huffman_lengths(const uint32_t* freq, int n, uint8_t* lengths) {
    struct Leaf {
        uint64_t weight;
        int symbol;
    };
    Leaf leaves[MAX_SYMBOLS];
    int used = 0;
    for (int i = 0; i < n; ++i) {
        lengths[i] = 0;
        if (freq[i] != 0) leaves[used++] = {freq[i], i};
    }
    if (used == 0) return 0;
    if (used == 1) {
        lengths[leaves[0].symbol] = 1;
        return 1;
    }
    std::sort(leaves, leaves + used, [](const Leaf& a, const Leaf& b) {
        return a.weight != b.weight ? a.weight < b.weight : a.symbol < b.symbol;
    });
    // Nodes 0..used-1 are leaves, used..2*used-2 inner nodes; parent links give depths.
    uint64_t weight[2 * MAX_SYMBOLS];
    int parent[2 * MAX_SYMBOLS];
    for (int i = 0; i < used; ++i) weight[i] = leaves[i].weight;
    int next_leaf = 0, next_inner = used, inner_end = used;
    auto take = [&]() {
        if (next_leaf < used && (next_inner >= inner_end || weight[next_leaf] <= weight[next_inner]))
            return next_leaf++;
        return next_inner++;
    };
    for (int k = 0; k < used - 1; ++k) {
        int a = take();
        int b = take();
        weight[inner_end] = weight[a] + weight[b];
        parent[a] = inner_end;
        parent[b] = inner_end;
        ++inner_end;
    }
    int root = inner_end - 1;
    int depth[2 * MAX_SYMBOLS];
    depth[root] = 0;
    for (int i = root - 1; i >= 0; --i) depth[i] = depth[parent[i]] + 1;
    int longest = 0;
    for (int i = 0; i < used; ++i) {
        lengths[leaves[i].symbol] = static_cast<uint8_t>(depth[i]);
        longest = std::max(longest, depth[i]);
    }
    return longest;
}

}  // namespace

void build_code_lengths(const uint32_t* freq, int n, int max_length, uint8_t* lengths) {
    uint32_t scaled[MAX_SYMBOLS];
    std::memcpy(scaled, freq, sizeof(uint32_t) * n);
    while (huffman_lengths(scaled, n, lengths) > max_length) {
        for (int i = 0; i < n; ++i)
            if (scaled[i] != 0) scaled[i] = (scaled[i] >> 1) | 1;
    }
}

void assign_codes(const uint8_t* lengths, int n, uint16_t* codes) {
    int count[MAX_CODE_LENGTH + 1] = {};
    for (int i = 0; i < n; ++i) count[lengths[i] & 15]++;
    count[0] = 0;
    uint32_t next[MAX_CODE_LENGTH + 1] = {};
    uint32_t code = 0;
    for (int len = 1; len <= MAX_CODE_LENGTH; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (int i = 0; i < n; ++i) {
        int len = lengths[i] & 15;
        codes[i] = len ? static_cast<uint16_t>(next[len]++) : 0;
    }
}

uint64_t coded_bits(const uint32_t* freq, const uint8_t* lengths, int n) {
    uint64_t bits = 0;
    for (int i = 0; i < n; ++i) bits += static_cast<uint64_t>(freq[i]) * lengths[i];
    return bits;
}

}  // namespace pack
