// Fuzz target: finding a value in setup.spt. The text is given without a
// terminator, so any read past its length is caught; the position found must
// lie inside the text. The first byte chooses between the program's own
// section and key and a section and key taken from the input.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../common/fuzz_support.h"
#include "setup/setup_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string header = "[Values]", key = "SetupFile";
    size_t at = 1;
    if (data[0] & 1) {
        // "header\nkey\n" ahead of the text.
        const char* p = reinterpret_cast<const char*>(data + 1);
        size_t left = size - 1;
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', left));
        if (!nl) return 0;
        header.assign(p, nl);
        const char* nl2 = static_cast<const char*>(std::memchr(nl + 1, '\n', left - (nl + 1 - p)));
        if (!nl2) return 0;
        key.assign(nl + 1, nl2);
        at = static_cast<size_t>(nl2 + 1 - reinterpret_cast<const char*>(data));
        header = header.c_str();  // up to an embedded zero
        key = key.c_str();
    }
    std::vector<char> text(data + at, data + size);
    size_t position = find_setup_value(text.data(), text.size(), header.c_str(), key.c_str());
    if (position > text.size()) fuzz::finding("value position past the text", std::to_string(position));
    return 0;
}
