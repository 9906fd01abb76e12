// Audio predictor and PCM recognition.
#include "pack/audio_model.h"

#include <cstdlib>
#include <cstring>

namespace pack {

uint8_t audio_encode_byte(AudioChannel& ch, int32_t& channel_delta, uint8_t byte) {
    ch.byte_count += 1;
    int32_t* d = ch.deltas;
    d[3] = d[2];
    d[2] = d[1];
    d[1] = ch.last_delta - d[0];
    d[0] = ch.last_delta;
    const int32_t* w = ch.weights;
    int32_t sum = 8 * ch.last_byte + w[0] * d[0] + w[1] * d[1] + w[2] * d[2] + w[3] * d[3] + w[4] * channel_delta;
    uint32_t predicted = static_cast<uint32_t>(sum >> 3) & 0xFF;
    uint8_t code = static_cast<uint8_t>((predicted - byte) & 0xFF);

    int32_t e = static_cast<int32_t>(static_cast<int8_t>(code)) * 8;
    uint32_t* err = ch.errors;
    err[0] += static_cast<uint32_t>(std::abs(e));
    err[1] += static_cast<uint32_t>(std::abs(e - d[0]));
    err[2] += static_cast<uint32_t>(std::abs(e + d[0]));
    err[3] += static_cast<uint32_t>(std::abs(e - d[1]));
    err[4] += static_cast<uint32_t>(std::abs(e + d[1]));
    err[5] += static_cast<uint32_t>(std::abs(e - d[2]));
    err[6] += static_cast<uint32_t>(std::abs(e + d[2]));
    err[7] += static_cast<uint32_t>(std::abs(e - d[3]));
    err[8] += static_cast<uint32_t>(std::abs(e + d[3]));
    err[9] += static_cast<uint32_t>(std::abs(e - channel_delta));
    err[10] += static_cast<uint32_t>(std::abs(e + channel_delta));

    ch.last_delta = static_cast<int8_t>(static_cast<uint8_t>(byte - ch.last_byte));
    channel_delta = ch.last_delta;
    ch.last_byte = byte;

    if ((ch.byte_count & 0x1F) == 0) {
        uint32_t lowest = err[0];
        int index = 0;
        for (int i = 1; i < 11; ++i) {
            if (err[i] < lowest) {
                lowest = err[i];
                index = i;
            }
        }
        std::memset(ch.errors, 0, sizeof(ch.errors));
        if (index != 0) {
            int32_t& weight = ch.weights[(index - 1) / 2];
            if (index & 1) {
                if (weight >= -16) --weight;
            } else {
                if (weight < 16) ++weight;
            }
        }
    }
    return code;
}

namespace {

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

bool detect_wav(const uint8_t* data, size_t size, WavLayout* layout) {
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) return false;
    size_t pos = 12;
    int frame = 0;
    bool have_format = false;
    while (pos + 8 <= size) {
        uint32_t chunk_size = le32(data + pos + 4);
        const uint8_t* body = data + pos + 8;
        size_t available = size - (pos + 8);
        if (std::memcmp(data + pos, "fmt ", 4) == 0) {
            if (chunk_size < 16 || available < 16) return false;
            uint16_t format = le16(body);
            uint16_t channels = le16(body + 2);
            uint16_t block_align = le16(body + 12);
            uint16_t bits = le16(body + 14);
            if (format != 1 || (bits != 8 && bits != 16) || channels == 0) return false;
            if (block_align != channels * (bits / 8) || block_align > 4) return false;
            frame = block_align;
            have_format = true;
        } else if (std::memcmp(data + pos, "data", 4) == 0) {
            if (!have_format) return false;
            layout->data_offset = pos + 8;
            layout->data_size = chunk_size < available ? chunk_size : available;
            layout->channels = frame;
            return layout->data_size > 0;
        }
        size_t step = 8 + static_cast<size_t>(chunk_size) + (chunk_size & 1);
        if (step > size - pos) return false;
        pos += step;
    }
    return false;
}

}  // namespace pack
