// How soon the stop ends an SFTP transfer, and that the session goes on: against a running
// sshd (bench/sftp.sh starts one), downloads and uploads a large file, stops each once
// STOP_AFTER bytes have moved, and prints the milliseconds from Abort() to the completion
// event, then a listing's, in the same session.
//
//   build/bench/sftp_stop_bench HOST PORT USER KEY REMOTE_FILE LOCAL_SOURCE LOCAL_FOLDER [STOP_AFTER]
//
// REMOTE_FILE comes down into LOCAL_FOLDER, LOCAL_SOURCE (as large) goes up.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/MessageLoop.h"
#include "sftp/Sftp.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from) { return std::chrono::duration<double, std::milli>(Clock::now() - from).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) {
    std::fprintf(stderr, "usage: %s HOST PORT USER KEY REMOTE_FILE LOCAL_SOURCE LOCAL_FOLDER [STOP_AFTER]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[7];
  const long long stopAfter = argc > 8 ? std::atoll(argv[8]) : 64LL << 20;
  auto& loop = platform::MessageLoop::Current();
  TVelaSftp sftp;
  sftp.SetFtpServer(argv[1]);
  sftp.FtpPort = static_cast<std::uint16_t>(std::atoi(argv[2]));
  sftp.UserName = argv[3];
  sftp.DefaultIdentityFiles = {argv[4]};
  sftp.AgentSocket.clear();
  int done = 0;
  bool failed = false;
  Clock::time_point stoppedAt{};
  bool stopping = false;
  sftp.OnFtpError = [&](TObject*, FtpError, std::string addinfo) {
    std::fprintf(stderr, "error %s\n", addinfo.c_str());
    failed = true;
  };
  sftp.OnFtpInfo = [&](TObject*, FtpInfo info, const std::string&) {
    if (info == ftpiProgress && !stopping && sftp.BytesTransferred >= stopAfter) {
      stopping = true;
      stoppedAt = Clock::now();
      sftp.Abort();
    }
  };
  const auto count = [&](TObject*) { ++done; };
  sftp.OnLoggedIn = sftp.OnFileReceived = sftp.OnFileStored = sftp.OnListingDone = count;
  const auto run = [&](const std::function<void()>& start) {
    const int before = done;
    start();
    return loop.RunUntil([&] { return done > before || failed; }, 120000) && !failed;
  };
  if (!run([&] { sftp.Connect(); })) return 1;
  for (const bool download : {true, false}) {
    stopping = false;
    if (download) {
      sftp.RemoteFile = argv[5];
      sftp.LocalFile = folder + "/stopped.bin";
    } else {
      sftp.LocalFile = argv[6];
      sftp.RemoteFile = "stopped-upload.bin";
    }
    if (!run([&] { download ? sftp.ReceiveFile() : sftp.StoreFile(); }) || !stopping) return 1;
    const double toEnd = Ms(stoppedAt);
    const long long moved = sftp.BytesTransferred;
    const Clock::time_point listed = Clock::now();
    if (!run([&] { sftp.GetListing(); })) return 1;
    std::printf("%s stopped after %lld bytes: ended in %.1f ms; the next listing took %.1f ms\n",
                download ? "download" : "upload", moved, toEnd, Ms(listed));
  }
  sftp.Quit();
  loop.RunUntil([] { return false; }, 200);
  return 0;
}
