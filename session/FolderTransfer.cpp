// The steps of a folder transfer on the server's side: each starts one engine operation,
// and the operation's completion (OperationDone) decides the next. The local side (the
// scan of an upload, the folders a download makes) is in LocalFolders.cpp.
#include "session/FolderTransfer.h"

#include <algorithm>
#include <utility>

#include "session/LocalNames.h"

void TFolderTransfer::Reset() {
  phase_ = Phase::Idle;
  outcome_ = Outcome::None;
  step_ = Step::None;
  stopRequested_ = false;
  problem_.clear();
  problemError_ = 0;
  tops_.clear();
  folders_.clear();
  files_.clear();
  refused_.clear();
  skipped_.clear();
  knownBytes_ = 0;
  unknownSizes_ = 0;
  home_.clear();
  here_.clear();
  target_.clear();
  homeFolders_.clear();
  pending_.clear();
  folder_ = file_ = 0;
  folderStage_ = FolderStage::New;
  filesOf_.clear();
  filesDone_ = 0;
  bytesDone_ = 0;
  errorReported_ = false;
}

void TFolderTransfer::Start(Direction direction, std::vector<Top> tops) {
  Reset();
  direction_ = direction;
  tops_ = std::move(tops);
  phase_ = Phase::Scanning;
  if (direction_ == Direction::Upload) {
    ScanLocal();
    return;
  }
  // The starting folder's own listing gives its absolute path (PWD), to come back to.
  Issue(Step::ListHome, [this] { session_.GetListing(); });
}

void TFolderTransfer::Go() {
  if (phase_ != Phase::Scanned) return;
  phase_ = Phase::Transferring;
  filesOf_.assign(folders_.size(), {});
  for (std::size_t i = 0; i < files_.size(); ++i) filesOf_[files_[i].Folder].push_back(i);
  if (direction_ == Direction::Upload) {
    // An upload has not asked the server anything yet: where it is, and what it holds.
    Issue(Step::ListHome, [this] { session_.GetListing(); });
    return;
  }
  TransferNext();
}

void TFolderTransfer::Decline() {
  if (phase_ == Phase::Scanned) End(Outcome::Declined);
}

void TFolderTransfer::Stop() {
  if (!Running()) return;
  stopRequested_ = true;
  if (phase_ == Phase::Scanned) End(Outcome::Stopped);
}

void TFolderTransfer::Abandon() {
  step_ = Step::None;
  if (!Running()) return;
  if (outcome_ == Outcome::None) outcome_ = Outcome::Abandoned;
  phase_ = Phase::Done;
}

bool TFolderTransfer::OperationDone() {
  if (step_ == Step::None) return false;
  const Step step = std::exchange(step_, Step::None);
  if (step == Step::GoHome) {
    here_ = session_.Success ? home_ : std::string();
    Finish();
    return true;
  }
  // An error the engine reported (it has shown it): the walk ends, as a batch does.
  if (std::exchange(errorReported_, false)) {
    End(Outcome::Failed);
    return true;
  }
  if (step == Step::File) {
    FileDone();
    return true;
  }
  if (stopRequested_) {
    End(Outcome::Stopped);
    return true;
  }
  // A listing whose PWD named no folder leaves the walk without its absolute paths: it
  // would copy into the wrong folders, and could not come back.
  if ((step == Step::ListHome || step == Step::ListFolder) && session_.InitialDirectory.empty()) {
    End(Outcome::FolderUnreadable, step == Step::ListHome         ? tops_.front().Remote
                                   : phase_ == Phase::Scanning ? pending_.back().Name
                                                               : folders_[folder_].Name);
    return true;
  }
  switch (step) {
    case Step::ListHome:
      home_ = here_ = session_.InitialDirectory;
      if (direction_ == Direction::Upload) {
        homeFolders_ = session_.DirectoryNames;
        TransferNext();
      } else {
        for (auto top = tops_.rbegin(); top != tops_.rend(); ++top) {
          const ListingFacts* facts = session_.FactsOf(top->Remote);
          pending_.push_back({-1, top->Remote, top->Local, 1, facts != nullptr ? facts->Identity : 0});
        }
        ScanNext();
      }
      break;
    case Step::GoTo:
      if (!session_.Success) {
        End(Outcome::FolderUnreadable, target_);
        break;
      }
      here_ = target_;
      Continue();
      break;
    case Step::Enter:
      if (phase_ == Phase::Scanning) {
        FolderEntered();
      } else if (!session_.Success) {
        End(Outcome::FolderUnreadable, folders_[folder_].Name);
      } else {
        here_.clear();
        Issue(Step::ListFolder, [this] { session_.GetListing(); });
      }
      break;
    case Step::ListFolder:
      here_ = session_.InitialDirectory;
      if (phase_ == Phase::Scanning) {
        FolderListed();
      } else {
        // An upload's folder, entered: its absolute path and the folders already in it.
        Folder& folder = folders_[folder_];
        folder.Remote = here_;
        folder.RemoteFolders = session_.DirectoryNames;
        folderStage_ = FolderStage::Ready;
        TransferNext();
      }
      break;
    case Step::MakeFolder:
      // Refused or not: entering it tells whether there is a folder of that name.
      Issue(Step::Enter, [this] { session_.ChangeDirectory(folders_[folder_].Name); });
      break;
    case Step::None:
    case Step::File:
    case Step::GoHome:
      break;
  }
  return true;
}

void TFolderTransfer::Continue() {
  if (phase_ == Phase::Scanning) {
    ScanNext();
  } else {
    TransferNext();
  }
}

// --- The scan of a download ---

void TFolderTransfer::ScanNext() {
  if (pending_.empty()) {
    phase_ = Phase::Scanned;
    if (OnScanned) OnScanned();
    return;
  }
  const Pending& next = pending_.back();
  if (GoTo(next.Parent < 0 ? home_ : folders_[static_cast<std::size_t>(next.Parent)].Remote)) return;
  const std::string name = next.Name;
  Issue(Step::Enter, [this, &name] { session_.ChangeDirectory(name); });
}

void TFolderTransfer::FolderEntered() {
  if (!session_.Success) {
    const Pending refused = pending_.back();
    pending_.pop_back();
    if (refused.Parent < 0) {
      End(Outcome::FolderUnreadable, refused.Name);
      return;
    }
    // Listed as a folder but not one the server enters: a link to a file, perhaps. It
    // is tried as a file; a refused RETR then skips it like any refused file.
    AddFile(static_cast<std::size_t>(refused.Parent), refused.Name, {});
    ScanNext();
    return;
  }
  here_.clear();  // entered: where that is, PWD tells
  Issue(Step::ListFolder, [this] { session_.GetListing(); });
}

void TFolderTransfer::FolderListed() {
  const Pending listed = pending_.back();
  pending_.pop_back();
  if (!session_.Success) {
    End(Outcome::FolderUnreadable, listed.Name);
    return;
  }
  // Entered through a link that leads back up: the folder is one of its own parents.
  if (listed.Parent >= 0 && LeadsBackUp(listed.Parent, 0, here_)) {
    skipped_.push_back({PathIn(static_cast<std::size_t>(listed.Parent), listed.Name), SkipReason::Loop});
    ScanNext();
    return;
  }
  const std::size_t index = folders_.size();
  folders_.push_back({listed.Name, here_, listed.Local, listed.Parent, listed.Depth, {}, listed.Identity});
  for (std::size_t i = 0; i < session_.FileNames.size(); ++i) {
    const std::string& name = session_.FileNames[i];
    if (Acceptable(index, name)) AddFile(index, name, i < session_.FileFacts.size() ? session_.FileFacts[i] : ListingFacts{});
  }
  std::vector<Pending> children;
  for (std::size_t i = 0; i < session_.DirectoryNames.size(); ++i) {
    const std::string& name = session_.DirectoryNames[i];
    if (name == "." || name == ".." || !Acceptable(index, name)) continue;
    const std::uint64_t identity = i < session_.DirectoryFacts.size() ? session_.DirectoryFacts[i].Identity : 0;
    if (LeadsBackUp(static_cast<int>(index), identity, {})) {
      skipped_.push_back({PathIn(index, name), SkipReason::Loop});
      continue;
    }
    if (listed.Depth >= kMaxDepth) {
      End(Outcome::TooDeep, TopNameOf(index));
      return;
    }
    children.push_back({static_cast<int>(index), name, JoinPath(listed.Local, name), listed.Depth + 1, identity});
  }
  pending_.insert(pending_.end(), children.rbegin(), children.rend());
  ScanNext();
}

// --- The transfer ---

void TFolderTransfer::TransferNext() {
  while (folder_ < folders_.size()) {
    Folder& folder = folders_[folder_];
    const std::vector<std::size_t>& files = filesOf_[folder_];
    if (folderStage_ != FolderStage::Ready && !PrepareFolder(folder, !files.empty())) return;
    if (file_ < files.size()) {
      const File& file = files_[files[file_]];
      if (BeforeFile) {
        const bool go = BeforeFile(file);  // may run the loop: the walk may be over
        if (!Running()) return;
        if (stopRequested_) {
          End(Outcome::Stopped);
          return;
        }
        if (!go) {
          ++filesDone_;
          ++file_;
          continue;
        }
      }
      session_.RemoteFile = file.Name;
      session_.LocalFile = file.Local;
      if (direction_ == Direction::Download) {
        session_.RemoteFileFacts = file.Facts;  // this file's own, from its folder's listing
        Issue(Step::File, [this] { session_.ReceiveFile(); });
      } else {
        Issue(Step::File, [this] { session_.StoreFile(); });
      }
      return;
    }
    ++folder_;
    file_ = 0;
    folderStage_ = FolderStage::New;
  }
  End(Outcome::Sent);
}

// Makes the folder ready for its files; false while an operation does it (its completion
// comes back to TransferNext) or when the walk ended.
bool TFolderTransfer::PrepareFolder(Folder& folder, bool hasFiles) {
  if (direction_ == Direction::Download) {
    if (const int error = MakeLocalFolder(folder.Local); error != 0) {
      problemError_ = error;
      End(Outcome::LocalFolderFailed, folder.Local);
      return false;
    }
    folderStage_ = FolderStage::Ready;
    // Its files are fetched from inside it; a folder without files needs no visit.
    return !hasFiles || !GoTo(folder.Remote);
  }
  // Upload: from its parent on the server, MKD where the parent lists no such folder,
  // then in (ListFolder's completion makes it ready).
  const bool top = folder.Parent < 0;
  const Folder* parent = top ? nullptr : &folders_[static_cast<std::size_t>(folder.Parent)];
  if (GoTo(top ? home_ : parent->Remote)) return false;
  const std::vector<std::string>& existing = top ? homeFolders_ : parent->RemoteFolders;
  const bool missing = std::find(existing.begin(), existing.end(), folder.Name) == existing.end();
  if (folderStage_ == FolderStage::New && missing) {
    folderStage_ = FolderStage::Made;
    Issue(Step::MakeFolder, [this] { session_.CreateDirectory(folders_[folder_].Name); });
    return false;
  }
  folderStage_ = FolderStage::Made;
  Issue(Step::Enter, [this] { session_.ChangeDirectory(folders_[folder_].Name); });
  return false;
}

void TFolderTransfer::FileDone() {
  const File& file = files_[filesOf_[folder_][file_]];
  if (session_.Success) {
    bytesDone_ += session_.ResumedFrom + session_.BytesTransferred;
  } else {
    // The server refused it, or it could not go: the walk goes on, and says so at the end.
    skipped_.push_back({direction_ == Direction::Download ? PathIn(file.Folder, file.Name) : file.Local,
                        SkipReason::Failed});
  }
  ++filesDone_;
  ++file_;
  if (OnFileDone) OnFileDone();
  if (stopRequested_) {
    End(Outcome::Stopped);
    return;
  }
  TransferNext();
}

// --- Shared ---

bool TFolderTransfer::GoTo(const std::string& path) {
  if (here_ == path) return false;
  target_ = path;
  Issue(Step::GoTo, [this] { session_.ChangeDirectory(target_); });
  return true;
}

// Operations are started only when the engine takes them: a request it would refuse at
// once (busy, or no connection) fires no event, and the walk would wait for ever.
void TFolderTransfer::Issue(Step step, const std::function<void()>& operation) {
  if (!session_.Connected || session_.Busy) {
    if (outcome_ == Outcome::None) outcome_ = Outcome::Abandoned;
    Finish();
    return;
  }
  step_ = step;
  operation();
}

void TFolderTransfer::End(Outcome outcome, const std::string& problem) {
  if (outcome_ == Outcome::None) {
    outcome_ = outcome;
    problem_ = problem;
  }
  if (!home_.empty() && here_ != home_) {
    phase_ = Phase::Returning;
    target_ = home_;
    Issue(Step::GoHome, [this] { session_.ChangeDirectory(target_); });
    return;
  }
  Finish();
}

void TFolderTransfer::Finish() {
  phase_ = Phase::Done;
  step_ = Step::None;
  if (OnFinished) OnFinished();
}

void TFolderTransfer::AddFile(std::size_t folder, const std::string& name, const ListingFacts& facts) {
  files_.push_back({folder, name, JoinPath(folders_[folder].Local, name), facts});
  if (facts.Size >= 0) {
    knownBytes_ += facts.Size;
  } else {
    ++unknownSizes_;
  }
}

bool TFolderTransfer::Acceptable(std::size_t folder, const std::string& name) {
  if (IsPlainFileName(name)) return true;
  refused_.push_back(name);
  skipped_.push_back({PathIn(folder, name), SkipReason::NameLeaves});
  return false;
}

bool TFolderTransfer::LeadsBackUp(int parent, std::uint64_t identity, const std::string& remote) const {
  for (int i = parent; i >= 0; i = folders_[static_cast<std::size_t>(i)].Parent) {
    const Folder& above = folders_[static_cast<std::size_t>(i)];
    if ((identity != 0 && above.Identity == identity) || (!remote.empty() && above.Remote == remote)) return true;
  }
  return false;
}

// A name inside a folder of the walk, by the folder's path on the server (download) or on
// the local disk (upload).
std::string TFolderTransfer::PathIn(std::size_t folder, const std::string& name) const {
  const Folder& in = folders_[folder];
  const std::string& path = direction_ == Direction::Download ? in.Remote : in.Local;
  return path.empty() ? name : JoinPath(path, name);
}

std::string TFolderTransfer::TopNameOf(std::size_t folder) const {
  while (folders_[folder].Parent >= 0) folder = static_cast<std::size_t>(folders_[folder].Parent);
  return direction_ == Direction::Download ? folders_[folder].Name : folders_[folder].Local;
}
