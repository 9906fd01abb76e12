// The decoder core shared by both methods: the process-wide state, the
// packed-input fills, the window flush and the per-entry reset.
#include <cstring>
#include <type_traits>

#include "unpack/decoder_state.h"

DecoderIo decoder_io;
DecoderState decoder_state;

static_assert(std::is_trivially_copyable_v<DecoderState>, "the state is cleared with memset");

int64_t& decoder_bytes_left() { return decoder_state.bytes_left; }

void reset_decoder_state() {
    std::memset(&decoder_state, 0, sizeof decoder_state);
}

namespace {

// Reads until count bytes have come or the source delivers nothing, so that
// a short result means the packed data is used up.
int32_t read_full(uint8_t* buffer, int32_t count) {
    int32_t total = 0;
    while (total < count) {
        int32_t n = decoder_io.read_packed(buffer + total, count - total);
        if (n <= 0)
            break;
        total += n;
    }
    return total;
}

}  // namespace

void end_entry_early() {
    DecoderState& s = decoder_state;
    end_window_count();
    s.bytes_left = -1;
    s.entry_left = -1;
}

void fill_input(int first) {
    DecoderState& s = decoder_state;
    BitInput& in = s.input;
    int32_t n;
    if (first) {
        n = read_full(in.in_buffer, IN_BUFFER_SIZE);
        in.in_end = n;
        in.in_pos = 0;
        in.end_bit = n < IN_BUFFER_SIZE ? uint32_t(n) * 8 : NO_DATA_END;
    } else {
        std::memmove(in.in_buffer, in.in_buffer + IN_REFILL_AT, IN_KEEP);
        in.in_pos -= IN_REFILL_AT;
        if (in.end_bit != NO_DATA_END) {
            n = 0;
            constexpr uint32_t moved = uint32_t(IN_REFILL_AT) * 8;
            in.end_bit = in.end_bit > moved ? in.end_bit - moved : 0;
        } else {
            n = read_full(in.in_buffer + IN_KEEP, IN_REFILL_AT);
            if (n < IN_REFILL_AT)
                in.end_bit = uint32_t(IN_KEEP + n) * 8;
        }
        in.in_end = n > 0 ? n + IN_KEEP : in.in_pos;
    }
    constexpr uint32_t refill_bit = uint32_t(MAIN_REFILL_LIMIT + 1) * 8;
    in.frame_bit = in.end_bit < refill_bit ? in.end_bit : refill_bit;
    if (n <= 0 && ++s.empty_fills >= 2)
        end_entry_early();
}

void flush_window() {
    DecoderState& s = decoder_state;
    if (s.out_pos < s.flushed_pos) {
        decoder_io.write_unpacked(s.window + s.flushed_pos, int32_t(WINDOW_SIZE - s.flushed_pos));
        decoder_io.write_unpacked(s.window, int32_t(s.out_pos));
    } else {
        decoder_io.write_unpacked(s.window + s.flushed_pos, int32_t(s.out_pos - s.flushed_pos));
    }
    s.flushed_pos = s.out_pos;
}

void flush_entry_end() {
    DecoderState& s = decoder_state;
    int64_t over = int64_t(-1) - s.bytes_left;
    if (over <= 0) {
        flush_window();
        return;
    }
    uint32_t end = s.out_pos;
    uint32_t pending = (end - s.flushed_pos) & WINDOW_MASK;
    uint32_t hold = over > int64_t(pending) ? pending : uint32_t(over);
    s.out_pos = (end - hold) & WINDOW_MASK;
    flush_window();
    s.out_pos = end;
    s.flushed_pos = end;
}

void reset_decoder(int solid) {
    DecoderState& s = decoder_state;
    s.input.in_bit = 0;
    s.input.in_pos = 0;
    s.empty_fills = 0;
    if (solid)
        return;
    V20State& v = s.v20;
    v.current_channel = 0;
    v.channel_delta = 0;
    std::memset(v.channels, 0, sizeof v.channels);
    std::memset(s.recent_distances, 0, sizeof s.recent_distances);
    s.recent_index = 0;
    s.last_length = 0;
    s.last_distance = 0;
    s.fill_base = 0;
    s.entry_left = s.bytes_left;
    std::memset(v.previous_lengths, 0, sizeof v.previous_lengths);
    s.flushed_pos = 0;
    s.out_pos = 0;
}
