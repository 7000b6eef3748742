// UTF-8, the 8-bit text of paths, the project file and the log: whether a
// text is well formed, where its characters begin, and lines cut at a
// buffer's end without cutting one.
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

// Formats into line[size] as snprintf does. A text longer than the line is
// cut at its end, and the bytes of a character cut short there are dropped,
// never shown as another character.
void FormatWhole(char* line, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
