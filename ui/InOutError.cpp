#include "ui/InOutError.h"

#include <string>

#include "texts/FrenchMessages.h"

InOutError::InOutError(int code) : InOutError(code, talvo::texts::InOutErrorText(code)) {}

InOutError::InOutError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}

InOutError InOutError::FromErrno(int errnum) {
  return InOutError(talvo::texts::InOutCodeOf(errnum).value_or(errnum), talvo::texts::LocalErrorReason(errnum));
}
