// Peak memory of packing one large file: writes a compressible file of the
// given size (default 1 GiB, generated in 1 MiB pieces from mixed text and
// binary-like bytes), then packs it with the archive writer at each level
// asked for, each in a fresh child process so that every peak is its own.
// Prints peak resident memory, processor time and the packed share, and the
// machine's load average.
//
//   bench-pack-memory [MiB (default 1024)] [LEVEL...] (default levels 0 and 3)
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "pack/archive_writer.h"
#include "pack/pack_folder.h"

namespace {

double peak_mib() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Text-like lines with repeats near and far, and a stretch of noise now and then.
bool make_input(const std::string& path, uint64_t bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    static const char* words[] = {"archive ", "volume ", "window ", "header ", "entry ", "solid ", "packed ",
                                  "the ",     "of ",     "and ",    "0x1F ",   "\n",      "install ", "setup "};
    std::vector<char> piece(1 << 20);
    uint32_t seed = 1;
    for (uint64_t done = 0; done < bytes;) {
        for (size_t i = 0; i < piece.size();) {
            seed = seed * 1103515245u + 12345u;
            if ((seed >> 24) < 4) {
                for (int k = 0; k < 64 && i < piece.size(); ++k, ++i) piece[i] = static_cast<char>(seed >> (k % 24));
            } else {
                for (const char* w = words[(seed >> 16) % 14]; *w && i < piece.size(); ++w, ++i) piece[i] = *w;
            }
        }
        size_t n = static_cast<size_t>(bytes - done < piece.size() ? bytes - done : piece.size());
        if (std::fwrite(piece.data(), 1, n, f) != n) {
            std::fclose(f);
            return false;
        }
        done += n;
    }
    return std::fclose(f) == 0;
}

int pack_once(const std::string& folder, int level) {
    std::vector<pack::TreeEntry> entries;
    std::string error;
    if (!pack::list_tree(folder.c_str(), false, nullptr, entries, error)) return 1;
    pack::ArchiveWriter* w = new pack::ArchiveWriter;
    std::string out = folder + ".rar";
    std::clock_t t0 = std::clock();
    if (pack::writer_open(*w, out.c_str(), nullptr, {level, false, 0, 1}) != pack::WriteResult::ok ||
        pack::pack_tree(*w, entries, nullptr, nullptr, error) != pack::WriteResult::ok ||
        pack::writer_close(*w) != pack::WriteResult::ok) {
        std::printf("  level %d: failed (%s)\n", level, error.c_str());
        return 1;
    }
    double seconds = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
    std::printf("  level %d: peak %.1f MiB, %.1f s processor time, %.1f MB/s, packed to %.3f of the input\n", level,
                peak_mib(), seconds, static_cast<double>(w->bytes_in) / 1e6 / seconds,
                static_cast<double>(w->bytes_out) / static_cast<double>(w->bytes_in));
    std::remove(out.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--child") return pack_once(argv[2], std::atoi(argv[3]));
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    std::vector<int> levels;
    for (int i = 2; i < argc; ++i) levels.push_back(std::atoi(argv[i]));
    if (levels.empty()) levels = {0, 3};
    std::string folder = "/tmp/kx-bench-pack-memory";
    std::string file = folder + "/big.bin";
    std::remove(file.c_str());
    if (std::system(("mkdir -p " + folder).c_str()) != 0 || !make_input(file, mib << 20)) {
        std::printf("cannot write %s\n", file.c_str());
        return 1;
    }
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    std::printf("one file of %llu MiB; load %.2f\n", static_cast<unsigned long long>(mib), load);
    std::fflush(stdout);
    for (int level : levels)
        if (std::system((std::string(argv[0]) + " --child " + folder + " " + std::to_string(level)).c_str()) != 0)
            std::printf("  level %d: run failed\n", level);
    std::remove(file.c_str());
    return 0;
}
