// Packing and unpacking a large member: time, throughput and the peak memory
// of the process. The copy goes through one bounded buffer, so the peak must
// stay far below the member's size (the target is under 64 MiB for 1 GiB).
//
//   bench-bundle [member MiB, default 1024] [work folder, default $TMPDIR or /tmp]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bundle/bundle.h"
#include "platform/platform.h"

namespace {

double peak_mib() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const long mib = argc > 1 ? std::atol(argv[1]) : 1024;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    std::string work = base + "/kx_bench_bundle_" + std::to_string(static_cast<long>(std::time(nullptr)));
    if (platform::make_directory(work.c_str()) != platform::DirResult::ok ||
        !platform::set_current_directory(work.c_str())) {
        std::fprintf(stderr, "cannot use %s\n", work.c_str());
        return 1;
    }

    // The member: mib MiB of a cheap pattern, written in 1 MiB blocks.
    static unsigned char block[1 << 20];
    for (size_t i = 0; i < sizeof block; ++i) block[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    platform::File* member = platform::file_open("member.bin", platform::FileOpen::read_write_always);
    bool written = member != nullptr;
    for (long k = 0; written && k < mib; ++k) written = platform::file_write(member, block, sizeof block) == sizeof block;
    if (!platform::file_close(member) || !written) {
        std::printf("cannot write the member\n");
        return 1;
    }
    std::printf("member: %ld MiB, peak before packing: %.1f MiB\n", mib, peak_mib());

    auto start = std::chrono::steady_clock::now();
    static char name[] = "member.bin";
    char* files[] = {name};
    const bool packed = build_bundle("bundle.bin", 0, files);
    double t = seconds_since(start);
    std::printf("pack:   %s in %.2f s (%.0f MB/s), peak memory %.1f MiB\n", packed ? "ok" : "FAILED", t,
                mib * 1.048576 / t, peak_mib());

    (void)platform::delete_file("member.bin");
    start = std::chrono::steady_clock::now();
    const bool unpacked = unpack_bundle(nullptr, "bundle.bin", "out");
    t = seconds_since(start);
    std::printf("unpack: %s in %.2f s (%.0f MB/s), peak memory %.1f MiB\n", unpacked ? "ok" : "FAILED", t,
                mib * 1.048576 / t, peak_mib());

    // Clean-up of the scratch files; what cannot go stays in the temporary folder.
    if (!platform::set_current_directory(work.c_str())) return 1;
    (void)platform::delete_file("out/member.bin");
    (void)platform::remove_directory("out");
    (void)platform::delete_file("bundle.bin");
    (void)platform::set_current_directory(base.c_str());
    (void)platform::remove_directory(work.c_str());
    return packed && unpacked ? 0 : 1;
}
