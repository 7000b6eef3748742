// Log text as it goes into a stream: the console runner's standard output and
// the run log write their lines through the same escape.
#pragma once

#include <cstdio>

// Writes text to stream with its control characters escaped, so that a file
// name can neither break a log line nor fake one: a line feed shows as \n, a
// carriage return as \r, a tab as \t, any other byte below 0x20 and 0x7F as
// \xHH. A backslash stays as it is: Windows paths are made of them.
void PutEscaped(const char* text, std::FILE* stream);
