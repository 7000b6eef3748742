// Removing on Windows: to the recycle bin, or for good for a volume without
// one.
#pragma once

// Moves the entry at path to the recycle bin, no dialog shown (any window
// the shell might show is owned by owner, an HWND or nullptr). Returns 0, or
// kErrorNoTrash where the shell would delete for good without a word (a
// share, a removable drive), or the shell's failure.
int ToRecycleBin(const char* path, void* owner);

// Deletes the entry at path for good, walked by its extended-length name so
// that a deep tree goes whole: a folder with everything in it, a link as
// itself. 0 or the first failure's number.
int RemoveTree(const char* path);
