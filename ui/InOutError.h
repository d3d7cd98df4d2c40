// InOutError: the failure of a local file operation of the window, carrying the system
// error code and its French text ("Fichier introuvable", "Erreur E/S 39", ...). Thrown by
// the local pane's file operations and caught by the window's handler wrapper, which
// shows the text in the application's error box and ends the handler.
#pragma once

#include <stdexcept>
#include <string>

class InOutError : public std::runtime_error {
 public:
  // The failure with this system error code and the text the table gives it.
  explicit InOutError(int code);

  // The failure that errno `errnum` stands for, with the text the console tool and the
  // engine's messages give it too (talvo::texts::LocalErrorReason).
  static InOutError FromErrno(int errnum);

  int Code() const { return code_; }

 private:
  InOutError(int code, const std::string& text);

  int code_;
};

// The system error code of a name that cannot name a file in a directory.
inline constexpr int kBadFileName = 3;
