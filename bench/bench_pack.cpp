// bench-pack: in-process figures for the 2.0 encoder on a folder tree (by
// default the mixed corpus scripts/bench_pack.sh builds in /tmp): packed size
// and speed per level, decoding speed through the project's decoder, and,
// when zlib is available, deflate at levels 6 and 9 over the same bytes as
// one stream (what gzip of a tar does). Prints figures; never fails.
//
//   bench-pack [FOLDER] [RUNS]
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pack/pack_folder.h"
#include "pack/v20_encoder.h"
#include "unpack/decoder.h"

#ifdef KX_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

// Processor time of this process: the machine may be shared, and wall-clock
// figures would then measure the neighbours as much as the code.
struct Clock {
    using time_point = std::clock_t;
    static time_point now() { return std::clock(); }
};
double since(Clock::time_point t) { return static_cast<double>(std::clock() - t) / CLOCKS_PER_SEC; }

struct Blob {
    std::string name;
    std::vector<uint8_t> data;
};

const std::vector<uint8_t>* g_in;
size_t g_pos;
uint64_t g_out;
int32_t read_mem(uint8_t* b, int32_t n) {
    size_t k = std::min<size_t>(static_cast<size_t>(n), g_in->size() - g_pos);
    std::memcpy(b, g_in->data() + g_pos, k);
    g_pos += k;
    return static_cast<int32_t>(k);
}
int32_t count_out(const uint8_t*, int32_t n) {
    g_out += static_cast<uint64_t>(n);
    return n;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : "/tmp/kelvarixpack_bench_corpus";
    int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::vector<pack::TreeEntry> entries;
    std::string error;
    if (!pack::list_tree(folder, false, nullptr, entries, error)) {
        std::fprintf(stderr, "bench-pack: %s (build the corpus with scripts/bench_pack.sh)\n", error.c_str());
        return 0;
    }
    std::vector<Blob> blobs;
    uint64_t total = 0;
    for (const auto& e : entries) {
        if (e.is_folder || e.size == 0) continue;
        FILE* f = std::fopen(e.path.c_str(), "rb");
        if (!f) continue;
        Blob b{e.name, std::vector<uint8_t>(e.size)};
        size_t got = std::fread(b.data.data(), 1, b.data.size(), f);
        std::fclose(f);
        b.data.resize(got);
        total += got;
        blobs.push_back(std::move(b));
    }
    const double mb = static_cast<double>(total) / 1048576.0;
    std::printf("corpus %s: %zu files, %llu bytes; processor time, best and median of %d run(s)\n", folder,
                blobs.size(),
                static_cast<unsigned long long>(total), runs);
    std::printf("%-22s %12s %8s %10s %10s %12s\n", "", "bytes", "ratio", "MB/s best", "MB/s med", "decode MB/s");

    std::unique_ptr<uint8_t[]> window(new uint8_t[WINDOW_SIZE]);
    struct Mode {
        const char* name;
        int level;
        bool solid;
    } modes[] = {{"2.0 level 1", 1, false},
                 {"2.0 level 3", 3, false},
                 {"2.0 level 5", 5, false},
                 {"2.0 level 3 solid", 3, true}};
    for (const Mode& m : modes) {
        std::vector<double> times;
        std::vector<std::vector<uint8_t>> packed;
        std::vector<bool> stored;
        for (int r = 0; r < runs; ++r) {
            pack::V20Encoder* enc = new pack::V20Encoder;
            pack::encoder_init(*enc, pack::settings_for_level(m.level));
            packed.assign(blobs.size(), {});
            stored.assign(blobs.size(), false);
            auto t = Clock::now();
            for (size_t i = 0; i < blobs.size(); ++i) {
                pack::WavLayout wav;
                bool is_wav = pack::detect_wav(blobs[i].data.data(), blobs[i].data.size(), &wav);
                pack::EntryCoding coding =
                    pack::encode_entry(*enc, blobs[i].data.data(), blobs[i].data.size(), m.solid && i > 0,
                                       is_wav ? &wav : nullptr, packed[i], !m.solid);
                // As the archive writer does: what does not pack is stored.
                stored[i] = !m.solid && (coding == pack::EntryCoding::incompressible ||
                                         packed[i].size() >= blobs[i].data.size());
            }
            times.push_back(since(t));
            delete enc;
        }
        uint64_t bytes = 0;
        for (size_t i = 0; i < blobs.size(); ++i) bytes += stored[i] ? blobs[i].data.size() : packed[i].size();
        // Decoding: every entry through the project's decoder, output counted.
        reset_decoder_state();
        decoder_io.read_packed = read_mem;
        decoder_io.write_unpacked = count_out;
        g_out = 0;
        auto t = Clock::now();
        for (size_t i = 0; i < blobs.size(); ++i) {
            if (stored[i]) {  // copied, not decoded
                std::vector<uint8_t> copy(blobs[i].data);
                g_out += copy.size();
                continue;
            }
            g_in = &packed[i];
            g_pos = 0;
            decoder_bytes_left() = static_cast<int32_t>(blobs[i].data.size());
            decompress_v20(window.get(), m.solid && i > 0 ? 0x10 : 0);
        }
        double decode = since(t);
        std::printf("%-22s %12llu %7.2f%% %10.1f %10.1f %12.1f%s\n", m.name, static_cast<unsigned long long>(bytes),
                    100.0 * static_cast<double>(bytes) / static_cast<double>(total),
                    mb / *std::min_element(times.begin(), times.end()), mb / median(times), mb / decode,
                    g_out == total ? "" : "  (decoded size differs!)");
    }

#ifdef KX_HAVE_ZLIB
    std::vector<uint8_t> all;
    all.reserve(total);
    for (const Blob& b : blobs) all.insert(all.end(), b.data.begin(), b.data.end());
    for (int level : {6, 9}) {
        std::vector<double> times;
        std::vector<uint8_t> out;
        for (int r = 0; r < runs; ++r) {
            uLongf n = compressBound(static_cast<uLong>(all.size()));
            out.resize(n);
            auto t = Clock::now();
            compress2(out.data(), &n, all.data(), static_cast<uLong>(all.size()), level);
            times.push_back(since(t));
            out.resize(n);
        }
        std::vector<uint8_t> back(all.size());
        uLongf back_size = static_cast<uLongf>(back.size());
        auto t = Clock::now();
        uncompress(back.data(), &back_size, out.data(), static_cast<uLong>(out.size()));
        double decode = since(t);
        char name[32];
        std::snprintf(name, sizeof name, "deflate %d (one stream)", level);
        std::printf("%-22s %12zu %7.2f%% %10.1f %10.1f %12.1f\n", name, out.size(),
                    100.0 * static_cast<double>(out.size()) / static_cast<double>(total),
                    mb / *std::min_element(times.begin(), times.end()), mb / median(times), mb / decode);
    }
#else
    std::printf("(zlib not found: no deflate comparison; see scripts/bench_pack.sh for gzip)\n");
#endif
    return 0;
}
