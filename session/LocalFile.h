// The local file of a receive or a store.
//
// A receive never touches its target until the download is whole: the bytes go to a new
// file beside it, "NAME.part.XXXXXX", created exclusively and readable by its owner only.
// Commit() renames it over the target with the target's permissions (those of a new file,
// after the umask, when there was none). Forget() ends any other way: the target stays as
// it was, and the part received is kept as "NAME.part" (replacing an older one), or removed
// when nothing came or it cannot be kept.
//
// A part of an earlier try may be continued instead (ContinuePart): the bytes then go to
// the end of "NAME.part" itself, which Commit() renames over the target.
//
// Where the folder takes no new file but the target can be written (or the target is not
// a plain file), the receive writes the target itself, as before: opened at once, so that
// a file that cannot be written is refused before anything is sent, and emptied by Claim()
// only once the download really brings something; a target it created and never claimed
// is removed again.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class TLocalFile {
 public:
  TLocalFile() = default;
  ~TLocalFile() { Forget(); }
  TLocalFile(const TLocalFile&) = delete;
  TLocalFile& operator=(const TLocalFile&) = delete;

  // A receive's target; false when it cannot be written.
  bool OpenForReceive(const std::string& path);
  // A store's source, opened for reading and writing so that a read-only file is refused.
  bool OpenForStore(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }

  // In place: empties the target, once; works after Close() too, and does nothing once the
  // file is forgotten. False when emptying failed. Nothing to do for a temporary file.
  bool Claim();

  // "NAME.part" beside a receive's target, when it is a plain file of this user that may
  // be continued: its size and last change (seconds since 1970); -1 when there is none.
  std::int64_t PartSize() const;
  std::int64_t PartModified() const;
  // The receive goes on at the end of "NAME.part" (which must still hold `size` bytes)
  // rather than into a new file; false, with nothing changed, when it cannot.
  bool ContinuePart(std::int64_t size);
  // Back to a new file after ContinuePart: the part stays as it is.
  bool StartOver();
  // Ends a receive whose part is of no use (it holds more than the file): nothing is kept.
  void Discard();

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

  // Writes what the buffer holds, then closes. False when that or closing a receive's file
  // failed (what was written may be lost).
  bool Close();
  // The download is whole: the received file becomes the target (and an older NAME.part
  // goes). False when it could not; the part is then kept as Forget() keeps it.
  bool Commit();
  // Closes and ends the file's story without a whole download (see above).
  void Forget();

 private:
  bool OpenTemporary(const std::string& path, mode_t finalMode);
  bool OpenInPlace(const std::string& path, bool existed);
  bool StatPart(struct stat& st) const;
  bool WriteOut(const char* bytes, std::size_t count);
  bool FlushBuffer();

  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
  std::size_t bufferStart_ = 0;  // reading: the next byte not yet handed out
  std::size_t bufferEnd_ = 0;    // reading: the end of what was read; writing: of what waits
  std::string path_;       // the target; empty once forgotten
  std::string temporary_;  // where a receive writes, when not in place
  mode_t finalMode_ = 0;
  bool receiving_ = false;
  bool created_ = false;
  bool claimed_ = false;
};
