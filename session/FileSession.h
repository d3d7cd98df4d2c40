// TFileSession: a session with a file server, as the front ends and the folder walk drive
// it, whatever the protocol. Every operation returns at once and ends with its completion
// event; Success then says how it went. The last listing fills the names and their facts;
// a receive or a store counts its bytes as they go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/LeftOnDisk.h"
#include "session/ListingFacts.h"
#include "transport/Component.h"

class TFileSession {
 public:
  virtual ~TFileSession() = default;

  // Operations.
  virtual void Connect() = 0;
  virtual void Quit() = 0;
  virtual void ChangeDirectory(const std::string& Directory) = 0;
  virtual void CreateDirectory(const std::string& Directory) = 0;
  virtual void DeleteDirectory(const std::string& Directory) = 0;
  virtual void DeleteFile(const std::string& FileName) = 0;
  virtual void RenameFile(const std::string& OldName, const std::string& NewName) = 0;
  virtual void GetListing() = 0;
  virtual void ReceiveFile() = 0;  // RemoteFile into LocalFile
  virtual void StoreFile() = 0;    // LocalFile to RemoteFile
  virtual void Abort() = 0;

  // What the operations work on.
  std::string UserName;
  std::string UserPassword;
  std::string LocalFile;
  std::string RemoteFile;
  // What the owner knows of RemoteFile from a listing of its own folder, for the next
  // ReceiveFile (which takes it and empties it); unknown facts are asked of the server.
  ListingFacts RemoteFileFacts;
  // The server's current folder (an absolute path, once a listing or a change of folder
  // has told it); before the login, the folder to enter after it.
  std::string InitialDirectory;

  // Completion events.
  TNotifyEvent OnFtpReady;
  TNotifyEvent OnLoggedIn;
  TNotifyEvent OnDirectoryChanged;
  TNotifyEvent OnDirectoryCreated;
  TNotifyEvent OnDirectoryDeleted;
  TNotifyEvent OnFileDeleted;
  TNotifyEvent OnFileReceived;
  TNotifyEvent OnFileStored;
  TNotifyEvent OnListingDone;
  TNotifyEvent OnFileRenamed;
  TNotifyEvent OnFtpQuit;

  // State, read-only for the owner.
  bool Success = false;
  bool Connected = false;
  bool Busy = false;  // an operation is running
  std::int64_t BytesTransferred = 0;
  // The bytes a download already had from an earlier try (its part, continued);
  // BytesTransferred counts only what comes on top. 0 for a download from the start.
  std::int64_t ResumedFrom = 0;
  std::int64_t TransferTime = 0;  // milliseconds the last transfer took
  // The size of the running receive (as the server gave it) or store (the local file's);
  // -1 while none is known.
  std::int64_t ExpectedSize = -1;
  // The system's error of the last local file that failed (errno, or see LocalErrors.h);
  // the error event names that file.
  int LocalError = 0;
  // What the last receive that did not end whole left on the disk, and where.
  TLeftOnDisk LeftOnDisk = TLeftOnDisk::Untouched;
  std::string LeftPath;

  // The last listing: names and, side by side, what it said of each besides its name.
  std::vector<std::string> FileNames;
  std::vector<std::string> DirectoryNames;
  std::vector<ListingFacts> FileFacts;
  std::vector<ListingFacts> DirectoryFacts;
  // The completion event of an operation, by the numbers both components give their
  // operations (1 login, 2 change, 3 make, 4 remove folder, 5 delete, 6 receive, 7 store,
  // 8 listing, 9 rename); raised for `sender` when assigned.
  void RaiseCompletion(int operation, TObject* sender) const {
    const TNotifyEvent* events[] = {nullptr,          &OnLoggedIn,     &OnDirectoryChanged, &OnDirectoryCreated,
                                    &OnDirectoryDeleted, &OnFileDeleted, &OnFileReceived,     &OnFileStored,
                                    &OnListingDone,   &OnFileRenamed};
    if (operation > 0 && operation < 10 && *events[operation]) (*events[operation])(sender);
  }

  // A name's facts in the last listing (nullptr: not listed).
  const ListingFacts* FactsOf(const std::string& name) const {
    for (std::size_t i = 0; i < FileNames.size() && i < FileFacts.size(); ++i) {
      if (FileNames[i] == name) return &FileFacts[i];
    }
    for (std::size_t i = 0; i < DirectoryNames.size() && i < DirectoryFacts.size(); ++i) {
      if (DirectoryNames[i] == name) return &DirectoryFacts[i];
    }
    return nullptr;
  }
};
