// Running a command line with a time limit: the OS seam of run/ for the
// command after a pass. POSIX runs the line through /bin/sh -c in a process
// group of its own; Windows runs it as written with CreateProcessW, without a
// console window, in a job object. Either way the command, and everything it
// started, is ended when the limit is reached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The output lines kept: enough to say what went wrong, never the run log's
// whole size.
constexpr size_t kCommandLinesKept = 20;
constexpr size_t kCommandLineLength = 512;

struct CommandVariable {
  const char* name;
  std::string value;
};

struct CommandResult {
  bool started = false;    // false: the system could not start it (see error)
  bool timed_out = false;  // it was ended at the limit
  bool signalled = false;  // POSIX: ended by a signal, exit_status holds it
  int exit_status = 0;
  // Its standard output and error together, the first kCommandLinesKept lines,
  // each cut to kCommandLineLength bytes, without line ends.
  std::vector<std::string> lines;
  std::string error;
};

// Runs command with the variables added to (or replacing in) the program's
// environment and standard input empty, and returns when it has ended, or
// when limit_milliseconds have passed and it has been ended. Output past the
// kept lines is read and dropped, so a talkative command never blocks.
CommandResult RunCommand(const std::string& command, const std::vector<CommandVariable>& variables,
                         uint32_t limit_milliseconds);

// Keeps the lines of output as it comes, in pieces of any size: the shared
// part of both backends.
class OutputLines {
 public:
  void Add(const char* data, size_t size);
  // The last line, when the output did not end with a line end.
  void Finish();
  std::vector<std::string> Take() { return std::move(lines_); }

 private:
  std::vector<std::string> lines_;
  std::string line_;
  bool cut_ = false;  // line_ reached its length; the rest of it is dropped
};
