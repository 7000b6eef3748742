#include "engine/rules/exclusions.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "engine/files/letter_case.h"
#include "engine/rules/worker_context.h"

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// The length of the UTF-8 character starting at text[0], at least 1.
size_t CharacterLength(std::string_view text) {
  size_t length = 1;
  while (length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
    ++length;
  return length;
}

// One element against one name: '*' any run of characters, '?' one.
bool MatchesName(std::string_view pattern, std::string_view name) {
  size_t p = 0;
  size_t n = 0;
  // Where the last '*' stood, and where the name stood when it was met.
  size_t star = std::string_view::npos;
  size_t star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_name = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += CharacterLength(name.substr(n));
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      // The last '*' takes one more character, and the rest is tried again.
      p = star;
      star_name += CharacterLength(name.substr(star_name));
      n = star_name;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

// The elements of pattern from p against the path's from n. "**" takes any
// number of them; a "**" at the pattern's end at least one (all a folder
// holds, not the folder itself).
bool MatchesElements(const std::vector<std::string>& pattern, size_t p,
                     const std::vector<std::string_view>& path, size_t n) {
  for (; p < pattern.size(); ++p, ++n) {
    if (pattern[p] == "**") {
      if (p + 1 == pattern.size()) return n < path.size();
      for (size_t k = n; k <= path.size(); ++k) {
        if (MatchesElements(pattern, p + 1, path, k)) return true;
      }
      return false;
    }
    if (n == path.size() || !MatchesName(pattern[p], path[n])) return false;
  }
  return n == path.size();
}

// The names of path split at separator; empty ones dropped.
void SplitPath(std::string_view path, char separator, std::vector<std::string_view>* elements) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != separator) continue;
    if (i > start) elements->push_back(path.substr(start, i - start));
    start = i + 1;
  }
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace

Exclusions CompileExclusions(const std::vector<std::string>& patterns, bool ignore_case) {
  Exclusions compiled;
  compiled.ignore_case = ignore_case;
  for (const std::string& text : patterns) {
    const std::string written = ignore_case ? FoldCase(text.c_str()) : text;
    CompiledPattern pattern;
    std::string_view rest = written;
    while (!rest.empty() && IsSeparator(rest.back())) {
      pattern.folders_only = true;
      rest.remove_suffix(1);
    }
    pattern.anchored = rest.find_first_of("/\\") != std::string_view::npos;
    // A pattern's '\\' is a separator as its '/' is.
    std::string joined(rest);
    for (char& c : joined) {
      if (c == '\\') c = '/';
    }
    std::vector<std::string_view> elements;
    SplitPath(joined, '/', &elements);
    for (const std::string_view element : elements) {
      // "." names the folder it stands in; "**" twice is "**" once.
      if (element == "." ||
          (element == "**" && !pattern.elements.empty() && pattern.elements.back() == "**")) {
        continue;
      }
      pattern.elements.emplace_back(element);
    }
    if (pattern.elements.empty()) continue;
    for (const std::string& element : pattern.elements) {
      if (element == "**") {
        pattern.any_depth = true;
      } else {
        ++pattern.fixed_elements;
      }
    }
    const std::string& last = pattern.elements.back();
    if (last != "**") pattern.last_tail = last.substr(last.find_last_of("*?") + 1);
    compiled.patterns.push_back(std::move(pattern));
  }
  return compiled;
}

bool MatchesExclusion(const Exclusions& exclusions, std::string_view path, bool is_folder,
                      char separator) {
  if (exclusions.patterns.empty()) return false;
  if (exclusions.ignore_case) {
    // path may be the scratch itself.
    std::string folded = FoldCase(std::string(path).c_str());
    exclusions.path.swap(folded);
    path = exclusions.path;
  }
  std::vector<std::string_view>& elements = exclusions.names;
  elements.clear();
  SplitPath(path, separator, &elements);
  if (elements.empty()) return false;
  const std::string_view name = elements.back();
  for (const CompiledPattern& pattern : exclusions.patterns) {
    if ((pattern.folders_only && !is_folder) || !name.ends_with(pattern.last_tail)) continue;
    if (!pattern.anchored) {
      if (MatchesName(pattern.elements[0], name)) return true;
      continue;
    }
    if (pattern.any_depth ? elements.size() < pattern.fixed_elements
                          : elements.size() != pattern.fixed_elements) {
      continue;
    }
    if (pattern.elements.back() != "**" && !MatchesName(pattern.elements.back(), name)) continue;
    if (MatchesElements(pattern.elements, 0, elements, 0)) return true;
  }
  return false;
}

bool IsTopSystemFolder(std::string_view name) {
  static constexpr std::array<std::string_view, 5> kSystemFolders = {
      "System Volume Information", "$RECYCLE.BIN", "RECYCLER", "RECYCLED", "lost+found"};
  for (const std::string_view folder : kSystemFolders) {
    if (EqualsIgnoringAsciiCase(name, folder)) return true;
  }
  return false;
}

bool LeftOut(const WorkerContext& context, const char* buffer, size_t folder_end,
             const FindEntry& entry) {
  if (context.exclusions == nullptr) return false;
  const size_t top = buffer == context.source ? context.source_top : context.destination_top;
  if (folder_end < top) return false;
  const bool is_folder = (entry.attributes & kAttrFolder) != 0;
  const std::string_view name = entry.name;
  if (folder_end == top && is_folder && IsTopSystemFolder(name)) return true;
  if (context.exclusions->patterns.empty()) return false;
  std::string& path = context.exclusions->path;
  path.assign(buffer + top, folder_end - top);
  path += kPathSeparator;
  path += name;
  return MatchesExclusion(*context.exclusions, path, is_folder, kPathSeparator);
}

bool DestinationLeftOut(const WorkerContext& context, bool is_folder) {
  const char* slash = std::strrchr(context.destination, kPathSeparator);
  if (slash == nullptr) return false;
  FindEntry entry{};
  entry.attributes = is_folder ? kAttrFolder : 0;
  std::snprintf(entry.name, sizeof entry.name, "%s", slash + 1);
  return LeftOut(context, context.destination, static_cast<size_t>(slash - context.destination),
                 entry);
}

std::string LeavingOutLine(const std::vector<std::string>& patterns) {
  if (patterns.empty()) return {};
  std::string line = "Leaving out: ";
  for (size_t i = 0; i < patterns.size(); ++i) {
    if (i > 0) line += " | ";
    line += patterns[i];
  }
  return line;
}
