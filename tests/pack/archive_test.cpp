// Whole archives: a mixed tree packed stored, normal, solid and as volume
// sets; every header checked by an independent walker, then the archive
// extracted by the project's reader and compared with the tree.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "archive/driver.h"
#include "format/checksum.h"
#include "format/volume_name.h"
#include "pack/archive_writer.h"
#include "pack/decode_helper.h"
#include "pack/pack_folder.h"
#include "pack/tree_helper.h"
#include "support/extracted_name.h"

using namespace pack;
using namespace pack_test;

namespace {

struct Packed {
    std::vector<std::string> volumes;  // paths, in order
    ArchiveWriter writer;
};

void pack_tree_into(const std::string& tree, const std::string& first, const WriterOptions& options, Packed& out) {
    std::vector<TreeEntry> entries;
    std::string error;
    ASSERT_TRUE(list_tree(tree.c_str(), options.solid, nullptr, entries, error)) << error;
    ASSERT_EQ(writer_open(out.writer, first.c_str(), nullptr, options), WriteResult::ok);
    ASSERT_EQ(pack_tree(out.writer, entries, nullptr, nullptr, error), WriteResult::ok) << error;
    ASSERT_EQ(writer_close(out.writer), WriteResult::ok);
    char name[260];
    std::strcpy(name, first.c_str());
    for (int i = 0; i < out.writer.volume_count; ++i) {
        out.volumes.push_back(name);
        ASSERT_TRUE(next_volume_name(name));
    }
}

// Checks the volume chain's structure: sizes, continuation flags, part CRCs.
void check_volumes(const Packed& p, const WriterOptions& options) {
    std::vector<WalkedVolume> walked;
    for (const std::string& v : p.volumes) walked.push_back(walk_volume(read_bytes(v)));
    for (size_t i = 0; i < walked.size(); ++i) {
        const WalkedVolume& v = walked[i];
        EXPECT_EQ((v.main_flags & 0x08) != 0, options.solid && options.level > 0);
        EXPECT_EQ((v.main_flags & 0x01) != 0, options.volume_size != 0);
        if (options.volume_size) {
            EXPECT_LE(v.size, options.volume_size) << "volume " << i;
        }
        ASSERT_FALSE(v.entries.empty());
        if (i + 1 < walked.size()) {
            const WalkedEntry& last = v.entries.back();
            EXPECT_TRUE(last.flags & 0x02) << "a non-last volume ends inside an entry";
            build_crc32_table();
            uint32_t part_crc =
                ~crc32_update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(last.data.data()), last.data.size());
            EXPECT_EQ(last.crc, part_crc) << "a non-last part stores the CRC of its packed bytes";
            const WalkedEntry& next = walked[i + 1].entries.front();
            EXPECT_TRUE(next.flags & 0x01);
            EXPECT_EQ(next.name, last.name);
            EXPECT_EQ(next.unpacked, last.unpacked);
        }
        for (size_t k = 0; k + 1 < v.entries.size(); ++k) EXPECT_FALSE(v.entries[k].flags & 0x02);
        for (size_t k = 1; k < v.entries.size(); ++k) EXPECT_FALSE(v.entries[k].flags & 0x01);
    }
    // Solid flags: on every packed entry after the first packed one, and only there.
    bool seen_packed = false;
    for (const WalkedVolume& v : walked) {
        for (const WalkedEntry& e : v.entries) {
            if (e.flags & 0x01) continue;
            bool packed = e.method != '0';
            EXPECT_EQ((e.flags & 0x10) != 0, options.solid && packed && seen_packed) << e.name;
            seen_packed = seen_packed || packed;
        }
    }
}

void round_trip(const WriterOptions& options, const std::string& tag) {
    std::string base = fresh_folder(tag);
    std::string tree = join(base, "tree");
    std::string out = join(base, "out");
    ASSERT_EQ(platform::make_directory(tree.c_str()), platform::DirResult::ok);
    ASSERT_EQ(platform::make_directory(out.c_str()), platform::DirResult::ok);
    ASSERT_TRUE(make_mixed_tree(tree));
    Packed p;
    pack_tree_into(tree, join(base, "set.rar"), options, p);
    if (options.volume_size) {
        EXPECT_GE(p.volumes.size(), 3u);
    } else {
        EXPECT_EQ(p.volumes.size(), 1u);
    }
    check_volumes(p, options);
    EXPECT_EQ(extract_archive(p.volumes[0].c_str(), out.c_str()), SUCCESS);
    auto want = read_tree(tree), got = read_tree(out);
    EXPECT_EQ(want.size(), got.size());
    for (const auto& [name, content] : want) {
        auto it = got.find(extracted_name(name));
        ASSERT_NE(it, got.end()) << "missing " << name;
        EXPECT_TRUE(it->second == content) << "differs: " << name;
    }
    remove_tree(base);
}

}  // namespace

TEST(ArchiveRoundTrip, Stored) { round_trip({0, false, 0}, "stored"); }
TEST(ArchiveRoundTrip, Normal) { round_trip({3, false, 0}, "normal"); }
TEST(ArchiveRoundTrip, SolidBest) { round_trip({5, true, 0}, "solid"); }
TEST(ArchiveRoundTrip, Volumes) { round_trip({3, false, 40000}, "volumes"); }
TEST(ArchiveRoundTrip, SolidVolumes) { round_trip({2, true, 30000}, "solidvol"); }
TEST(ArchiveRoundTrip, StoredVolumesSmall) { round_trip({0, false, 4096}, "storedvol"); }

TEST(ArchiveWriter, PacksTextSmallerThanStoredAndKeepsNames) {
    std::string base = fresh_folder("names");
    std::string tree = join(base, "tree");
    ASSERT_EQ(platform::make_directory(tree.c_str()), platform::DirResult::ok);
    ASSERT_TRUE(make_mixed_tree(tree));
    Packed stored, packed;
    pack_tree_into(tree, join(base, "a.rar"), {0, false, 0}, stored);
    pack_tree_into(tree, join(base, "b.rar"), {3, false, 0}, packed);
    EXPECT_LT(packed.writer.bytes_out * 5, stored.writer.bytes_out * 3);
    EXPECT_EQ(packed.writer.audio_entries, 1u);
    WalkedVolume v = walk_volume(read_bytes(packed.volumes[0]));
    std::vector<std::string> names;
    for (const auto& e : v.entries) names.push_back(e.name);
    // Folders first, backslash separators, the Cyrillic name's bytes unchanged.
    EXPECT_EQ(names[0], "bin");
    EXPECT_NE(std::find(names.begin(), names.end(), "docs\\deep\\deeper\\tiny.txt"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "\xF2\xE5\xF1\xF2.txt"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "empty folder"), names.end());
    for (const auto& e : v.entries) {
        if (e.name == "bin\\noise.bin") {
            EXPECT_EQ(e.method, '0') << "incompressible data is stored";
        } else if (e.name == "readme.txt") {
            EXPECT_EQ(e.method, '3');
        } else if (e.name == "zero.bin") {
            EXPECT_EQ(e.packed, 0u);
        }
    }
    remove_tree(base);
}

TEST(ArchiveWriter, RejectsBadArguments) {
    std::string base = fresh_folder("bad");
    ArchiveWriter w;
    EXPECT_EQ(writer_open(w, join(base, "x.rar").c_str(), nullptr, {3, false, 100}), WriteResult::bad_argument);
    EXPECT_EQ(writer_open(w, join(base, "x.rar").c_str(), nullptr, {6, false, 0}), WriteResult::bad_argument);
    EXPECT_EQ(writer_open(w, join(join(base, "no such folder"), "x.rar").c_str(), nullptr, {3, false, 0}),
              WriteResult::write_failed);
    ASSERT_EQ(writer_open(w, join(base, "x.rar").c_str(), nullptr, {3, false, 0}), WriteResult::ok);
    EXPECT_EQ(writer_add_file(w, "", reinterpret_cast<const uint8_t*>("a"), 1, 0x21000000, 0x20),
              WriteResult::bad_argument);
    EXPECT_EQ(writer_add_file(w, std::string(260, 'n').c_str(), reinterpret_cast<const uint8_t*>("a"), 1,
                              0x21000000, 0x20),
              WriteResult::bad_argument);
    EXPECT_EQ(writer_close(w), WriteResult::ok);
    remove_tree(base);
}

// A single archive writes packed bytes in place (and stored bytes over them
// when packing does not pay); a volume set measures first. Both must give
// every entry the same coding and bytes.
TEST(ArchiveWriter, VolumeSetsCarryTheSameEntriesAsASingleArchive) {
    std::string base = fresh_folder("same");
    std::vector<uint8_t> text_then_noise = text_like(80000, 4), noise = random_bytes(150000, 5);
    text_then_noise.insert(text_then_noise.end(), noise.begin(), noise.end());
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"text.txt", text_like(300000, 1)}, {"mixed.bin", text_then_noise},     {"noise.bin", random_bytes(90000, 2)},
        {"sound.wav", make_wav(2, 16, 30000, 3)}, {"noise.wav", random_bytes(5000, 6)}, {"empty", {}}};
    for (bool solid : {false, true}) {
        std::map<std::string, std::pair<int, std::string>> entries[2];  // name -> method, data
        for (int set = 0; set < 2; ++set) {
            Packed p;
            WriterOptions options{3, solid, set ? 20000u : 0u};
            std::string first = join(base, std::string(solid ? "s" : "n") + std::to_string(set) + ".rar");
            ASSERT_EQ(writer_open(p.writer, first.c_str(), nullptr, options), WriteResult::ok);
            for (const auto& [name, data] : files)
                ASSERT_EQ(writer_add_file(p.writer, name.c_str(), data.data(), data.size(), 0x21000000, 0x20),
                          WriteResult::ok);
            ASSERT_EQ(writer_close(p.writer), WriteResult::ok);
            char name[260];
            std::strcpy(name, first.c_str());
            for (int i = 0; i < p.writer.volume_count; ++i) {
                p.volumes.push_back(name);
                ASSERT_TRUE(next_volume_name(name));
            }
            check_volumes(p, options);
            for (const std::string& v : p.volumes)
                for (const WalkedEntry& e : walk_volume(read_bytes(v)).entries) {
                    entries[set][e.name].first = e.method;
                    entries[set][e.name].second += e.data;
                }
            std::string out = join(base, "out" + std::to_string(set) + (solid ? "s" : "n"));
            ASSERT_EQ(platform::make_directory(out.c_str()), platform::DirResult::ok);
            EXPECT_EQ(extract_archive(p.volumes[0].c_str(), out.c_str()), SUCCESS);
            for (const auto& [name, data] : files)
                EXPECT_EQ(read_bytes(join(out, name)), std::string(data.begin(), data.end())) << name;
        }
        EXPECT_EQ(entries[0], entries[1]);
        if (!solid) {
            // Given up after its first 64 KiB, and packed in full then stored over.
            EXPECT_EQ(entries[0]["noise.bin"].first, '0');
            EXPECT_EQ(entries[0]["noise.wav"].first, '0');
        }
    }
    remove_tree(base);
}

// An input that ends early fails the entry; one the packer gives up on after
// its first piece (more than one read) is stored, which is no failure.
TEST(ArchiveWriter, InputEndingEarlyIsAnInputErrorButGivingUpIsNot) {
    std::string base = fresh_folder("short");
    std::vector<uint8_t> text = text_like(5000, 1), noise = random_bytes(READ_PIECE + 300000, 2);
    for (int level : {0, 3}) {
        ArchiveWriter w;
        ASSERT_EQ(writer_open(w, join(base, "s.rar").c_str(), nullptr, {level, false, 0}), WriteResult::ok);
        MemoryInput m{text.data(), text.size()};
        EXPECT_EQ(writer_add_file_from(w, "f", m.input(), text.size() + 1000, 0x21000000, 0x20),
                  WriteResult::bad_argument)
            << "level " << level;
        writer_abandon(w);
    }
    ArchiveWriter w;
    std::string path = join(base, "n.rar");
    ASSERT_EQ(writer_open(w, path.c_str(), nullptr, {3, false, 0}), WriteResult::ok);
    ASSERT_EQ(writer_add_file(w, "noise", noise.data(), noise.size(), 0x21000000, 0x20), WriteResult::ok);
    ASSERT_EQ(writer_close(w), WriteResult::ok);
    WalkedVolume v = walk_volume(read_bytes(path));
    ASSERT_EQ(v.entries.size(), 1u);
    EXPECT_EQ(v.entries[0].method, '0');
    EXPECT_EQ(v.entries[0].data, std::string(noise.begin(), noise.end()));
    remove_tree(base);
}

// Files packed on two threads (small ones ahead of their turn, the large one
// streamed in order) make the same archive as one thread.
TEST(ArchiveWriter, TwoThreadsWriteTheSameArchiveAsOne) {
    std::string base = fresh_folder("threads");
    std::string tree = join(base, "tree");
    ASSERT_EQ(platform::make_directory(tree.c_str()), platform::DirResult::ok);
    ASSERT_TRUE(make_mixed_tree(tree));
    std::vector<uint8_t> large = text_like(PREPARE_LIMIT + 100000, 8);
    write_bytes(join(tree, "large.txt"), std::string(large.begin(), large.end()));
    std::string bytes[2];
    for (int threads : {1, 2}) {
        Packed p;
        WriterOptions options{1, false, 0, threads};
        pack_tree_into(tree, join(base, std::to_string(threads) + ".rar"), options, p);
        bytes[threads - 1] = read_bytes(p.volumes[0]);
    }
    EXPECT_GT(bytes[0].size(), 1000u);
    EXPECT_TRUE(bytes[0] == bytes[1]);
    remove_tree(base);
}

TEST(ArchiveWriter, ManyFoldersStillFitAVolumeSet) {
    // Entries without data cannot continue into the next volume; they must be
    // placed where room is left, and the set must still be followed by a reader.
    std::string base = fresh_folder("folders");
    std::string tree = join(base, "tree");
    std::string out = join(base, "out");
    ASSERT_EQ(platform::make_directory(tree.c_str()), platform::DirResult::ok);
    ASSERT_EQ(platform::make_directory(out.c_str()), platform::DirResult::ok);
    for (int i = 0; i < 30; ++i) {
        std::string name = "folder number ";
        name.append(std::to_string(i));  // (operator+ here trips a false -Wrestrict on 32-bit GCC 12)
        std::string f = join(tree, name);
        ASSERT_EQ(platform::make_directory(f.c_str()), platform::DirResult::ok);
        if (i % 3 == 0) write_bytes(join(f, "data.bin"), std::string(2000, static_cast<char>('a' + i)));
    }
    Packed p;
    pack_tree_into(tree, join(base, "f.rar"), {0, false, 1024}, p);
    check_volumes(p, {0, false, 1024});
    EXPECT_EQ(extract_archive(p.volumes[0].c_str(), out.c_str()), SUCCESS);
    EXPECT_EQ(read_tree(tree), read_tree(out));
    remove_tree(base);
}
