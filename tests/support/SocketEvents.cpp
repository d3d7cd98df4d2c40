#include "tests/support/SocketEvents.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace talvo::test {

void SocketEvents::Record(TVelaSocket& socket) {
  const auto note = [&socket, this](char event) {
    return [&socket, this, event](TObject*) {
      order += event;
      errors.push_back(socket.SockError);
    };
  };
  socket.OnSockResolved = note('R');
  socket.OnSockConnect = note('C');
  socket.OnSockTlsDone = note('D');
  socket.OnSockClose = note('X');
  socket.OnSockTimeOut = note('T');
  socket.OnSockRead = note('r');
  socket.OnSockWrite = note('w');
  socket.OnSockAccept = note('A');
}

int SocketEvents::Count(char event) const { return static_cast<int>(std::count(order.begin(), order.end(), event)); }

std::uint16_t SocketEvents::ErrorOf(char event) const {
  const auto at = order.find(event);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no '" << event << "' event in \"" << order << "\"";
    return 65535;
  }
  return errors[at];
}

}  // namespace talvo::test
