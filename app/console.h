// The terminal as the console runner sees it: the OS seam of app/ for
// standard streams, their width and Ctrl-C (console_posix.cpp on isatty,
// TIOCGWINSZ and signals; console_win32.cpp on the console API).
#pragma once

enum ConsoleStream { kStandardOutput, kStandardError };

// Lets a terminal show the program's 8-bit text (UTF-8 under the manifest) as
// it is: on Windows the console's output code page becomes the program's own
// until the program ends; a POSIX terminal takes the bytes as they come.
// Output that is not on a terminal always gets the bytes as they are.
void ShowProgramTextOnTerminal();

// True when the stream is a terminal (a console window on Windows).
bool IsTerminal(ConsoleStream stream);
// Width of the terminal behind standard output in characters; 0 when unknown.
int TerminalColumns();
// From now on Ctrl-C (and, on POSIX, a termination request) no longer ends
// the process: on_interrupt is called instead, on a thread of its own. Call it
// before any other thread starts. False when it could not be arranged; Ctrl-C
// then ends the process as it would have.
bool WatchInterrupts(void (*on_interrupt)());
