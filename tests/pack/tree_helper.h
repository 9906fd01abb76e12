// Test-side helpers for whole-archive tests: a generated mixed tree written
// through the platform calls, a comparison of two trees, and an independent
// walker over the headers of written volumes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pack_test {

// Writes a mixed tree below root (which must exist): text, binary, empty
// files, an empty folder, nested folders, a Cyrillic name (cp1251 bytes),
// a PCM sound file. Returns false when something could not be written.
bool make_mixed_tree(const std::string& root);

// Relative name (with '/' separators) -> content; folders map to "<dir>".
std::map<std::string, std::string> read_tree(const std::string& root);

bool write_bytes(const std::string& path, const std::string& content);
std::string read_bytes(const std::string& path);
std::string join(const std::string& a, const std::string& b);
std::string fresh_folder(const std::string& tag);
void remove_tree(const std::string& root);

struct WalkedEntry {
    std::string name;
    uint16_t flags = 0;
    uint32_t packed = 0, unpacked = 0, crc = 0, attributes = 0;
    uint8_t host = 0, version = 0, method = 0;
    std::string data;  // the entry's packed bytes in this volume
};
struct WalkedVolume {
    uint16_t main_flags = 0;
    std::vector<WalkedEntry> entries;
    size_t size = 0;
};
// Walks one volume checking every field a reader relies on; failures are
// reported through gtest. bytes is the whole volume file.
WalkedVolume walk_volume(const std::string& bytes);

}  // namespace pack_test
