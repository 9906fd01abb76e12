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
// counting instructions under callgrind). Each --archive adds a set of its own: a large single-volume
// archive (kelvarix-pack's output, say), decoded with the CRC-32 of the
// output included, as an extraction computes it.
#include <algorithm>
#include <ctime>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "format/checksum.h"
#include "format/little_endian.h"
#include "pack/archive_writer.h"
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
    bool has_crc = false;  // the block format's CRC-32 of the output
    uint32_t crc = 0;
    std::vector<uint8_t> output;  // filled by the first decode
};

std::vector<uint8_t> read_file(const std::string& path) {
    std::vector<uint8_t> data;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return data;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
}


// The packed entries of a single-volume archive, with the solid flag the
// extraction driver would pass.
std::vector<Entry> packed_entries(const std::string& file) {
    std::vector<Entry> out;
    std::vector<uint8_t> a = read_file(file.find('/') != std::string::npos ? file : std::string(KX_CORPUS_DIR) + "/" + file);
    if (a.size() < 7)
        return out;
    if (std::memcmp(a.data(), "RE~^", 4) == 0) {
        bool solid = a[6] & 0x08;
        for (size_t pos = load_le16(&a[4]); pos + 21 <= a.size();) {
            const uint8_t* h = &a[pos];
            Entry e;
            uint32_t packed = load_le32(h);
            e.size = load_le32(h + 4);
            e.version = 13;
            e.name.assign(reinterpret_cast<const char*>(h + 21), h[19]);
            size_t data = pos + load_le16(h + 10);
            if (data + packed > a.size())
                break;
            e.packed.assign(a.begin() + long(data), a.begin() + long(data + packed));
            e.solid = solid && !out.empty();
            if (h[20] != 0)
                out.push_back(e);
            pos = data + packed;
        }
        return out;
    }
    for (size_t pos = 7; pos + 7 <= a.size();) {
        const uint8_t* h = &a[pos];
        uint32_t flags = load_le16(h + 3);
        uint32_t header_size = load_le16(h + 5);
        if (header_size < 7)
            break;
        uint64_t add = (flags & 0x8000) && pos + 11 <= a.size() ? load_le32(h + 7) : 0;
        if (h[2] == 0x74 && pos + 32 <= a.size()) {
            Entry e;
            uint32_t packed = load_le32(h + 7);
            add = packed;
            e.size = load_le32(h + 11);
            e.version = h[24];
            e.has_crc = true;
            e.crc = load_le32(h + 16);
            e.name.assign(reinterpret_cast<const char*>(h + 32), load_le16(h + 26));
            size_t data = pos + header_size;
            if (data + packed > a.size())
                break;
            e.packed.assign(a.begin() + long(data), a.begin() + long(data + packed));
            e.solid = e.version > 15 ? int(flags & 0x10) : 0;
            if (h[25] != 0x30 && (flags & 0xE0) != 0xE0)
                out.push_back(e);
        }
        if (h[2] == 0x7B)
            break;
        pos += header_size + add;
    }
    return out;
}

// One entry packed across volumes, each holding one part of it: the parts
// joined in the volumes' order.
std::vector<Entry> joined_entry(const std::vector<std::string>& volumes) {
    Entry joined;
    for (const std::string& v : volumes) {
        std::vector<Entry> part = packed_entries(v);
        if (part.empty())
            return {};
        if (joined.packed.empty())
            joined = part[0];
        else
            joined.packed.insert(joined.packed.end(), part[0].packed.begin(), part[0].packed.end());
    }
    joined.has_crc = false;  // old-format entries have no CRC-32; the extraction tests check them
    return {joined};
}

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
    e.has_crc = true;
    e.crc = prepared.file_crc;
    return {e};
}

const std::vector<uint8_t>* source;
size_t source_pos;
std::vector<uint8_t>* sink;
uint64_t sink_bytes;
bool with_crc = false;
uint32_t sink_crc;

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
    if (with_crc)
        sink_crc = crc32_update(sink_crc, buffer, size_t(count));
    return count;
}

std::vector<uint8_t> window(WINDOW_SIZE);

void decode_entry(Entry& e, bool reference) {
    source = &e.packed;
    source_pos = 0;
    decoder_bytes_left() = int32_t(e.size);
    if (e.version > 15)
        (reference ? decompress_v20_reference : decompress_v20)(window.data(), e.solid);
    else
        (reference ? decompress_v15_reference : decompress_v15)(window.data(), e.solid);
}

// Thread CPU time: the build machine is shared, and other processes' load
// should not count against either side.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
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
            double t0 = cpu_seconds();
            for (int p = 0; p < passes; ++p)
                runs[k]();
            double s = cpu_seconds() - t0;
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

void bench_set(const char* title, std::vector<Entry> entries, bool crc = false) {
    with_crc = crc;
    if (only && !std::strstr(title, only))
        return;
    if (entries.empty()) {
        std::printf("%-34s (corpus file missing)\n", title);
        return;
    }
    uint64_t total = 0;
    uint64_t packed = 0;
    decoder_io.read_packed = bench_read;
    decoder_io.write_unpacked = bench_write;
    reset_decoder_state();
    int bad_crcs = 0;
    for (Entry& e : entries) {
        sink = &e.output;
        decode_entry(e, false);
        bad_crcs += e.has_crc && ~crc32_update(~0u, e.output.data(), e.output.size()) != e.crc;
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
    if (bad_crcs)
        std::printf("  %d CRC MISMATCH(ES)", bad_crcs);
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
        for (const Entry& e : packed_entries(file)) {
            std::string title = std::string(file) + " entry " + e.name;
            bench_set(title.c_str(), {e});
        }
    };
    std::printf("-- 2.0 method\n");
    bench_set("Rar2.rar (exe, jpg, txt)", packed_entries("Rar2.rar"));
    each_entry("Rar2.rar");
    auto v2 = packed_entries("test_v2.rar");
    if (v2.size() >= 5)
        v2 = {v2[4]};
    bench_set("test_v2.rar p5.bin", v2);
    bench_set("BoatModernEnglish regular", packed_entries("BoatModernEnglish-regular-unpack20.rar"));
    bench_set("BoatModernEnglish audio mode", packed_entries("BoatModernEnglish-audio-text-unpack20.rar"));
    const char* stereo_title = "16-bit stereo audio mode (own pack)";
    if (!only || std::strstr(stereo_title, only))  // packing it takes a moment
        bench_set(stereo_title, stereo_audio_entry());
    std::printf("-- 1.5 method\n");
    bench_set("Rar15.rar (exe, jpg, txt)", packed_entries("Rar15.rar"));
    each_entry("Rar15.rar");
    bench_set("rar14-solid.rar (3 solid entries)", packed_entries("rar14-solid.rar"));
    bench_set("r14volcm (one entry, three volumes)", joined_entry({"r14volcm.rar", "r14volcm.r00", "r14volcm.r01"}));
    if (!archives.empty())
        std::printf("-- given archives, CRC-32 of the output included (5 rounds above 64 MB)\n");
    for (const std::string& path : archives)
        bench_set(path.c_str(), packed_entries(path), true);
    return 0;
}
