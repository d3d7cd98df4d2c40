// Fuzzes the reply handler. Each input is one short life of a component:
//   byte 0   the reply state it waits in: every state, by its place in kControlStates,
//   byte 1   flags: what the owner set beforehand and how its events react,
//   the rest control text, cut into lines as the control connection does, each line
//            handed to HandleReply; then the loop runs the notifications it posted.
// The control socket is never opened, so every command the handler sends fails at once and
// takes the error path. The socket library is wrapped so that nothing can reach past the
// loopback interface: a lookup or a connect elsewhere aborts the run, a bind elsewhere fails.
#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "ftp/ControlLineSplitter.h"
#include "ftp/Ftp.h"
#include "ftp/FtpProbe.h"
#include "platform/MessageLoop.h"
#include "platform/Winsock.h"

using namespace platform;

// What the events saw; kept outside so that their work is not optimised away.
std::size_t sink = 0;

namespace {


enum Flags : std::uint8_t {
  kInitialDirectory = 1 << 0,  // the login ends with CWD
  kCredentialsSet = 1 << 1,    // otherwise they are asked for through OnFtpNeedInfo
  kAscii = 1 << 2,
  kConnected = 1 << 3,         // the component believes it is connected (socket still closed)
  kOwnerReacts = 1 << 7,       // the events start operations, as a window would
  // bits 4 to 6: the operation in progress
};

bool IsLoopback(const SOCKADDR_INET& address) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address.sin_addr);
  return address.sin_family == AF_INET_VALUE && bytes[0] == 127;
}

[[noreturn]] void Escape(const char* what) {
  std::fprintf(stderr, "reply handler fuzzer: the component tried %s\n", what);
  std::abort();
}

const SocketLibraryTable& Posix() { return PosixSocketLibrary(); }

int GuardedConnect(SOCKET s, const SOCKADDR_INET* addr, int len) {
  if (addr == nullptr || !IsLoopback(*addr)) Escape("a connect beyond loopback");
  return Posix().connect(s, addr, len);
}

int GuardedBind(SOCKET s, const SOCKADDR_INET* addr, int len) {
  if (addr != nullptr && IsLoopback(*addr)) return Posix().bind(s, addr, len);
  // Any other address (the wildcard included) is refused with the library's own error:
  // binding the no-address value always fails.
  SOCKADDR_INET refused = addr != nullptr ? *addr : SOCKADDR_INET{};
  refused.sin_family = AF_INET_VALUE;
  refused.sin_addr = INADDR_NONE_VALUE;
  return Posix().bind(s, &refused, len);
}

HANDLE GuardedLookup(HWND, UINT, const char*, int, ADDRESS_LIST*) { Escape("a host-name lookup"); }

void InstallLoopbackOnlyLibrary() {
  SocketLibraryTable table = Posix();
  table.connect = &GuardedConnect;
  table.bind = &GuardedBind;
  table.WSAAsyncGetAddrInfo = &GuardedLookup;
  RegisterSocketLibrary("fuzz-loopback-only", table);
  SetDefaultSocketLibrary("fuzz-loopback-only");
}

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// Every component is destroyed at the end of its input; descriptors must not pile up.
void CheckDescriptors() {
  static int baseline = -1;
  static unsigned runs = 0;
  if (runs++ % 1024 != 0) return;
  const int now = OpenDescriptors();
  if (baseline < 0) {
    baseline = now;
  } else if (now > baseline + 8) {
    std::fprintf(stderr, "reply handler fuzzer: %d descriptors open, %d at the start\n", now, baseline);
    std::abort();
  }
}

// Events that touch what they are given, and, when asked, start operations the way an owner
// does from its handlers (re-entering the component).
void AssignEvents(TVelaFtp& ftp, bool ownerReacts) {
  ftp.OnFtpInfo = [](TObject*, FtpInfo info, std::string addinfo) { sink += info + addinfo.size(); };
  ftp.OnFtpNeedInfo = [](TObject*, TFtpInfoNeeded need, std::string& value) {
    value = std::string("fuzz") + FtpInfoNeededName(need);
  };
  ftp.OnFtpError = [&ftp, ownerReacts](TObject*, FtpError error, std::string addinfo) {
    sink += static_cast<std::size_t>(error) + addinfo.size();
    if (ownerReacts) ftp.Abort();
  };
  ftp.OnFtpReady = [&ftp](TObject*) { sink += ftp.Busy; };
  ftp.OnLoggedIn = [&ftp, ownerReacts](TObject*) {
    sink += ftp.ServerType;
    if (ownerReacts) ftp.GetListing();
  };
  ftp.OnListingDone = [&ftp, ownerReacts](TObject*) {
    sink += ftp.FileNames.size() + ftp.DirectoryNames.size() + ftp.InitialDirectory.size();
    if (ownerReacts) ftp.ChangeDirectory("sub");
  };
  const auto simple = [&ftp, ownerReacts](TObject*) {
    sink += ftp.Success;
    if (ownerReacts) ftp.Quit();
  };
  ftp.OnDirectoryChanged = simple;
  ftp.OnDirectoryCreated = simple;
  ftp.OnDirectoryDeleted = simple;
  ftp.OnFileDeleted = simple;
  ftp.OnFileRenamed = simple;
  ftp.OnFileReceived = simple;
  ftp.OnFileStored = simple;
  ftp.OnFtpQuit = [&ftp](TObject*) { sink += ftp.Connected; };
}

void Prepare(TVelaFtp& ftp, std::uint8_t flags) {
  ftp.SetFtpServer("127.0.0.1");
  ftp.FtpPort = 21;
  if (flags & kInitialDirectory) ftp.InitialDirectory = "/pub";
  if (flags & kCredentialsSet) {
    ftp.UserName = "user";
    ftp.UserPassword = "secret";
    ftp.UserAccount = "acct";
  }
  ftp.TransferMode = (flags & kAscii) ? AsciiTransfer : BinaryTransfer;
  ftp.RemoteFile = "remote.bin";  // LocalFile stays empty: no local file is ever touched
  ftp.Connected = (flags & kConnected) != 0;
  static constexpr TVelaFtp::TCurrentOperation kOperations[] = {
      TVelaFtp::opNone,        TVelaFtp::opLogin,       TVelaFtp::opChangeDirectory,
      TVelaFtp::opGetListing,  TVelaFtp::opReceiveFile, TVelaFtp::opStoreFile,
      TVelaFtp::opRenameFile,  TVelaFtp::opDeleteFile,
  };
  TFtpProbe(ftp).SetOperation(kOperations[(flags >> 4) & 7]);
  ftp.Busy = ftp.Operation() != TVelaFtp::opNone;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InstallLoopbackOnlyLibrary();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  MessageLoop& loop = MessageLoop::Current();
  {
    auto ftp = std::make_unique<TVelaFtp>();
    const std::uint8_t flags = data[1];
    AssignEvents(*ftp, (flags & kOwnerReacts) != 0);
    Prepare(*ftp, flags);
    TFtpProbe probe(*ftp);
    probe.SetState(kControlStates[data[0] % kControlStates.size()]);

    // The same cutting as the control read: lines end at CR LF only, and text that grows
    // past the cap without one ends the reading.
    ControlLineSplitter lines(TVelaFtp::kMaxControlLine);
    lines.Append(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));
    std::string line;
    while (lines.NextLine(line)) probe.HandleReply(line);
    // The done and quit notifications, and whatever their handlers post in turn.
    for (int round = 0; round < 4; ++round) loop.DispatchPending();
  }
  loop.DispatchPending();  // notifications queued for the destroyed windows are dropped
  CheckDescriptors();
  return 0;
}
