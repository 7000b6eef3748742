#include "app/compact_path.h"

#include <cstring>

namespace {
constexpr char kEllipsis[] = "...";
constexpr size_t kEllipsisLength = sizeof kEllipsis - 1;
}  // namespace

void CompactPathToWidth(char* path, int width, char separator) {
  const size_t length = std::strlen(path);
  if (width < static_cast<int>(kEllipsisLength) || length <= static_cast<size_t>(width)) return;
  const size_t limit = static_cast<size_t>(width);
  const char* last = std::strrchr(path, separator);
  // The tail kept: the separator before the file name and the name itself.
  const size_t tail = last != nullptr ? length - static_cast<size_t>(last - path) : length;
  if (tail + kEllipsisLength > limit) {
    // Not even the name fits: keep what fits of the path's start.
    std::memcpy(path + limit - kEllipsisLength, kEllipsis, kEllipsisLength + 1);
    return;
  }
  const size_t head = limit - kEllipsisLength - tail;
  std::memmove(path + head + kEllipsisLength, path + length - tail, tail + 1);
  std::memcpy(path + head, kEllipsis, kEllipsisLength);
}
