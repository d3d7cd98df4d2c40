#include "platform/MessageLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// While messages keep arriving, readiness is still polled this often so that sockets are
// never starved by a handler that keeps posting. The time bound is the one that matters; a
// transfer that reads full chunks posts its own next read, so the count stays high enough
// not to cost a system call every few chunks.
constexpr unsigned kPollEveryDispatches = 256;
constexpr auto kPollEveryTime = std::chrono::milliseconds(1);
constexpr int kMaxEventsPerPoll = 64;
// Windows raises intervals below this to it.
constexpr unsigned kMinTimerIntervalMs = 10;

// The wake and timer descriptors are registered with generation 0; watched sockets count
// from 1, so the three never collide in the event data.
std::uint64_t EventData(int fd, std::uint32_t generation) {
  return (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
}

void WriteEventFd(int fd) {
  const std::uint64_t one = 1;
  // Only fails when the counter would overflow, and then it is signalled anyway.
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void DrainFd(int fd) {
  std::uint64_t count;
  [[maybe_unused]] ssize_t n = ::read(fd, &count, sizeof count);
}

[[noreturn]] void Fatal(const char* what) {
  std::perror(what);
  std::abort();
}

// The kernel's tick clock: a few milliseconds coarse, and a fraction of the precise clock's
// cost. A dispatch reads it to decide whether to poll and which timers are due; a poll
// reads the precise clock.
Clock::time_point CoarseNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);  // steady_clock's clock, at the tick
  return Clock::time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
}

int CeilMs(Clock::duration d) {
  if (d <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
  return static_cast<int>(std::min<std::int64_t>(ms, 1 << 30));
}

}  // namespace

bool MessageLoop::TaskInbox::Post(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  if (!open_) return false;
  tasks_.push_back(std::move(fn));
  pending_.store(true);
  // Written under the lock so that the loop cannot close the descriptor meanwhile.
  WriteEventFd(wakeFd_);
  return true;
}

MessageLoop& MessageLoop::Current() {
  thread_local MessageLoop loop;
  return loop;
}

MessageLoop::MessageLoop() {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (epollFd_ < 0 || wakeFd_ < 0 || timerFd_ < 0) Fatal("message loop descriptors");
  for (int fd : {wakeFd_, timerFd_}) {
    epoll_event ev{};
    ev.events = EPOLLIN;  // level-triggered: PollFd stays readable while they are signalled
    ev.data.u64 = EventData(fd, 0);
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) Fatal("epoll_ctl");
  }
  inbox_ = std::make_shared<TaskInbox>(wakeFd_);
}

MessageLoop::~MessageLoop() {
  {
    std::lock_guard lock(inbox_->mutex_);
    inbox_->open_ = false;
    inbox_->tasks_.clear();
  }
  ::close(timerFd_);
  ::close(wakeFd_);
  ::close(epollFd_);
}

// ---- windows and posted messages ----

HWND MessageLoop::CreateHiddenWindow(WindowProc proc) {
  const HWND window = nextWindow_++;  // never reused, so stale messages find no window
  windows_.emplace(window, std::make_unique<WindowProc>(std::move(proc)));
  return window;
}

void MessageLoop::DestroyWindow(HWND window) {
  const auto it = windows_.find(window);
  if (it == windows_.end()) return;
  if (deliveries_ > 0) retired_.push_back(std::move(it->second));
  windows_.erase(it);
  if (window == lastWindow_) {
    lastWindow_ = 0;
    lastProc_ = nullptr;
  }
  std::erase_if(timers_, [window](const Timer& t) { return t.window == window; });
  RearmTimerFd();
}

bool MessageLoop::IsWindow(HWND window) const { return FindWindowProc(window) != nullptr; }

WindowProc* MessageLoop::LookUpWindowProc(HWND window) const {
  const auto it = windows_.find(window);
  if (it == windows_.end()) return nullptr;
  lastWindow_ = window;
  lastProc_ = it->second.get();
  return lastProc_;
}

bool MessageLoop::PostMessage(HWND window, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (!IsWindow(window)) return false;
  queue_.push_back(Posted{window, msg, wparam, lparam, nextSeq_++, false});
  SignalWake();
  return true;
}

void MessageLoop::RemovePostedMessages(HWND window, UINT msg, WPARAM wparam) {
  for (std::size_t i = 0; i < queue_.size(); ++i) {
    Posted& m = queue_[i];
    if (m.window == window && m.msg == msg && m.wparam == wparam) m.dead = true;
  }
}

bool MessageLoop::HasPostedMessage(HWND window, UINT msg, WPARAM wparam) const {
  for (std::size_t i = 0; i < queue_.size(); ++i) {
    const Posted& m = queue_[i];
    if (!m.dead && m.window == window && m.msg == msg && m.wparam == wparam) return true;
  }
  return false;
}

void MessageLoop::PostTask(std::function<void()> fn) { inbox_->Post(std::move(fn)); }

void MessageLoop::Deliver(const Posted& m) {
  WindowProc* proc = FindWindowProc(m.window);
  if (proc == nullptr) return;
  if (m.msg == WM_TIMER) {
    if (Timer* t = FindTimer(m.window, m.wparam)) t->pending = false;
  }
  // Counted, so that a window destroyed by its own handler keeps its procedure meanwhile.
  struct Delivery {
    MessageLoop& loop;
    explicit Delivery(MessageLoop& l) : loop(l) { ++loop.deliveries_; }
    ~Delivery() {
      if (--loop.deliveries_ == 0 && !loop.retired_.empty()) loop.retired_.clear();
    }
  } delivery(*this);
  TMessage message{m.msg, m.wparam, m.lparam, 0};
  (*proc)(message);
}

// ---- the wake descriptor ----

void MessageLoop::SignalWake() {
  if (wakeSignalled_) return;
  WriteEventFd(wakeFd_);
  wakeSignalled_ = true;
}

void MessageLoop::ClearWake() {
  DrainFd(wakeFd_);
  wakeSignalled_ = false;
  wakeSeen_ = false;
  // A task handed in between the check and the drain must still wake the loop.
  if (inbox_->pending_.load()) SignalWake();
}

void MessageLoop::RunTasks() {
  std::vector<std::function<void()>> tasks;
  {
    std::lock_guard lock(inbox_->mutex_);
    tasks.swap(inbox_->tasks_);
    inbox_->pending_.store(false);
  }
  wakeSeen_ = true;
  for (auto& task : tasks) task();
}

// ---- timers ----

MessageLoop::Timer* MessageLoop::FindTimer(HWND window, std::uintptr_t id) {
  for (Timer& t : timers_) {
    if (t.window == window && t.id == id) return &t;
  }
  return nullptr;
}

std::uintptr_t MessageLoop::SetTimer(HWND window, std::uintptr_t id, unsigned intervalMs) {
  if (id == 0 || !IsWindow(window)) return 0;
  intervalMs = std::max(intervalMs, kMinTimerIntervalMs);
  const auto due = Clock::now() + std::chrono::milliseconds(intervalMs);
  if (Timer* t = FindTimer(window, id)) {
    t->intervalMs = intervalMs;
    t->due = due;
  } else {
    timers_.push_back(Timer{window, id, intervalMs, due, false});
  }
  RearmTimerFd();
  return id;
}

bool MessageLoop::KillTimer(HWND window, std::uintptr_t id) {
  const auto it = std::find_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.window == window && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  RemovePostedMessages(window, WM_TIMER, id);
  RearmTimerFd();
  return true;
}

// Called when the earliest timer may be due (or after the timer descriptor expired).
void MessageLoop::FireDueTimers(Clock::time_point now) {
  if (timers_.empty() || now < nextDue_) return;
  bool fired = false;
  for (Timer& t : timers_) {
    if (t.due > now) continue;
    fired = true;
    // Like the window system, at most one WM_TIMER per timer waits in the queue.
    if (!t.pending) {
      t.pending = true;
      PostMessage(t.window, WM_TIMER, t.id, 0);
    }
    const auto interval = std::chrono::milliseconds(t.intervalMs);
    t.due += interval;
    if (t.due <= now) t.due = now + interval;  // after a long stall, no burst of ticks
  }
  // Also after the timer descriptor expired without a timer being due yet.
  if (fired || armedDue_ == Clock::time_point::max()) RearmTimerFd();
}

void MessageLoop::RearmTimerFd() {
  auto earliest = Clock::time_point::max();
  for (const Timer& t : timers_) earliest = std::min(earliest, t.due);
  nextDue_ = earliest;
  if (earliest == armedDue_) return;
  itimerspec due{};
  if (earliest != Clock::time_point::max()) {
    // steady_clock is CLOCK_MONOTONIC, so its time points serve as absolute expiries.
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(earliest.time_since_epoch()).count();
    due.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    due.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0) due.it_value.tv_nsec = 1;
  }
  ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr);
  armedDue_ = earliest;
}

// ---- readiness ----

bool MessageLoop::WatchFd(int fd, std::uint32_t events, FdCallback cb) {
  epoll_event ev{};
  ev.events = events | EPOLLET;
  const auto existing = watched_.find(fd);
  const std::uint32_t generation =
      existing != watched_.end() ? existing->second.generation : nextGeneration_++;
  ev.data.u64 = EventData(fd, generation);
  const int op = existing != watched_.end() ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (::epoll_ctl(epollFd_, op, fd, &ev) != 0) return false;
  watched_[fd] = Watch{generation, std::make_shared<FdCallback>(std::move(cb))};
  return true;
}

void MessageLoop::UnwatchFd(int fd) {
  if (watched_.erase(fd) == 0) return;
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
}

void MessageLoop::PollReadiness(int timeoutMs) {
  epoll_event events[kMaxEventsPerPoll];
  const int n = ::epoll_wait(epollFd_, events, kMaxEventsPerPoll, timeoutMs);
  lastPoll_ = Clock::now();
  dispatchesSincePoll_ = 0;
  for (int i = 0; i < n; ++i) {
    const int fd = static_cast<int>(events[i].data.u64 & 0xFFFFFFFFu);
    const auto generation = static_cast<std::uint32_t>(events[i].data.u64 >> 32);
    if (generation == 0) {
      if (fd == wakeFd_) {
        wakeSeen_ = true;
      } else if (fd == timerFd_) {
        DrainFd(timerFd_);
        armedDue_ = Clock::time_point::max();  // expired: the next rearm must set it again
      }
      continue;
    }
    // An earlier callback of this batch may have closed the descriptor.
    const auto it = watched_.find(fd);
    if (it == watched_.end() || it->second.generation != generation) continue;
    const std::shared_ptr<FdCallback> cb = it->second.cb;
    (*cb)(events[i].events);
  }
}

// ---- dispatching ----

bool MessageLoop::DispatchPending() {
  return Dispatch(/*pollWhenIdle=*/true);
}

bool MessageLoop::Dispatch(bool pollWhenIdle) {
  bool delivered = false;
  if (inbox_->pending_.load()) {
    RunTasks();
    delivered = true;
  }

  // Readiness is polled at once when nothing is queued. While messages keep coming, as a
  // transfer posts its own next read, a poll every few milliseconds (or every many
  // dispatches) keeps the stop button, the timers and the control connection alive without
  // a system call per chunk.
  auto now = CoarseNow();
  if ((pollWhenIdle && queue_.empty()) || ++dispatchesSincePoll_ >= kPollEveryDispatches ||
      now - lastPoll_ >= kPollEveryTime) {
    PollReadiness(0);
    now = lastPoll_;
  }
  if (now >= nextDue_) FireDueTimers(now);

  // Only what was queued before this point: later posts wait for the next dispatch, even
  // when a nested dispatch inside a handler has already taken part of the queue.
  const std::uint64_t limit = nextSeq_;
  while (!queue_.empty() && queue_.front().seq < limit) {
    const Posted m = queue_.front();
    queue_.pop_front();  // before delivering: the handler may post or pump again
    if (!m.dead) {
      Deliver(m);
      delivered = true;
    }
  }

  if (!queue_.empty()) {
    SignalWake();
  } else if (wakeSignalled_ || wakeSeen_) {
    ClearWake();
  }
  return delivered;
}

void MessageLoop::ProcessMessages() {
  Dispatch(/*pollWhenIdle=*/false);
  if (pumpHook_) pumpHook_();
}

void MessageLoop::SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }

void MessageLoop::SetWaitHook(std::function<void(int maxMs)> hook) { waitHook_ = std::move(hook); }

void MessageLoop::WaitMessage(int maxMs) {
  if (waitHook_) {
    waitHook_(maxMs);
    return;
  }
  if (!queue_.empty() || inbox_->pending_.load()) return;
  PollReadiness(std::max(maxMs, 0));
  DispatchPending();
}

void MessageLoop::PostQuitMessage(int exitCode) {
  quit_ = true;
  exitCode_ = exitCode;
}

int MessageLoop::Run() {
  while (!quit_) {
    DispatchPending();
    // The timer descriptor and the wake descriptor end the wait when there is work.
    if (!quit_ && queue_.empty()) PollReadiness(-1);
  }
  quit_ = false;
  return exitCode_;
}

bool MessageLoop::RunUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  // While messages keep coming (a transfer dispatches once per chunk) the clock is read
  // every few rounds only; always before waiting.
  constexpr unsigned kClockEveryRounds = 64;
  unsigned rounds = 0;
  if (done()) return true;
  for (;;) {
    if (quit_) return false;
    DispatchPending();
    if (done()) return true;
    if (quit_) return false;
    const bool waiting = queue_.empty();
    if (!waiting && ++rounds < kClockEveryRounds) continue;
    rounds = 0;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    if (waiting) {
      PollReadiness(CeilMs(left));
      if (done()) return true;
    }
  }
}

}  // namespace platform
