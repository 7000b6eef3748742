// Test helpers whose working differs by system: hidden entries, exact file
// times and folder links.
#pragma once

#include <cstdint>
#include <string>

#include "tests/test_support.h"

// Creates an empty hidden file or folder in folder, from name (a dot-name on
// POSIX, the hidden attribute on Windows), and returns its path.
fs::path CreateHidden(const fs::path& folder, const std::string& name, bool as_folder);

// Sets the last-write time of a file or folder to a FILETIME value (100-ns
// units since 1601-01-01) at full resolution.
bool SetWriteTime(const fs::path& path, int64_t filetime);

// Makes link a symbolic link to the folder target. False where the tests
// cannot make one.
bool MakeFolderLink(const fs::path& target, const fs::path& link);
