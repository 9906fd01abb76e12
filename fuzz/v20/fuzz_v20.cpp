// Fuzz target: the 2.0 method (with audio mode and solid continuation) from
// memory through the decoder callbacks, fast path against reference path.
#include "../common/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::compare_paths(decompress_v20, decompress_v20_reference, data, size, true);
    return 0;
}
