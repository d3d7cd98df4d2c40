#include "session/WalkEvents.h"

void PutWalkFirst(TFileSession& session, TFolderTransfer& walk) {
  for (TNotifyEvent* event : {&session.OnDirectoryChanged, &session.OnDirectoryCreated, &session.OnListingDone,
                              &session.OnFileReceived, &session.OnFileStored}) {
    *event = [&walk, owner = std::move(*event)](TObject* sender) {
      if (!walk.OperationDone() && owner) owner(sender);
    };
  }
}
