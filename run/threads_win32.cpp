#include "run/threads.h"

#include <windows.h>

namespace {

struct StartRecord {
  ThreadRoutine routine;
  void* argument;
};

// ThreadRoutine has the default calling convention; CreateThread wants WINAPI.
DWORD WINAPI Trampoline(LPVOID parameter) {
  const StartRecord start = *static_cast<StartRecord*>(parameter);
  delete static_cast<StartRecord*>(parameter);
  return start.routine(start.argument);
}

}  // namespace

ThreadHandle StartThread(ThreadRoutine routine, void* argument) {
  auto* start = new StartRecord{routine, argument};
  HANDLE thread = CreateThread(/*lpThreadAttributes=*/nullptr, /*dwStackSize=*/0, Trampoline, start,
                               /*dwCreationFlags=*/0, /*lpThreadId=*/nullptr);
  if (thread == nullptr) delete start;
  return thread;
}

bool WaitForThread(ThreadHandle thread, uint32_t milliseconds) {
  return WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
}

void ReleaseThread(ThreadHandle thread) {
  CloseHandle(thread);
}

void SleepMilliseconds(uint32_t milliseconds) {
  Sleep(milliseconds);
}
