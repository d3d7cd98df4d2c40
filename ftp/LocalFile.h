// The local file of a receive or a store. A receive opens its file before anything is sent,
// so that a file that cannot be written is refused at once, but it does not empty an
// existing file then: Claim() does, once the download really brings something. Forget()
// ends the file's story: a file the receive created and never claimed is removed, so a
// refused or stopped download leaves the local directory as it was.
#pragma once

#include <cstdint>
#include <string>

class TLocalFile {
 public:
  TLocalFile() = default;
  ~TLocalFile() { Close(); }
  TLocalFile(const TLocalFile&) = delete;
  TLocalFile& operator=(const TLocalFile&) = delete;

  // A receive's target, created when missing and left as it is when present.
  bool OpenForReceive(const std::string& path);
  // A store's source, opened for reading and writing so that a read-only file is refused.
  bool OpenForStore(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }

  // Empties a receive's target, once; works after Close() too, and does nothing once the
  // file is forgotten. False when emptying failed.
  bool Claim();
  bool Claimed() const { return claimed_; }

  // Writes all the bytes; false when the disk took fewer.
  bool Write(const char* bytes, int count);
  // Reads up to count bytes; fewer at the end of the file or on a failure.
  int Read(char* bytes, int count);
  std::int64_t Size() const;

  // False when closing a receive's target failed (what was written may be lost).
  bool Close();
  // Closes, removes the file that a receive created but never claimed, and forgets it.
  void Forget();

 private:
  int fd_ = -1;
  std::string path_;  // empty once forgotten
  bool receiving_ = false;
  bool created_ = false;
  bool claimed_ = false;
};
