// Shared helpers of the fuzz targets: a private scratch folder per fuzzing
// process, whole-file writes, a check that nothing landed outside a
// destination, and a way back from the extraction core's process exit.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <system_error>

#include "platform/fault_hooks.h"

namespace fuzz {

namespace fs = std::filesystem;

// A fault the harness found: print it and stop the run as a crash.
[[noreturn]] inline void finding(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "FINDING: %s %s\n", what, detail.c_str());
    std::abort();
}

// A folder of this process below the temporary folder, created on first use.
inline const fs::path& scratch_root() {
    static const fs::path root = [] {
        std::error_code ec;
        fs::path p = fs::temp_directory_path(ec);
        if (ec) p = "/tmp";
        p /= "kx_fuzz_" + std::to_string(static_cast<long long>(std::rand())) + "_" +
             std::to_string(reinterpret_cast<uintptr_t>(&ec) & 0xFFFFFF);
        fs::create_directories(p);
        return p;
    }();
    return root;
}

inline void write_whole(const fs::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Removes a tree even when extraction made parts of it read-only.
inline void remove_tree(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return;
    for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

// Every entry below root must be one of the allowed paths or lie below inside.
inline void check_contained(const fs::path& root, const fs::path& inside, std::initializer_list<fs::path> allowed) {
    std::error_code ec;
    std::string in = inside.lexically_normal().string();
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string p = it->path().lexically_normal().string();
        bool ok = p == in || (p.size() > in.size() && p.compare(0, in.size(), in) == 0 && p[in.size()] == '/');
        for (const fs::path& a : allowed)
            if (p == a.lexically_normal().string()) ok = true;
        if (!ok) finding("written outside the destination:", p);
    }
}

// The extraction core ends the process on fatal conditions; a fuzz run takes
// that as the end of one input instead.
inline std::jmp_buf exit_jump;
inline int exit_code_seen = -1;

inline void on_exit_hook(int code) {
    exit_code_seen = code;
    std::longjmp(exit_jump, 1);
}

}  // namespace fuzz
