// UTF-8, the 8-bit text of paths, the project file and the log: whether a
// text is well formed, and where its characters begin.
#pragma once

#include <cstddef>
#include <string_view>

// True when text is well-formed UTF-8: shortest forms only, no surrogates,
// nothing past U+10FFFF. Plain ASCII text is.
bool IsUtf8(std::string_view text);

// True when byte continues a multi-byte character rather than beginning one.
inline bool IsContinuationByte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The length of the longest start of text[0, length) that does not end in a
// character cut short: where a line was cut at a buffer's end, the bytes of
// its last character that made it in are dropped, never shown as another.
size_t WholeCharactersLength(const char* text, size_t length);
