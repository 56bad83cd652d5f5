#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/types.h"
#include "settings/profile_file.h"
#include "settings/watch_list.h"

// Where the watch list is kept between runs, relative to the current directory.
inline constexpr const char kSettingsFileName[] = "./mavrin.ini";
inline constexpr const char kSettingsSection[] = "MAV_RIN";
// The longest path an entry holds: the system's limit (4,096 bytes with the terminating zero).
inline constexpr std::size_t kMaxPathBytes = 4095;

// save == false: replaces `list` by the entries of section "MAV_RIN" of `file`: every slot with a
// path, in slot order, gaps or not (above slot 100 only up to the first empty one, since older saves
// left deleted entries there). An entry's processors are its "%03d_affinity_cpus" list when that
// is valid, otherwise (with a line on `errors` for an invalid one) its "%03d_affinity_mask". A
// slot whose values the list cannot hold (a mask that is no number the file format allows, a path
// longer than kMaxPathBytes) is left out and said on `errors`; a file that cannot be read gives an
// empty list, also said there.
// save == true: writes `list` to `file` in one atomic commit, entries in slots 001, 002, ... and
// every other slot blanked, but for the slots a load left out: those keep what the user wrote. A
// set within CPU 0-31 is written as its mask alone, as always; a set reaching CPU 32 or above as
// its lowest 32 processors' mask (what an older reader can hold) and its whole list in the kernel's
// syntax ("0-3,40-47") as "%03d_affinity_cpus". A list key the set does not need is blanked. On
// failure the file keeps its previous content, and the entries' lines say so on `diag`, one line
// says why on `errors`.
// Diagnostic lines go to `diag`, what the user must hear of to `errors` (nullptr: none). Returns
// whether the load read the file, or the save reached the disk.
bool SerializeWatchList(WatchList& list, ProfileFile& file, bool save, std::FILE* diag = stdout,
                        std::FILE* errors = stderr);

// A mask as the settings file holds it: blanks around, an optional sign, decimal digits, from
// -2147483648 to 4294967295 (negative numbers stand for masks with bit 31 set); an empty text is
// 0. False, leaving `mask` alone, for anything else ("0x10", "abc", "4294967296", "7 cpus").
bool ParseAffinityMask(const char* text, AffinityMask& mask);

// ---- the steps of SerializeWatchList, for callers that run their own batch ----

// Reads the list from the running batch.
void ReadWatchList(WatchList& list, ProfileFile& file, std::FILE* errors);
// Writes the list into the running batch and commits it; the lines as above.
bool WriteWatchList(const WatchList& list, ProfileFile& file, std::FILE* diag, std::FILE* errors);
