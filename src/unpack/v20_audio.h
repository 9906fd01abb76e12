// The 2.0 method's audio mode: the adaptive linear predictor of one channel.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "unpack/decoder_state.h"

// Turns one audio code of the current channel into an output byte and adapts
// that channel's predictor. Uses decoder_state.v20. Each channel predicts its
// next byte from its last byte and delta history with five weights, and every
// 32 bytes moves one weight in the direction the eleven trial error sums favour.
// The predictor itself on one channel's state and the delta shared by the
// channels (the decoding loop passes copies held in locals).
[[gnu::always_inline]] inline uint8_t predict_channel_byte(AudioChannel& ch, int32_t& channel_delta, uint32_t code) {
    int32_t* w = ch.weights;
    int32_t* d = ch.deltas;

    ch.byte_count += 1;
    d[3] = d[2];
    d[2] = d[1];
    d[1] = ch.last_delta - d[0];
    d[0] = ch.last_delta;

    int32_t sum = 8 * ch.last_byte + w[0] * d[0] + w[1] * d[1] + w[2] * d[2] + w[3] * d[3] +
                  w[4] * channel_delta;
    uint32_t predicted = uint32_t(sum >> 3) & 0xFF;
    uint8_t byte = uint8_t((predicted - code) & 0xFF);

    int32_t e = int32_t(int8_t(uint8_t(code))) * 8;
    int32_t cd = channel_delta;
    uint32_t* err = ch.errors;
    err[0] += uint32_t(std::abs(e));
    err[1] += uint32_t(std::abs(e - d[0]));
    err[2] += uint32_t(std::abs(e + d[0]));
    err[3] += uint32_t(std::abs(e - d[1]));
    err[4] += uint32_t(std::abs(e + d[1]));
    err[5] += uint32_t(std::abs(e - d[2]));
    err[6] += uint32_t(std::abs(e + d[2]));
    err[7] += uint32_t(std::abs(e - d[3]));
    err[8] += uint32_t(std::abs(e + d[3]));
    err[9] += uint32_t(std::abs(e - cd));
    err[10] += uint32_t(std::abs(e + cd));

    ch.last_delta = int32_t(int8_t(uint8_t(byte - ch.last_byte)));
    channel_delta = ch.last_delta;
    ch.last_byte = byte;

    if ((ch.byte_count & 31) == 0) {
        uint32_t best = 0;
        for (uint32_t i = 1; i < 11; ++i)
            if (err[i] < err[best])
                best = i;
        for (uint32_t i = 0; i < 11; ++i)
            err[i] = 0;
        if (best != 0) {
            // Odd indexes lower weight (best-1)/2, even ones raise it.
            int32_t& weight = w[(best - 1) / 2];
            if (best & 1) {
                if (weight >= -16)
                    --weight;
            } else if (weight < 16) {
                ++weight;
            }
        }
    }
    return byte;
}

inline uint8_t predict_audio_byte(uint32_t code) {
    V20State& v = decoder_state.v20;
    return predict_channel_byte(v.channels[v.current_channel & 3], v.channel_delta, code);
}

// ------------------------------------------------- the fast decoder's windows

// The fast decoder does not keep the eleven error sums byte by byte: it
// records, for each byte of a channel's current 32-byte window, its code
// (whose error term e is the code as a signed byte, times 8), the channel
// delta, and the channel's last delta after the byte, and sums the record
// when the window closes; d1..d4 are differences of recorded last deltas.
// The sums run in 16-bit lanes: |e| <= 1024 and every delta value stays
// within 1023, so each term is below 2048 and 32 of them below 65536.
// (Deltas are byte differences, within -128..127, and d2..d4 differences of
// two of them; a state whose values leave AUDIO_RECORD_VALUE_MAX is left to
// predict_channel_byte.)
inline constexpr uint32_t AUDIO_WINDOW = 32;
inline constexpr int32_t AUDIO_RECORD_VALUE_MAX = 255;

struct AudioWindowRecord {
    int16_t codes[AUDIO_WINDOW];  // in the low eight bits; the high ones do not count
    int16_t channel_delta[AUDIO_WINDOW];
    // The channel's last delta after byte p - 5 of the window, so that byte
    // p's d1 is last_deltas[p + 4], d2 last_deltas[p + 4] - last_deltas[p + 3],
    // and so on to d4; the first five entries carry the previous window's end.
    int16_t last_deltas[AUDIO_WINDOW + 5];
};

// Adds the eleven trial sums of bytes lo..hi-1 of the record to sums, in the
// order of AudioChannel::errors.
void add_window_sums(const AudioWindowRecord& r, uint32_t lo, uint32_t hi, uint32_t* sums);
