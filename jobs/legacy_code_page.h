// Project files written before the programs ran in UTF-8 hold their paths in
// the system's legacy 8-bit code page (on a Western system "Ü" is the single
// byte 0xDC). The OS seam that reads such text as UTF-8: one backend per
// system (legacy_code_page_win32.cpp, legacy_code_page_posix.cpp).
#pragma once

#include <string>
#include <string_view>

// Converts text from the system's legacy ANSI code page to UTF-8 in *utf8,
// which may be the string that text views. False, with *utf8 untouched, where
// there is nothing to convert from: on POSIX, where file names are bytes and
// the text names the same files as it stands; on Windows when the system's
// code page is UTF-8 itself or unknown.
bool LegacyCodePageToUtf8(std::string_view text, std::string* utf8);
