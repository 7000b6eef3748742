#include "jobs/exclusion_patterns.h"

bool IsAcceptablePattern(std::string_view pattern) {
  bool named = false;
  size_t element_start = 0;
  for (size_t i = 0; i <= pattern.size(); ++i) {
    const bool end = i == pattern.size();
    const char c = end ? '/' : pattern[i];
    if (!end && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)) return false;
    if (c != '/' && c != '\\') {
      named = true;
      continue;
    }
    if (pattern.substr(element_start, i - element_start) == "..") return false;
    element_start = i + 1;
  }
  return named;
}
