// The local pane's file operations on the disk: rename without replacing, delete a file,
// make and remove a directory, and the path arithmetic they need. No Qt. Every operation
// the system refuses throws InOutError with the system's reason.
#pragma once

#include <string>

// Renames `from` to `to`, refusing when `to` already exists. Where the file system allows
// it the refusal is atomic (a rename that never replaces, or a hard link); on file systems
// with neither (some FUSE mounts) the target is checked to be absent just before a plain
// rename, which leaves only the instant between the two open.
void RenameWithoutReplacing(const std::string& from, const std::string& to);

// The system calls a rename goes through, so that tests can stand in for a file system
// that lacks some of them. Each returns 0 or sets errno and returns -1.
struct TRenameCalls {
  int (*renameNoReplace)(const char* from, const char* to);
  int (*link)(const char* from, const char* to);
};
TRenameCalls& RenameCalls();

void DeleteLocalFile(const std::string& path);
void MakeLocalDirectory(const std::string& path);
void RemoveLocalDirectory(const std::string& path);

// Where the file `fileName` goes when renamed to the text `typed`: its own directory (up
// to and including its last "/") and what follows the last "/" of the typed text, so a
// rename never moves a file to another directory. A typed text whose last part is empty,
// "." or ".." names no file: InOutError with the bad-name code.
std::string RenameTarget(const std::string& fileName, const std::string& typed);

// The directory that holds `path` ("/a/b" gives "/a", "/a" and "/" give "/").
std::string ParentDirectory(const std::string& path);
