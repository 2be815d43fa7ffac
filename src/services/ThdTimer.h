#pragma once
// TThreadedTimer: a timer whose tick runs on a thread of its own, so it fires
// while the page's thread sits in a modal dialog. The thread wakes every
// Interval milliseconds whether enabled or not; a new Interval takes effect
// after the sleep in progress. TThdTimerEvent owns the object's one timer.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace nib {

class TThreadedTimer {
 public:
  using Handler = std::function<void(TThreadedTimer& sender)>;

  TThreadedTimer();
  // Stops the thread and waits for it: at most the sleep in progress plus a running tick.
  ~TThreadedTimer();
  TThreadedTimer(const TThreadedTimer&) = delete;
  TThreadedTimer& operator=(const TThreadedTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned ms) { interval_ = ms; }
  // Set before the timer is enabled; the tick thread reads it.
  void SetOnTimer(Handler handler);

 private:
  // Runs on the timer thread: the handler, when enabled and set.
  void Timer();
  void Run();

  std::atomic<bool> enabled_{false};
  std::atomic<unsigned> interval_{1000};
  std::mutex mutex_;
  Handler onTimer_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

class TThdTimerEvent {
 public:
  TThreadedTimer& Timer() { return timer_; }

 private:
  TThreadedTimer timer_;
};

}  // namespace nib
