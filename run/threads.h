// Threads and waiting: the OS seam of run/ (CreateThread, WaitForSingleObject
// and Sleep on Windows; pthreads on POSIX).
#pragma once

#include <cstdint>

using ThreadHandle = void*;
using ThreadRoutine = uint32_t (*)(void* argument);

// Starts routine(argument) on a new thread; nullptr when none could be made.
ThreadHandle StartThread(ThreadRoutine routine, void* argument);
// Waits up to milliseconds for the thread to end; true when it has ended.
bool WaitForThread(ThreadHandle thread, uint32_t milliseconds);
// Releases the handle; a thread that still runs goes on.
void ReleaseThread(ThreadHandle thread);
void SleepMilliseconds(uint32_t milliseconds);
