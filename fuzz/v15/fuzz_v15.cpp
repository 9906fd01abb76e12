// Fuzz target: the 1.5 method (with solid continuation) from memory through
// the decoder callbacks, fast path against reference path.
#include "../common/decoder_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::compare_paths(decompress_v15, decompress_v15_reference, data, size, false);
    return 0;
}
