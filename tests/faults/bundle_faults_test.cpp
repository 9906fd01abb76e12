// Faults while bundles are built and unpacked: whichever write fails, or
// whichever close fails and is reported, building leaves an existing bundle
// (signed or not) byte for byte as it was and leaves no new one behind; unpacking writes every other member and leaves
// no half-written one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "platform/fault_hooks.h"
#include "platform/platform.h"
#include "support/scratch.h"
#include "support/signed_program.h"

namespace fs = std::filesystem;
using scratch::read_file;
using scratch::write_file;

namespace {

struct Counts {
    int writes = 0, closes = 0;
    int fail_write_at = 0, fail_close_at = 0;  // 1-based, 0: none
};
Counts counts;

bool count_write(size_t) { return ++counts.writes == counts.fail_write_at; }
bool count_close() { return ++counts.closes == counts.fail_close_at; }

void arm(int fail_write_at, int fail_close_at) {
    counts = Counts{};
    counts.fail_write_at = fail_write_at;
    counts.fail_close_at = fail_close_at;
    platform::fault_hooks.write = count_write;
    platform::fault_hooks.close = count_close;
}

bool build(const char* bundle, std::vector<std::string> files) {
    std::vector<char*> list;
    for (auto& f : files) list.push_back(f.data());
    return build_bundle(bundle, static_cast<int>(list.size()) - 1, list.data());
}

class BundleFaults : public ::testing::Test {
protected:
    void SetUp() override {
        platform::reset_fault_hooks();
        write_file("a.rar", scratch::pattern(300000, 1));
        write_file("setup.spt", "[Values]\r\nSetupFile=setup.exe\r\n");
        write_file("b.bin", scratch::pattern(70000, 2));
    }
    void TearDown() override { platform::reset_fault_hooks(); }
    scratch::Folder folder_{"bundle_faults"};
};

}  // namespace

TEST_F(BundleFaults, ExistingBundleIsUnchangedWhateverWriteOrCloseFails) {
    ASSERT_TRUE(build("setup.exe", {"a.rar"}));
    // The same for a signed bundle, whose signature is taken off before the
    // members are appended and must come back.
    const std::string head = signed_program::program_head(true);
    const std::string signed_bundle = signed_program::sign(
        head + read_file("a.rar") + scratch::le32(static_cast<uint32_t>(head.size())) + '\x05' + "a.rar" +
        scratch::le32(10));
    for (const std::string& before : {read_file("setup.exe"), signed_bundle}) {
        // A clean run counts the calls; then each one fails in turn.
        write_file("copy.exe", before);
        arm(0, 0);
        ASSERT_TRUE(build("copy.exe", {"setup.spt", "b.bin"}));
        const Counts clean = counts;
        ASSERT_GT(clean.writes, 1);
        const std::string after = read_file("copy.exe");
        // Either the run fails and the bundle is as before, or it succeeds (a
        // failed close of a file only read loses nothing) with the whole result.
        auto check = [&](const std::string& what) {
            write_file("setup.exe", before);
            bool ok = build("setup.exe", {"setup.spt", "b.bin"});
            EXPECT_TRUE(read_file("setup.exe") == (ok ? after : before)) << what << (ok ? " succeeded" : " failed");
            return ok;
        };
        int failed_runs = 0;
        for (int k = 1; k <= clean.writes; ++k) {
            arm(k, 0);
            EXPECT_FALSE(check("write " + std::to_string(k))) << "write " << k;
        }
        for (int k = 1; k <= clean.closes; ++k) {
            arm(0, k);
            if (!check("close " + std::to_string(k))) ++failed_runs;
        }
        // At least the closes of the bundle itself are noticed.
        EXPECT_GT(failed_runs, 0);
    }
}

TEST_F(BundleFaults, NewBundleIsRemovedWhateverWriteFails) {
    arm(0, 0);
    ASSERT_TRUE(build("probe.exe", {"a.rar", "setup.spt"}));
    const Counts clean = counts;
    // The copy of the program alone takes many writes; a few spread over the run do.
    std::vector<int> picks = {1, 2, clean.writes / 2, clean.writes - 2, clean.writes - 1, clean.writes};
    for (int k : picks) {
        if (k < 1) continue;
        arm(k, 0);
        EXPECT_FALSE(build("new.exe", {"a.rar", "setup.spt"})) << "write " << k;
        EXPECT_FALSE(fs::exists("new.exe")) << "write " << k;
    }
    arm(0, clean.closes);
    EXPECT_FALSE(build("new.exe", {"a.rar", "setup.spt"}));
    EXPECT_FALSE(fs::exists("new.exe"));
}

TEST_F(BundleFaults, UnpackingKeepsTheOtherMembersAndDropsTheHalfWrittenOne) {
    ASSERT_TRUE(build("setup.exe", {"a.rar", "b.bin", "setup.spt"}));
    fs::create_directories("clean");
    arm(0, 0);
    ASSERT_TRUE(unpack_bundle(nullptr, (folder_.path() / "setup.exe").string().c_str(),
                              (folder_.path() / "clean").string().c_str()));
    fs::current_path(folder_.path());
    const Counts clean = counts;
    ASSERT_GE(clean.writes, 3);
    // The last write of the run belongs to the last member; fail the one before it (b.bin).
    arm(clean.writes - 1, 0);
    fs::create_directories("out");
    EXPECT_FALSE(unpack_bundle(nullptr, (folder_.path() / "setup.exe").string().c_str(),
                               (folder_.path() / "out").string().c_str()));
    fs::current_path(folder_.path());
    EXPECT_EQ(read_file("out/a.rar"), read_file("a.rar"));
    EXPECT_FALSE(fs::exists("out/b.bin"));
    EXPECT_EQ(read_file("out/setup.spt"), read_file("setup.spt"));

    // A file that was there before the run is never removed, whatever fails.
    fs::create_directories("again");
    write_file("again/b.bin", "there before");
    arm(clean.writes - 1, 0);
    EXPECT_FALSE(unpack_bundle(nullptr, (folder_.path() / "setup.exe").string().c_str(),
                               (folder_.path() / "again").string().c_str()));
    fs::current_path(folder_.path());
    EXPECT_TRUE(fs::exists("again/b.bin"));
}
