// bench-pack-best: level 3 against level 5 of the 2.0 encoder on the corpus
// originals, beside the smallest packed size the reference archives hold for
// the same content (found by unpacked size and CRC-32 among their
// non-split 2.0-method entries). Each packed stream is decoded back through
// the project's decoder and compared. Prints figures; never fails.
//
//   bench-pack-best [CORPUS_DIR] [RUNS] [--archive FILE]...
//
// Each --archive adds the 2.0-method entries of an archive another archiver
// packed (those that are neither solid, nor split across volumes, nor
// encrypted): decoded by the project's decoder (their CRC-32 checked), then
// packed at levels 3 and 5 beside the entry's own packed size.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "format/archive_format.h"
#include "format/checksum.h"
#include "format/little_endian.h"
#include "pack/v20_encoder.h"
#include "unpack/decoder.h"

namespace {

double since(std::clock_t t) { return static_cast<double>(std::clock() - t) / CLOCKS_PER_SEC; }


// A block-format entry packed with the 2.0 method, held whole in its volume,
// neither solid nor encrypted.
struct PackedEntry {
    std::string name;
    uint32_t size = 0, crc = 0;
    std::vector<uint8_t> packed;
};

// Such entries of archive; skipped counts the other file entries.
std::vector<PackedEntry> plain_v20_entries(const std::vector<uint8_t>& archive, int* skipped = nullptr) {
    std::vector<PackedEntry> out;
    if (archive.size() < MARKER_BYTES || !std::equal(BLOCK_MARKER, BLOCK_MARKER + MARKER_BYTES, archive.begin()))
        return out;
    size_t pos = MARKER_BYTES;
    while (pos + 7 <= archive.size()) {
        const uint8_t* h = archive.data() + pos;
        uint32_t type = h[FIELD_TYPE], flags = load_le16(h + FIELD_FLAGS), head_size = load_le16(h + FIELD_SIZE);
        if (head_size < 7) break;
        uint64_t add = 0;
        if ((flags & FILE_LONG_BLOCK) && pos + 11 <= archive.size()) add = load_le32(h + FILE_PACKED_SIZE);
        if (type == BLOCK_FILE && pos + FILE_HEADER_BYTES <= archive.size() &&
            (flags & FILE_DICTIONARY_BITS) != FILE_DIRECTORY) {
            uint32_t version = h[FILE_VERSION], method = h[FILE_METHOD];
            constexpr uint32_t NOT_PLAIN =
                FILE_CONTINUED_FROM_PREVIOUS | FILE_CONTINUES_IN_NEXT | FILE_ENCRYPTED | FILE_SOLID;
            bool plain = version == 20 && method > '0' && (flags & NOT_PLAIN) == 0;
            size_t data = pos + head_size;
            if (plain && data + add <= archive.size()) {
                PackedEntry e;
                e.name.assign(reinterpret_cast<const char*>(h + FILE_HEADER_BYTES),
                              std::min<size_t>(load_le16(h + FILE_NAME_SIZE), archive.size() - pos - FILE_HEADER_BYTES));
                e.size = load_le32(h + FILE_UNPACKED_SIZE);
                e.crc = load_le32(h + FILE_CRC32);
                e.packed.assign(archive.begin() + static_cast<long>(data),
                                archive.begin() + static_cast<long>(data + add));
                out.push_back(std::move(e));
            } else if (skipped) {
                ++*skipped;
            }
        }
        pos += head_size + add;
    }
    return out;
}

// Smallest packed size among those entries of archive whose unpacked size
// and CRC are size and crc; 0 when there is none.
uint32_t smallest_reference(const std::vector<uint8_t>& archive, uint32_t size, uint32_t crc) {
    uint32_t best = 0;
    for (const PackedEntry& e : plain_v20_entries(archive))
        if (e.size == size && e.crc == crc) {
            uint32_t packed = static_cast<uint32_t>(e.packed.size());
            best = best == 0 ? packed : std::min(best, packed);
        }
    return best;
}

const std::vector<uint8_t>* g_in;
size_t g_pos;
std::vector<uint8_t>* g_out;
int32_t read_mem(uint8_t* b, int32_t n) {
    size_t k = std::min<size_t>(static_cast<size_t>(n), g_in->size() - g_pos);
    std::copy(g_in->data() + g_pos, g_in->data() + g_pos + k, b);
    g_pos += k;
    return static_cast<int32_t>(k);
}
int32_t write_mem(const uint8_t* b, int32_t n) {
    g_out->insert(g_out->end(), b, b + n);
    return n;
}

// A stand-alone 2.0-method stream of size bytes, decoded.
std::vector<uint8_t> decode(const std::vector<uint8_t>& packed, uint32_t size, uint8_t* window) {
    std::vector<uint8_t> back;
    reset_decoder_state();
    decoder_io.read_packed = read_mem;
    decoder_io.write_unpacked = write_mem;
    g_in = &packed;
    g_pos = 0;
    g_out = &back;
    decoder_bytes_left() = static_cast<int32_t>(size);
    decompress_v20(window, 0);
    return back;
}

// Packs data at levels 3 and 5 (best time of runs each), decodes both back,
// and prints the row beside the reference's packed size (0: none known).
void pack_row(const std::string& name, const std::vector<uint8_t>& data, uint32_t reference, int runs,
              uint8_t* window) {
    size_t packed_size[2] = {};
    double best_time[2] = {1e9, 1e9};
    bool decoded = true;
    const int levels[2] = {3, 5};
    for (int k = 0; k < 2; ++k) {
        for (int r = 0; r < runs; ++r) {
            auto enc = std::make_unique<pack::V20Encoder>();
            pack::encoder_init(*enc, pack::settings_for_level(levels[k]));
            std::vector<uint8_t> out;
            std::clock_t t = std::clock();
            pack::encode_entry(*enc, data.data(), data.size(), false, nullptr, out, false);
            best_time[k] = std::min(best_time[k], since(t));
            packed_size[k] = out.size();
            if (r == 0) decoded = decoded && decode(out, static_cast<uint32_t>(data.size()), window) == data;
        }
    }
    auto speed = [&](int k) { return static_cast<double>(data.size()) / 1048576.0 / std::max(best_time[k], 1e-6); };
    double l5 = static_cast<double>(packed_size[1]);
    std::printf("%-18s %7zu %9u %7zu %9.2f %7zu %7.3f %7.3f %9.2f %9s\n", name.substr(0, 18).c_str(), data.size(),
                reference, packed_size[0], speed(0), packed_size[1], reference ? l5 / reference : 0.0,
                l5 / static_cast<double>(packed_size[0]), speed(1), decoded ? "ok" : "DIFFERS");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words, given;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--archive" && i + 1 < argc) given.push_back(argv[++i]);
        else words.push_back(argv[i]);
    }
    const std::string corpus = words.size() > 0 ? words[0] : KX_CORPUS_DIR;
    const int runs = words.size() > 1 ? std::max(1, std::atoi(words[1].c_str())) : 3;
    build_crc32_table();
    std::vector<std::vector<uint8_t>> archives;
    for (const char* name : {"Rar2.rar", "test_v2.rar", "test_v2solid5.rar", "Rar2.multi.rar"})
        archives.push_back(read_file(corpus + "/" + name));
    std::unique_ptr<uint8_t[]> window(new uint8_t[WINDOW_SIZE]);
    std::printf("corpus %s; processor time, best of %d run(s)\n", corpus.c_str(), runs);
    std::printf("%-18s %7s %9s %7s %9s %7s %7s %7s %9s %9s\n", "original", "size", "reference", "level3", "l3 MB/s",
                "level5", "l5/ref", "l5/l3", "l5 MB/s", "decoded");
    for (const char* name : {"test.exe", "test-cyrillic.txt", "etalon.bin"}) {
        std::vector<uint8_t> data = read_file(corpus + "/originals/" + name);
        if (data.empty()) {
            std::printf("%-18s missing\n", name);
            continue;
        }
        uint32_t crc = crc32_update(0xFFFFFFFFu, data.data(), data.size()) ^ 0xFFFFFFFFu;
        uint32_t reference = 0;
        for (const auto& a : archives) {
            uint32_t r = smallest_reference(a, static_cast<uint32_t>(data.size()), crc);
            if (r != 0) reference = reference == 0 ? r : std::min(reference, r);
        }
        pack_row(name, data, reference, runs, window.get());
    }
    for (const std::string& path : given) {
        int skipped = 0;
        const std::vector<uint8_t> archive = read_file(path);
        if (archive.empty()) {
            std::printf("-- %s: missing or empty\n", path.c_str());
            continue;
        }
        std::vector<PackedEntry> entries = plain_v20_entries(archive, &skipped);
        std::printf("-- %s: %zu entries of the 2.0 method alone (%d other file entries left out)\n", path.c_str(),
                    entries.size(), skipped);
        for (const PackedEntry& e : entries) {
            std::vector<uint8_t> data = decode(e.packed, e.size, window.get());
            if (data.size() != e.size || (crc32_update(0xFFFFFFFFu, data.data(), data.size()) ^ 0xFFFFFFFFu) != e.crc) {
                std::printf("%-18s does not decode to its CRC-32\n", e.name.substr(0, 18).c_str());
                continue;
            }
            pack_row(e.name, data, static_cast<uint32_t>(e.packed.size()), runs, window.get());
        }
    }
    return 0;
}
