#include "run/event_loop.h"

#include <chrono>

void EventLoop::Send(Handler handler) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (quit_) return;
  if (owner_known_ && owner_ == std::this_thread::get_id()) {
    lock.unlock();
    handler();
    return;
  }
  bool done = false;
  queue_.push_back(Item{std::move(handler), &done});
  changed_.notify_all();
  changed_.wait(lock, [&] { return done; });
}

void EventLoop::Post(Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (quit_) return;
  queue_.push_back(Item{std::move(handler), nullptr});
  changed_.notify_all();
}

void EventLoop::Run(const Handler& on_tick, uint32_t tick_milliseconds) {
  const auto period = std::chrono::milliseconds(tick_milliseconds);
  std::unique_lock<std::mutex> lock(mutex_);
  TakeOwnership();
  auto next_tick = std::chrono::steady_clock::now() + period;
  while (!quit_) {
    if (!queue_.empty()) {
      RunOne(lock);
      continue;
    }
    if (changed_.wait_until(lock, next_tick) == std::cv_status::timeout) {
      next_tick += period;
      lock.unlock();
      on_tick();
      lock.lock();
    }
  }
}

void EventLoop::RunPending() {
  std::unique_lock<std::mutex> lock(mutex_);
  TakeOwnership();
  while (!quit_ && !queue_.empty())
    RunOne(lock);
}

void EventLoop::Quit() {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  // Senders whose handler is still queued return without it having run; a
  // handler in hand finishes and releases its sender as usual.
  for (Item& item : queue_) {
    if (item.done) *item.done = true;
  }
  queue_.clear();
  changed_.notify_all();
}

bool EventLoop::HasQuit() {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

void EventLoop::TakeOwnership() {
  owner_ = std::this_thread::get_id();
  owner_known_ = true;
}

void EventLoop::RunOne(std::unique_lock<std::mutex>& lock) {
  Item item = std::move(queue_.front());
  queue_.pop_front();
  lock.unlock();
  item.handler();
  lock.lock();
  if (item.done) {
    *item.done = true;
    changed_.notify_all();
  }
}
