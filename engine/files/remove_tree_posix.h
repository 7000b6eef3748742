// Deleting for good on POSIX, for volumes without a trash.
#pragma once

// Deletes name in the folder open as parent (AT_FDCWD for a path): a file, or
// a folder with everything in it. A symbolic link is removed as a link; what
// it points to is not touched. Returns 0 or the errno of the first failure.
int RemoveTree(int parent, const char* name);
