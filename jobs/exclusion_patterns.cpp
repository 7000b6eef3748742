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

std::string PatternLines(const std::vector<std::string>& patterns) {
  std::string text;
  for (const std::string& pattern : patterns) {
    if (!text.empty()) text += "\r\n";
    text += pattern;
  }
  return text;
}

bool PatternsFromLines(std::string_view text, std::vector<std::string>* patterns,
                       int* refused_line) {
  std::vector<std::string> read;
  int line = 0;
  while (!text.empty()) {
    ++line;
    const size_t end = text.find('\n');
    std::string_view pattern = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!pattern.empty() && pattern.back() == '\r') pattern.remove_suffix(1);
    if (pattern.empty()) continue;
    if (!IsAcceptablePattern(pattern)) {
      *refused_line = line;
      return false;
    }
    read.emplace_back(pattern);
  }
  *patterns = std::move(read);
  return true;
}
