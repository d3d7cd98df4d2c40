// The single-threaded message loop that stands in for the window system: hidden windows
// with one window procedure each, posted messages in FIFO order, one-shot-per-interval
// timers delivering WM_TIMER, the quit message, and a nested pump for handlers that must
// let the loop run while they wait. One loop per thread; everything it dispatches runs on
// that thread. Its epoll descriptor lets another event loop (Qt) drive it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/RingQueue.h"
#include "platform/WinTypes.h"

namespace platform {

using WindowProc = std::function<void(TMessage&)>;

class MessageLoop {
 public:
  // The calling thread's loop, created on first use.
  static MessageLoop& Current();

  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  // Hidden windows. A destroyed window receives nothing more, not even messages that
  // were already queued for it.
  HWND CreateHiddenWindow(WindowProc proc);
  void DestroyWindow(HWND window);
  bool IsWindow(HWND window) const;

  // Queues a message; it is dispatched after everything queued before it. A message
  // posted from inside a handler waits for the next dispatch. Loop thread only.
  bool PostMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
  // Drops queued messages that match (used when a socket is closed, so that its stale
  // notifications never reach a later socket of the same object).
  void RemovePostedMessages(HWND window, UINT msg, WPARAM wparam);
  // Whether a matching message is queued and not yet dispatched.
  bool HasPostedMessage(HWND window, UINT msg, WPARAM wparam) const;
  // Runs fn on the loop thread at the next dispatch; callable from any thread.
  void PostTask(std::function<void()> fn);

  // The entry for tasks from other threads. A helper thread keeps this instead of the loop
  // itself: a task handed in after the loop is gone is dropped rather than touching it.
  class TaskInbox {
   public:
    explicit TaskInbox(int wakeFd) : wakeFd_(wakeFd) {}
    bool Post(std::function<void()> fn);  // false once the loop is gone

   private:
    friend class MessageLoop;
    std::mutex mutex_;
    std::vector<std::function<void()>> tasks_;
    std::atomic<bool> pending_{false};
    int wakeFd_;
    bool open_ = true;
  };
  std::shared_ptr<TaskInbox> Inbox() const { return inbox_; }

  // Periodic timers: WM_TIMER with WParam = id every intervalMs until killed. Setting an
  // existing (window, id) pair restarts it. Returns id (non-zero) or 0 on failure.
  std::uintptr_t SetTimer(HWND window, std::uintptr_t id, unsigned intervalMs);
  bool KillTimer(HWND window, std::uintptr_t id);

  // Ends Run() once the current dispatch is over.
  void PostQuitMessage(int exitCode);
  bool QuitPosted() const { return quit_; }
  int Run();
  // Runs the loop until done() is true (checked after every dispatch) or timeoutMs passes.
  // Returns done(). A posted quit ends it early and is kept for the outer Run.
  bool RunUntil(const std::function<bool()>& done, int timeoutMs);

  // Dispatches what is pending now (posted messages, socket readiness, due timers, tasks
  // from other threads); never blocks. True when something was delivered.
  bool DispatchPending();
  // The nested pump used by handlers that wait: dispatches this loop's pending messages,
  // then runs the hook when one is set, so that another event loop driving this one (the
  // window's) gets its turn too.
  void ProcessMessages();
  void SetPumpHook(std::function<void()> hook);
  // Blocks until something is pending (a message, readiness, a due timer, a task) or maxMs
  // passes, and dispatches it. Used by send loops when the socket accepted nothing, so that
  // they wait instead of spinning.
  void WaitMessage(int maxMs);
  void SetWaitHook(std::function<void(int maxMs)> hook);

  // Descriptor that becomes readable whenever DispatchPending has work to do.
  int PollFd() const { return epollFd_; }

  // Descriptor watching for the socket library: cb runs on the loop thread with the epoll
  // event bits. The descriptor is registered edge-triggered.
  using FdCallback = std::function<void(std::uint32_t events)>;
  bool WatchFd(int fd, std::uint32_t events, FdCallback cb);
  void UnwatchFd(int fd);

 private:
  struct Posted {
    HWND window;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    std::uint64_t seq;  // posting order; a dispatch only takes what was posted before it began
    bool dead;
  };
  struct Timer {
    HWND window;
    std::uintptr_t id;
    unsigned intervalMs;
    std::chrono::steady_clock::time_point due;
    bool pending;  // a WM_TIMER of this timer is queued and not yet dispatched
  };
  struct Watch {
    std::uint32_t generation;  // tells a stale readiness report from a reused descriptor
    std::shared_ptr<FdCallback> cb;
  };

  void Deliver(const Posted& m);
  // A transfer posts to and is delivered to the same window again and again: the last
  // window found is kept (and forgotten when it is destroyed).
  WindowProc* FindWindowProc(HWND window) const {
    if (window == lastWindow_ && window != 0) return lastProc_;
    return LookUpWindowProc(window);
  }
  WindowProc* LookUpWindowProc(HWND window) const;
  void PollReadiness(int timeoutMs);
  bool Dispatch(bool pollWhenIdle);
  void FireDueTimers(std::chrono::steady_clock::time_point now);
  void RunTasks();
  void RearmTimerFd();
  void SignalWake();
  void ClearWake();
  Timer* FindTimer(HWND window, std::uintptr_t id);

  int epollFd_ = -1;
  int wakeFd_ = -1;   // eventfd: posted messages and cross-thread tasks
  int timerFd_ = -1;  // timerfd: armed at the earliest due timer
  bool wakeSignalled_ = false;  // this thread wrote the eventfd and nobody drained it yet
  bool wakeSeen_ = false;       // the eventfd may hold a count written by another thread
  bool quit_ = false;
  int exitCode_ = 0;
  HWND nextWindow_ = 1;
  std::uint64_t nextSeq_ = 0;
  std::uint32_t nextGeneration_ = 1;
  unsigned dispatchesSincePoll_ = 0;
  std::chrono::steady_clock::time_point lastPoll_{};
  std::chrono::steady_clock::time_point armedDue_ = std::chrono::steady_clock::time_point::max();
  std::chrono::steady_clock::time_point nextDue_ = std::chrono::steady_clock::time_point::max();  // earliest timer
  std::unordered_map<HWND, std::unique_ptr<WindowProc>> windows_;
  mutable HWND lastWindow_ = 0;
  mutable WindowProc* lastProc_ = nullptr;
  // Procedures of windows destroyed while a handler runs: they live until the outermost
  // handler has returned, since the destroyed window's own handler may be among them.
  unsigned deliveries_ = 0;
  std::vector<std::unique_ptr<WindowProc>> retired_;
  RingQueue<Posted> queue_;
  std::vector<Timer> timers_;
  std::unordered_map<int, Watch> watched_;
  std::function<void()> pumpHook_;
  std::function<void(int)> waitHook_;
  std::shared_ptr<TaskInbox> inbox_;
};

}  // namespace platform
