// Path shortening for a log measured in characters.
#pragma once

#include <cstddef>

// Shortens path in place to at most width characters (a UTF-8 character
// counts once and is never cut): "..." stands for the
// inner folders, and the path's start is kept as far as it fits before the
// file name. When the file name alone does not fit, the path keeps its first
// width - 3 characters and ends in "...". A path that fits, or a width under
// 3, is left as it is.
void CompactPathToWidth(char* path, int width, char separator);

// Writes prefix followed by path into line[size], cut at its end when longer
// (never inside a character). On a terminal columns wide (0: width unknown,
// the path stays whole) the path part is shortened so that the line leaves
// the last column free: a console wraps a full line before its line feed,
// which would leave an empty line. The prefix is ASCII.
void ComposeTerminalLine(char* line, size_t size, const char* prefix, const char* path, int columns,
                         char separator);
