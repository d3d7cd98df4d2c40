// The one wiring between a session's events and a folder walk, for the window, the console
// tool and the tests alike: every completion event the walk drives goes to the walk first,
// and to the owner's own handler only when it did not end a step of the walk; an error is
// told to the walk first (the step it came in ends the walk), then to the owner.
#pragma once

#include <functional>
#include <utility>

#include "session/FileSession.h"
#include "session/FolderTransfer.h"

// Puts `walk` in front of the completion handlers `session` has now (set them first).
void PutWalkFirst(TFileSession& session, TFolderTransfer& walk);

// The error handler to give the session: `handler` after the walk has been told.
template <typename... Args>
std::function<void(Args...)> WalkFirst(TFolderTransfer& walk, std::function<void(Args...)> handler) {
  return [&walk, handler = std::move(handler)](Args... args) {
    walk.ErrorReported();
    if (handler) handler(std::forward<Args>(args)...);
  };
}
