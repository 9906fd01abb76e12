// Helpers of the archive reader tests: a scratch folder per test (message
// boxes unattended and recorded in a log there), corpus paths and listings;
// file and pattern helpers come from the shared scratch helpers.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_state.h"
#include "archive/driver.h"
#include "support/scratch.h"

namespace archive_test {

namespace fs = std::filesystem;

using scratch::pattern;
using scratch::read_file;
using scratch::set_env;
using scratch::write_file;

// The same under the names the fault-injection tests use.
inline std::string read_bytes(const fs::path& path) { return read_file(path); }
inline void write_bytes(const fs::path& path, const std::string& content) { write_file(path, content); }

inline fs::path corpus(const std::string& name) { return fs::path(KX_CORPUS_DIR) / name; }

// Every regular file below root, as paths relative to it with '/'.
inline std::vector<std::string> files_below(const fs::path& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file()) out.push_back(fs::relative(it->path(), root).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}

// Every entry below root (links not entered) with its kind, permissions and,
// for files, content: equal before and after a run when nothing there was
// written, made, chmodded or removed.
inline std::vector<std::string> snapshot(const fs::path& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::file_status st = fs::symlink_status(it->path());
        std::string line = fs::relative(it->path(), root).generic_string();
        line.append(1, ' ').append(std::to_string(static_cast<int>(st.type())));
        line.append(1, ' ').append(std::to_string(static_cast<unsigned>(st.permissions())));
        if (st.type() == fs::file_type::regular) line.append(1, ' ').append(read_file(it->path()));
        out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Makes link, a symbolic link to target (a folder link when target is a
// folder); false where the system does not let this account make one.
inline bool make_link(const fs::path& target, const fs::path& link) {
    std::error_code ec;
    if (fs::is_directory(target))
        fs::create_directory_symlink(target, link, ec);
    else
        fs::create_symlink(target, link, ec);
    return !ec;
}

// A fresh folder under the system's temporary folder with "out" inside it;
// message boxes are unattended and recorded in "messages.log" there.
class Scratch {
public:
    Scratch() {
        previous_ = fs::current_path();
        // Named after the running test: a death test's child process (which
        // re-runs the test body on Windows) then works in the same folder.
        static std::string last_test;
        static unsigned counter = 0;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "none";
        if (name != last_test) counter = 0;
        last_test = name;
        path_ = fs::temp_directory_path() / ("kxa_" + name + "_" + std::to_string(++counter));
        fs::remove_all(path_);
        fs::create_directories(path_ / "out");
        path_ = fs::canonical(path_);
        set_env("KELVARIX_UNATTENDED", "1");
        set_env("KELVARIX_MESSAGE_LOG", (path_ / "messages.log").string());
    }
    ~Scratch() {
        std::error_code ec;
        fs::current_path(previous_, ec);
        for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    fs::path operator/(const std::string& name) const { return path_ / name; }
    const fs::path& path() const { return path_; }
    fs::path out() const { return path_ / "out"; }
    std::string messages() const { return read_file(path_ / "messages.log"); }
    // Extracts archive into out/.
    int extract(const fs::path& archive) const { return extract_archive(archive.string().c_str(), out().string().c_str()); }

private:
    fs::path path_;
    fs::path previous_;
};

}  // namespace archive_test
