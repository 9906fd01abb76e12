// The system side of the seam: paths, drives, the temporary folder, the
// program's own path, resolved paths and kinds of entries, the system's
// reason for a failure, running a tool, message boxes in unattended runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/system_extra.h"
#include "support/scratch.h"

namespace fs = std::filesystem;
using namespace platform;

TEST(Paths, SeparatorAndAbsolutePaths) {
#ifdef _WIN32
    EXPECT_EQ(path_separator(), '\\');
    EXPECT_TRUE(is_absolute_path("C:\\x"));
    EXPECT_TRUE(is_absolute_path("c:x"));
    EXPECT_TRUE(is_absolute_path("\\\\server\\share"));
    EXPECT_FALSE(is_absolute_path("dir\\x"));
    EXPECT_STREQ(system_root(), "C:\\");
#else
    EXPECT_EQ(path_separator(), '/');
    EXPECT_TRUE(is_absolute_path("/x"));
    EXPECT_FALSE(is_absolute_path("C:\\x"));
    EXPECT_FALSE(is_absolute_path("dir/x"));
    EXPECT_STREQ(system_root(), "/");
#endif
    EXPECT_FALSE(is_absolute_path(""));
}

TEST(Program, OwnPathNamesThisRunningFile) {
    char path[MAX_PATH_CHARS + 1];
    size_t n = own_program_path(path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(n, std::strlen(path));
    EXPECT_TRUE(is_absolute_path(path));
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_NE(std::string(path).find("platform_tests"), std::string::npos);
    char tiny[4];
    EXPECT_EQ(own_program_path(tiny, sizeof tiny), 0u);  // cut paths are refused
}

TEST(TempPath, EndsWithSeparatorAndHonoursTheEnvironment) {
    scratch::Folder folder("temp");
#ifdef _WIN32
    const char* variable = "TMP";
#else
    const char* variable = "TMPDIR";
#endif
    const char* old = std::getenv(variable);
    std::string saved = old ? old : "";
    scratch::set_env(variable, folder.str());
    char temp[MAX_PATH_CHARS + 1];
    size_t n = get_temp_path(temp, sizeof temp);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(temp[n - 1], path_separator());
    EXPECT_EQ(fs::canonical(temp), folder.path());
    char tiny[3];
    EXPECT_EQ(get_temp_path(tiny, sizeof tiny), 0u);
    if (old) scratch::set_env(variable, saved);
    else scratch::unset_env(variable);
}

TEST(Drives, TheTemporaryFolderLiesOnAFixedDriveWithFreeSpace) {
    char temp[MAX_PATH_CHARS + 1];
    ASSERT_GT(get_temp_path(temp, sizeof temp), 0u);
    char root[260];
    ASSERT_TRUE(drive_root_of(temp, root, sizeof root));
    EXPECT_EQ(drive_type(root), DriveType::fixed) << root;
    uint64_t free = 0;
    EXPECT_TRUE(drive_free_bytes(root, &free));
    EXPECT_GT(free, 0u);
    char roots[32][260];
    int count = list_drive_roots(roots, 32);
    ASSERT_GT(count, 0);
    bool listed = false;
    for (int k = 0; k < count; ++k) listed = listed || std::strcmp(roots[k], root) == 0;
    EXPECT_TRUE(listed) << root;
}

TEST(Drives, AFailedQueryNeverReportsSpace) {
    uint64_t free = 12345;
#ifdef _WIN32
    EXPECT_FALSE(drive_free_bytes("Q:\\no\\such\\folder\\", &free));
#else
    EXPECT_FALSE(drive_free_bytes("/no/such/folder/", &free));
#endif
    EXPECT_EQ(free, 12345u);
    char root[260];
    EXPECT_FALSE(drive_root_of("", root, sizeof root));
}

#ifndef _WIN32
TEST(Drives, RamDisksAreNotFixed) {
    // /dev/shm is a tmpfs on every Linux system that has it.
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    char root[260];
    ASSERT_TRUE(drive_root_of("/dev/shm", root, sizeof root));
    EXPECT_EQ(drive_type(root), DriveType::ramdisk);
}
#endif

TEST(Files, TruncateCutsBackAndLinksAreRecognised) {
    scratch::Folder folder("trunc");
    scratch::write_file("f", "0123456789");
    EXPECT_TRUE(truncate_file("f", 4));
    EXPECT_EQ(scratch::read_file("f"), "0123");
    EXPECT_FALSE(truncate_file("missing", 0));
    EXPECT_FALSE(is_symbolic_link("f"));
#ifndef _WIN32
    fs::create_directory_symlink(folder.path(), "link");
    EXPECT_TRUE(is_symbolic_link("link"));
#endif
}

TEST(Programs, ToolsGetTheirWordsUnchangedAndFailuresTheirReason) {
    scratch::Folder folder("run");
#ifdef _WIN32
    const std::string tool = std::string(KX_BUILD_DIR) + "\\tests\\record-args.exe";
#else
    const std::string tool = std::string(KX_BUILD_DIR) + "/tests/record-args";
#endif
    // Words the command line of Windows has to quote, and an empty one.
    const char* words[] = {tool.c_str(), "a b", "q\"uote", "back\\", "back\\\"q", "", "end", nullptr};
    scratch::set_env("KX_RECORD_ARGS", (folder.path() / "args.txt").string());
    EXPECT_EQ(run_program_and_wait(words), 0);
    const std::string record = scratch::read_file("args.txt");
    EXPECT_EQ(record.substr(0, record.find('\n')), "a b q\"uote back\\ back\\\"q  end");
    // record-args ends with 1 when it cannot write its record.
    scratch::set_env("KX_RECORD_ARGS", (folder.path() / "missing" / "args.txt").string());
    EXPECT_EQ(run_program_and_wait(words), 1);
    scratch::unset_env("KX_RECORD_ARGS");

    char reason[256];
    const char* missing[] = {"kx-no-such-tool", nullptr};
    clear_system_error();
    EXPECT_EQ(system_error_text(reason, sizeof reason), 0u);
    EXPECT_EQ(run_program_and_wait(missing), -1);
    EXPECT_GT(system_error_text(reason, sizeof reason), 0u);
    clear_system_error();
    EXPECT_EQ(file_open("missing.txt", FileOpen::read), nullptr);
    EXPECT_GT(system_error_text(reason, sizeof reason), 0u);
    const size_t n = std::strlen(reason);
    EXPECT_TRUE(n > 0 && reason[n - 1] != '\n' && reason[n - 1] != '.') << reason;
}

namespace {

// Links for the resolution tests; false where the system (or wine) cannot make them.
bool make_link(const fs::path& target, const fs::path& link, bool to_folder) {
    std::error_code ec;
    if (to_folder) fs::create_directory_symlink(target, link, ec);
    else fs::create_symlink(target, link, ec);
    return !ec;
}

bool same_place(const std::string& a, const std::string& b) {
    return path_within(a.c_str(), b.c_str()) && path_within(b.c_str(), a.c_str());
}

}  // namespace

TEST(Paths, ResolvedPathsNameWhereFilesReallyAre) {
    scratch::Folder folder("resolve");
    fs::create_directories("sub/deep");
    scratch::write_file("a", "x");
    bool links = make_link("sub", "to_sub", true) && make_link("a", "to_a", false) &&
                 make_link("gone", "dangling", false) && make_link("sub/deep", "sub_deep", true);
    const fs::path& f = folder.path();
    struct Case {
        const char* spelled;
        fs::path place;
        bool needs_links;
    } cases[] = {
        {"a", f / "a", false},
        {"./sub/../a", f / "a", false},
        {"sub/missing/../../a", f / "a", false},
        {"missing/new", f / "missing" / "new", false},
        {"sub/deep/", f / "sub" / "deep", false},
        {"to_a", f / "a", true},
        {"to_sub/deep", f / "sub" / "deep", true},
#ifdef _WIN32
        {"sub_deep/../a", f / "a", true},  // Windows takes ".." off the spelling before it meets links
#else
        {"sub_deep/../a", f / "sub" / "a", true},  // ".." after a link steps up from its target
#endif
        {"dangling", f / "gone", true},
        {"to_sub/new/../x", f / "sub" / "x", true},
    };
    for (const Case& c : cases) {
        if (c.needs_links && !links) continue;
        char out[RESOLVED_PATH_BYTES];
        ASSERT_GT(resolve_path(c.spelled, out, sizeof out), 0u) << c.spelled;
        EXPECT_TRUE(is_absolute_path(out)) << c.spelled << " -> " << out;
        EXPECT_TRUE(same_place(out, c.place.string())) << c.spelled << " -> " << out;
        // The absolute spelling resolves the same way.
        char again[RESOLVED_PATH_BYTES];
        ASSERT_GT(resolve_path((f / c.spelled).string().c_str(), again, sizeof again), 0u);
        EXPECT_STREQ(again, out);
    }
    char small[4];
    EXPECT_EQ(resolve_path("a", small, sizeof small), 0u);
    if (!links) GTEST_SKIP() << "links cannot be made here";
}

TEST(Paths, WithinComparesWholeComponents) {
    struct Case {
        const char *outer, *inner;
        bool within;
    } cases[] = {
#ifdef _WIN32
        {"C:\\A\\b", "c:\\a\\B", true},   {"C:\\A\\b", "c:\\a\\B\\x", true}, {"C:\\a\\b\\", "C:\\a\\b\\x", true},
        {"C:\\", "C:\\x", true},           {"C:\\a\\b", "C:\\a\\bc", false},  {"C:\\a\\b", "C:\\a", false},
        {"C:\\a", "D:\\a", false},
#else
        {"/a/b", "/a/b", true},  {"/a/b", "/a/b/c", true}, {"/a/b/", "/a/b/c", true}, {"/", "/x", true},
        {"/a/b", "/a/bc", false}, {"/a/b", "/a", false},    {"/a/B", "/a/b", false},
#endif
    };
    for (const Case& c : cases) EXPECT_EQ(path_within(c.outer, c.inner), c.within) << c.outer << " " << c.inner;
}

TEST(Files, EntriesAreDescribedWithoutOpeningThem) {
    scratch::Folder folder("describe");
    scratch::write_file("f", "0123456789");
    fs::create_directory("d");
    EntryInfo info;
    EXPECT_EQ(describe_entry("f", false, &info), EntryKind::file);
    EXPECT_EQ(info.size, 10u);
    EXPECT_NE(info.dos_date_time, 0u);
    EXPECT_EQ(describe_entry("f", true, &info), EntryKind::file);
    EXPECT_EQ(info.size, 10u);
    EXPECT_EQ(describe_entry("d", true, &info), EntryKind::folder);
    EXPECT_TRUE(info.attributes & ATTR_DIRECTORY);
    EXPECT_EQ(describe_entry("missing", false, &info), EntryKind::missing);
    if (make_link("f", "to_f", false) && make_link("gone", "dangling", false)) {
        EXPECT_EQ(describe_entry("to_f", false, nullptr), EntryKind::link);
        EXPECT_EQ(describe_entry("to_f", true, &info), EntryKind::file);
        EXPECT_EQ(info.size, 10u);
        EXPECT_EQ(describe_entry("dangling", false, nullptr), EntryKind::link);
        EXPECT_EQ(describe_entry("dangling", true, nullptr), EntryKind::missing);
    }
#ifndef _WIN32
    // Opening a FIFO for reading would wait for a writer: this would hang.
    ASSERT_EQ(std::system("mkfifo fifo"), 0);
    EXPECT_EQ(describe_entry("fifo", false, nullptr), EntryKind::other);
    ASSERT_TRUE(make_link("fifo", "to_fifo", false));
    EXPECT_EQ(describe_entry("to_fifo", true, nullptr), EntryKind::other);
    EXPECT_EQ(describe_entry("/dev/null", true, nullptr), EntryKind::other);
#endif
}

TEST(MessageBox, UnattendedBoxesAreLoggedAndQuestionsCancelled) {
    scratch::Folder folder("box");
    scratch::set_env("KELVARIX_UNATTENDED", "1");
    scratch::set_env("KELVARIX_MESSAGE_LOG", (folder.path() / "log.txt").string());
    EXPECT_EQ(message_box("Error 2. Can't Distribute.", "ERROR", MB_ICONERROR), IDOK);
    EXPECT_EQ(message_box("\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0 !", "\xCF\xF0\xE5\xE4", MB_OKCANCEL), IDCANCEL);
    scratch::unset_env("KELVARIX_MESSAGE_LOG");
    scratch::unset_env("KELVARIX_UNATTENDED");
    EXPECT_EQ(scratch::read_file(folder.path() / "log.txt"),
              "ERROR: Error 2. Can't Distribute.\nПред: Установка !\n");
}

TEST(MessageBox, UnattendedSwitch) {
    scratch::set_env("KELVARIX_UNATTENDED", "0");
    EXPECT_FALSE(unattended());
    scratch::set_env("KELVARIX_UNATTENDED", "yes");
    EXPECT_TRUE(unattended());
    scratch::unset_env("KELVARIX_UNATTENDED");
    EXPECT_FALSE(unattended());
}

TEST(FolderQuestion, NobodyToAskMeansNoFolder) {
    scratch::set_env("KELVARIX_UNATTENDED", "1");
    char folder[16] = "keep";
    EXPECT_FALSE(ask_for_folder("\xD3\xEA\xE0\xE6\xE8\xF2\xE5", folder, sizeof folder));
    EXPECT_STREQ(folder, "keep");
    scratch::unset_env("KELVARIX_UNATTENDED");
}

#ifndef _WIN32
TEST(Drives, FurtherPlacesAreVarTmpAndTheHomeFolderNeverTheRoot) {
    scratch::Folder folder("places");
    const std::string home = fs::canonical(folder.path()).string();
    const std::string var_tmp = fs::is_directory("/var/tmp") ? fs::canonical("/var/tmp").string() + "/" : "";
    const char* saved = std::getenv("HOME");
    const std::string saved_home = saved ? saved : "";
    struct Case {
        const char* home;  // null: unset
        std::string expected;
    };
    const Case cases[] = {
        {home.c_str(), var_tmp + home + "/"},
        {nullptr, var_tmp},
        {"/", var_tmp},
        {"relative/home", var_tmp},
        {"/no/such/home", var_tmp},
    };
    for (const Case& c : cases) {
        if (c.home) scratch::set_env("HOME", c.home);
        else scratch::unset_env("HOME");
        char places[4][260];
        const int count = extraction_fallbacks(places, 4);
        std::string got;
        for (int k = 0; k < count; ++k) got += places[k];
        EXPECT_EQ(got, c.expected) << (c.home ? c.home : "(unset)");
    }
    if (saved) scratch::set_env("HOME", saved_home);
    else scratch::unset_env("HOME");
}

TEST(FolderQuestion, NoRoomSaysHowMuchAndThatTmpdirChooses) {
    scratch::Folder folder("noroom");
    scratch::set_env("KELVARIX_MESSAGE_LOG", (folder.path() / "log.txt").string());
    tell_no_room(123456789);
    scratch::unset_env("KELVARIX_MESSAGE_LOG");
    EXPECT_EQ(scratch::read_file(folder.path() / "log.txt"),
              "Warning: No temporary folder has room for the installation: it needs 123456789 bytes (124 MB) free "
              "on a fixed drive. The TMPDIR variable chooses the place, for example: TMPDIR=/path/with/room\n");
}
#endif
