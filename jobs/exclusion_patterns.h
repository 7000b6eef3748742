// The patterns a job leaves out of its walks, as the user writes them: what
// is refused where a pattern enters (the window, the runner, a project file).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// False for a pattern no walk could use safely: empty (or separators only),
// holding a control character, or with a ".." element, which would name
// something outside the job's trees.
bool IsAcceptablePattern(std::string_view pattern);

// The patterns as the window edits them: one a line, CR LF between.
std::string PatternLines(const std::vector<std::string>& patterns);

// The patterns of text, one a line (CR LF or LF), empty lines skipped. False
// when a line is refused (*refused_line: its number, from 1): *patterns is
// then left as it was.
bool PatternsFromLines(std::string_view text, std::vector<std::string>* patterns,
                       int* refused_line);
