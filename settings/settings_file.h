#pragma once
#include <cstdio>

#include "platform/types.h"
#include "settings/profile_file.h"
#include "settings/watch_list.h"

// Where the watch list is kept between runs, relative to the current directory.
inline constexpr const char kSettingsFileName[] = "./mavrin.ini";
inline constexpr const char kSettingsSection[] = "MAV_RIN";

// save == false: replaces `list` by the entries of section "MAV_RIN" of `file`. A missing or
// unreadable file gives an empty list, silently.
// save == true: writes `list` to `file` in one atomic commit; on failure the file keeps its
// previous content and the failures are reported on `diag` only.
// Diagnostic lines go to `diag` (nullptr: none). Always returns true.
bool SerializeWatchList(WatchList& list, ProfileFile& file, bool save, std::FILE* diag = stdout);

// A mask as the settings file holds it: leading white space, an optional sign, then decimal digits
// up to the first other character, taken modulo 2^32 and negated for '-'. No digits give 0.
AffinityMask ParseAffinityMask(const char* text);
