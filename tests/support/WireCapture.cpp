#include "tests/support/WireCapture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace talvo::test {

namespace {

#ifndef TALVO_BINARY_DIR
#error "TALVO_BINARY_DIR must name the build tree (set by tests/CMakeLists.txt)"
#endif

// Unpacked from its Debian package by scripts/install-deps.sh, as vsftpd is.
constexpr const char* kTcpdump = TALVO_BINARY_DIR "/servers/tcpdump/usr/bin/tcpdump";
constexpr Millis kReadyTimeout{10000};
constexpr Millis kMarkerTimeout{10000};
constexpr Millis kMarkerRepeat{500};
constexpr Millis kExitTimeout{5000};
constexpr std::uint16_t kDiscardPort = 9;

// What tcpdump says when this process may not capture.
bool Forbidden(const std::string& log) {
  for (const char* sign : {"ermission", "Operation not permitted", "not permitted"}) {
    if (log.find(sign) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

WireCapture::WireCapture(std::string address) : address_(std::move(address)) {}

WireCapture::~WireCapture() {
  if (running_) tcpdump_.Stop();
}

WireCapture::Started WireCapture::Start() {
  error_.clear();
  if (::access(kTcpdump, X_OK) != 0) {
    error_ = std::string(kTcpdump) + " is missing: run scripts/install-deps.sh " TALVO_BINARY_DIR "/servers";
    return Started::Failed;
  }
  if (!files_.Valid()) {
    error_ = "cannot make the capture's directory";
    return Started::Failed;
  }
  // -U and --immediate-mode: each packet is written as it comes, so the marker proves the
  // packets before it are in the file. -Z root: tcpdump would otherwise switch to a user
  // of its own, which the unpacked package does not make. -B: the default 2 MiB ring holds
  // only a few dozen of loopback's 64 KiB frames, and the kernel dropped packets of a session
  // when the machine was busy; 32 MiB holds hundreds.
  const std::vector<std::string> argv = {kTcpdump, "-i", "lo", "-n", "-s", "0", "-B", "32768", "-U",
                                         "--immediate-mode", "-Z", "root", "-w", PcapPath(), "host " + address_};
  const std::string log = files_.PathOf("tcpdump.log");
  std::string error;
  if (!tcpdump_.Spawn(argv, log, false, error)) {
    error_ = error;
    return Started::Failed;
  }
  running_ = true;
  const auto deadline = Clock::now() + kReadyTimeout;
  for (;;) {
    const std::string said = files_.ReadFile("tcpdump.log");
    if (said.find("listening on") != std::string::npos) return Started::Yes;
    if (!tcpdump_.Running() || Clock::now() >= deadline) {
      tcpdump_.Stop();
      running_ = false;
      error_ = "tcpdump cannot capture on lo here: " + (said.empty() ? "it said nothing in time" : said);
      return Forbidden(said) ? Started::Unavailable : Started::Failed;
    }
    std::this_thread::sleep_for(Millis(10));
  }
}

bool WireCapture::SendMarker(const std::string& marker) {
  const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(kDiscardPort);
  if (!socket.Valid() || ::inet_pton(AF_INET, address_.c_str(), &target.sin_addr) != 1) return false;
  return ::sendto(socket.Get(), marker.data(), marker.size(), 0, reinterpret_cast<const sockaddr*>(&target),
                  sizeof target) == static_cast<ssize_t>(marker.size());
}

bool WireCapture::MarkerWritten(const std::string& marker) const {
  return files_.ReadFile("capture.pcap").find(marker) != std::string::npos;
}

bool WireCapture::Stop() {
  if (!running_) {
    if (error_.empty()) error_ = "the capture was not running";
    return false;
  }
  static std::atomic<int> serial{0};
  const std::string marker = "talvo-capture-end-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
  bool marked = false;
  const auto deadline = Clock::now() + kMarkerTimeout;
  while (!marked && Clock::now() < deadline && tcpdump_.Running()) {
    SendMarker(marker);
    const auto repeatAt = Clock::now() + kMarkerRepeat;
    while (!(marked = MarkerWritten(marker)) && Clock::now() < repeatAt) std::this_thread::sleep_for(Millis(10));
  }
  if (tcpdump_.Running()) ::kill(tcpdump_.Pid(), SIGINT);
  if (!tcpdump_.WaitExited(kExitTimeout)) tcpdump_.Stop();
  running_ = false;
  if (!marked) {
    error_ = "tcpdump did not write the end marker in time: " + files_.ReadFile("tcpdump.log");
    return false;
  }
  std::vector<CapturedPacket> packets;
  if (!ReadPcapFile(PcapPath(), packets, error_)) return false;
  streams_ = TcpStreams(packets);
  return true;
}

bool WireCapture::Contains(std::string_view bytes) const {
  for (const auto& stream : streams_) {
    if (stream.bytes.find(bytes) != std::string::npos) return true;
  }
  return false;
}

}  // namespace talvo::test
