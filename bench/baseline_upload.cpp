// The bare upload the benchmark compares against: STOR over an active-mode data connection,
// the file read 2048 bytes at a time and each chunk sent whole (poll only when the socket
// is full), nothing else.
//
//   baseline_upload PORT LOCAL REMOTE      (server on 127.0.0.1, anonymous login)
#include "BareFtp.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: baseline_upload PORT LOCAL REMOTE\n");
    return 2;
  }
  const int file = ::open(argv[2], O_RDONLY);
  if (file < 0) bare::FailErrno(argv[2]);
  bare::Session session(std::atoi(argv[1]));
  const int data = session.OpenData(std::string("STOR ") + argv[3]);
  char buffer[bare::kChunk];
  for (;;) {
    const ssize_t n = ::read(file, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) bare::FailErrno("read");
    for (ssize_t sent = 0; sent < n;) {
      const ssize_t m = ::send(data, buffer + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
      if (m > 0) {
        sent += m;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        bare::Session::Wait(data, POLLOUT);
      } else if (errno != EINTR) {
        bare::FailErrno("send");
      }
    }
  }
  ::close(data);
  ::close(file);
  session.ExpectTransferComplete();
  return 0;
}
