// The 2.0 method's audio mode: the adaptive linear predictor of one channel.
#pragma once

#include <cstdint>

// Turns one audio code of the current channel into an output byte and adapts
// that channel's predictor. Uses decoder_state.v20.
uint8_t predict_audio_byte(uint32_t code);
