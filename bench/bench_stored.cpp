// Stored extraction against cp: writes a stored archive of one large entry
// (default 1 GiB) with a small writer of its own, then times, side by side on
// the same disk, `cp` of the raw data file and extract_archive of the archive.
// Prints every run (wall time, and processor time: user + system of this
// process around the extraction, of the waited-for children around cp), the
// best and median of each, the ratios, and the machine's load before and
// after, since other work on the machine shows in the wall times.
//
//   bench-stored [FOLDER] [MiB] [RUNS]
#include "archive/driver.h"
#include "format/checksum.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/time.h>

namespace fs = std::filesystem;

namespace {

void put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

// Fills the chunk with incompressible-looking bytes (the content does not
// matter to a stored copy, but it keeps the file system from sparing work).
void fill(std::vector<unsigned char>& chunk, uint32_t& state) {
    for (size_t i = 0; i + 4 <= chunk.size(); i += 4) {
        state = state * 1664525u + 1013904223u;
        put32(chunk.data() + i, state);
    }
}

// Writes data.bin (size bytes) and stored.rar holding it as "big.bin".
bool make_inputs(const fs::path& folder, uint64_t size) {
    FILE* data = std::fopen((folder / "data.bin").string().c_str(), "wb");
    if (!data) return false;
    std::vector<unsigned char> chunk(1 << 20);
    uint32_t state = 12345, crc = 0xFFFFFFFFu;
    for (uint64_t done = 0; done < size;) {
        fill(chunk, state);
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - done));
        crc = crc32_update(crc, chunk.data(), n);
        if (std::fwrite(chunk.data(), 1, n, data) != n) return false;
        done += n;
    }
    std::fclose(data);
    crc ^= 0xFFFFFFFFu;

    FILE* archive = std::fopen((folder / "stored.rar").string().c_str(), "wb");
    if (!archive) return false;
    const unsigned char marker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    unsigned char main_header[13] = {0, 0, 0x73, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0};
    put16(main_header, crc32_update(0xFFFFFFFFu, main_header + 2, 11) ^ 0xFFFF);
    const char name[] = "big.bin";
    unsigned char header[32 + sizeof name - 1] = {};
    header[2] = 0x74;
    put16(header + 3, 0x8000);
    put16(header + 5, sizeof header);
    put32(header + 7, static_cast<uint32_t>(size));
    put32(header + 11, static_cast<uint32_t>(size));
    header[15] = 2;
    put32(header + 16, crc);
    put32(header + 20, 0x2A43645C);
    header[24] = 20;
    header[25] = '0';
    put16(header + 26, sizeof name - 1);
    put32(header + 28, 0x20);
    std::memcpy(header + 32, name, sizeof name - 1);
    put16(header, (crc32_update(0xFFFFFFFFu, header + 2, sizeof header - 2) ^ 0xFFFFFFFFu) & 0xFFFF);
    std::fwrite(marker, 1, sizeof marker, archive);
    std::fwrite(main_header, 1, sizeof main_header, archive);
    std::fwrite(header, 1, sizeof header, archive);
    data = std::fopen((folder / "data.bin").string().c_str(), "rb");
    for (size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), data)) > 0;) std::fwrite(chunk.data(), 1, n, archive);
    std::fclose(data);
    return std::fclose(archive) == 0;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// User plus system time, in seconds, of this process or of its waited-for children.
double processor_seconds(int who) {
    struct rusage usage {};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void print_load(const char* when) {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kx_bench_stored";
    uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
    int runs = argc > 3 ? std::atoi(argv[3]) : 4;
    if (mib == 0 || mib >= 2048 || runs < 1) {
        std::fprintf(stderr, "usage: bench-stored [FOLDER] [MiB below 2048] [RUNS]\n");
        return 1;
    }
    const uint64_t size = mib << 20;
    build_crc32_table();
    fs::create_directories(folder);
    std::printf("making %llu MiB of input in %s ...\n", static_cast<unsigned long long>(mib), folder.string().c_str());
    if (!make_inputs(folder, size)) {
        std::fprintf(stderr, "cannot write the inputs\n");
        return 1;
    }
    // Each step writes a new file after a sync, and the order of cp and
    // extraction alternates from run to run. Each step's output is deleted
    // (and synced) once it is timed, before the other step: on a virtual
    // machine the first touch of memory the guest has never used costs the
    // host's fault in, which shows as system time of whichever step meets
    // it, so page cache that grows from step to step makes the figures jump
    // (the second step of a run paid about a second more per GiB, cp or
    // extraction alike); freed pages are reused. Run 0 is a warm-up and is
    // shown but not counted.
    print_load("before the runs");
    std::vector<double> cp_times, x_times, cp_cpu, x_cpu;
    for (int run = 0; run <= runs; ++run) {
        const fs::path copy = folder / ("copy" + std::to_string(run) + ".bin");
        const fs::path out = folder / ("out" + std::to_string(run));
        fs::create_directories(out);
        const std::string cp_command = "cp '" + (folder / "data.bin").string() + "' '" + copy.string() + "'";
        double cp_time = 0, x_time = 0, cp_processor = 0, x_processor = 0;
        int cp_status = 0, status = 0;
        bool whole = false;
        for (int step = 0; step < 2; ++step) {
            std::system("sync");
            if ((step == 0) == (run % 2 == 0)) {
                double children = processor_seconds(RUSAGE_CHILDREN);
                auto start = std::chrono::steady_clock::now();
                cp_status = std::system(cp_command.c_str());
                cp_time = seconds_since(start);
                cp_processor = processor_seconds(RUSAGE_CHILDREN) - children;
                fs::remove(copy);
            } else {
                double self = processor_seconds(RUSAGE_SELF);
                auto start = std::chrono::steady_clock::now();
                status = extract_archive((folder / "stored.rar").string().c_str(), out.string().c_str());
                x_time = seconds_since(start);
                x_processor = processor_seconds(RUSAGE_SELF) - self;
                std::error_code ec;
                whole = fs::file_size(out / "big.bin", ec) == size;
                fs::remove_all(out);
                fs::create_directories(out);
            }
        }
        if (cp_status != 0 || status != 0 || !whole) {
            std::fprintf(stderr, "run %d failed (cp %d, extraction %d)\n", run, cp_status, status);
            fs::remove_all(folder);
            return 1;
        }
        if (run > 0) {
            cp_times.push_back(cp_time);
            x_times.push_back(x_time);
            cp_cpu.push_back(cp_processor);
            x_cpu.push_back(x_processor);
        }
        std::printf("run %d%s (%s first): cp %.3f s (%.0f MB/s, cpu %.3f s), extraction %.3f s (%.0f MB/s, cpu %.3f s)\n",
                    run, run == 0 ? " (warm-up)" : "", run % 2 == 0 ? "cp" : "extraction", cp_time, size / cp_time / 1e6, cp_processor, x_time,
                    size / x_time / 1e6, x_processor);
        std::fflush(stdout);
        fs::remove(copy);
        fs::remove_all(out);
    }
    print_load("after the runs");
    double cp_best = *std::min_element(cp_times.begin(), cp_times.end());
    double x_best = *std::min_element(x_times.begin(), x_times.end());
    double cp_cpu_best = *std::min_element(cp_cpu.begin(), cp_cpu.end());
    double x_cpu_best = *std::min_element(x_cpu.begin(), x_cpu.end());
    std::printf("wall best: cp %.3f s, extraction %.3f s; median: cp %.3f s, extraction %.3f s\n", cp_best, x_best,
                median(cp_times), median(x_times));
    std::printf("cpu  best: cp %.3f s, extraction %.3f s; median: cp %.3f s, extraction %.3f s\n", cp_cpu_best,
                x_cpu_best, median(cp_cpu), median(x_cpu));
    std::printf("speed ratio extraction/cp (best): %.2f  (median): %.2f  (target >= 0.80)\n", cp_best / x_best,
                median(cp_times) / median(x_times));
    std::printf("cpu ratio extraction/cp (best): %.2f  (median): %.2f  (target <= 1.30)\n", x_cpu_best / cp_cpu_best,
                median(x_cpu) / median(cp_cpu));
    fs::remove_all(folder);
    return 0;
}
