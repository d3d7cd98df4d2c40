// The bare download the benchmark compares against: RETR over an active-mode data
// connection, read with recv of 2048 bytes (poll only when nothing is waiting) and written
// straight to the file, nothing else.
//
//   baseline_download PORT REMOTE LOCAL      (server on 127.0.0.1, anonymous login)
#include "BareFtp.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: baseline_download PORT REMOTE LOCAL\n");
    return 2;
  }
  const int file = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0) bare::FailErrno(argv[3]);
  bare::Session session(std::atoi(argv[1]));
  const int data = session.OpenData(std::string("RETR ") + argv[2]);
  char buffer[bare::kChunk];
  for (;;) {
    const ssize_t n = ::recv(data, buffer, sizeof buffer, 0);
    if (n > 0) {
      if (::write(file, buffer, static_cast<std::size_t>(n)) != n) bare::FailErrno("write");
    } else if (n == 0) {
      break;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      bare::Session::Wait(data, POLLIN);
    } else if (errno != EINTR) {
      bare::FailErrno("recv");
    }
  }
  ::close(data);
  if (::close(file) != 0) bare::FailErrno("close");
  session.ExpectTransferComplete();
  return 0;
}
