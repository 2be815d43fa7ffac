#include "services/ThdTimer.h"

#include <chrono>

namespace nib {

TThreadedTimer::TThreadedTimer() : thread_([this] { Run(); }) {}

TThreadedTimer::~TThreadedTimer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TThreadedTimer::SetOnTimer(Handler handler) {
  std::lock_guard lock(mutex_);
  onTimer_ = std::move(handler);
}

void TThreadedTimer::Timer() {
  if (!enabled_) return;
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    handler = onTimer_;
  }
  if (handler) handler(*this);
}

void TThreadedTimer::Run() {
  using Clock = std::chrono::steady_clock;
  for (;;) {
    Clock::time_point start = Clock::now();
    Timer();
    // The rest of the period after the tick; the interval read now holds
    // for this whole sleep, as a change only counts from the next round.
    Clock::time_point wakeAt = start + std::chrono::milliseconds(interval_.load());
    std::unique_lock lock(mutex_);
    // Only stopping ends the sleep early.
    if (wake_.wait_until(lock, wakeAt, [this] { return stopping_; })) return;
  }
}

}  // namespace nib
