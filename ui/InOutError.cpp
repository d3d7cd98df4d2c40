#include "ui/InOutError.h"

#include <cerrno>
#include <string>

#include "texts/FrenchMessages.h"

InOutError::InOutError(int code) : InOutError(code, talvo::texts::InOutErrorText(code)) {}

InOutError::InOutError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}

InOutError InOutError::FromErrno(int errnum) {
  if (const std::optional<int> code = InOutCodeOf(errnum)) return InOutError(*code);
  return InOutError(errnum, "Erreur E/S " + std::to_string(errnum));
}

std::optional<int> InOutCodeOf(int errnum) {
  switch (errnum) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return kBadFileName;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM: return 5;
    case ENOSPC:
    case EDQUOT: return 101;
    default: return std::nullopt;
  }
}
