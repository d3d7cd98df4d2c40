#include "ftp/ReplyDeadlines.h"

#include "platform/MessageLoop.h"

using namespace platform;

namespace {

constexpr std::uintptr_t kTickTimer = 1;

}  // namespace

TReplyDeadlines::TReplyDeadlines(std::function<void()> onTick) : onTick_(std::move(onTick)) {
  window_ = MessageLoop::Current().CreateHiddenWindow([this](TMessage& m) {
    if (m.Msg == WM_TIMER) onTick_();
  });
}

TReplyDeadlines::~TReplyDeadlines() { MessageLoop::Current().DestroyWindow(window_); }

void TReplyDeadlines::StartTicking() {
  if (ticking_) return;
  ticking_ = MessageLoop::Current().SetTimer(window_, kTickTimer, 1000) != 0;
}

void TReplyDeadlines::StopTicking() {
  if (!ticking_) return;
  MessageLoop::Current().KillTimer(window_, kTickTimer);
  ticking_ = false;
}

void TReplyDeadlines::Arm(TAwaited what, int seconds) {
  const std::uint32_t deadline = GetTickCount() + static_cast<std::uint32_t>(seconds) * 1000u;
  deadlines_[Index(what)] = deadline == 0 ? 1 : deadline;  // 0 means "not armed"
}

bool TReplyDeadlines::Expired(TAwaited what, std::uint32_t now) const {
  const std::uint32_t deadline = deadlines_[Index(what)];
  return deadline != 0 && static_cast<std::int32_t>(now - deadline) >= 0;
}
