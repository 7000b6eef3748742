// What a volume does with names and times, asked of the volume itself: the
// POSIX backend's answers to IgnoresCase and TimesKept.
#pragma once

#include "engine/files/file_services.h"

bool VolumeIgnoresCase(const char* folder, bool may_probe);

bool VolumeTimesKept(const char* path, TimeKeeping* kept);

// True when path lies on a share or a FUSE volume: there a trash that fails
// to take an entry is one that cannot be used, as a share's has none.
bool OnShareOrFuse(const char* path);

// Renames path to new_path through a temporary name in the same folder: a
// volume that takes both names as the same entry would take a direct rename
// as one that changes nothing. 0 or an errno.
int RenameThroughTemporary(const char* path, const char* new_path);

// After mkdir of path failed with failure: true when the volume refuses the
// name itself, as it shows by making a folder of our temporary name form in
// the same place (removed at once).
bool FolderNameRefused(const char* path, int failure);
