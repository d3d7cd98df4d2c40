// Records the bytes that cross the loopback interface to and from one address during a
// test, with tcpdump (unpacked from Debian's package into <build>/servers), so that the
// test can check what went in clear: a password, a file's bytes. Put the server on an
// address of its own (FtpServerFixture::SetHost(UniqueLoopbackAddress())): the capture then
// holds its control and data connections, passive and active alike (both servers open an
// active data connection from the control connection's address), and nothing of other
// tests.
//
//   WireCapture capture(server.Host());
//   if (const auto started = capture.Start(); started != WireCapture::Started::Yes) {
//     if (started == WireCapture::Started::Unavailable) GTEST_SKIP() << capture.Error();
//     FAIL() << capture.Error();
//   }
//   ... the session ...
//   ASSERT_TRUE(capture.Stop()) << capture.Error();
//   EXPECT_FALSE(capture.Contains(FtpServerFixture::kPassword));
//
// Stop() sends a marker datagram to the address and waits until tcpdump has written it, so
// every packet of the session before it is in the file; then it ends tcpdump with SIGINT
// (SIGKILL after a bounded wait) and reads the file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/PcapFile.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TempTree.h"

namespace talvo::test {

class WireCapture {
 public:
  explicit WireCapture(std::string address);
  ~WireCapture();
  WireCapture(const WireCapture&) = delete;
  WireCapture& operator=(const WireCapture&) = delete;

  // Unavailable: tcpdump may not capture here (not root, no permission); skip the test.
  enum class Started { Yes, Unavailable, Failed };
  Started Start();
  bool Stop();
  const std::string& Error() const { return error_; }

  // After Stop(): every TCP stream to or from the address, and whether `bytes` appear in
  // one of them (within one direction of one connection, across packets).
  const std::vector<TcpStream>& Streams() const { return streams_; }
  bool Contains(std::string_view bytes) const;
  std::string PcapPath() const { return files_.PathOf("capture.pcap"); }

 private:
  bool SendMarker(const std::string& marker);
  bool MarkerWritten(const std::string& marker) const;

  std::string address_;
  TempTree files_{"capture"};
  ServerProcess tcpdump_;
  bool running_ = false;
  std::vector<TcpStream> streams_;
  std::string error_;
};

}  // namespace talvo::test
