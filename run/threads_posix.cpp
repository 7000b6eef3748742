#include "run/threads.h"

#include <pthread.h>
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Threads run detached; the handle and the thread share this record, and
// whichever lets go of it last frees it.
struct PosixThread {
  ThreadRoutine routine;
  void* argument;
  std::mutex mutex;
  std::condition_variable ended_changed;
  bool ended = false;
  int references = 2;
};

void LetGo(PosixThread* thread) {
  bool last;
  {
    std::lock_guard<std::mutex> lock(thread->mutex);
    last = --thread->references == 0;
  }
  if (last) delete thread;
}

void* Trampoline(void* argument) {
  auto* thread = static_cast<PosixThread*>(argument);
  thread->routine(thread->argument);
  {
    std::lock_guard<std::mutex> lock(thread->mutex);
    thread->ended = true;
    thread->ended_changed.notify_all();
  }
  LetGo(thread);
  return nullptr;
}

}  // namespace

ThreadHandle StartThread(ThreadRoutine routine, void* argument) {
  auto* thread = new PosixThread;
  thread->routine = routine;
  thread->argument = argument;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    delete thread;
    return nullptr;
  }
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t id;
  const int result = pthread_create(&id, &attributes, Trampoline, thread);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

bool WaitForThread(ThreadHandle handle, uint32_t milliseconds) {
  auto* thread = static_cast<PosixThread*>(handle);
  std::unique_lock<std::mutex> lock(thread->mutex);
  return thread->ended_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                        [&] { return thread->ended; });
}

void ReleaseThread(ThreadHandle handle) {
  LetGo(static_cast<PosixThread*>(handle));
}

void SleepMilliseconds(uint32_t milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}
