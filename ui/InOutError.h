// InOutError: the failure of a local file operation of the window, carrying the system
// error code and its French text ("Fichier introuvable", "Erreur E/S 39", ...). Thrown by
// the local pane's file operations and caught by the window's handler wrapper, which
// shows the text in the application's error box and ends the handler.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

class InOutError : public std::runtime_error {
 public:
  // The failure with this system error code and the text the table gives it.
  explicit InOutError(int code);

  // The failure that errno `errnum` stands for (see InOutCodeOf). An errno without a code
  // of its own reads "Erreur E/S" and its number, even where that number is also one of
  // the table's codes (EIO is 5, which must not read "Accès au fichier refusé").
  static InOutError FromErrno(int errnum);

  int Code() const { return code_; }

 private:
  InOutError(int code, const std::string& text);

  int code_;
};

// The system error code that an errno value is shown with: ENOENT 2; ENOTDIR and the
// errors of a badly formed name (ENAMETOOLONG, ELOOP, EINVAL) 3; EMFILE and ENFILE 4;
// EACCES and EPERM 5; ENOSPC and EDQUOT 101; nothing for any other errno.
std::optional<int> InOutCodeOf(int errnum);

// The system error code of a name that cannot name a file in a directory.
inline constexpr int kBadFileName = 3;
