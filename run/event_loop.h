// The window thread for hosts other than the Win32 dialog: one handler at a
// time, on the thread that calls Run. Send waits until its handler has run;
// Post does not. A one-second tick drives the countdown.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class EventLoop {
 public:
  using Handler = std::function<void()>;

  // Runs handler on the loop thread and returns when it has run. On the loop
  // thread itself it runs at once. Once the loop has quit it returns at once
  // and the handler does not run.
  void Send(Handler handler);
  // Queues handler and returns at once; dropped once the loop has quit.
  void Post(Handler handler);
  // Runs handlers, and on_tick every tick_milliseconds, until Quit.
  void Run(const Handler& on_tick, uint32_t tick_milliseconds);
  // Runs every queued handler; for tests that drive the loop by hand.
  void RunPending();
  // Ends Run after the handler in hand; later sends and posts are dropped.
  void Quit();
  bool HasQuit();

 private:
  struct Item {
    Handler handler;
    bool* done;  // set when a Send's handler has run
  };
  void RunOne(std::unique_lock<std::mutex>& lock);
  // The thread that runs handlers: the last one to call Run or RunPending.
  void TakeOwnership();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  bool quit_ = false;
  std::thread::id owner_;
  bool owner_known_ = false;
};
