#include "pack/decode_helper.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "unpack/decoder.h"

namespace pack_test {

namespace {

const std::vector<uint8_t>* g_input = nullptr;
size_t g_read = 0;
std::vector<uint8_t>* g_output = nullptr;
std::unique_ptr<uint8_t[]> g_window;

int32_t read_packed(uint8_t* buffer, int32_t count) {
    size_t n = std::min<size_t>(static_cast<size_t>(count), g_input->size() - g_read);
    std::memcpy(buffer, g_input->data() + g_read, n);
    g_read += n;
    return static_cast<int32_t>(n);
}

int32_t write_unpacked(const uint8_t* buffer, int32_t count) {
    g_output->insert(g_output->end(), buffer, buffer + count);
    return count;
}

}  // namespace

void decode_reset() {
    g_window.reset();
    reset_decoder_state();
}

std::vector<uint8_t> decode_v20(const std::vector<uint8_t>& packed, size_t size, bool solid) {
    if (!g_window) {
        g_window.reset(new uint8_t[WINDOW_SIZE]);
        std::memset(g_window.get(), 0, WINDOW_SIZE);
    }
    std::vector<uint8_t> out;
    g_input = &packed;
    g_read = 0;
    g_output = &out;
    decoder_io.read_packed = read_packed;
    decoder_io.write_unpacked = write_unpacked;
    decoder_bytes_left() = static_cast<int32_t>(size);
    decompress_v20(g_window.get(), solid ? 0x10 : 0);
    return out;
}

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> v(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return v;
}

std::vector<uint8_t> text_like(size_t size, uint32_t seed) {
    static const char* words[] = {"the ", "installer ", "archive ", "window ", "folder ", "setup ", "of ",
                                  "and ", "volume ", "entry ", "\r\n", "packed ", "data ", "0123 ", "to "};
    std::vector<uint8_t> v;
    v.reserve(size);
    uint32_t x = seed | 1;
    while (v.size() < size) {
        x = x * 1103515245u + 12345u;
        const char* w = words[(x >> 16) % 15];
        while (*w && v.size() < size) v.push_back(static_cast<uint8_t>(*w++));
    }
    return v;
}

std::vector<uint8_t> make_wav(int channels, int bits, size_t frames, uint32_t seed) {
    int bytes = bits / 8;
    uint32_t data_size = static_cast<uint32_t>(frames * channels * bytes);
    std::vector<uint8_t> v(44 + data_size);
    auto p32 = [&](size_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
    };
    auto p16 = [&](size_t at, uint32_t x) {
        v[at] = static_cast<uint8_t>(x);
        v[at + 1] = static_cast<uint8_t>(x >> 8);
    };
    std::memcpy(&v[0], "RIFF", 4);
    p32(4, 36 + data_size);
    std::memcpy(&v[8], "WAVEfmt ", 8);
    p32(16, 16);
    p16(20, 1);
    p16(22, static_cast<uint32_t>(channels));
    p32(24, 22050);
    p32(28, static_cast<uint32_t>(22050 * channels * bytes));
    p16(32, static_cast<uint32_t>(channels * bytes));
    p16(34, static_cast<uint32_t>(bits));
    std::memcpy(&v[36], "data", 4);
    p32(40, data_size);
    uint32_t x = seed | 1;
    size_t at = 44;
    for (size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            x = x * 1103515245u + 12345u;
            double t = static_cast<double>(f) / 22050.0;
            double s = 0.6 * std::sin(2 * 3.14159265 * (220.0 + 110 * c) * t) + 0.25 * std::sin(2 * 3.14159265 * 1375.0 * t) +
                       0.02 * ((static_cast<int>(x >> 16) & 255) - 128) / 128.0;
            if (bits == 8) {
                v[at++] = static_cast<uint8_t>(128 + static_cast<int>(s * 100));
            } else {
                int16_t q = static_cast<int16_t>(s * 20000);
                v[at++] = static_cast<uint8_t>(q);
                v[at++] = static_cast<uint8_t>(static_cast<uint16_t>(q) >> 8);
            }
        }
    }
    return v;
}

}  // namespace pack_test
