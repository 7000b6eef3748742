// Copying on Windows: a file copied under a temporary name beside its
// destination and put in place in one rename, and the questions about
// copies (the same bytes, flushed to the disk).
#pragma once

#include <cstdint>

// The Windows backend's ReplaceWithCopy: the copy to a temporary file beside
// destination, put in place as the seam promises, folder (a held folder or
// nullptr) checked before the copy and before the rename.
bool CopyIntoPlace(void* folder, const char* source, const char* destination,
                   const char* keep_old_as, uint32_t* error, bool* at_source);

// True when the files at a and b are of one size and hold the same bytes.
bool SameFileContent(const char* a, const char* b);

// Writes the file at path out to its disk; false when it cannot be.
bool FlushFile(const char* path);

// Renames path to new_path through the temporary name: Wine takes a direct
// rename to another letter case as one that changes nothing.
bool RenameThroughTemporary(const char* path, const char* new_path);
