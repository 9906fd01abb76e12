// bench-tables: the cost of building the 2.0 method's decode tables, per
// table type, for length sets like those of a small entry's table block,
// where building them is about half of the decoding. The main table's
// lengths are a Huffman code over the byte counts of a 512-byte piece of a
// corpus original (plus a few match symbols); the distance, repeated-length
// and length-code tables get codes over small counts drawn with a fixed
// seed. Prints nanoseconds of thread CPU time per build, best of five
// rounds. Never fails.
//
//   bench-tables [CORPUS_DIR]
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"
#include "pack/huffman_builder.h"
#include "unpack/huff_table.h"

namespace {

constexpr int MAIN = 298, DISTANCE = 48, REPEAT = 28, LENGTH_CODE = 19;

struct LengthSets {
    std::vector<uint8_t> main, distance, repeat, length_code;  // one set after another
    int count = 0;
};

void add_code(std::vector<uint8_t>& sets, std::vector<uint32_t> counts) {
    std::vector<uint8_t> lengths(counts.size());
    pack::build_code_lengths(counts.data(), static_cast<int>(counts.size()), 15, lengths.data());
    sets.insert(sets.end(), lengths.begin(), lengths.end());
}

LengthSets make_sets(const std::string& corpus) {
    LengthSets s;
    std::mt19937 rng(13);
    auto small_counts = [&](int n, int draws) {
        std::vector<uint32_t> c(n, 0);
        for (int k = 0; k < draws; ++k) c[rng() % n] += 1 + rng() % 8;
        return c;
    };
    for (const char* name : {"test.exe", "test-cyrillic.txt", "etalon.bin"}) {
        std::vector<uint8_t> data = read_file(corpus + "/originals/" + name);
        for (size_t at = 0; at + 512 <= data.size() && s.count < 256; at += 512, ++s.count) {
            std::vector<uint32_t> c(MAIN, 0);
            for (size_t i = at; i < at + 512; ++i) ++c[data[i]];
            for (int k = 0; k < 20; ++k) c[256 + rng() % (MAIN - 256)] += 1 + rng() % 6;
            add_code(s.main, c);
            add_code(s.distance, small_counts(DISTANCE, 16));
            add_code(s.repeat, small_counts(REPEAT, 6));
            add_code(s.length_code, small_counts(LENGTH_CODE, 40));
        }
    }
    return s;
}

template <class Table>
void measure(const char* title, Table& t, const std::vector<uint8_t>& sets, int n, int count) {
    const int builds = 200000;
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        double t0 = thread_seconds();
        for (int i = 0; i < builds; ++i) build_huff_table(sets.data() + (i % count) * n, t, n);
        best = std::min(best, (thread_seconds() - t0) / builds);
    }
    std::printf("%-34s %3d symbols, first level %2d bits  %7.0f ns per build\n", title, n, Table::LOOKUP_BITS,
                best * 1e9);
}

HuffTable main_table;
DistanceTable distance_table;
RepeatTable repeat_table;
LengthCodeTable length_code_table;

}  // namespace

int main(int argc, char** argv) {
    const std::string corpus = argc > 1 ? argv[1] : KX_CORPUS_DIR;
    LengthSets s = make_sets(corpus);
    if (s.count == 0) {
        std::printf("corpus originals missing in %s\n", corpus.c_str());
        return 0;
    }
    std::printf("building decode tables: %d length sets of each kind, thread CPU time, best of 5 rounds\n", s.count);
    measure("main (a small entry's)", main_table, s.main, MAIN, s.count);
    measure("distances", distance_table, s.distance, DISTANCE, s.count);
    measure("repeated matches' lengths", repeat_table, s.repeat, REPEAT, s.count);
    measure("length code", length_code_table, s.length_code, LENGTH_CODE, s.count);
    return 0;
}
