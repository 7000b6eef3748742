// What happens before the window exists: the project path from the command
// line and the working directory.
#pragma once

#include <cstddef>

// "Larkspan.lpj", a name relative to the executable's folder.
extern const char kDefaultProjectName[];

// The project path from the command-line tail as a WinMain-shaped entry gets
// it: empty gives the default name; otherwise one leading and one trailing
// double quote are dropped (they need not pair) and nothing else is parsed.
// A tail that does not fit path[size] leaves path empty and returns false: no
// file is then read or written, rather than one the user did not name.
bool ProjectPathFromTail(const char* tail, char* path, size_t size);

// The tail of a whole command line, as a WinMain-shaped entry is meant to get
// it: the program name skipped (a quoted one ends at its closing quote, an
// unquoted one at the first character at or below a blank), then every
// character with a code from 1 to 32. Bytes from 0x80 up belong to names:
// they are never blanks.
const char* CommandLineTail(const char* command_line);

// Cuts path at its last separator, in place; a path without one becomes empty.
void CutToFolder(char* path, char separator);

// Makes the executable's folder the current directory, so that relative
// project and job paths resolve against it. False, with the directory
// unchanged, when the executable's path cannot be had whole.
bool SetWorkingDirectoryToExecutable();
