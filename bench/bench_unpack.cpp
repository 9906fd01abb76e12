// Decoding throughput of the 2.0 and 1.5 methods on the reference archives'
// entries, looped in memory, beside zlib's inflate on the same bytes deflated
// at level 6. The fast decoder, the reference decoder and zlib take turns
// within each of nine rounds, so a change in the machine's load hits all
// three alike; each is timed by the thread's CPU time. Prints MB of output
// per second, best and median of the rounds.
//
// Usage: bench-unpack [FILTER [profile [MiB]]] [--archive FILE]...: only the
// sets whose title holds FILTER; with "profile", only the fast decoder runs,
// on about MiB (default 64) of output per set (for a profiler, or for
// counting instructions under callgrind). Each --archive adds a set of its own:
// an archive of either format (kelvarix-pack's output, say; the first volume
// of a set, whose volumes are followed), decoded with the checksum of the
// output included, as an extraction computes it. Entries the decoders do not
// take (stored, encrypted, other versions) are named in a note, not timed.
#include <algorithm>
#include <ctime>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "format/archive_format.h"
#include "format/checksum.h"
#include "format/little_endian.h"
#include "format/volume_name.h"
#include "pack/archive_writer.h"
#include "platform/platform.h"
#include "pack/audio_model.h"
#include "unpack/decoder.h"
#include "unpack/decoder_state.h"

#ifdef KX_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef KX_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

struct Entry {
    std::string name;
    std::vector<uint8_t> packed;
    uint32_t size = 0;
    int version = 0;
    int solid = 0;
    // The entry's checksum of the output, as extraction checks it: 0 none,
    // 1 the old format's 16-bit one, 2 the block format's CRC-32.
    int checksum_mode = 0;
    uint32_t checksum = 0;
    std::vector<uint8_t> output;  // filled by the first decode
};

// The entry's checksum runs from checksum_start through checksum_update in
// its mode to checksum_end: the old 16-bit sum from 0, CRC-32 from all ones
// and inverted at the end.
uint32_t checksum_start(const Entry& e) { return e.checksum_mode == 1 ? 0 : ~0u; }
uint32_t checksum_end(const Entry& e, uint32_t value) { return e.checksum_mode == 1 ? value : ~value; }

// What an archive holds besides folders and the entries the decoders take.
struct Skipped {
    int empty = 0, stored = 0, encrypted = 0, other_versions = 0;
    int solid_after_skipped = 0;  // a solid entry needs the one before it decoded
    bool cut = false;           // a header or an entry's data ran past the end
    bool missing_volume = false;

    std::string text() const {
        std::string t;
        auto add = [&](int n, const char* what) {
            if (n)
                t += (t.empty() ? "" : ", ") + std::to_string(n) + " " + what;
        };
        add(empty, "empty");
        add(stored, "stored");
        add(encrypted, "encrypted");
        add(other_versions, "of versions the decoders do not take");
        add(solid_after_skipped, "solid after one of those");
        if (cut)
            t += t.empty() ? "cut short" : ", cut short";
        if (missing_volume)
            t += t.empty() ? "a volume missing" : ", a volume missing";
        return t;
    }
};

// One entry header as read, with its data.
struct Part {
    Entry entry;
    uint16_t flags = 0;
    bool stored = false, folder = false;
};

// The parts of one volume (block or old format) in order; volume tells
// whether the set goes on in the next one.
std::vector<Part> volume_parts(const std::vector<uint8_t>& a, bool& volume, Skipped& skipped) {
    std::vector<Part> parts;
    volume = false;
    if (a.size() >= OLD_MAIN_HEADER_BYTES && std::memcmp(a.data(), OLD_MARKER, 4) == 0) {
        volume = a[OLD_MAIN_FLAGS] & MAIN_VOLUME;
        const bool solid = a[OLD_MAIN_FLAGS] & MAIN_SOLID;
        for (size_t pos = load_le16(&a[OLD_MAIN_SIZE]); pos + OLD_FILE_HEADER_BYTES <= a.size();) {
            const uint8_t* h = &a[pos];
            Part p;
            uint32_t packed = load_le32(h + OLD_PACKED_SIZE);
            size_t data = pos + load_le16(h + OLD_HEADER_SIZE);
            if (data + packed > a.size() || load_le16(h + OLD_HEADER_SIZE) < OLD_FILE_HEADER_BYTES) {
                skipped.cut = true;
                break;
            }
            p.flags = h[OLD_FLAGS];
            p.entry.size = load_le32(h + OLD_UNPACKED_SIZE);
            p.entry.version = h[OLD_VERSION] == 2 ? 13 : 10;
            p.entry.name.assign(reinterpret_cast<const char*>(h + OLD_FILE_HEADER_BYTES), h[OLD_NAME_SIZE]);
            p.entry.packed.assign(a.begin() + long(data), a.begin() + long(data + packed));
            p.entry.solid = solid;
            p.entry.checksum_mode = 1;
            p.entry.checksum = load_le16(h + OLD_CHECKSUM);
            p.stored = h[OLD_METHOD] == 0;
            parts.push_back(std::move(p));
            pos = data + packed;
        }
        return parts;
    }
    if (a.size() < MARKER_BYTES || std::memcmp(a.data(), BLOCK_MARKER, MARKER_BYTES) != 0) {
        skipped.cut = true;
        return parts;
    }
    for (size_t pos = MARKER_BYTES; pos + 7 <= a.size();) {
        const uint8_t* h = &a[pos];
        uint16_t flags = uint16_t(load_le16(h + FIELD_FLAGS));
        uint32_t header_size = load_le16(h + FIELD_SIZE);
        if (header_size < 7)
            break;
        uint64_t add = (flags & FILE_LONG_BLOCK) && pos + 11 <= a.size() ? load_le32(h + FILE_PACKED_SIZE) : 0;
        if (h[FIELD_TYPE] == BLOCK_MAIN)
            volume = flags & MAIN_VOLUME;
        if (h[FIELD_TYPE] == BLOCK_FILE) {
            size_t data = pos + header_size;
            if (pos + FILE_HEADER_BYTES > a.size() || data + add > a.size()) {
                skipped.cut = true;
                break;
            }
            Part p;
            p.flags = flags;
            p.entry.size = load_le32(h + FILE_UNPACKED_SIZE);
            p.entry.version = h[FILE_VERSION];
            p.entry.checksum_mode = 2;
            p.entry.checksum = load_le32(h + FILE_CRC32);
            p.entry.name.assign(reinterpret_cast<const char*>(h + FILE_HEADER_BYTES),
                                std::min<size_t>(load_le16(h + FILE_NAME_SIZE), a.size() - pos - FILE_HEADER_BYTES));
            p.entry.packed.assign(a.begin() + long(data), a.begin() + long(data + add));
            p.entry.solid = p.entry.version > 15 ? int(flags & FILE_SOLID) : 0;
            p.stored = h[FILE_METHOD] == '0';
            p.folder = (flags & FILE_DICTIONARY_BITS) == FILE_DIRECTORY;
            parts.push_back(std::move(p));
        }
        if (h[FIELD_TYPE] == 0x7B)  // the end of the archive
            break;
        pos += header_size + add;
    }
    return parts;
}

// The packed entries of an archive, its volumes followed and an entry's
// parts joined, with the solid flag the extraction driver would pass; what
// the decoders do not take is counted in skipped. file is the first
// volume's path as given (see corpus_entries for the corpus' archives).
std::vector<Entry> packed_entries(const std::string& file, Skipped* skipped = nullptr) {
    Skipped ignored;
    Skipped& skip = skipped ? *skipped : ignored;
    char path[platform::MAX_PATH_CHARS + 1];
    if (file.size() > platform::MAX_PATH_CHARS)
        return {};
    std::memcpy(path, file.c_str(), file.size() + 1);
    std::vector<Part> all;
    for (bool volume = true; volume;) {
        std::vector<uint8_t> a = read_file(path);
        if (a.empty())  // past the last volume (whose header may still say it is one)
            break;
        for (Part& p : volume_parts(a, volume, skip)) {
            // A part continued from the volume before goes onto its entry.
            if ((p.flags & FILE_CONTINUED_FROM_PREVIOUS) && !all.empty() &&
                (all.back().flags & FILE_CONTINUES_IN_NEXT)) {
                Part& whole = all.back();
                whole.entry.packed.insert(whole.entry.packed.end(), p.entry.packed.begin(), p.entry.packed.end());
                whole.flags = uint16_t((whole.flags & ~FILE_CONTINUES_IN_NEXT) | (p.flags & FILE_CONTINUES_IN_NEXT));
                whole.entry.checksum = p.entry.checksum;  // the last part's is the whole file's
                continue;
            }
            all.push_back(std::move(p));
        }
        if (volume && !next_volume_name(path))
            break;
    }
    std::vector<Entry> out;
    bool gap = false;  // an entry was left out since the last one that starts afresh
    for (Part& p : all) {
        if (p.folder)
            continue;
        if (!p.entry.solid)
            gap = false;
        if (p.stored && !(p.flags & FILE_ENCRYPTED)) {
            // A stored file leaves the window as it was, so the solid
            // stream goes on past it (a packed tree often has empty ones).
            ++(p.entry.size == 0 ? skip.empty : skip.stored);
            continue;
        }
        if (p.flags & FILE_ENCRYPTED)
            ++skip.encrypted;
        else if (p.entry.version < 13 || p.entry.version > 20)
            ++skip.other_versions;
        else if (p.flags & FILE_CONTINUES_IN_NEXT)
            skip.missing_volume = true;
        else if (gap)
            ++skip.solid_after_skipped;
        else {
            out.push_back(std::move(p.entry));
            continue;
        }
        gap = true;
    }
    // The first packed entry starts the solid stream.
    if (!out.empty())
        out[0].solid = 0;
    return out;
}

// The same for one of the corpus' archives, by its name.
std::vector<Entry> corpus_entries(const char* name) { return packed_entries(std::string(KX_CORPUS_DIR) + "/" + name); }

// A 16-bit stereo recording (four byte channels, the commonest audio a user
// packs) made from the corpus' mono one: the left channel is the sound, the
// right one the sound 7 samples later at 0.8 of its level with a little
// noise. Packed in audio mode by this project's encoder at level 3; empty
// when the original is missing or the encoder did not choose audio mode.
std::vector<Entry> stereo_audio_entry() {
    std::vector<uint8_t> mono = read_file(std::string(KX_CORPUS_DIR) + "/originals/BoatModernEnglish.wav");
    pack::WavLayout layout;
    if (!pack::detect_wav(mono.data(), mono.size(), &layout) || layout.channels != 2)
        return {};
    const uint8_t* samples = mono.data() + layout.data_offset;
    const uint32_t frames = uint32_t(layout.data_size / 2);
    auto sample = [&](int64_t i) { return i < 0 ? 0 : int32_t(int16_t(load_le16(samples + 2 * i))); };
    std::vector<uint8_t> wav(44 + 4 * size_t(frames));
    auto put16 = [&](size_t at, uint32_t v) { store_le16(&wav[at], v); };
    auto put32 = [&](size_t at, uint32_t v) { store_le32(&wav[at], v); };
    std::memcpy(&wav[0], "RIFF", 4);
    put32(4, uint32_t(wav.size() - 8));
    std::memcpy(&wav[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);  // PCM
    put16(22, 2);  // channels
    put32(24, 44100);
    put32(28, 44100 * 4);
    put16(32, 4);   // bytes per frame
    put16(34, 16);  // bits per sample
    std::memcpy(&wav[36], "data", 4);
    put32(40, 4 * frames);
    uint32_t noise = 1;
    for (uint32_t i = 0; i < frames; ++i) {
        noise = noise * 1103515245u + 12345u;
        int32_t right = sample(int64_t(i) - 7) * 4 / 5 + int32_t(noise >> 16) % 41 - 20;
        put16(44 + 4 * size_t(i), uint32_t(sample(i)));
        put16(46 + 4 * size_t(i), uint32_t(std::clamp(right, -32768, 32767)));
    }
    pack::V20Encoder encoder;
    pack::PreparedEntry prepared;
    pack::prepare_entry(encoder, 3, wav.data(), wav.size(), true, prepared);
    if (!prepared.audio)
        return {};
    Entry e;
    e.name = "stereo.wav";
    e.packed = prepared.data;
    e.size = uint32_t(wav.size());
    e.version = 20;
    e.checksum_mode = 2;
    e.checksum = prepared.file_crc;
    return {e};
}

const std::vector<uint8_t>* source;
size_t source_pos;
std::vector<uint8_t>* sink;
uint64_t sink_bytes;
bool with_checksum = false;
const Entry* sink_entry;  // the entry whose output's checksum is taken
uint32_t sink_checksum;

int32_t bench_read(uint8_t* buffer, int32_t count) {
    size_t n = std::min(size_t(count), source->size() - source_pos);
    std::memcpy(buffer, source->data() + source_pos, n);
    source_pos += n;
    return int32_t(n);
}

int32_t bench_write(const uint8_t* buffer, int32_t count) {
    if (sink)
        sink->insert(sink->end(), buffer, buffer + count);
    sink_bytes += uint64_t(count);
    if (with_checksum)
        sink_checksum = checksum_update(sink_checksum, buffer, size_t(count), sink_entry->checksum_mode);
    return count;
}

std::vector<uint8_t> window(WINDOW_SIZE);

void decode_entry(Entry& e, bool reference) {
    source = &e.packed;
    source_pos = 0;
    decoder_bytes_left() = int32_t(e.size);
    sink_entry = &e;
    sink_checksum = checksum_start(e);
    if (e.version > 15)
        (reference ? decompress_v20_reference : decompress_v20)(window.data(), e.solid);
    else
        (reference ? decompress_v15_reference : decompress_v15)(window.data(), e.solid);
}

struct Figures {
    double best = 0, median = 0;
};

// Runs each of runs in turn, nine rounds; figures per run in the same order.
std::vector<Figures> measure(uint64_t bytes_per_pass, const std::vector<std::function<void()>>& runs) {
    // Enough passes per round for about 16 MB of output.
    int passes = int(std::max<uint64_t>(1, (16u << 20) / std::max<uint64_t>(1, bytes_per_pass)));
    int rounds = bytes_per_pass > (64u << 20) ? 5 : 9;
    std::vector<std::vector<double>> rates(runs.size());
    for (int r = 0; r < rounds; ++r)
        for (size_t k = 0; k < runs.size(); ++k) {
            double t0 = thread_seconds();
            for (int p = 0; p < passes; ++p)
                runs[k]();
            double s = thread_seconds() - t0;
            rates[k].push_back(double(bytes_per_pass) * passes / s / 1e6);
        }
    std::vector<Figures> out;
    for (std::vector<double>& v : rates) {
        std::sort(v.begin(), v.end());
        out.push_back({v.back(), v[v.size() / 2]});
    }
    return out;
}

// Optional command-line filter: only sets whose title contains it run.
const char* only = nullptr;
bool profile_only = false;
uint64_t profile_bytes = 64u << 20;  // output decoded per set in profile mode

void bench_set(const char* title, std::vector<Entry> entries, bool checksums = false, const char* skipped = "") {
    with_checksum = checksums;
    if (only && !std::strstr(title, only))
        return;
    if (entries.empty()) {
        std::printf("%-34s %s\n", title, *skipped ? (std::string("nothing to decode: ") + skipped).c_str()
                                                   : "(file missing, or nothing to decode)");
        return;
    }
    uint64_t total = 0;
    uint64_t packed = 0;
    decoder_io.read_packed = bench_read;
    decoder_io.write_unpacked = bench_write;
    reset_decoder_state();
    int bad_checksums = 0;
    for (Entry& e : entries) {
        sink = &e.output;
        decode_entry(e, false);
        bad_checksums += e.checksum_mode != 0 &&
                         checksum_end(e, checksum_update(checksum_start(e), e.output.data(), e.output.size(),
                                                         e.checksum_mode)) != e.checksum;
        total += e.size;
        packed += e.packed.size();
    }
    sink = nullptr;
    auto run_all = [&](bool reference) {
        for (Entry& e : entries)
            decode_entry(e, reference);
    };
    if (profile_only) {
        for (int p = 0; p < int(std::max<uint64_t>(1, profile_bytes / total)); ++p)
            run_all(false);
        return;
    }
    std::vector<std::function<void()>> runs = {[&] { run_all(false); }, [&] { run_all(true); }};
#ifdef KX_HAVE_ZLIB
    std::vector<std::vector<uint8_t>> deflated;
    uint64_t deflated_size = 0;
    for (const Entry& e : entries) {
        uLongf n = compressBound(uLong(e.output.size()));
        std::vector<uint8_t> d(n);
        compress2(d.data(), &n, e.output.data(), uLong(e.output.size()), 6);
        d.resize(n);
        deflated_size += n;
        deflated.push_back(std::move(d));
    }
    size_t largest = 0;
    for (const Entry& e : entries)
        largest = std::max(largest, e.output.size());
    std::vector<uint8_t> out(largest + 1);
    bool zlib_ok = true;
    runs.push_back([&] {
        for (size_t i = 0; i < entries.size(); ++i) {
            uLongf n = uLongf(out.size());
            zlib_ok &= uncompress(out.data(), &n, deflated[i].data(), uLong(deflated[i].size())) == Z_OK &&
                       n == entries[i].output.size();
        }
    });
#ifdef KX_HAVE_LIBDEFLATE
    // The same zlib streams through libdeflate.
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    bool ld_ok = true;
    runs.push_back([&] {
        for (size_t i = 0; i < entries.size(); ++i) {
            size_t n = 0;
            ld_ok &= libdeflate_zlib_decompress(ld, deflated[i].data(), deflated[i].size(), out.data(), out.size(),
                                                &n) == LIBDEFLATE_SUCCESS &&
                     n == entries[i].output.size();
        }
    });
#endif
#endif
    std::vector<Figures> f = measure(total, runs);
    std::printf("%-34s %7.1f KB -> %6.1f KB  fast %7.1f / %7.1f  reference %7.1f / %7.1f", title,
                double(packed) / 1024, double(total) / 1024, f[0].best, f[0].median, f[1].best, f[1].median);
#ifdef KX_HAVE_ZLIB
    std::printf("  zlib-6 (%6.1f KB) %7.1f / %7.1f  fast/zlib %.2f%s", double(deflated_size) / 1024, f[2].best,
                f[2].median, f[0].median / f[2].median, zlib_ok ? "" : " (zlib FAILED)");
#ifdef KX_HAVE_LIBDEFLATE
    std::printf("  libdeflate %7.1f / %7.1f  fast/libdeflate %.2f%s", f[3].best, f[3].median,
                f[0].median / f[3].median, ld_ok ? "" : " (libdeflate FAILED)");
    libdeflate_free_decompressor(ld);
#endif
#endif
    if (bad_checksums)
        std::printf("  %d CHECKSUM MISMATCH(ES)", bad_checksums);
    if (*skipped)
        std::printf("  (not timed: %s)", skipped);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> archives;
    std::vector<const char*> words;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--archive") == 0 && i + 1 < argc)
            archives.push_back(argv[++i]);
        else
            words.push_back(argv[i]);
    }
    if (!words.empty())
        only = words[0];
    profile_only = words.size() > 1 && std::strcmp(words[1], "profile") == 0;
    if (profile_only && words.size() > 2)
        profile_bytes = uint64_t(std::max(1, std::atoi(words[2]))) << 20;
    build_crc32_table();
    std::printf("MB/s of unpacked output per CPU second, best / median of 9 interleaved rounds (each about 16 MB), thread CPU time\n");
    std::printf("decoder memory: window %u KiB + state %zu KiB (fixed, no allocation while decoding)\n\n",
                WINDOW_SIZE / 1024, sizeof(DecoderState) / 1024);
    // Each entry alone as well: they differ in what the decoder spends on.
    auto each_entry = [](const char* file) {
        for (const Entry& e : corpus_entries(file)) {
            std::string title = std::string(file) + " entry " + e.name;
            bench_set(title.c_str(), {e});
        }
    };
    std::printf("-- 2.0 method\n");
    bench_set("Rar2.rar (exe, jpg, txt)", corpus_entries("Rar2.rar"));
    each_entry("Rar2.rar");
    auto v2 = corpus_entries("test_v2.rar");
    if (v2.size() >= 5)
        v2 = {v2[4]};
    bench_set("test_v2.rar p5.bin", v2);
    bench_set("BoatModernEnglish regular", corpus_entries("BoatModernEnglish-regular-unpack20.rar"));
    bench_set("BoatModernEnglish audio mode", corpus_entries("BoatModernEnglish-audio-text-unpack20.rar"));
    const char* stereo_title = "16-bit stereo audio mode (own pack)";
    if (!only || std::strstr(stereo_title, only))  // packing it takes a moment
        bench_set(stereo_title, stereo_audio_entry());
    std::printf("-- 1.5 method\n");
    bench_set("Rar15.rar (exe, jpg, txt)", corpus_entries("Rar15.rar"));
    each_entry("Rar15.rar");
    bench_set("rar14-solid.rar (3 solid entries)", corpus_entries("rar14-solid.rar"));
    bench_set("r14volcm (one entry, three volumes)", corpus_entries("r14volcm.rar"));
    if (!archives.empty())
        std::printf("-- given archives (volumes followed), the output's checksum included (5 rounds above 64 MB)\n");
    for (const std::string& path : archives) {
        Skipped skipped;
        std::vector<Entry> entries = packed_entries(path, &skipped);
        bench_set(path.c_str(), std::move(entries), true, skipped.text().c_str());
    }
    return 0;
}
