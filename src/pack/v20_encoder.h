// Encoder for the 2.0 method: LZ77 over the 1 MiB window with repeated
// distances and short matches, canonical codes sent as table blocks (4-bit
// deltas against the previous block where that is shorter), and the audio
// mode for PCM sound. The encoder mirrors every piece of decoder state that
// outlives an item (recent distances, previous code lengths, tables, audio
// channels), so that the stream it writes decodes back to its input exactly,
// across the entries of a solid run too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pack/audio_model.h"
#include "pack/bit_writer.h"
#include "pack/lz_matcher.h"
#include "pack/v20_codes.h"

namespace pack {

// What the decoder carries from one item (and one solid entry) to the next.
struct CoderState {
    uint32_t recent_distances[4] = {};
    uint32_t recent_index = 0;
    uint32_t last_distance = 0;
    uint32_t last_length = 0;
    uint8_t previous_lengths[MAX_TABLE_COUNT] = {};
    int previous_count = MAX_TABLE_COUNT;  // lengths below this index are known
    bool audio_mode = false;
    int channel_count = 1;
    int current_channel = 0;
    int32_t channel_delta = 0;
    AudioChannel channels[4];
    bool tables_valid = false;  // the decoder holds tables for the current mode
    uint8_t main_lengths[MAIN_SYMBOLS] = {};
    uint8_t distance_lengths[DISTANCE_SYMBOLS] = {};
    uint8_t repeat_lengths[REPEAT_SYMBOLS] = {};
    uint8_t audio_lengths[4][AUDIO_SYMBOLS] = {};
};

struct EncoderSettings {
    int max_chain = 32;          // hash-chain candidates tried per position
    uint32_t nice_length = 128;  // a match this long is taken at once
    uint32_t lazy_limit = 64;    // matches shorter than this are checked one byte later
    bool lazy = true;
    uint32_t good_length = 32;   // a match this long cuts the rest of the search short
    bool optimal = false;        // parse each block by dynamic programming at its own code lengths
};

struct V20Encoder {
    LzMatcher lz;
    CoderState state;
    EncoderSettings settings;
    int32_t literal_cost = 8 * 16;  // estimated bits of a literal, in 1/16 bit
    // The entries continue one another (a solid set): an entry's last tables
    // then give every symbol a code, so that a small entry after it can often
    // do without a table block of its own.
    bool solid_set = false;
};

// Settings for packing levels 1 (fastest) to 5 (best).
EncoderSettings settings_for_level(int level);
void encoder_init(V20Encoder& enc, const EncoderSettings& settings);

// Which coding an entry used; incompressible: the entry was given up early
// (only when allowed) and what was passed on is of no use: store it instead.
enum class EntryCoding { normal, audio, incompressible };

// True when the audio coding can be tried on an entry of size bytes with this layout.
bool audio_applies(const WavLayout& wav, uint64_t size);
// Starts an entry: a stand-alone one (solid false) resets the mirrored
// decoder state. Call once per entry, before its coding passes.
void encoder_start_entry(V20Encoder& enc, bool solid);

// Packs one entry of size bytes (at least 1), read from input in pieces, in
// normal mode and passes the packed stream to sink. solid: the entry
// continues the previous packed entry's window and tables (the file header
// then carries flag 0x10; a solid entry needs a packed entry before it);
// otherwise the decoder starts afresh. may_give_up: a stand-alone entry whose
// first 64 KiB do not pack is abandoned (incompressible; the caller stores it).
// A short input codes as zeros from where it ended (lz.input_failed tells).
EntryCoding encode_entry_normal(V20Encoder& enc, const EntryInput& input, uint64_t size, bool solid, PackedSink& sink,
                                bool may_give_up);
// The same in audio mode (normal coding for the bytes before the samples).
// Leaves the matcher unusable: run it on a copy of the encoder and keep only
// the copy's state (and literal_cost, which the normal coding of this entry
// starts from).
void encode_entry_audio(V20Encoder& enc, const EntryInput& input, uint64_t size, bool solid, const WavLayout& wav,
                        PackedSink& sink);

// Packs one entry held in memory and appends its packed stream to out: the
// normal coding, and when wav is not null also the audio coding, keeping the
// shorter. Returns the coding that was kept.
EntryCoding encode_entry(V20Encoder& enc, const uint8_t* data, size_t size, bool solid, const WavLayout* wav,
                         std::vector<uint8_t>& out, bool may_give_up = false);

}  // namespace pack
