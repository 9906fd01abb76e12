// Bundles: the program's own executable with files (members) appended behind
// it and a directory at the very end (its layout: format/bundle_directory.h).
// A bundle signed as a Windows program (Authenticode) carries the signature's
// certificate table behind all this, so there the directory ends where that
// table begins (or up to 7 zero bytes before it, where signing aligned the
// table).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/bundle_directory.h"
#include "platform/platform.h"

// Largest signature (certificate table and its alignment) that build_bundle
// takes off a signed bundle before it appends members; larger ones are refused.
inline constexpr uint32_t MAX_SIGNATURE_BYTES = 256 * 1024;

// Appends the content of source behind the end of target, opened with how
// (read_write_always for the copy of the program, read_write_append for
// members). Copies in bounded chunks. Returns the offset in target at which
// the content begins, or -1 when source cannot be opened or read, or target
// cannot be opened or written.
int64_t append_file(const char* source, const char* target, platform::FileOpen how);

// Builds or extends the bundle bundle_name (relative to the current folder)
// with files[0..last_index]: a bundle that does not exist yet starts as a
// copy of the running program (runnable, like the program itself). Names
// must be 1..255 characters and every file must be readable; the result is
// false otherwise, and on any failure the bundle is left exactly as it was
// before (a new one is deleted). An existing bundle that is signed loses its
// signature first (members behind a certificate table would break it; the
// result is to be signed again); a failure puts the signature back.
bool build_bundle(const char* bundle_name, int last_index, char* const* files);

// Writes every member of the bundle into destination (created when missing;
// it becomes the current folder), each under its own name below it and never
// anywhere else: a drive and a leading separator in the name are dropped, a
// name with a ".." component is refused, folders in the name are made inside
// destination, and no link there is followed. source_folder, when given,
// becomes the current folder first. False when the bundle cannot be opened or
// its directory is not a valid one, or when a member was refused or could not
// be written (the others are still written; a half-written member is deleted
// when this run made its file, an existing file is never removed).
bool unpack_bundle(const char* source_folder, const char* bundle_name, const char* destination);

// Makes folder current (when given and not empty; it stays current) and
// returns the total length of the bundle's members, or -1 when the bundle
// cannot be opened or has no valid directory.
int64_t bundle_content_size(const char* bundle_path, const char* folder);

// One member as the directory describes it.
struct BundleMember {
    uint64_t offset;
    uint64_t length;
    char name[256];
};

// Checks the directory of an open bundle and calls visit for every member in
// order (visit may be null; returning false from it stops the walk with
// false). Returns false when the file is too short, the directory is larger
// than the file or than MAX_BUNDLE_DIRECTORY, an entry runs past the
// directory, or the offsets decrease or pass the directory start.
bool walk_bundle_directory(platform::File* bundle, bool (*visit)(const BundleMember&, void*), void* context);

// File offset of the certificate table of a signed Windows program when that
// table runs to the end of the file, or -1: not a PE file, no table, or one
// that the PE headers describe inconsistently. The headers are read with
// every offset checked against the file.
int64_t certificate_table_start(platform::File* file);
