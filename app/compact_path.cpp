#include "app/compact_path.h"

#include <algorithm>
#include <cstring>

#include "jobs/utf8.h"

namespace {

constexpr char kEllipsis[] = "...";
constexpr size_t kEllipsisLength = sizeof kEllipsis - 1;

// Characters, not bytes: a UTF-8 character takes one place and is never cut.
size_t CharacterCount(const char* text, size_t length) {
  size_t count = 0;
  for (size_t i = 0; i < length; ++i)
    count += !IsContinuationByte(text[i]);
  return count;
}

// The byte where character n of text begins (its end when it has fewer).
size_t CharacterStart(const char* text, size_t n) {
  size_t i = 0;
  for (; text[i] != '\0'; ++i) {
    if (!IsContinuationByte(text[i]) && n-- == 0) break;
  }
  return i;
}

}  // namespace

void CompactPathToWidth(char* path, int width, char separator) {
  const size_t length = std::strlen(path);
  if (width < static_cast<int>(kEllipsisLength) ||
      CharacterCount(path, length) <= static_cast<size_t>(width)) {
    return;
  }
  const size_t limit = static_cast<size_t>(width);
  const char* last = std::strrchr(path, separator);
  // The tail kept: the separator before the file name and the name itself.
  const size_t tail_bytes = last != nullptr ? length - static_cast<size_t>(last - path) : length;
  const size_t tail = CharacterCount(path + length - tail_bytes, tail_bytes);
  if (tail + kEllipsisLength > limit) {
    // Not even the name fits: keep what fits of the path's start.
    std::memcpy(path + CharacterStart(path, limit - kEllipsisLength), kEllipsis,
                kEllipsisLength + 1);
    return;
  }
  const size_t head = CharacterStart(path, limit - kEllipsisLength - tail);
  std::memmove(path + head + kEllipsisLength, path + length - tail_bytes, tail_bytes + 1);
  std::memcpy(path + head, kEllipsis, kEllipsisLength);
}

void ComposeTerminalLine(char* line, size_t size, const char* prefix, const char* path, int columns,
                         char separator) {
  FormatWhole(line, size, "%s%s", prefix, path);
  if (columns == 0) return;
  const size_t start = std::min(std::strlen(prefix), std::strlen(line));
  CompactPathToWidth(line + start, columns - 1 - static_cast<int>(start), separator);
}
