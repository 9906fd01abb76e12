// The extraction's output path alone: write_unpacked_data (checksum, write,
// progress) fed 1 MiB pieces the way the decoder's window flushes them, each
// piece freshly copied into a 4 MiB window (as the decoder just wrote it).
// The output file is written over in place from its start on every pass, so
// after the first pass the system reuses its page cache and the figures show
// the copy and checksum work rather than the allocation of new pages.
// Processor time (user + system) of this thread, best and median of the
// passes, for the CRC-32 and the old 16-bit checksum, and for writing without
// a checksum (no_checksum) and checksumming without a file (no_output).
//
//   bench-output [FILE] [MiB per pass] [PASSES]
#include "bench_util.h"
#include "archive/archive_state.h"
#include "archive/packed_io.h"
#include "format/checksum.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr size_t PIECE = 1 << 20;
constexpr size_t WINDOW = 4 << 20;

struct Case {
    const char* name;
    int format;
    bool output;
    bool checksum;
};

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "/tmp/kx_bench_output.bin";
    size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    int passes = argc > 3 ? std::atoi(argv[3]) : 7;
    if (mib == 0 || mib > 1024 || passes < 1) {
        std::fprintf(stderr, "usage: bench-output [FILE] [MiB per pass, at most 1024] [PASSES]\n");
        return 1;
    }
    build_crc32_table();
    std::vector<uint8_t> window(WINDOW), source(4 * WINDOW);
    uint32_t state = 12345;
    for (size_t i = 0; i < source.size(); i += 4) {
        state = state * 1664525u + 1013904223u;
        std::memcpy(source.data() + i, &state, 4);
    }
    const Case cases[] = {
        {"crc32 + write", FORMAT_BLOCK, true, true},
        {"old16 + write", FORMAT_OLD, true, true},
        {"write only", FORMAT_BLOCK, true, false},
        {"crc32 only", FORMAT_BLOCK, false, true},
    };
    const size_t count = sizeof cases / sizeof cases[0];
    std::vector<std::vector<double>> times(count);
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3) std::printf("load average before: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    reset_archive_state();
    archive_state.output_file = platform::file_open(path, platform::FileOpen::read_write_always);
    if (!archive_state.output_file) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return 1;
    }
    // Pass 0 of each case is a warm-up; the cases interleave pass by pass.
    for (int pass = 0; pass <= passes; ++pass)
        for (size_t c = 0; c < count; ++c) {
            ArchiveState& a = archive_state;
            a.format = cases[c].format;
            a.no_output = !cases[c].output;
            a.no_checksum = !cases[c].checksum;
            a.unpacked_done = 0;
            a.data_checksum = 0xFFFFFFFFu;
            a.file_header.unpacked_size = static_cast<uint32_t>(mib << 20);
            (void)platform::file_seek(a.output_file, 0, platform::SeekFrom::start);
            double start = thread_seconds();
            for (size_t piece = 0; piece < mib; ++piece) {
                uint8_t* p = window.data() + (piece * PIECE) % WINDOW;
                std::memcpy(p, source.data() + (piece * PIECE) % source.size(), PIECE);
                write_unpacked_data(p, static_cast<int32_t>(PIECE));
            }
            double spent = thread_seconds() - start;
            if (pass > 0) times[c].push_back(spent);
        }
    platform::file_close(archive_state.output_file);
    archive_state.output_file = nullptr;
    std::remove(path);
    std::printf("%zu MiB per pass, %d passes; processor time of the pass (including making the data)\n", mib, passes);
    for (size_t c = 0; c < count; ++c) {
        std::vector<double> t = times[c];
        std::sort(t.begin(), t.end());
        std::printf("%-14s best %.4f s  median %.4f s\n", cases[c].name, t.front(), t[t.size() / 2]);
    }
    if (getloadavg(load, 3) == 3) std::printf("load average after: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}
