// TFolderTransfer: copies folders and everything under them, from the server or to it,
// through the session's own operations (ChangeDirectory, GetListing, CreateDirectory,
// ReceiveFile, StoreFile), so that each file goes the way single files go.
//
// It works in two phases. The scan finds every folder and file (the server's folders are
// entered and listed one by one; local folders are read at once). A folder that is one of
// its own parents (the same absolute path from PWD, or the same identity in the listing,
// or on the local disk) is a loop: it is skipped and named, and the rest is copied. The
// scan stops at kMaxDepth levels, where a loop no server can show ends. A local link that
// leads out of the chosen folder is skipped and named too. Then, once the owner
// has asked the user with the counts, the transfer makes the folders (locally, or with
// MKD where the server lists none of that name) and moves the files, folder by folder.
// The server is told where to go by absolute paths as its PWD gave them, never "CWD ..",
// since a link may have led anywhere; at the end it is put back in the folder it started
// in.
//
// The walk is driven by the engine's completion events, wired once by WalkEvents.h: each
// goes to OperationDone() first, and to the owner's handler only when that says false.
// Every step starts one operation from there, so the walk runs in whatever loop runs the
// engine. Whatever is not copied (a file refused or failed, a name or a link that would
// leave the folder, a loop) is counted and named: Skipped().
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/FileSession.h"

class TFolderTransfer {
 public:
  static constexpr int kMaxDepth = 32;

  enum class Direction : std::uint8_t { Download, Upload };
  enum class Phase : std::uint8_t {
    Idle,          // nothing started
    Scanning,      // finding the folders and files
    Scanned,       // the counts are known: Go() or Decline()
    Transferring,  // making folders and moving files
    Returning,     // putting the server back in its starting folder
    Done,
  };
  enum class Outcome : std::uint8_t {
    None,
    Sent,              // the walk went through; Skipped() names what was not copied
    Declined,          // the owner said no after the scan: nothing was sent
    Stopped,           // Stop(): ended after the running file
    TooDeep,           // a folder lies deeper than kMaxDepth: nothing was sent (Problem() names the top)
    FolderUnreadable,  // a folder could not be read, entered or made (Problem() names it)
    LocalFolderFailed, // a local folder could not be made (Problem() names it, ProblemError() says why)
    Failed,            // the engine reported an error (it has said so itself)
    Abandoned,         // Abandon(): the connection or the program ended
  };

  // One folder to copy: where it is on the server (after the scan of a download, or once
  // entered during an upload: the absolute path PWD gave), its name there relative to its
  // parent, and its local path.
  struct Folder {
    std::string Name;
    std::string Remote;
    std::string Local;
    int Parent = -1;  // -1: a top folder, inside the starting folder
    int Depth = 1;
    std::vector<std::string> RemoteFolders;  // upload: the server's folders listed inside
    std::uint64_t Identity = 0;  // what tells it from every other folder (0: not known)
  };
  struct File {
    std::size_t Folder = 0;
    std::string Name;  // on the server, as listed (download) or as the local name (upload)
    std::string Local;
    ListingFacts Facts;  // download: what the listing said of it; upload: its size
  };
  // What was not copied, and why.
  enum class SkipReason : std::uint8_t {
    Failed,      // its transfer did not go through (the server refused it, its name cannot be sent, ...)
    NameLeaves,  // the server listed a name that would leave the local folder
    LinkLeaves,  // a local link that leads out of the chosen folder
    Loop,        // a folder that leads back to one of its own parents
    NotPlain,    // a local pipe, socket, device or link to nothing: not sent
  };
  struct Skip {
    std::string Path;  // the server's path (download) or the local one (upload)
    SkipReason Reason;
  };
  // A top folder: its name or path on the server and its local path.
  struct Top {
    std::string Remote;
    std::string Local;
  };

  explicit TFolderTransfer(TFileSession& session) : session_(session) {}
  TFolderTransfer(const TFolderTransfer&) = delete;
  TFolderTransfer& operator=(const TFolderTransfer&) = delete;

  // Starts the scan of these folders (relative to the server's current folder, or
  // absolute). An upload's scan reads the local disk and is over on return.
  void Start(Direction direction, std::vector<Top> tops);
  void Go();       // after the scan: copy
  void Decline();  // after the scan: copy nothing
  // Ends the walk after the running operation (the stop button also aborts that one).
  void Stop();
  // Ends the walk now, asking nothing more of the engine: its connection is gone, or the
  // owner must have it back.
  void Abandon();
  // A completion event of the engine: true when it ended a step of this walk (the owner
  // then does nothing more with it).
  bool OperationDone();
  // The engine's error event, handed on first thing: the step it came in ends the walk.
  // (LastError alone cannot tell: a later read on the control connection clears it before
  // the step's completion event comes.)
  void ErrorReported() {
    if (step_ != Step::None) errorReported_ = true;
  }

  // Called when the scan is over (Phase Scanned; a scan that fails ends the walk instead)
  // and when the walk is done; each is the last thing the walk does before it waits.
  std::function<void()> OnScanned;
  std::function<void()> OnFinished;
  // Asked before each file goes (the owner may ask the user whether it replaces one that
  // is there): false skips it, counted as done. Stop() from here ends the walk instead.
  std::function<bool(const File& file)> BeforeFile;
  // Called when a file of the transfer has ended, before the next step begins (its
  // session's counters are still the file's).
  std::function<void()> OnFileDone;

  Direction direction() const { return direction_; }
  Phase phase() const { return phase_; }
  bool Running() const { return phase_ != Phase::Idle && phase_ != Phase::Done; }
  Outcome outcome() const { return outcome_; }
  // The folder or name an outcome is about: a local path, or a name as the server lists it.
  const std::string& Problem() const { return problem_; }
  int ProblemError() const { return problemError_; }
  // Names the server listed that would leave the local folder: not copied.
  const std::vector<std::string>& RefusedNames() const { return refused_; }
  // Everything not copied, in the order found.
  const std::vector<Skip>& Skipped() const { return skipped_; }
  const std::vector<Folder>& Folders() const { return folders_; }
  const std::vector<File>& Files() const { return files_; }
  std::int64_t KnownBytes() const { return knownBytes_; }
  std::size_t UnknownSizes() const { return unknownSizes_; }

  // Progress of the transfer: the files ended so far and the bytes they moved.
  std::size_t FilesDone() const { return filesDone_; }
  std::int64_t BytesDone() const { return bytesDone_; }
  // The number of the file now moving, from 1: shown as "2/5" while the second of five moves.
  std::size_t RunningFileNumber() const { return std::min(filesDone_ + 1, files_.size()); }

 private:
  // What the operation now running was started for.
  enum class Step : std::uint8_t {
    None,
    ListHome,     // the starting folder's listing: its absolute path (and folders)
    GoTo,         // CWD to an absolute path
    Enter,        // CWD into a folder by its name
    ListFolder,   // the listing of the folder just entered
    MakeFolder,   // upload: MKD
    File,         // a file's receive or store
    GoHome,
  };

  // How far the transfer's current folder is from taking its files.
  enum class FolderStage : std::uint8_t { New, Made, Ready };

  void Reset();
  void Continue();  // after the server moved: on with the scan or the transfer
  // Download scan.
  void ScanNext();
  void FolderEntered();
  void FolderListed();
  // Upload scan (the local disk, at once).
  void ScanLocal();
  // Transfer.
  void TransferNext();
  bool PrepareFolder(Folder& folder, bool hasFiles);
  void FileDone();
  // Moves the server to `path` unless it is there; false when nothing had to be done.
  bool GoTo(const std::string& path);
  void Issue(Step step, const std::function<void()>& operation);
  void End(Outcome outcome, const std::string& problem = {});
  void Finish();
  void AddFile(std::size_t folder, const std::string& name, const ListingFacts& facts);
  // A name listed by the server is copied only when it stays inside its local folder.
  bool Acceptable(std::size_t folder, const std::string& name);
  // A folder with this identity (or, for the server, this absolute path) above `parent`.
  bool LeadsBackUp(int parent, std::uint64_t identity, const std::string& remote) const;
  std::string PathIn(std::size_t folder, const std::string& name) const;
  std::string TopNameOf(std::size_t folder) const;

  TFileSession& session_;
  Direction direction_ = Direction::Download;
  Phase phase_ = Phase::Idle;
  Outcome outcome_ = Outcome::None;
  Step step_ = Step::None;
  bool stopRequested_ = false;
  bool errorReported_ = false;  // the running step's operation reported an error
  std::string problem_;
  int problemError_ = 0;
  std::vector<Top> tops_;
  std::vector<Folder> folders_;
  std::vector<File> files_;
  std::vector<std::string> refused_;
  std::vector<Skip> skipped_;
  std::int64_t knownBytes_ = 0;
  std::size_t unknownSizes_ = 0;

  std::string home_;  // the server's starting folder, as PWD gave it
  std::string here_;  // where the server is now; empty: not known
  std::string target_;  // where the running CWD goes
  std::vector<std::string> homeFolders_;  // upload: the folders the starting folder holds

  // Download scan: folders still to list, the next on top; each names its parent.
  struct Pending {
    int Parent;
    std::string Name;
    std::string Local;
    int Depth;
    std::uint64_t Identity = 0;
  };
  std::vector<Pending> pending_;
  // Transfer: the folder being worked on and its next file.
  std::size_t folder_ = 0;
  std::size_t file_ = 0;
  FolderStage folderStage_ = FolderStage::New;
  std::vector<std::vector<std::size_t>> filesOf_;  // file indexes by folder

  std::size_t filesDone_ = 0;
  std::int64_t bytesDone_ = 0;
};

// Makes a local folder, or finds one there already (through a link of this user too, never
// through another user's): 0, or why not (see LocalErrors.h).
int MakeLocalFolder(const std::string& path);
