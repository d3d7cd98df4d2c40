// The local file of a receive or a store. A receive opens its file before anything is sent,
// so that a file that cannot be written is refused at once, but it does not empty an
// existing file then: Claim() does, once the download really brings something. Forget()
// ends the file's story: a file the receive created and never claimed is removed, so a
// refused or stopped download leaves the local directory as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

  // Reads and writes go to the file one call each, unless a buffer of `bytes` is set (for
  // the open file, before its first read or write): then the file is read ahead and written
  // behind in pieces of that size. A TLS transfer holds a record anyway, so the file may
  // hold one too.
  void SetBuffer(std::size_t bytes);

  // Writes all the bytes (or takes them into the buffer); false when the disk took fewer,
  // now or for bytes taken before. After a failure the bytes still buffered are dropped.
  bool Write(const char* bytes, int count);
  // Reads up to count bytes; fewer at the end of the file or on a failure.
  int Read(char* bytes, int count);
  std::int64_t Size() const;

  // Writes what the buffer holds, then closes. False when that or closing a receive's target
  // failed (what was written may be lost).
  bool Close();
  // Closes, removes the file that a receive created but never claimed, and forgets it.
  void Forget();

 private:
  bool WriteOut(const char* bytes, std::size_t count);
  bool FlushBuffer();

  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
  std::size_t bufferStart_ = 0;  // reading: the next byte not yet handed out
  std::size_t bufferEnd_ = 0;    // reading: the end of what was read; writing: of what waits
  std::string path_;  // empty once forgotten
  bool receiving_ = false;
  bool created_ = false;
  bool claimed_ = false;
};
