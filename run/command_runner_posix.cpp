#include "run/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace {

// How often a command whose output has ended is looked at until it exits.
constexpr int kExitPollMilliseconds = 20;

// The program's environment with the variables set over it.
std::vector<std::string> EnvironmentWith(const std::vector<CommandVariable>& variables) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool replaced = false;
    for (const CommandVariable& variable : variables) {
      const size_t length = std::strlen(variable.name);
      replaced |= std::strncmp(*entry, variable.name, length) == 0 && (*entry)[length] == '=';
    }
    if (!replaced) entries.emplace_back(*entry);
  }
  for (const CommandVariable& variable : variables)
    entries.push_back(std::string(variable.name) + "=" + variable.value);
  return entries;
}

// Starts /bin/sh -c command in a new process group, its output and errors to
// output, its input from /dev/null. 0 when it could not be started.
pid_t Spawn(const std::string& command, std::vector<std::string>& environment, int output,
            int* error) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
  // Its own group, so that the limit ends what it started, and Ctrl-C at the
  // runner's terminal does not; signals as a new program expects them.
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> envp;
  for (std::string& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  char shell[] = "/bin/sh";
  char option[] = "-c";
  std::string line = command;
  char* argv[] = {shell, option, line.data(), nullptr};
  pid_t pid = 0;
  *error = posix_spawn(&pid, shell, &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return *error == 0 ? pid : 0;
}

}  // namespace

CommandResult RunCommand(const std::string& command, const std::vector<CommandVariable>& variables,
                         uint32_t limit_milliseconds) {
  CommandResult result;
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    result.error = std::strerror(errno);
    return result;
  }
  std::vector<std::string> environment = EnvironmentWith(variables);
  int error = 0;
  const pid_t pid = Spawn(command, environment, pipe_ends[1], &error);
  close(pipe_ends[1]);
  if (pid == 0) {
    close(pipe_ends[0]);
    result.error = std::strerror(error);
    return result;
  }
  result.started = true;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_milliseconds);
  OutputLines output;
  bool output_open = true;
  bool exited = false;
  int status = 0;
  // Until it has exited and closed its output, or the limit: a child it left
  // behind holding the output is part of it.
  while (!exited || output_open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      break;
    }
    if (output_open) {
      pollfd watched{pipe_ends[0], POLLIN, 0};
      const int wait =
          exited ? static_cast<int>(left.count())
                 : static_cast<int>(std::min<int64_t>(left.count(), kExitPollMilliseconds));
      if (poll(&watched, 1, wait) > 0) {
        char buffer[4096];
        const ssize_t n = read(pipe_ends[0], buffer, sizeof buffer);
        if (n > 0) {
          output.Add(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          output_open = false;
        }
      }
    } else {
      usleep(kExitPollMilliseconds * 1000);
    }
    if (!exited) exited = waitpid(pid, &status, WNOHANG) == pid;
  }
  // At the limit the whole group ends: the shell, and what it started
  // (which may be all that is left, holding the output).
  if (result.timed_out) kill(-pid, SIGKILL);
  if (!exited) waitpid(pid, &status, 0);
  close(pipe_ends[0]);
  output.Finish();
  result.lines = output.Take();
  if (WIFSIGNALED(status)) {
    result.signalled = true;
    result.exit_status = WTERMSIG(status);
  } else {
    result.exit_status = WEXITSTATUS(status);
  }
  return result;
}
