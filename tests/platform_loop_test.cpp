// The message loop: posted-message order, re-entrant pumping, timers, destroyed windows,
// the pollable descriptor, tasks from other threads and waiting for readiness.
#include "platform/MessageLoop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

class MessageLoopTest : public ::testing::Test {
 protected:
  // A window that logs "<name><msg>" for every message and then runs its extra handler.
  HWND Window(const std::string& name) {
    const HWND w = loop.CreateHiddenWindow([this, name](TMessage& m) {
      log.push_back(name + std::to_string(m.Msg));
      if (const auto it = handlers.find(log.back()); it != handlers.end()) it->second(m);
    });
    return w;
  }
  // Runs `action` when the message logged as `entry` arrives.
  void On(const std::string& entry, std::function<void(TMessage&)> action) {
    handlers[entry] = std::move(action);
  }
  bool PollFdReadable() {
    pollfd p{loop.PollFd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }
  int Count(const std::string& entry) const {
    return static_cast<int>(std::count(log.begin(), log.end(), entry));
  }

  MessageLoop loop;
  std::vector<std::string> log;
  std::map<std::string, std::function<void(TMessage&)>> handlers;
};

using Log = std::vector<std::string>;

TEST_F(MessageLoopTest, KeepsPostingOrderAcrossWindows) {
  const HWND a = Window("a"), b = Window("b");
  loop.PostMessage(a, 1, 0, 0);
  loop.PostMessage(b, 2, 0, 0);
  loop.PostMessage(a, 3, 0, 0);
  loop.PostMessage(b, 4, 0, 0);
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"a1", "b2", "a3", "b4"}));
}

TEST_F(MessageLoopTest, MessagePostedByHandlerWaitsForNextDispatch) {
  const HWND a = Window("a"), b = Window("b");
  On("a1", [&](TMessage&) { loop.PostMessage(b, 2, 0, 0); });
  loop.PostMessage(a, 1, 0, 0);
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"a1"}));
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"a1", "b2"}));
}

TEST_F(MessageLoopTest, NestedPumpDispatchesOtherMessagesOnce) {
  const HWND a = Window("a"), b = Window("b");
  On("a1", [&](TMessage&) {
    loop.ProcessMessages();
    log.push_back("a1 done");
  });
  // Posted inside the nested pump: neither the nested nor the outer dispatch takes it.
  On("b2", [&](TMessage&) { loop.PostMessage(a, 4, 0, 0); });
  loop.PostMessage(a, 1, 0, 0);
  loop.PostMessage(b, 2, 0, 0);
  loop.PostMessage(b, 3, 0, 0);
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"a1", "b2", "b3", "a1 done"}));
  loop.DispatchPending();
  EXPECT_EQ(log.back(), "a4");
  EXPECT_EQ(log.size(), 5u);
}

TEST_F(MessageLoopTest, DestroyedWindowReceivesNothingMore) {
  const HWND a = Window("a"), b = Window("b");
  On("a1", [&](TMessage&) { loop.DestroyWindow(a); });
  loop.PostMessage(a, 1, 0, 0);
  loop.PostMessage(a, 2, 0, 0);
  loop.PostMessage(b, 3, 0, 0);
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"a1", "b3"}));
  EXPECT_FALSE(loop.IsWindow(a));
  EXPECT_FALSE(loop.PostMessage(a, 4, 0, 0));
  const HWND c = Window("c");
  EXPECT_NE(c, a) << "window handles are never reused";
}

TEST_F(MessageLoopTest, RemovedMessagesAreSkippedOthersKept) {
  const HWND a = Window("a");
  loop.PostMessage(a, 1, 7, 0);
  loop.PostMessage(a, 1, 8, 0);
  loop.PostMessage(a, 2, 7, 0);
  loop.RemovePostedMessages(a, 1, 7);
  EXPECT_FALSE(loop.HasPostedMessage(a, 1, 7));
  EXPECT_TRUE(loop.HasPostedMessage(a, 1, 8));
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"a1", "a2"}));
}

TEST_F(MessageLoopTest, TimerTicksUntilKilled) {
  const HWND a = Window("a");
  std::vector<WPARAM> ids;
  On("a275", [&](TMessage& m) { ids.push_back(m.WParam); });
  ASSERT_EQ(loop.SetTimer(a, 7, 1000), 7u);
  ASSERT_TRUE(loop.RunUntil([&] { return !ids.empty(); }, 3000));
  EXPECT_EQ(ids.front(), 7u);
  EXPECT_TRUE(loop.KillTimer(a, 7));
  const std::size_t ticks = ids.size();
  loop.RunUntil([] { return false; }, 1500);
  EXPECT_EQ(ids.size(), ticks);
  EXPECT_FALSE(loop.KillTimer(a, 7));
}

TEST_F(MessageLoopTest, ShortTimerKeepsTicking) {
  const HWND a = Window("a");
  loop.SetTimer(a, 2, 20);
  EXPECT_TRUE(loop.RunUntil([&] { return Count("a275") >= 3; }, 3000));
  loop.KillTimer(a, 2);
}

TEST_F(MessageLoopTest, AtMostOneTickOfATimerWaitsInTheQueue) {
  const HWND a = Window("a"), b = Window("b");
  const auto pastTheInterval = std::chrono::milliseconds(40);
  On("b1", [&](TMessage&) {
    std::this_thread::sleep_for(pastTheInterval);
    loop.PostMessage(b, 2, 0, 0);
  });
  // Runs with the first tick queued behind it; the timer is due again when it pumps.
  On("b2", [&](TMessage&) {
    std::this_thread::sleep_for(pastTheInterval);
    loop.ProcessMessages();
    loop.KillTimer(a, 1);
  });
  loop.SetTimer(a, 1, 10);
  loop.PostMessage(b, 1, 0, 0);
  loop.DispatchPending();
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"b1", "b2", "a275"}));
}

TEST_F(MessageLoopTest, KillTimerDropsItsQueuedTick) {
  const HWND a = Window("a"), b = Window("b");
  // b1 keeps the loop busy past the timer's due time; b2 is then queued ahead of the
  // tick and kills the timer while the tick waits behind it.
  On("b1", [&](TMessage&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    loop.PostMessage(b, 2, 0, 0);
  });
  On("b2", [&](TMessage&) {
    EXPECT_TRUE(loop.HasPostedMessage(a, WM_TIMER, 1));
    loop.KillTimer(a, 1);
  });
  loop.SetTimer(a, 1, 10);
  loop.PostMessage(b, 1, 0, 0);
  loop.DispatchPending();
  loop.DispatchPending();
  loop.DispatchPending();
  EXPECT_EQ(log, (Log{"b1", "b2"}));
}

TEST_F(MessageLoopTest, DestroyingWindowKillsItsTimers) {
  const HWND a = Window("a");
  Window("b");
  loop.SetTimer(a, 1, 10);
  loop.DestroyWindow(a);
  loop.RunUntil([] { return false; }, 100);
  EXPECT_TRUE(log.empty());
}

TEST_F(MessageLoopTest, PollFdSignalsPendingWork) {
  const HWND a = Window("a");
  loop.DispatchPending();
  EXPECT_FALSE(PollFdReadable());
  loop.PostMessage(a, 1, 0, 0);
  EXPECT_TRUE(PollFdReadable());
  // A handler that posts again leaves work behind: the descriptor must stay readable.
  On("a1", [&](TMessage&) { loop.PostMessage(a, 2, 0, 0); });
  loop.DispatchPending();
  EXPECT_TRUE(PollFdReadable());
  loop.DispatchPending();
  EXPECT_FALSE(PollFdReadable());
  EXPECT_EQ(log, (Log{"a1", "a2"}));
}

TEST_F(MessageLoopTest, TaskFromAnotherThreadRunsOnLoopThread) {
  std::thread::id ranOn;
  std::thread poster([&] { loop.PostTask([&] { ranOn = std::this_thread::get_id(); }); });
  poster.join();
  pollfd p{loop.PollFd(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 1);
  ASSERT_TRUE(loop.RunUntil([&] { return ranOn != std::thread::id(); }, 5000));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(MessageLoopTest, TaskPostedAfterLoopIsGoneIsDropped) {
  std::shared_ptr<MessageLoop::TaskInbox> inbox;
  {
    MessageLoop shortLived;
    inbox = shortLived.Inbox();
    EXPECT_TRUE(inbox->Post([] {}));
  }
  EXPECT_FALSE(inbox->Post([] {}));
}

TEST_F(MessageLoopTest, WaitMessageReturnsWhenSocketBecomesReadable) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  const HWND a = Window("a");
  loop.WatchFd(fds[0], EPOLLIN, [&](std::uint32_t) { loop.PostMessage(a, 1, 0, 0); });
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
  });
  loop.WaitMessage(5000);
  writer.join();
  EXPECT_EQ(log, (Log{"a1"})) << "the readiness is reported and its message dispatched";
  loop.UnwatchFd(fds[0]);
  ::close(fds[0]);
  ::close(fds[1]);
}

// A transfer keeps the queue busy with its own next pass: a socket that became readable
// meanwhile is still noticed within a few hundred dispatches, whatever the clock says.
TEST_F(MessageLoopTest, ReadableSocketIsNoticedWhileMessagesKeepComing) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  const HWND busy = loop.CreateHiddenWindow([&](TMessage&) { loop.PostMessage(busy, 1, 0, 0); });
  int dispatches = 0, noticedAt = -1;
  loop.WatchFd(fds[0], EPOLLIN, [&](std::uint32_t) {
    if (noticedAt < 0) noticedAt = dispatches;
  });
  loop.PostMessage(busy, 1, 0, 0);
  loop.DispatchPending();  // the loop's first poll, with nothing to read yet
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  for (; dispatches < 100000 && noticedAt < 0; ++dispatches) loop.DispatchPending();
  EXPECT_GE(noticedAt, 0);
  EXPECT_LE(noticedAt, 300) << "the readiness waited behind the queue";
  loop.UnwatchFd(fds[0]);
  loop.DestroyWindow(busy);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(MessageLoopTest, QuitEndsRunAndIsKeptByRunUntil) {
  const HWND a = Window("a");
  On("a1", [&](TMessage&) { loop.PostQuitMessage(3); });
  loop.PostMessage(a, 1, 0, 0);
  loop.PostMessage(a, 2, 0, 0);
  EXPECT_FALSE(loop.RunUntil([] { return false; }, 5000));
  EXPECT_TRUE(loop.QuitPosted());
  EXPECT_EQ(log, (Log{"a1", "a2"})) << "the dispatch under way is finished";
  EXPECT_EQ(loop.Run(), 3);
  EXPECT_FALSE(loop.QuitPosted());
}

}  // namespace
}  // namespace platform
