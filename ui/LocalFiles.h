// The local pane's file operations on the disk: rename without replacing, delete a file,
// make and remove a directory, and the path arithmetic they need. No Qt. Every operation
// the system refuses throws InOutError with the system's reason.
#pragma once

#include <string>

// Renames `from` to `to`, refusing when `to` already exists. The refusal is atomic: no
// moment exists at which another file named `to` could be replaced or lost.
void RenameWithoutReplacing(const std::string& from, const std::string& to);

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
