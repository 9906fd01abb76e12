// Test helpers shared by the shell, bundle and platform tests: a fresh
// scratch folder per test, file helpers and environment variables.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace scratch {

namespace fs = std::filesystem;

inline void set_env(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline void unset_env(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// Bytes 0..n-1 of a recognisable pattern (differs per seed).
inline std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}

inline std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

// A fresh, empty folder under the system's temporary folder, made current
// for the test and removed afterwards (the starting folder is restored).
class Folder {
public:
    explicit Folder(const std::string& tag) {
        previous_ = fs::current_path();
        static unsigned counter = 0;
        path_ = fs::temp_directory_path() /
                ("kx_" + tag + "_" + std::to_string(static_cast<unsigned>(std::rand())) + "_" +
                 std::to_string(++counter));
        fs::remove_all(path_);
        fs::create_directories(path_);
        path_ = fs::canonical(path_);
        fs::current_path(path_);
    }
    ~Folder() {
        std::error_code ec;
        fs::current_path(previous_, ec);
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    fs::path path_;
    fs::path previous_;
};

}  // namespace scratch
