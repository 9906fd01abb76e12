// The multimedia (audio) coding of the 2.0 method from the encoder's side:
// the decoder's adaptive predictor, replayed on the known bytes so that each
// byte's code can be computed, and the recognition of PCM sound files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pack {

struct AudioChannel {
    int32_t weights[5] = {};
    int32_t deltas[4] = {};  // d1..d4
    int32_t last_delta = 0;
    uint32_t errors[11] = {};
    uint32_t byte_count = 0;
    int32_t last_byte = 0;
};

// Returns the code that makes the decoder's predictor for channel ch produce
// byte, and moves ch and channel_delta on exactly as the decoder does.
uint8_t audio_encode_byte(AudioChannel& ch, int32_t& channel_delta, uint8_t byte);

// Where the samples of a PCM sound file are and how its bytes interleave.
struct WavLayout {
    size_t data_offset = 0;  // first sample byte
    size_t data_size = 0;    // sample bytes (clipped to the file)
    int channels = 0;        // byte channels for the coder: the frame size, 1..4
};

// Recognises a RIFF/WAVE file holding 8- or 16-bit PCM whose frame (all
// channels of one sample) is 1 to 4 bytes; false for anything else.
bool detect_wav(const uint8_t* data, size_t size, WavLayout* layout);

}  // namespace pack
