// Path shortening for a log measured in characters.
#pragma once

// Shortens path in place to at most width characters (a UTF-8 character
// counts once and is never cut): "..." stands for the
// inner folders, and the path's start is kept as far as it fits before the
// file name. When the file name alone does not fit, the path keeps its first
// width - 3 characters and ends in "...". A path that fits, or a width under
// 3, is left as it is.
void CompactPathToWidth(char* path, int width, char separator);
