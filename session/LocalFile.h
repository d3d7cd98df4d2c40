// The local file of a receive or a store. Every operation that can fail answers 0 or the
// system's error (see LocalErrors.h), so that the message can say why.
//
// A receive never touches its target until the download is whole: the bytes go to a part
// beside it, "NAME.part", made by this user, readable by its owner only and marked with
// its origin (PartMark.h) before its first byte. Commit() renames it over the target with
// the target's permissions (those of a new file, after the umask, when there was none).
// Forget() ends any other way: the target stays as it was and the part received is kept
// under its name (removed when nothing came), so that a crash or a kill leaves it too; a
// later download of the same file, unchanged on the server, continues it.
//
// A "NAME.part" that is not this program's part of this file (another program's, or one
// the server sent), or that another copy of this program is receiving into (a part is
// locked while it is received), is left alone: the part is then "NAME~1.part" (or ~2, ...
// ~9). A part of this program for this file that does not match the server's file any
// more is emptied and begun again.
//
// Where the folder takes no new file but the target can be written (or no part name fits),
// the receive writes the target itself: opened at once, so that a file that cannot be
// written is refused before anything is sent, and emptied by Claim() only once the
// download really brings something; a target it created and never claimed is removed.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "session/LeftOnDisk.h"
#include "session/PartMark.h"
#include "session/PartOrigin.h"

class TLocalFile {
 public:
  TLocalFile() = default;
  ~TLocalFile() { Forget(); }
  TLocalFile(const TLocalFile&) = delete;
  TLocalFile& operator=(const TLocalFile&) = delete;

  // A receive into `path` (see ReceiveTarget.h for links and special files), from the
  // file that `origin` names (its size and time may come later, by ResumableFrom).
  int OpenForReceive(const std::string& path, const TPartOrigin& origin);
  // A store's source, opened for reading only; anything but a plain file is refused, and
  // nothing blocks in the open (a pipe).
  int OpenForStore(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }

  // The receive writes its target itself, and that target held a file whose content a
  // download that fails would lose.
  bool OverwritesInPlace() const { return inPlace_ && !created_; }

  // This program's part of this file, which the receive may continue: its size; -1: none.
  std::int64_t PartSize() const;
  // The server's size and last change of the file (-1: not known): the part may be
  // continued when it was begun for this same file, unchanged. Its size, or 0.
  std::int64_t ResumableFrom(std::int64_t size, std::int64_t modified);
  // Just before the data come: on at `offset` (ResumableFrom's answer), or from the start,
  // the part emptied and marked anew. Once per receive: later calls do nothing.
  int Begin(std::int64_t offset);
  // Back to the start of the part (the server would not go on where it was asked to).
  int StartOver();
  // Ends a receive whose part is of no use: nothing is kept.
  void Discard();

  // In place: empties the target, once; works after Close() too, and does nothing once the
  // file is forgotten. Nothing to do for a part.
  int Claim();

  // Reads and writes go to the file one call each, unless a buffer of `bytes` is set (for
  // the open file, before its first read or write): then the file is read ahead and written
  // behind in pieces of that size.
  void SetBuffer(std::size_t bytes);

  // Writes all the bytes (or takes them into the buffer), or says why the disk took fewer,
  // now or for bytes taken before. After a failure the bytes still buffered are dropped.
  int Write(const char* bytes, int count);
  // Reads up to count bytes; fewer at the end of the file or on a failure (ReadError).
  int Read(char* bytes, int count);
  // Why the last read brought less than asked: the system's error, or kFileShrank.
  int ReadError() const { return readError_; }
  std::int64_t Size() const;
  // A store's file: its size now, remembered with its last change; and whether it has
  // changed since (written to, grown).
  std::int64_t SizeToSend();
  bool ChangedSinceSized() const;

  // Writes what the buffer holds, then closes.
  int Close();
  // The download is whole: the part becomes the target.
  int Commit();
  // Closes and ends the file's story without a whole download (see above).
  void Forget();

  // What the last receive that ended without Commit left (valid until the next open): the
  // state, and the path of the part kept or of the target written in place.
  TLeftOnDisk Left() const { return left_; }
  const std::string& LeftPath() const { return leftPath_; }

 private:
  int OpenPart();
  int CreateMarkedPart(const std::string& part);
  int TakeEarlierPart(const std::string& part);
  int OpenInPlace(bool existed);
  int WriteOut(const char* bytes, std::size_t count);
  int FlushBuffer();
  void Reset();

  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t bufferSize_ = 0;
  std::size_t bufferStart_ = 0;  // reading: the next byte not yet handed out
  std::size_t bufferEnd_ = 0;    // reading: the end of what was read; writing: of what waits
  int readError_ = 0;
  std::string path_;  // the target; empty once forgotten
  std::string part_;  // where a receive writes, when not in place
  TPartOrigin origin_;
  TPartOrigin earlier_;  // the mark of an earlier part taken over
  TMarkPlace markPlace_ = TMarkPlace::None;
  mode_t finalMode_ = 0;
  bool receiving_ = false;
  bool earlierPart_ = false;  // part_ is an earlier try's part
  bool begun_ = false;        // Begin() has run: the part is ready for the data
  bool inPlace_ = false;
  bool created_ = false;
  bool claimed_ = false;
  struct timespec sizedModified_ {};
  std::int64_t sizedSize_ = -1;
  TLeftOnDisk left_ = TLeftOnDisk::Untouched;
  std::string leftPath_;
};
