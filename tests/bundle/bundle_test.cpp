// Bundles: layout byte for byte, appending to existing bundles, unpacking,
// sizing, the refusal of files whose trailer cannot be a directory, and
// bundles signed as Windows programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "platform/platform.h"
#include "support/scratch.h"
#include "support/signed_program.h"

namespace fs = std::filesystem;
using scratch::le32;
using scratch::read_file;
using scratch::write_file;

namespace {

std::string own_bytes() {
    char own[300];
    EXPECT_GT(platform::own_program_path(own, sizeof own), 0u);
    return read_file(own);
}

bool build(const char* bundle, std::vector<std::string> files) {
    std::vector<char*> list;
    for (auto& f : files) list.push_back(f.data());
    return build_bundle(bundle, static_cast<int>(list.size()) - 1, list.data());
}

std::string entry(uint32_t offset, const std::string& name) {
    return le32(offset) + static_cast<char>(name.size()) + name;
}

// A file made of a fake program, the members and the directory given.
std::string bundle_of(const std::string& head, const std::string& members, const std::string& directory) {
    return head + members + directory + le32(static_cast<uint32_t>(directory.size()));
}

class Bundle : public ::testing::Test {
protected:
    scratch::Folder folder_{"bundle"};
};

}  // namespace

TEST_F(Bundle, AppendReturnsWhereTheContentBegins) {
    write_file("src", "hello");
    write_file("dst", "12345678");
    EXPECT_EQ(append_file("src", "dst", platform::FileOpen::read_write_append), 8);
    EXPECT_EQ(read_file("dst"), "12345678hello");
    EXPECT_EQ(append_file("src", "dst", platform::FileOpen::read_write_always), 0);
    EXPECT_EQ(read_file("dst"), "hello");
    EXPECT_EQ(append_file("missing", "dst", platform::FileOpen::read_write_append), -1);
    EXPECT_EQ(append_file("src", "no_folder/dst", platform::FileOpen::read_write_append), -1);
}

TEST_F(Bundle, AppendCopiesMoreThanOneChunk) {
    const std::string big = scratch::pattern((3 << 20) + 17, 7);
    write_file("big", big);
    write_file("dst", "head");
    EXPECT_EQ(append_file("big", "dst", platform::FileOpen::read_write_append), 4);
    EXPECT_TRUE(read_file("dst") == "head" + big);
}

TEST_F(Bundle, NewBundleIsProgramMembersDirectoryAndNothingElse) {
    write_file("a.rar", "AAAA");
    write_file("b.rar", "BB");
    ASSERT_TRUE(build("out.exe", {"a.rar", "b.rar"}));
    const std::string program = own_bytes();
    const uint32_t s = static_cast<uint32_t>(program.size());
    EXPECT_TRUE(read_file("out.exe") ==
                bundle_of(program, "AAAABB", entry(s, "a.rar") + entry(s + 4, "b.rar")));
}

TEST_F(Bundle, ExistingBundleGetsNewMembersAndADirectoryOfThemOnly) {
    write_file("a", "old");
    ASSERT_TRUE(build("out.exe", {"a"}));
    const std::string first = read_file("out.exe");
    write_file("b", "new!");
    ASSERT_TRUE(build("out.exe", {"b"}));
    const uint32_t at = static_cast<uint32_t>(first.size());
    EXPECT_TRUE(read_file("out.exe") == first + bundle_of("", "new!", entry(at, "b")));

    fs::remove("a");
    fs::remove("b");
    ASSERT_TRUE(unpack_bundle(nullptr, "out.exe", "dest"));
    EXPECT_EQ(read_file("b"), "new!");  // the destination is now current
    EXPECT_FALSE(fs::exists("a"));
}

TEST_F(Bundle, EmptyMemberSharesItsOffsetWithTheNext) {
    write_file("e", "");
    write_file("f", "F");
    ASSERT_TRUE(build("out.exe", {"e", "f", "e"}));
    const uint32_t s = static_cast<uint32_t>(own_bytes().size());
    const std::string file = read_file("out.exe");
    const std::string directory = entry(s, "e") + entry(s, "f") + entry(s + 1, "e");
    EXPECT_EQ(file.substr(file.size() - 4 - directory.size()), directory + le32(18));
    EXPECT_EQ(bundle_content_size("out.exe", nullptr), 1);
}

TEST_F(Bundle, FailedPackLeavesNoNewBundle) {
    write_file("a", "A");
    EXPECT_FALSE(build("out.exe", {"a", "missing"}));
    EXPECT_FALSE(fs::exists("out.exe"));
    EXPECT_FALSE(build("out.exe", {"a", ""}));
    EXPECT_FALSE(fs::exists("out.exe"));
    EXPECT_FALSE(build("out.exe", {std::string(256, 'n')}));
    EXPECT_FALSE(fs::exists("out.exe"));
}

TEST_F(Bundle, FailedPackLeavesAnExistingBundleUnchanged) {
    write_file("a", "A");
    ASSERT_TRUE(build("out.exe", {"a"}));
    const std::string before = read_file("out.exe");
    EXPECT_FALSE(build("out.exe", {"a", "missing"}));
    EXPECT_TRUE(read_file("out.exe") == before);
}

TEST_F(Bundle, UnpackWritesEachMemberExactly) {
    const std::string head = "PROGRAM-IMAGE";
    const std::string a = scratch::pattern(1000, 1), b = "0123456789";
    write_file("inst.exe", bundle_of(head, a + b, entry(13, "a.bin") + entry(1013, "eleven_char")));
    ASSERT_TRUE(unpack_bundle(nullptr, "inst.exe", (folder_.path() / "out").string().c_str()));
    EXPECT_TRUE(read_file(folder_.path() / "out" / "a.bin") == a);
    EXPECT_EQ(read_file(folder_.path() / "out" / "eleven_char"), b);
    EXPECT_EQ(fs::current_path(), folder_.path() / "out");
}

TEST_F(Bundle, UnpackReplacesExistingFilesAndCreatesFolders) {
    const std::string name = (fs::path("sub") / "deeper" / "m").string();
    write_file("inst.exe", bundle_of("P", "member", entry(1, name)));
    fs::create_directory("out");
    write_file(fs::path("out") / "x", "x");
    ASSERT_TRUE(unpack_bundle(folder_.str().c_str(), "inst.exe", "out"));
    EXPECT_EQ(read_file(folder_.path() / "out" / "sub" / "deeper" / "m"), "member");
}

// Whatever a member's name says, unpacking writes below the destination only:
// a drive and a leading separator are dropped, folders are made inside it,
// and a name with a ".." component is refused (the unpack then fails, the
// other members are written). Packing keeps the names as given.
TEST_F(Bundle, MemberNamesStayInsideTheDestination) {
    const std::string sep(1, platform::path_separator());
    const std::vector<std::pair<std::string, std::string>> members = {
        // stored name, where it lands below out/ ("": refused)
        {sep + "abs" + sep + "x", "abs/x"},
        {"C:" + sep + "data" + sep + "a.rar", "data/a.rar"},
        {"sub" + sep + "deeper" + sep + "m", "sub/deeper/m"},
        {".." + sep + "up1", ""},
        {"sub" + sep + ".." + sep + ".." + sep + "up2", ""},
        {".. " + sep + "up3", ""},
        {"..." + sep + "up4", ""},
        {sep + sep + "server" + sep + "share" + sep + "up5", ""},
    };
    std::string content, directory;
    std::vector<std::string> expected;
    for (const auto& [stored, landed] : members) {
        directory += entry(static_cast<uint32_t>(1 + content.size()), stored);
        content += stored;  // each member's content is its own name
        if (!landed.empty()) expected.push_back("out/" + landed);
    }
    write_file("inst.exe", bundle_of("P", content, directory));
    fs::create_directories("deep/er");
    fs::current_path("deep/er");
    EXPECT_FALSE(unpack_bundle(nullptr, (folder_.path() / "inst.exe").string().c_str(), "out"));
    fs::current_path(folder_.path() / "deep/er");
    std::vector<std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(folder_.path()))
        if (item.is_regular_file()) found.push_back(fs::relative(item.path(), folder_.path() / "deep/er").generic_string());
    std::sort(found.begin(), found.end());
    expected.push_back("../../inst.exe");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    for (const auto& [stored, landed] : members) {
        if (landed.empty()) continue;
        EXPECT_EQ(read_file(folder_.path() / "deep/er/out" / landed), stored);
    }

    // Packing stores a name with ".." as it was given; unpacking refuses it.
    const std::string up = ".." + sep + ".." + sep + "inst.exe";
    ASSERT_TRUE(build("packed.exe", {up}));
    const std::string packed = read_file("packed.exe");
    EXPECT_EQ(packed.substr(packed.size() - 4 - 5 - up.size()), entry(static_cast<uint32_t>(own_bytes().size()), up) +
                                                                   le32(static_cast<uint32_t>(5 + up.size())));
    EXPECT_FALSE(unpack_bundle(nullptr, "packed.exe", "out2"));
    EXPECT_TRUE(fs::is_empty(folder_.path() / "deep/er/out2"));
}

TEST_F(Bundle, SourceFolderBecomesCurrent) {
    fs::create_directory("src");
    write_file(fs::path("src") / "inst.exe", bundle_of("P", "m", entry(1, "m")));
    const std::string dest = (folder_.path() / "dest").string();
    fs::current_path(fs::temp_directory_path());
    ASSERT_TRUE(unpack_bundle((folder_.path() / "src").string().c_str(), "inst.exe", dest.c_str()));
    EXPECT_EQ(read_file(folder_.path() / "dest" / "m"), "m");
}

TEST_F(Bundle, MissingBundleFailsBothOperations) {
    EXPECT_FALSE(unpack_bundle(nullptr, "missing.exe", "out"));
    EXPECT_FALSE(fs::exists("out"));
    EXPECT_EQ(bundle_content_size("missing.exe", nullptr), -1);
}

TEST_F(Bundle, SizeIsTheSumOfTheMembers) {
    write_file("inst.exe", bundle_of("HEAD", "aaaabbbbbb", entry(4, "a") + entry(8, "b")));
    EXPECT_EQ(bundle_content_size("inst.exe", nullptr), 10);
    write_file("empty.exe", bundle_of("HEAD", "", ""));
    EXPECT_EQ(bundle_content_size("empty.exe", nullptr), 0);
    fs::create_directory("sub");
    write_file(fs::path("sub") / "x.exe", bundle_of("H", "zz", entry(1, "z")));
    EXPECT_EQ(bundle_content_size("x.exe", (folder_.path() / "sub").string().c_str()), 2);
    EXPECT_EQ(fs::current_path(), folder_.path() / "sub");
}

TEST_F(Bundle, FilesThatAreNoBundleAreRefused) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"shorter than the size field", "abc"},
        {"directory larger than the file", "HEAD" + le32(100)},
        {"entry runs past the directory", bundle_of("HEAD", "xx", le32(4) + '\x09' + "ab")},
        {"entry shorter than its header", bundle_of("HEAD", "xx", le32(4))},
        {"offsets decreasing", bundle_of("HEAD", "xxxx", entry(6, "a") + entry(4, "b"))},
        {"offset past the directory start", bundle_of("HEAD", "xx", entry(7, "a"))},
        {"plain text", "This file has no directory behind it at all."},
    };
    for (const auto& [what, content] : cases) {
        write_file("bad.exe", content);
        EXPECT_EQ(bundle_content_size("bad.exe", nullptr), -1) << what;
        EXPECT_FALSE(unpack_bundle(nullptr, "bad.exe", "out")) << what;
        EXPECT_FALSE(fs::exists("out")) << what << ": nothing is created for a file that is no bundle";
        EXPECT_FALSE(fs::exists("a")) << what;
    }
}

TEST_F(Bundle, SignedBundlesAreReadBeforeTheirCertificateTable) {
    using namespace signed_program;
    // Every alignment signing can add (0..7 zero bytes), both header layouts,
    // and a directory long enough for its size's second byte to look like one.
    std::vector<std::string> long_names;
    for (char c = 'a'; c <= 'f'; ++c) long_names.push_back(std::string(250, c));
    for (bool wide : {false, true}) {
        for (size_t extra = 0; extra < 8; ++extra) {
            for (const std::vector<std::string>& names : {std::vector<std::string>{"m.rar"}, long_names}) {
                const std::string head = program_head(wide), member = scratch::pattern(100 + extra, 3);
                std::string directory;
                // Every member but the last is empty.
                for (const std::string& name : names) directory += entry(static_cast<uint32_t>(head.size()), name);
                write_file("inst.exe", sign(bundle_of(head, member, directory)));
                const std::string what = (wide ? "PE32+, " : "PE32, ") + std::to_string(extra) + " extra bytes, " +
                                         std::to_string(names.size()) + " entries";
                EXPECT_EQ(bundle_content_size("inst.exe", nullptr), static_cast<int64_t>(member.size())) << what;
                ASSERT_TRUE(unpack_bundle(folder_.str().c_str(), "inst.exe", "out")) << what;
                EXPECT_TRUE(read_file(names.back()) == member) << what;
                fs::current_path(folder_.path());
                fs::remove_all("out");
            }
        }
    }
}

TEST_F(Bundle, DamagedProgramHeadersAreNoSignature) {
    using namespace signed_program;
    const std::string head = program_head(true);
    const std::string good = sign(bundle_of(head, "member", entry(static_cast<uint32_t>(head.size()), "m")));
    const uint32_t e = certificate_entry_at(true);
    auto with = [&](uint32_t at, const std::string& bytes) { return std::string(good).replace(at, bytes.size(), bytes); };
    const uint32_t table = static_cast<uint32_t>(good.size() - 24);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"table past the end", with(e + 4, le32(32))},
        {"table short of the end", with(e + 4, le32(16))},
        {"table inside the headers", with(e, le32(0x10)).replace(e + 4, 4, le32(table + 24 - 0x10))},
        {"table smaller than its header", with(e, le32(table + 20)).replace(e + 4, 4, le32(4))},
        {"header offset past the end", with(0x3C, le32(0xFFFFFFF0u))},
        {"header offset near the end", with(0x3C, le32(table + 10))},
        {"no PE signature", with(PE_OFFSET, "NE")},
        {"unknown optional header", with(PE_OFFSET + 24, "\x0B\x03")},
        {"four data directories", with(directories_at(true) - 4, le32(4))},
        {"optional header too small", with(PE_OFFSET + 20, std::string("\x70\x00", 2))},
        {"no MZ", with(0, "ZM")},
    };
    for (const auto& [what, content] : cases) {
        write_file("bad.exe", content);
        platform::File* f = platform::file_open("bad.exe", platform::FileOpen::read);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(certificate_table_start(f), -1) << what;
        platform::file_close(f);
        EXPECT_EQ(bundle_content_size("bad.exe", nullptr), -1) << what;
    }
    write_file("signed.exe", sign(head + "no bundle here"));
    EXPECT_EQ(bundle_content_size("signed.exe", nullptr), -1) << "a signed program without a directory";
}

TEST_F(Bundle, AppendingToASignedBundleTakesItsSignatureOff) {
    using namespace signed_program;
    const std::string head = program_head(false);
    const std::string unsigned_bundle = bundle_of(head, "old", entry(static_cast<uint32_t>(head.size()), "a"));
    write_file("inst.exe", sign(unsigned_bundle));
    write_file("b", "new!");
    ASSERT_TRUE(build("inst.exe", {"b"}));
    const uint32_t at = static_cast<uint32_t>(unsigned_bundle.size());
    EXPECT_TRUE(read_file("inst.exe") == unsigned_bundle + bundle_of("", "new!", entry(at, "b")));
}

TEST_F(Bundle, AMemberThatCannotBeWrittenIsReportedButTheOthersAreWritten) {
    fs::create_directory("out");
    fs::create_directory(fs::path("out") / "blocker");  // a folder where the member's file should go
    write_file("inst.exe", bundle_of("P", "ab", entry(1, "blocker") + entry(2, "ok")));
    EXPECT_FALSE(unpack_bundle(nullptr, "inst.exe", "out"));
    EXPECT_EQ(read_file(folder_.path() / "out" / "ok"), "b");
    EXPECT_TRUE(fs::is_directory(folder_.path() / "out" / "blocker"));
}

#ifndef _WIN32
TEST_F(Bundle, ANewBundleRunsLikeTheProgram) {
    write_file("a", "A");
    ASSERT_TRUE(build("out", {"a"}));
    EXPECT_NE(fs::status("out").permissions() & fs::perms::owner_exec, fs::perms::none);
}
#endif
