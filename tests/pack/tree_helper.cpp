#include "pack/tree_helper.h"

#include <gtest/gtest.h>

#include <cstring>

#include "format/checksum.h"
#include "pack/decode_helper.h"
#include "platform/platform.h"

namespace pack_test {

std::string join(const std::string& a, const std::string& b) { return a + platform::path_separator() + b; }

bool write_bytes(const std::string& path, const std::string& content) {
    platform::File* f = platform::file_open(path.c_str(), platform::FileOpen::read_write_always);
    if (!f) return false;
    bool ok = platform::file_write(f, content.data(), content.size()) == content.size();
    return platform::file_close(f) && ok;
}

std::string read_bytes(const std::string& path) {
    platform::File* f = platform::file_open(path.c_str(), platform::FileOpen::read);
    if (!f) return "<missing>";
    int64_t size = platform::file_size(f);
    std::string s(static_cast<size_t>(size < 0 ? 0 : size), '\0');
    size_t got = s.empty() ? 0 : platform::file_read(f, s.data(), s.size());
    platform::file_close(f);
    s.resize(got);
    return s;
}

bool make_mixed_tree(const std::string& root) {
    auto str = [](const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); };
    bool ok = true;
    ok &= platform::make_directory(join(root, "docs").c_str()) == platform::DirResult::ok;
    ok &= platform::make_directory(join(root, "bin").c_str()) == platform::DirResult::ok;
    ok &= platform::make_directory(join(root, "empty folder").c_str()) == platform::DirResult::ok;
    ok &= platform::make_directory(join(join(root, "docs"), "deep").c_str()) == platform::DirResult::ok;
    ok &= platform::make_directory(join(join(join(root, "docs"), "deep"), "deeper").c_str()) ==
          platform::DirResult::ok;
    ok &= write_bytes(join(root, "readme.txt"), str(text_like(120000, 1)));
    ok &= write_bytes(join(join(root, "docs"), "manual.txt"), str(text_like(70000, 2)));
    ok &= write_bytes(join(join(root, "docs"), "manual copy.txt"), str(text_like(70000, 2)));
    ok &= write_bytes(join(join(join(root, "docs"), "deep"), "empty.dat"), "");
    ok &= write_bytes(join(join(join(join(root, "docs"), "deep"), "deeper"), "tiny.txt"), "x");
    ok &= write_bytes(join(join(root, "bin"), "noise.bin"), str(random_bytes(90000, 3)));
    std::vector<uint8_t> program = random_bytes(30000, 4);
    for (size_t i = 0; i < program.size(); i += 7) program[i] = 0;  // half compressible
    ok &= write_bytes(join(join(root, "bin"), "program.exe"), str(program));
    ok &= write_bytes(join(root, "\xF2\xE5\xF1\xF2.txt"), "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!\r\n");
    ok &= write_bytes(join(root, "sound.wav"), str(make_wav(2, 16, 40000, 5)));
    ok &= write_bytes(join(root, "zero.bin"), "");
    return ok;
}

namespace {

void read_into(const std::string& root, const std::string& prefix, std::map<std::string, std::string>& out) {
    platform::DirEntry e;
    platform::DirList* list = platform::dir_first(join(root, "*").c_str(), &e);
    if (!list) return;
    std::vector<std::pair<std::string, bool>> names;
    do {
        if (std::strcmp(e.name, ".") && std::strcmp(e.name, ".."))
            names.push_back({e.name, (e.attributes & platform::ATTR_DIRECTORY) != 0});
    } while (platform::dir_next(list, &e));
    platform::dir_close(list);
    for (auto& [name, folder] : names) {
        std::string rel = prefix.empty() ? name : prefix + "/" + name;
        if (folder) {
            out[rel] = "<dir>";
            read_into(join(root, name), rel, out);
        } else {
            out[rel] = read_bytes(join(root, name));
        }
    }
}

}  // namespace

std::map<std::string, std::string> read_tree(const std::string& root) {
    std::map<std::string, std::string> out;
    read_into(root, "", out);
    return out;
}

void remove_tree(const std::string& root) {
    platform::DirEntry e;
    platform::DirList* list = platform::dir_first(join(root, "*").c_str(), &e);
    std::vector<std::pair<std::string, bool>> names;
    if (list) {
        do {
            if (std::strcmp(e.name, ".") && std::strcmp(e.name, ".."))
                names.push_back({e.name, (e.attributes & platform::ATTR_DIRECTORY) != 0});
        } while (platform::dir_next(list, &e));
        platform::dir_close(list);
    }
    for (auto& [name, folder] : names) {
        std::string p = join(root, name);
        if (folder) remove_tree(p);
        else {
            // Clean-up: what cannot go stays behind in the temporary folder.
            (void)platform::set_attributes(p.c_str(), platform::ATTR_ARCHIVE);
            (void)platform::delete_file(p.c_str());
        }
    }
    (void)platform::remove_directory(root.c_str());
}

std::string fresh_folder(const std::string& tag) {
    static unsigned counter = 0;
    char temp[300];
    size_t n = platform::get_temp_path(temp, sizeof temp);
    std::string base = std::string(temp, n) + "kxpack_" + tag + "_" + std::to_string(++counter);
    remove_tree(base);
    EXPECT_EQ(platform::make_directory(base.c_str()), platform::DirResult::ok) << base;
    return base;
}

namespace {
uint32_t le(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
    return v;
}
uint16_t crc16_of(const std::string& s, size_t from, size_t to) {
    uint32_t c = crc32_update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(s.data()) + from, to - from);
    return static_cast<uint16_t>(~c & 0xFFFF);
}
}  // namespace

WalkedVolume walk_volume(const std::string& bytes) {
    build_crc32_table();
    WalkedVolume v;
    v.size = bytes.size();
    EXPECT_GE(bytes.size(), 20u);
    if (bytes.size() < 20) return v;
    EXPECT_EQ(bytes.substr(0, 7), std::string("Rar!\x1A\x07\x00", 7));
    EXPECT_EQ(le(bytes, 7, 2), crc16_of(bytes, 9, 20)) << "main header CRC";
    EXPECT_EQ(static_cast<uint8_t>(bytes[9]), 0x73);
    v.main_flags = static_cast<uint16_t>(le(bytes, 10, 2));
    EXPECT_EQ(v.main_flags & ~0x09, 0) << "only the volume and solid flags";
    EXPECT_EQ(le(bytes, 12, 2), 13u);
    EXPECT_EQ(le(bytes, 14, 2), 0u);
    EXPECT_EQ(le(bytes, 16, 4), 0u);
    size_t pos = 20;
    while (pos < bytes.size()) {
        EXPECT_LE(pos + 32, bytes.size()) << "header cut short";
        if (pos + 32 > bytes.size()) break;
        WalkedEntry e;
        uint32_t header_size = le(bytes, pos + 5, 2);
        uint32_t name_size = le(bytes, pos + 26, 2);
        EXPECT_EQ(static_cast<uint8_t>(bytes[pos + 2]), 0x74);
        EXPECT_EQ(header_size, 32 + name_size);
        EXPECT_LE(pos + header_size, bytes.size());
        if (pos + header_size > bytes.size()) break;
        EXPECT_EQ(le(bytes, pos, 2), crc16_of(bytes, pos + 2, pos + header_size)) << "file header CRC";
        e.flags = static_cast<uint16_t>(le(bytes, pos + 3, 2));
        e.packed = le(bytes, pos + 7, 4);
        e.unpacked = le(bytes, pos + 11, 4);
        e.host = static_cast<uint8_t>(bytes[pos + 15]);
        e.crc = le(bytes, pos + 16, 4);
        e.version = static_cast<uint8_t>(bytes[pos + 24]);
        e.method = static_cast<uint8_t>(bytes[pos + 25]);
        e.attributes = le(bytes, pos + 28, 4);
        e.name = bytes.substr(pos + 32, name_size);
        EXPECT_TRUE(e.flags & 0x8000);
        EXPECT_EQ(e.host, 2);
        EXPECT_EQ(e.version, 20);
        EXPECT_TRUE(e.method >= '0' && e.method <= '5');
        EXPECT_EQ(e.name.find('/'), std::string::npos);
        EXPECT_EQ(e.name.find('\0'), std::string::npos);
        EXPECT_NE(le(bytes, pos + 20, 4), 0u) << "a DOS time is set";
        if ((e.flags & 0xE0) == 0xE0) {
            EXPECT_EQ(e.attributes, 0x10u);
            EXPECT_EQ(e.packed, 0u);
            EXPECT_EQ(e.unpacked, 0u);
            EXPECT_EQ(e.method, '0');
        } else {
            EXPECT_EQ(e.attributes & 0x10, 0u);
            EXPECT_EQ(e.flags & 0xE0, 0x80) << "1 MiB dictionary";
            if (e.method == '0' && !(e.flags & 0x03)) {
                EXPECT_EQ(e.packed, e.unpacked);
            }
        }
        EXPECT_LE(pos + header_size + e.packed, bytes.size());
        e.data = bytes.substr(pos + header_size, e.packed);
        v.entries.push_back(e);
        pos += header_size + e.packed;
    }
    return v;
}

}  // namespace pack_test
