// Packing the files of a non-solid single archive on several threads. Each
// entry of such an archive starts from a fresh coder state and cannot reach
// back into other entries, so a file packed by any thread with the same
// settings gives the same bytes; only the order of writing is kept on the
// calling thread. Memory stays bounded: only files up to PREPARE_LIMIT bytes
// are packed ahead, and the jobs not yet written hold at most AHEAD_BUDGET
// bytes: a job counts its file's size while it is packed, then the size of
// what it packed to. So the threads can run well ahead of a large file that
// the calling thread streams, by as much more as the files pack smaller.
// At most MAX_THREADS work at once (MAX_THREADS_LEVEL_5 at level 5), however
// many are asked for.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "pack/pack_folder.h"

namespace pack {

namespace {

constexpr uint64_t AHEAD_BUDGET = 3 * PREPARE_LIMIT;

// Each helper holds up to about 20 MiB while it packs: its coder (match
// chains, heads, history: about 8 MiB), a file of up to PREPARE_LIMIT and
// what it packs to, and what its allocator keeps of them between jobs. The
// calling thread needs about 14 MiB, so with two helpers the packer peaks at
// 56-58 MiB on files of 0.5 to 4 MiB (measured), and a third would take it
// to about 71 MiB, past the 64 MiB the packer keeps to. Level 5's parse
// adds about 8 MiB to each coder (arrivals and match candidates of a block),
// so there one helper is the most (two peaked at 64 MiB).
constexpr int MAX_THREADS = 3;
constexpr int MAX_THREADS_LEVEL_5 = 2;

struct Job {
    size_t entry = 0;
    bool done = false;
    bool prepared = false;  // false: the writing thread streams the file itself
    uint64_t held = 0;      // bytes it counts in Shared::ahead
    PreparedEntry result;
};

struct Shared {
    const std::vector<TreeEntry>* entries = nullptr;
    int level = 3;
    std::vector<Job> jobs;
    size_t next = 0;     // next job to claim
    size_t written = 0;  // jobs below this are written
    uint64_t ahead = 0;  // bytes held by claimed jobs not yet written (Job::held)
    bool stop = false;
    std::mutex m;
    std::condition_variable cv;
};

// Claims the next job when the budget allows it (the oldest unwritten job is
// always allowed). Called with the lock held.
bool claim(Shared& s, size_t& j) {
    if (s.next >= s.jobs.size()) return false;
    uint64_t size = (*s.entries)[s.jobs[s.next].entry].size;
    if (s.next != s.written && s.ahead + size > AHEAD_BUDGET) return false;
    j = s.next++;
    s.ahead += size;
    s.jobs[j].held = size;
    return true;
}

// Reads the whole file; false when it cannot be read or is no longer small
// (the writing thread then streams it and reports what went wrong).
bool read_small(const TreeEntry& t, std::vector<uint8_t>& data) {
    platform::File* f = platform::file_open(t.path.c_str(), platform::FileOpen::read);
    int64_t size = f ? platform::file_size(f) : -1;
    bool ok = size > 0 && static_cast<uint64_t>(size) <= PREPARE_LIMIT;
    if (ok) {
        data.resize(static_cast<size_t>(size));
        ok = platform::file_read(f, data.data(), data.size()) == data.size();
    }
    platform::file_close(f);
    return ok;
}

void run_job(Shared& s, V20Encoder& enc, size_t j) {
    Job& job = s.jobs[j];
    const TreeEntry& t = (*s.entries)[job.entry];
    std::vector<uint8_t> data;
    bool prepared = read_small(t, data);
    if (prepared) {
        prepare_entry(enc, s.level, data.data(), data.size(), true, job.result);
        job.result.data.shrink_to_fit();  // it is held until written: no spare room
    }
    std::lock_guard<std::mutex> lock(s.m);
    job.prepared = prepared;
    job.done = true;
    // From now on the job holds its result (or nothing, if the writing
    // thread is to stream the file).
    const uint64_t held = prepared ? job.result.data.capacity() : 0;
    s.ahead = s.ahead - job.held + held;
    job.held = held;
    s.cv.notify_all();
}

void worker(Shared& s) {
    V20Encoder enc;  // set up on its first job
    std::unique_lock<std::mutex> lock(s.m);
    for (;;) {
        size_t j = 0;
        while (!s.stop && !claim(s, j)) {
            if (s.next >= s.jobs.size()) return;
            s.cv.wait(lock);
        }
        if (s.stop) return;
        lock.unlock();
        run_job(s, enc, j);
        lock.lock();
    }
}

}  // namespace

WriteResult pack_tree_parallel(ArchiveWriter& w, const std::vector<TreeEntry>& entries, PackProgressFn progress,
                               void* context, std::string& error) {
    Shared s;
    s.entries = &entries;
    s.level = w.options.level;
    std::vector<size_t> job_of(entries.size(), SIZE_MAX);
    for (size_t i = 0; i < entries.size(); ++i)
        if (!entries[i].is_folder && entries[i].size > 0 && entries[i].size <= PREPARE_LIMIT) {
            job_of[i] = s.jobs.size();
            s.jobs.emplace_back();
            s.jobs.back().entry = i;
        }
    std::vector<std::thread> helpers;
    const int threads = std::min(w.options.threads, w.options.level >= 5 ? MAX_THREADS_LEVEL_5 : MAX_THREADS);
    for (int k = 1; k < threads && !s.jobs.empty(); ++k) helpers.emplace_back(worker, std::ref(s));

    uint64_t total = 0, done = 0;
    for (const TreeEntry& t : entries) total += t.size;
    WriteResult r = WriteResult::ok;
    for (size_t i = 0; i < entries.size() && r == WriteResult::ok; ++i) {
        const TreeEntry& t = entries[i];
        if (t.is_folder) {
            r = writer_add_folder(w, t.name.c_str(), t.dos_time, stored_attributes(w, t));
        } else if (job_of[i] == SIZE_MAX) {
            r = add_tree_file(w, t, error);
            done += t.size;
        } else {
            size_t j = job_of[i];
            std::unique_lock<std::mutex> lock(s.m);
            while (!s.jobs[j].done) {
                // Rather than wait, pack the next file that is due.
                size_t k = 0;
                if (claim(s, k)) {
                    lock.unlock();
                    run_job(s, w.encoder, k);
                    lock.lock();
                } else {
                    s.cv.wait(lock);
                }
            }
            lock.unlock();
            Job& job = s.jobs[j];
            r = job.prepared
                    ? writer_add_prepared(w, t.name.c_str(), t.size, t.dos_time, stored_attributes(w, t), job.result)
                    : add_tree_file(w, t, error);
            job.result = PreparedEntry{};
            lock.lock();
            s.ahead -= job.held;
            job.held = 0;
            s.written = j + 1;
            s.cv.notify_all();
            lock.unlock();
            done += t.size;
        }
        if (r == WriteResult::ok) {
            if (progress) progress(t.name.c_str(), done, total, context);
        } else if (r != WriteResult::bad_argument || error.empty()) {
            error = (r == WriteResult::volume_too_small ? "volume size too small near: " : "cannot write entry: ") +
                    t.name;
        }
    }
    {
        std::lock_guard<std::mutex> lock(s.m);
        s.stop = true;
        s.cv.notify_all();
    }
    for (std::thread& h : helpers) h.join();
    return r;
}

}  // namespace pack
