// Fuzz target: the bundle trailer. The directory walk must keep every member
// inside the file, the content size must agree with the walk, and unpacking
// a bundle whose names are plain relative names must write only below the
// destination.
#include <cstdint>
#include <cstring>

#include "../common/fuzz_support.h"
#include "bundle/bundle.h"
#include "platform/platform.h"

namespace {

struct Walk {
    uint64_t file_size = 0;
    uint64_t total = 0;
    bool plain_names = true;
};

bool plain_relative(const char* name) {
    if (name[0] == '\0' || name[0] == '/' || name[0] == '\\' || std::strchr(name, ':')) return false;
    const char* p = name;
    for (;;) {
        const char* end = p + std::strcspn(p, "/\\");
        size_t n = static_cast<size_t>(end - p);
        if ((n == 2 && p[0] == '.' && p[1] == '.') || (n == 1 && p[0] == '.') || n == 0) return false;
        if (*end == '\0') return true;
        p = end + 1;
    }
}

bool visit(const BundleMember& m, void* context) {
    Walk& w = *static_cast<Walk*>(context);
    if (m.offset > w.file_size || m.length > w.file_size - m.offset)
        fuzz::finding("member outside the file", std::to_string(m.offset) + "+" + std::to_string(m.length));
    if (std::memchr(m.name, 0, sizeof m.name) == nullptr) fuzz::finding("member name not terminated");
    if (!plain_relative(m.name)) w.plain_names = false;
    w.total += m.length;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fuzz;
    static const fs::path work = scratch_root() / "b";
    static const fs::path bundle = work / "in.exe";
    static const fs::path dest = work / "out";
    static const fs::path cwd = fs::current_path();
    fs::create_directories(work);
    write_whole(bundle, data, size);

    Walk walk;
    walk.file_size = size;
    platform::File* f = platform::file_open(bundle.string().c_str(), platform::FileOpen::read);
    if (!f) finding("cannot open scratch file");
    bool valid = walk_bundle_directory(f, visit, &walk);
    platform::file_close(f);

    int64_t content = bundle_content_size(bundle.string().c_str(), nullptr);
    if (valid != (content >= 0)) finding("content size and walk disagree on validity");
    if (valid && static_cast<uint64_t>(content) != walk.total)
        finding("content size differs from the members", std::to_string(content) + " vs " + std::to_string(walk.total));

    if (valid && walk.plain_names) {
        unpack_bundle(nullptr, bundle.string().c_str(), dest.string().c_str());
        fs::current_path(cwd);  // unpacking steps into the destination by design
        check_contained(work, dest, {bundle});
        remove_tree(dest);
    }
    return 0;
}
