// The command a project runs after each pass (its N record): a line of text,
// run by the system's shell on POSIX and as written on Windows.
#pragma once

#include <cstddef>
#include <string_view>

// Longer lines are refused: far past any line a person writes, well within
// what either system takes.
constexpr size_t kAfterCommandMaxLength = 4000;

// Why command cannot be kept, or nullptr when it can: a NUL or a control
// character other than tab would cut or split the line where it is stored
// and shown.
const char* AfterCommandFault(std::string_view command);
