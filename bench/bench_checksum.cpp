// Checksum speed: CRC-32 (the method chosen at run time, and the table method)
// and the old 16-bit checksum, side by side with zlib's crc32 on the same
// buffer in interleaved rounds. Prints MB/s (best of the rounds, thread
// processor time) and the machine's load average.
//
//   bench-checksum [KiB per buffer (default 256)] [rounds (default 15)]
#include "bench_util.h"
#include "format/checksum.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string_view>
#include <vector>

#ifdef KX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

struct Row {
    const char* name;
    uint32_t (*run)(const std::vector<uint8_t>&);
    double best = 0;
    uint32_t result = 0;
};

volatile uint32_t sink;

}  // namespace

int main(int argc, char** argv) {
    size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    if (kib == 0 || rounds <= 0) return 1;
    build_crc32_table();
    std::vector<uint8_t> data(kib * 1024);
    std::mt19937 rng(1);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    // Enough passes per round for about 1 GB of input.
    const size_t passes = std::max<size_t>(1, (size_t{1} << 30) / data.size());

    Row rows[] = {
        {"crc32 (run-time choice)", [](const std::vector<uint8_t>& d) { return ~crc32_update(~0u, d.data(), d.size()); }},
        {"crc32 table method", [](const std::vector<uint8_t>& d) { return ~crc32_update_table(~0u, d.data(), d.size()); }},
#ifdef KX_HAVE_ZLIB
        {"zlib crc32", [](const std::vector<uint8_t>& d) {
             return static_cast<uint32_t>(crc32(0, d.data(), static_cast<uInt>(d.size())));
         }},
#endif
        {"old 16-bit checksum", [](const std::vector<uint8_t>& d) { return old_checksum_update(0, d.data(), d.size()); }},
    };
    for (int r = 0; r < rounds; ++r)
        for (Row& row : rows) {
            double t0 = thread_seconds();
            for (size_t p = 0; p < passes; ++p) row.result = row.run(data);
            double mbs = static_cast<double>(passes * data.size()) / 1e6 / (thread_seconds() - t0);
            row.best = std::max(row.best, mbs);
            sink = row.result;
        }
    double load[3] = {};
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = -1;
        std::fclose(f);
    }
    std::printf("buffer %zu KiB, %d rounds, best MB/s (thread time); load %.2f; carry-less multiply: %s\n", kib,
                rounds, load[0], crc32_uses_wide_clmul() ? "yes, 256-bit" : crc32_uses_clmul() ? "yes, 128-bit" : "no");
    double zlib_best = 0;
    for (const Row& row : rows)
        if (std::string_view(row.name) == "zlib crc32") zlib_best = row.best;
    for (const Row& row : rows) {
        std::printf("  %-26s %9.0f MB/s", row.name, row.best);
        if (zlib_best > 0) std::printf("  %5.2fx zlib", row.best / zlib_best);
        std::printf("  (%08x)\n", row.result);
    }
    if (rows[0].result != rows[1].result) {
        std::printf("CRC METHODS DISAGREE\n");
        return 1;
    }
    return 0;
}
