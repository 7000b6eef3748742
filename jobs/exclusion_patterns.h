// The patterns a job leaves out of its walks, as the user writes them: what
// is refused where a pattern enters (the window, the runner, a project file).
#pragma once

#include <string_view>

// False for a pattern no walk could use safely: empty (or separators only),
// holding a control character, or with a ".." element, which would name
// something outside the job's trees.
bool IsAcceptablePattern(std::string_view pattern);
