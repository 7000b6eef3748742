#include "app/console.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

void (*gOnInterrupt)() = nullptr;
sigset_t gInterruptSignals;

// Takes the blocked signals one by one, outside any signal handler, so that
// on_interrupt may lock and wait like any other code.
void* InterruptThread(void*) {
  for (;;) {
    int signal_number;
    if (sigwait(&gInterruptSignals, &signal_number) == 0) gOnInterrupt();
  }
  return nullptr;
}

}  // namespace

void ShowProgramTextOnTerminal() {}

bool IsTerminal(ConsoleStream stream) {
  return isatty(stream == kStandardOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool WatchInterrupts(void (*on_interrupt)()) {
  gOnInterrupt = on_interrupt;
  sigemptyset(&gInterruptSignals);
  sigaddset(&gInterruptSignals, SIGINT);
  sigaddset(&gInterruptSignals, SIGTERM);
  // Threads started later inherit the mask, so only the waiting thread takes them.
  if (pthread_sigmask(SIG_BLOCK, &gInterruptSignals, nullptr) != 0) return false;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    pthread_sigmask(SIG_UNBLOCK, &gInterruptSignals, nullptr);
    return false;
  }
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool started = pthread_create(&thread, &attributes, InterruptThread, nullptr) == 0;
  pthread_attr_destroy(&attributes);
  // With no thread to take them, the signals end the process as they did.
  if (!started) pthread_sigmask(SIG_UNBLOCK, &gInterruptSignals, nullptr);
  return started;
}
