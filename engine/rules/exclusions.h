// What a job's walks leave out: the job's patterns, compiled once as the job
// starts, and the system folders of a volume's top. A left-out entry is
// invisible on both sides: never copied, updated, moved or removed, and a
// left-out folder is not listed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct FindEntry;
struct WorkerContext;

// Windows names ignore letter case, and so do its patterns; POSIX names do not.
#ifdef _WIN32
constexpr bool kPatternsIgnoreCase = true;
#else
constexpr bool kPatternsIgnoreCase = false;
#endif

// One pattern split at its separators ('/' and '\' alike). "**" as a whole
// element stands for any number of folders; within an element '*' is any run
// of characters and '?' one character; every other character is itself.
struct CompiledPattern {
  std::vector<std::string> elements;  // folded when letter case is ignored
  // A separator at its start or within: matched from the top.
  bool anchored = false;
  bool folders_only = false;  // a separator at its end
  // What a path must have for a match, asked before anything else: most
  // entries fail one of these at once.
  size_t fixed_elements = 0;  // elements other than "**"
  bool any_depth = false;     // a "**" among them
  std::string last_tail;      // the last element's text after its last wildcard
};

struct Exclusions {
  std::vector<CompiledPattern> patterns;
  bool ignore_case = kPatternsIgnoreCase;
  // Scratch of the matches, kept for the next entry (one job's walks run on
  // one thread): no allocation per entry.
  mutable std::string path;
  mutable std::vector<std::string_view> names;
};

// patterns: each one accepted (IsAcceptablePattern).
Exclusions CompileExclusions(const std::vector<std::string>& patterns,
                             bool ignore_case = kPatternsIgnoreCase);

// path: an entry's path below the job's top, its names joined by separator
// (a POSIX name may hold a '\\', which is then no separator).
bool MatchesExclusion(const Exclusions& exclusions, std::string_view path, bool is_folder,
                      char separator = '/');

// "System Volume Information", "$RECYCLE.BIN", "RECYCLER", "RECYCLED" and
// "lost+found", in any letter case: what a volume keeps for itself at its
// top, no part of a backup.
bool IsTopSystemFolder(std::string_view name);

// The entry listed in the folder whose path is the first folder_end bytes of
// buffer (the context's source or destination buffer): whether the running
// job leaves it out. Outside a job nothing is.
bool LeftOut(const WorkerContext& context, const char* buffer, size_t folder_end,
             const FindEntry& entry);

// The destination entry named in the destination buffer, a folder or a file:
// whether the running job leaves it out.
bool DestinationLeftOut(const WorkerContext& context, bool is_folder);

// The line a job with patterns logs as it starts:
// "Leaving out: *.tmp | node_modules/"; empty without patterns.
std::string LeavingOutLine(const std::vector<std::string>& patterns);
