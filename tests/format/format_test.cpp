// The format rules reader and writer share: the volume-naming rule, the
// bundle directory (written here, walked by the bundle reader), and the
// header layout (written by the archive writer, read back by the reader).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "archive/archive_state.h"
#include "archive/headers.h"
#include "bundle/bundle.h"
#include "format/bundle_directory.h"
#include "format/volume_name.h"
#include "pack/archive_writer.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace {

TEST(VolumeNames, Sequence) {
    const std::pair<const char*, const char*> cases[] = {
        {"setup.exe", "setup.r00"},   {"setup.rar", "setup.r00"}, {"data.EXE", "data.r00"},
        {"setup.r09", "setup.r10"},   {"setup.r99", "setup.s00"}, {"setup", "setup.r00"},
        {"setup.", "setup.r00"},      {"x.999", "x.A00"},         {"x.r", "x.r00"},
        // A dot in a folder name starts no extension.
        {"dir.d/setup", "dir.d/setup.r00"}, {"C:\\x.d\\setup.exe", "C:\\x.d\\setup.r00"},
        {"a.b/setup.r05", "a.b/setup.r06"},
    };
    for (const auto& [name, next] : cases) {
        char buffer[platform::MAX_PATH_CHARS + 1];
        std::strcpy(buffer, name);
        EXPECT_TRUE(next_volume_name(buffer)) << name;
        EXPECT_EQ(std::string(buffer), next) << name;
    }
    char full[platform::MAX_PATH_CHARS + 1];
    std::memset(full, 'n', 257);
    full[257] = '\0';
    EXPECT_FALSE(next_volume_name(full));  // ".rar" would not fit
}

bool collect(const BundleMember& m, void* context) {
    char line[300];
    std::snprintf(line, sizeof line, "%s@%llu+%llu;", m.name, static_cast<unsigned long long>(m.offset),
                  static_cast<unsigned long long>(m.length));
    static_cast<std::string*>(context)->append(line);
    return true;
}

TEST(BundleDirectory, WhatIsEncodedWalksBackAndBadDirectoriesAreRefused) {
    scratch::Folder folder{"format-bundle"};
    const uint32_t offsets[] = {4, 10};
    const char* names[] = {"a.rar", "sub/b.txt"};
    uint8_t directory[64];
    const size_t size = encode_bundle_directory(offsets, names, 2, directory, sizeof directory);
    ASSERT_EQ(size, bundle_directory_bytes(names, 2));
    scratch::write_file("b.exe", "HEAD" + scratch::pattern(16, 1) + std::string(reinterpret_cast<char*>(directory), size));
    platform::File* f = platform::file_open("b.exe", platform::FileOpen::read);
    ASSERT_NE(f, nullptr);
    std::string walked;
    EXPECT_TRUE(walk_bundle_directory(f, collect, &walked));
    platform::file_close(f);
    EXPECT_EQ(walked, "a.rar@4+6;sub/b.txt@10+10;");

    const std::string long_name(BUNDLE_MAX_NAME + 1, 'x');
    const char* bad_name[] = {long_name.c_str()};
    const char* empty_name[] = {""};
    uint32_t many_offsets[BUNDLE_MAX_MEMBERS + 1] = {};
    const char* many_names[BUNDLE_MAX_MEMBERS + 1];
    for (const char*& n : many_names) n = "m";
    uint8_t big[MAX_BUNDLE_DIRECTORY];
    EXPECT_EQ(encode_bundle_directory(offsets, bad_name, 1, big, sizeof big), 0u);
    EXPECT_EQ(encode_bundle_directory(offsets, empty_name, 1, big, sizeof big), 0u);
    EXPECT_EQ(encode_bundle_directory(many_offsets, many_names, BUNDLE_MAX_MEMBERS + 1, big, sizeof big), 0u);
    EXPECT_EQ(encode_bundle_directory(offsets, names, 0, big, sizeof big), 0u);
    EXPECT_EQ(encode_bundle_directory(offsets, names, 2, directory, size - 1), 0u);
}

// Every field the writer stores comes back through the reader's header loader.
TEST(HeaderLayout, WhatTheWriterStoresTheReaderReads) {
    scratch::Folder folder{"format-headers"};
    pack::ArchiveWriter writer;
    ASSERT_EQ(pack::writer_open(writer, "h.rar", nullptr, {1, true, 0}), pack::WriteResult::ok);
    ASSERT_EQ(pack::writer_add_folder(writer, "dir", 0x12345678), pack::WriteResult::ok);
    const std::string data = scratch::pattern(300, 7);
    ASSERT_EQ(pack::writer_add_file(writer, "dir\\f.bin", reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                    0x2468ACE0, platform::ATTR_ARCHIVE, false),
              pack::WriteResult::ok);
    ASSERT_EQ(pack::writer_close(writer), pack::WriteResult::ok);

    reset_archive_state();
    ArchiveState& a = archive_state;
    a.archive_file = platform::file_open("h.rar", platform::FileOpen::read);
    ASSERT_NE(a.archive_file, nullptr);
    ASSERT_EQ(identify_archive(), 1);
    EXPECT_EQ(a.format, FORMAT_BLOCK);
    EXPECT_TRUE(a.is_solid);
    EXPECT_EQ(a.main_header.header_size, MAIN_HEADER_BYTES);

    ASSERT_EQ(fetch_block(BLOCK_FILE, false), FILE_HEADER_BYTES + 3);
    EXPECT_STREQ(a.file_name, "dir");
    EXPECT_EQ(a.file_header.flags & FILE_DICTIONARY_BITS, FILE_DIRECTORY);
    EXPECT_EQ(a.file_header.file_time, 0x12345678u);
    EXPECT_EQ(a.file_header.host_os, HOST_WINDOWS);
    ASSERT_TRUE(platform::file_seek(a.archive_file, a.next_block, platform::SeekFrom::start));

    ASSERT_EQ(fetch_block(BLOCK_FILE, false), FILE_HEADER_BYTES + 9);
    const FileHeader& h = a.file_header;
    EXPECT_EQ(std::string(a.file_name), std::string("dir") + platform::path_separator() + "f.bin");
    EXPECT_EQ(h.header_size, FILE_HEADER_BYTES + 9);
    EXPECT_EQ(h.unpacked_size, data.size());
    EXPECT_GE(h.method, '0');
    EXPECT_LE(h.method, '5');
    EXPECT_EQ(h.file_time, 0x2468ACE0u);
    EXPECT_EQ(h.attributes, platform::ATTR_ARCHIVE);
    EXPECT_NE(h.flags & FILE_LONG_BLOCK, 0);
    EXPECT_EQ(h.flags & (FILE_CONTINUED_FROM_PREVIOUS | FILE_CONTINUES_IN_NEXT), 0);
    EXPECT_EQ(a.next_block, platform::file_size(a.archive_file));  // the packed size is where the reader looks
    platform::file_close(a.archive_file);
    reset_archive_state();
}

}  // namespace
