// Entry names made safe to write below a destination folder: the rules the
// archive reader applies to stored names, shared with the bundle's unpacking
// so that both keep one copy. Pure functions, no system calls.
#pragma once

// Removes one drive prefix, one leading ".\" or "..\" and one leading
// separator from source into destination (both 260 bytes; may be the same).
void make_relative_name(char* destination, const char* source);
// True when some component of name is ".." or made only of dots and spaces
// with two dots or more (which the system may trim to "..").
bool has_parent_component(const char* name);
// True when a name made relative can be written below the destination:
// not empty, not absolute, no drive prefix and no ".." component (nor one
// made only of dots and spaces, which the system may trim to "..").
bool is_safe_relative_name(const char* name);
