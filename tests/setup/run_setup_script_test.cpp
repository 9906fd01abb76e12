// Launching the setup program named in setup.spt, with record-args standing in
// for the product's setup program, and the clean-up after a failed launch.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "setup/setup_script.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* PROGRAM_SUFFIX = ".exe";
constexpr const char* FAKE_OWN_PATH = "C:\\Program Files\\maker\\inst.exe";
constexpr const char* FAKE_OWN_FOLDER = "C:\\Program Files\\maker";
#else
constexpr const char* PROGRAM_SUFFIX = "";
constexpr const char* FAKE_OWN_PATH = "/opt/maker/inst";
constexpr const char* FAKE_OWN_FOLDER = "/opt/maker";
#endif

void set_env(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

// A fresh extraction folder made current, the paths pointing at it, and the
// record file the launched program writes.
class RunSetupScript : public ::testing::Test {
protected:
    void SetUp() override {
        start_ = fs::current_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() / (std::string("kx-setup-") + info->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
        folder_text_ = folder_.string();
        record_ = folder_.parent_path() / (folder_.filename().string() + ".record");
        fs::remove(record_);
        set_env("KX_RECORD_ARGS", record_.string());
        set_env("KELVARIX_UNATTENDED", "1");
    }

    void TearDown() override {
        fs::current_path(start_);
        std::error_code ignored;
        // A launched program may still be running in the folder for a moment
        // (Windows keeps a process's current folder from being removed).
        for (int i = 0; i < 40 && fs::exists(folder_); ++i) {
            fs::remove_all(folder_, ignored);
            if (fs::exists(folder_)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        fs::remove(record_, ignored);
    }

    // Places record-args in the extraction folder under name.
    void place_program(const std::string& name) {
        const fs::path built = fs::path(KX_BUILD_DIR) / "tests" / (std::string("record-args") + PROGRAM_SUFFIX);
        ASSERT_TRUE(fs::exists(built)) << built;
        fs::copy_file(built, folder_ / name, fs::copy_options::overwrite_existing);
    }

    // The record written by the launched program (it runs detached, so
    // wait; under wine the renamed record may stay unreadable for a moment).
    std::string wait_for_record() {
        std::string record;
        for (int i = 0; i < 300 && record.empty(); ++i) {
            if (fs::exists(record_)) record = read_file(record_);
            if (record.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return record;
    }

    std::string tail() const { return std::string(FAKE_OWN_PATH) + " " + FAKE_OWN_FOLDER + " " + folder_.string(); }

    // The paths the shell hands over for the installer at FAKE_OWN_PATH.
    bool run(const char* script = "setup.spt") {
        return run_setup_script(script, SetupPaths{FAKE_OWN_PATH, FAKE_OWN_FOLDER, folder_text_.c_str()});
    }

    fs::path start_;
    fs::path folder_;
    std::string folder_text_;
    fs::path record_;
};

TEST_F(RunSetupScript, LaunchesNamedProgramWithPathsAppended) {
    const std::string program = std::string("setup") + PROGRAM_SUFFIX;
    place_program(program);
    write_file(folder_ / "setup.spt", "[Values]\r\nSetupFile=" + program + "\r\n");
    ASSERT_TRUE(run());
    // Empty parameter text: the string starts with the space before the own path.
    EXPECT_EQ(wait_for_record(), tail() + "\n" + folder_.string() + "\n");
}

TEST_F(RunSetupScript, ParameterTextComesFirst) {
    const std::string program = std::string("run") + PROGRAM_SUFFIX;
    place_program(program);
    write_file(folder_ / "setup.spt", "[Other]\nA=1\n[Values]\nSetupFile = " + program + "  -a -b\n[More]\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(wait_for_record(), "-a -b " + tail() + "\n" + folder_.string() + "\n");
}

TEST_F(RunSetupScript, ValueAtEndOfFileWithoutLineBreak) {
    const std::string program = std::string("setup") + PROGRAM_SUFFIX;
    place_program(program);
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=" + program + " /q");
    ASSERT_TRUE(run());
    EXPECT_EQ(wait_for_record(), "/q " + tail() + "\n" + folder_.string() + "\n");
}

TEST_F(RunSetupScript, ScriptIsReadInPiecesWhereverTheEntryLies) {
    // The script is read some kilobytes at a time: header, key and value
    // lines that straddle those pieces, and text far behind the entry, change
    // nothing.
    const std::string program = std::string("setup") + PROGRAM_SUFFIX;
    place_program(program);
    const std::string entry = "[Values]\r\nSetupFile = " + program + " -p\r\n";
    for (size_t padding : {0u, 65511u, 65530u, 65533u, 65536u, 65540u, 65546u, 131070u, 200000u}) {
        fs::remove(record_);
        write_file(folder_ / "setup.spt", std::string(padding, 'x') + entry + std::string(300000, '\n'));
        EXPECT_TRUE(run()) << padding;
        EXPECT_EQ(wait_for_record(), "-p " + tail() + "\n" + folder_.string() + "\n") << padding;
    }
}

TEST_F(RunSetupScript, AValueLineLongerThanACommandLineFails) {
    // 32767 characters are the most a command line carries; a line that
    // long is still taken, one more is no usable entry.
    const std::string program = std::string("setup") + PROGRAM_SUFFIX;
    place_program(program);
    const std::string words = program + " " + std::string(32767 - program.size() - 1 - 2, 'w') + " v";
#ifndef _WIN32  // with the paths behind it, the line is too long for Windows itself
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=" + words + "\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(wait_for_record().substr(32767 - program.size() - 4), "w v " + tail() + "\n" + folder_.string() + "\n");
    fs::remove(record_);
#endif
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=" + words + "v\n");
    EXPECT_FALSE(run());
}

TEST_F(RunSetupScript, MissingScriptFails) { EXPECT_FALSE(run()); }

TEST_F(RunSetupScript, EmptyScriptFails) {
    write_file(folder_ / "setup.spt", "");
    EXPECT_FALSE(run());
}

TEST_F(RunSetupScript, MissingProgramFails) {
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=absent.exe\n");
    EXPECT_FALSE(run());
}

TEST_F(RunSetupScript, EmptyValueFails) {
    place_program(std::string("setup") + PROGRAM_SUFFIX);
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=\n");
    EXPECT_FALSE(run());
}

TEST_F(RunSetupScript, UnusableEntryFails) {
    place_program(std::string("setup") + PROGRAM_SUFFIX);
    write_file(folder_ / "setup.spt", std::string("[Values]\nSetupFileName=setup") + PROGRAM_SUFFIX + "\n");
    EXPECT_FALSE(run());
    EXPECT_FALSE(fs::exists(record_));
}

TEST_F(RunSetupScript, ProgramIsStartedInExtractionFolder) {
    // Whatever folder is current, the program runs in the extraction folder.
    const std::string program = std::string("setup") + PROGRAM_SUFFIX;
    place_program(program);
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=" + program + "\n");
    fs::create_directories(folder_ / "sub");
    fs::copy_file(folder_ / "setup.spt", folder_ / "sub" / "setup.spt");
    fs::current_path(folder_ / "sub");
    ASSERT_TRUE(run());
    const std::string record = wait_for_record();
    EXPECT_EQ(record.substr(record.find('\n') + 1), folder_.string() + "\n");
}

#ifndef _WIN32
// A "#!" script that records its arguments, as record-args does.
const char* const RECORDING_SCRIPT = "#!/bin/sh\nprintf '%s\\n' \"$*\" > \"$KX_RECORD_ARGS.part\"\n"
                                     "mv \"$KX_RECORD_ARGS.part\" \"$KX_RECORD_ARGS\"\n";
constexpr fs::perms READABLE = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read;

TEST_F(RunSetupScript, ScriptWithoutExecuteBitIsMadeRunnableForItsOwnerOnly) {
    // Archives from DOS hosts carry no modes: a "#!" script arrives without x.
    write_file(folder_ / "setup.sh", RECORDING_SCRIPT);
    fs::permissions(folder_ / "setup.sh", READABLE);
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=setup.sh x\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(wait_for_record(), "x " + tail() + "\n");
    EXPECT_EQ(fs::status(folder_ / "setup.sh").permissions(), READABLE | fs::perms::owner_exec);
}

TEST_F(RunSetupScript, ProgramsOutsideTheFolderAreNeverMadeExecutable) {
    // A script beside the extraction folder, reached by name, through a link
    // or through a linked folder: the launch fails and its mode stays.
    const fs::path outside = folder_.parent_path() / (folder_.filename().string() + "-outside");
    fs::remove_all(outside);
    fs::create_directories(outside);
    write_file(outside / "tool.sh", RECORDING_SCRIPT);
    fs::permissions(outside / "tool.sh", READABLE);
    fs::create_symlink(outside / "tool.sh", folder_ / "link.sh");
    fs::create_directory_symlink(outside, folder_ / "linked");
    const std::string names[] = {(outside / "tool.sh").string(), "../" + outside.filename().string() + "/tool.sh",
                                 "link.sh", "linked/tool.sh", "linked\\tool.sh"};
    for (const std::string& name : names) {
        write_file(folder_ / "setup.spt", "[Values]\nSetupFile=" + name + "\n");
        EXPECT_FALSE(run()) << name;
        EXPECT_EQ(fs::status(outside / "tool.sh").permissions(), READABLE) << name;
    }
    EXPECT_FALSE(fs::exists(record_));
    fs::remove_all(outside);
}

TEST_F(RunSetupScript, AProgramItsOwnerMayRunButNotReadIsFound) {
    place_program("run-only");
    fs::permissions(folder_ / "run-only", fs::perms::owner_exec);
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=run-only\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(wait_for_record(), tail() + "\n" + folder_.string() + "\n");
}

TEST_F(RunSetupScript, ASystemProgramIsFoundOnTheSearchPath) {
    // A bare name that is not in the extraction folder is left to the system.
    const fs::path bin = folder_.parent_path() / (folder_.filename().string() + "-bin");
    fs::remove_all(bin);
    fs::create_directories(bin);
    fs::copy_file(fs::path(KX_BUILD_DIR) / "tests" / "record-args", bin / "kx-system-tool");
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    set_env("PATH", bin.string() + ":" + path);
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=kx-system-tool -s\n");
    const bool launched = run();
    set_env("PATH", path);
    ASSERT_TRUE(launched);
    EXPECT_EQ(wait_for_record(), "-s " + tail() + "\n" + folder_.string() + "\n");
    fs::remove_all(bin);
}

TEST_F(RunSetupScript, ScriptWithMissingInterpreterFails) {
    write_file(folder_ / "setup.sh", "#!/nonexistent/shell\n");
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=setup.sh\n");
    EXPECT_FALSE(run());
}

TEST_F(RunSetupScript, PlainDataFileIsNotLaunched) {
    write_file(folder_ / "readme.txt", "just text\n");
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=readme.txt\n");
    EXPECT_FALSE(run());
    EXPECT_EQ(fs::status(folder_ / "readme.txt").permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(RunSetupScript, ProgramInSubfolderNamedWithBackslash) {
    // Scripts are written for Windows; the extracted folder uses slashes.
    fs::create_directories(folder_ / "bin");
    place_program("bin/setup");
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=bin\\setup   a  b\n");
    ASSERT_TRUE(run());
    // Runs of spaces separate words, as a Windows program's start-up splits them.
    EXPECT_EQ(wait_for_record(), "a b " + tail() + "\n" + folder_.string() + "\n");
}

TEST_F(RunSetupScript, ProgramWithAbsolutePath) {
    place_program("elsewhere");
    write_file(folder_ / "setup.spt", "[Values]\nSetupFile=" + (folder_ / "elsewhere").string() + "\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(wait_for_record(), tail() + "\n" + folder_.string() + "\n");
}
#endif

TEST_F(RunSetupScript, ANamesakeBesideTheInstallerIsNotStartedInstead) {
    // An installer called setup.exe carrying a product program setup.exe: the
    // product's runs, not the file beside the installer (here an unrunnable
    // namesake beside the test program). On Windows a name without its
    // extension finds the program too.
    char own[platform::MAX_PATH_CHARS + 1];
    ASSERT_GT(platform::own_program_path(own, sizeof own), 0u);
    const std::string program = std::string("kx-twin") + PROGRAM_SUFFIX;
    const fs::path namesake = fs::path(own).parent_path() / program;
    write_file(namesake, "not a program\n");
    place_program(program);
    std::vector<std::string> names = {program};
    if (PROGRAM_SUFFIX[0] != '\0') names.push_back("kx-twin");
    for (const std::string& name : names) {
        fs::remove(record_);
        write_file(folder_ / "setup.spt", "[Values]\nSetupFile=" + name + " -t\n");
        EXPECT_TRUE(run()) << name;
        EXPECT_EQ(wait_for_record(), "-t " + tail() + "\n" + folder_.string() + "\n") << name;
    }
    fs::remove(namesake);
}

TEST_F(RunSetupScript, FailureCleanupRemovesExtractionFolder) {
    const fs::path log = folder_.parent_path() / (folder_.filename().string() + ".log");
    fs::remove(log);
    set_env("KELVARIX_MESSAGE_LOG", log.string());
    fs::create_directories(folder_ / "a" / "b");
    write_file(folder_ / "setup.spt", "[Values]\n");
    write_file(folder_ / "a" / "one.txt", "1");
    write_file(folder_ / "a" / "b" / "two.txt", "2");
    ASSERT_FALSE(run());
    setup_failure_cleanup(folder_text_.c_str());
    set_env("KELVARIX_MESSAGE_LOG", "");
    EXPECT_FALSE(fs::exists(folder_));
    EXPECT_EQ(read_file(log), "ERROR: Error 4! Can't execute setup script.\n");
    fs::remove(log);
}

}  // namespace
