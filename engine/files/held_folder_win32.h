// The folders the Windows backend holds for a walk, and the check that a
// path still reaches the folder held.
#pragma once

#include <cstdint>

// A folder held for a walk: its identity, which tells whether a path still
// reaches it. No handle stays open, so that the folder can be renamed or
// removed meanwhile as any other, and a walk's questions go by path.
struct HeldFolder {
  uint64_t volume;
  uint64_t id;
  bool followed;  // the job's top, reached through links as named
};

// Opens path as a folder to hold: following a link (the job's own top) or,
// without follow, refusing one as a swapped folder. nullptr with *error set.
HeldFolder* OpenHeld(const char* path, bool follow, uint32_t* error);

// True when the folder at path is, opened again right now as it was held (a
// subfolder without following a link), the held folder.
bool HeldAt(const HeldFolder* held, const char* path);

// True when the folder of path is the held folder, or there is none: the
// call goes by path. What is swapped in after this check and before the
// call it guards is not seen.
bool StillHeld(void* folder, const char* path);
