// Names compared as a volume that ignores letter case compares them.
#pragma once

#include <string>

// name (UTF-8) with every letter in lower case, so that two names a volume
// takes as the same entry fold to the same text. Without a locale: ASCII,
// Latin-1 Supplement, Latin Extended-A, Greek and Cyrillic letters are
// folded, every other character (and a byte that is no UTF-8) is kept.
std::string FoldCase(const char* name);

// name with its ASCII letters in the other case; empty when it has none. The
// backends ask a volume about a name's other spelling with it.
std::string FlipAsciiCase(const char* name);
