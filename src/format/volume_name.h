// How the volumes of a set are named: the name after x.rar (or x.exe, or x)
// is x.r00, then x.r01 ... x.r99, x.s00 ...; only the file-name part of a
// path has an extension. Reader and writer both follow this rule.
#pragma once

// Turns path (a buffer of MAX_PATH_CHARS + 1 bytes) into the name of the next
// volume. False, with path possibly changed, when the name would not fit.
[[nodiscard]] bool next_volume_name(char* path);
