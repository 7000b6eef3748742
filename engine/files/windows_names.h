// Names the Windows file calls refuse, asked by the Windows backend before it
// calls. Plain text: it builds, and is tested, on every system.
#pragma once

// A name Windows will not hold as a file or folder of a path: a character it
// refuses, a trailing dot or space, or a device's name (CON, AUX, NUL, COM1,
// LPT1, ..., also with an extension: "aux.txt"). Such a name from a share
// would otherwise open the device or be made in a form no program can reach.
bool WindowsRefusesName(const char* name);
