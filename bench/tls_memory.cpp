// What one TLS client session of the socket component costs in memory, against a local
// `openssl s_server`: the bytes OpenSSL holds (counted through its allocation hooks) and
// the bytes the rest of the program allocates with new on the loop's thread (the socket,
// the session's own buffer of unsent bytes, the loop's queue), each with its peak: idle
// after the handshake, during a download read in 2048-byte blocks and an upload written in
// 2048-byte blocks, and idle again, as used (the session gives its record buffers back
// whenever it is idle) and with SSL_MODE_RELEASE_BUFFERS on top; an idle plain connection for
// comparison.
//
//   build/bench/tls_memory_bench
#include <malloc.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <new>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "platform/MessageLoop.h"
#include "tests/support/OpenSslServer.h"
#include "tests/support/TestPattern.h"
#include "transport/TlsContext.h"
#include "transport/TlsLinger.h"
#include "transport/velasock.h"

namespace {

using talvo::test::OpenSslServer;
using talvo::test::PatternBytes;

// ---- OpenSSL's allocations, counted ----

constexpr std::size_t kHeader = 16;  // keeps the payload's alignment
std::size_t opensslBytes = 0;
std::size_t opensslPeak = 0;

void Count(std::ptrdiff_t delta) {
  opensslBytes = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(opensslBytes) + delta);
  if (opensslBytes > opensslPeak) opensslPeak = opensslBytes;
}

void* CountedMalloc(std::size_t size, const char*, int) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  Count(static_cast<std::ptrdiff_t>(size));
  return block + kHeader;
}

void CountedFree(void* p, const char*, int) {
  if (p == nullptr) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  std::size_t size;
  std::memcpy(&size, block, sizeof size);
  Count(-static_cast<std::ptrdiff_t>(size));
  std::free(block);
}

void* CountedRealloc(void* p, std::size_t size, const char* file, int line) {
  if (p == nullptr) return CountedMalloc(size, file, line);
  if (size == 0) {
    CountedFree(p, file, line);
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  std::size_t old;
  std::memcpy(&old, block, sizeof old);
  auto* moved = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, &size, sizeof size);
  Count(static_cast<std::ptrdiff_t>(size) - static_cast<std::ptrdiff_t>(old));
  return moved + kHeader;
}

// ---- the loop thread's own allocations, counted ----

struct Counter {
  std::size_t bytes = 0;
  std::size_t peak = 0;
  void Add(std::ptrdiff_t delta) {
    bytes = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(bytes) + delta);
    peak = std::max(peak, bytes);
  }
};
Counter own;
// Only the loop's thread counts: the server's helper threads move the test data.
thread_local bool countThisThread = false;

}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  if (countThisThread) own.Add(static_cast<std::ptrdiff_t>(malloc_usable_size(p)));
  return p;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  if (countThisThread) own.Add(-static_cast<std::ptrdiff_t>(malloc_usable_size(p)));
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

// ---- the measured connection ----

constexpr int kChunk = 2048;
constexpr std::size_t kTransfer = 4 << 20;

bool RunUntil(const std::function<bool()>& done, int ms = 20000) {
  return platform::MessageLoop::Current().RunUntil(done, ms);
}
void Settle(int ms) { platform::MessageLoop::Current().RunUntil([] { return false; }, ms); }

struct Figures {
  std::size_t idleSsl = 0, idleOwn = 0;
  std::size_t downloadPeakSsl = 0, downloadPeakOwn = 0;
  std::size_t uploadPeakSsl = 0, uploadPeakOwn = 0;
  std::size_t afterSsl = 0, afterOwn = 0;
};

bool Measure(OpenSslServer& server, bool tls, Figures& f) {
  // The test data are made before the first reading, and never copied on this thread.
  std::string download = PatternBytes(kTransfer);
  std::string uploaded;
  const std::size_t sslBase = opensslBytes;
  const std::size_t ownBase = own.bytes;
  auto s = std::make_unique<TVelaSocket>();
  s->InitWinsock();
  bool connected = false, done = false;
  s->OnSockConnect = [&](TObject*) { connected = true; };
  s->OnSockTlsDone = [&](TObject*) { done = true; };
  s->SockOpen();
  s->SockSetAddress("127.0.0.1");
  s->SockSetPort(server.Port());
  s->SockConnect();
  if (!RunUntil([&] { return connected; })) return false;
  if (tls) {
    TTlsClientOptions options;
    options.ServerName = OpenSslServer::kName;
    options.VerifyPeer = false;
    s->SockStartTls(options);
    if (!RunUntil([&] { return done; }) || s->SockError != 0) return false;
  }
  Settle(200);
  f.idleSsl = opensslBytes - sslBase;
  f.idleOwn = own.bytes - ownBase;
  if (!tls) {
    // The server speaks only TLS: the plain connection is measured idle.
    f = Figures{f.idleSsl, f.idleOwn};
    s->SockClose();
    return true;
  }

  // Download, one block per read notification; the peak as the reads see it.
  std::size_t received = 0;
  s->OnSockRead = [&](TObject*) {
    char buffer[kChunk];
    received += static_cast<std::size_t>(s->SockReceive(buffer, kChunk));
  };
  opensslPeak = opensslBytes;
  own.peak = own.bytes;
  server.SendToClient(std::move(download));
  if (!RunUntil([&] { return received == kTransfer; })) return false;
  f.downloadPeakSsl = opensslPeak - sslBase;
  f.downloadPeakOwn = own.peak - ownBase;

  // Upload, 2048 bytes per send, resumed by the write notification.
  const std::string block = PatternBytes(kChunk);
  std::size_t sent = 0;
  const auto sendMore = [&] {
    while (sent < kTransfer) {
      const int n = s->SockSend(block.data(), kChunk);
      if (n == 0) return;
      sent += static_cast<std::size_t>(n);
    }
  };
  s->OnSockWrite = [&](TObject*) { sendMore(); };
  server.CollectFromClient(kTransfer);
  opensslPeak = opensslBytes;
  own.peak = own.bytes;
  sendMore();
  if (!RunUntil([&] { return sent == kTransfer; })) return false;
  f.uploadPeakSsl = opensslPeak - sslBase;
  f.uploadPeakOwn = own.peak - ownBase;
  if (!server.Collected(uploaded) || uploaded.size() != kTransfer) return false;
  countThisThread = false;  // made on the collecting thread
  std::string().swap(uploaded);
  countThisThread = true;

  Settle(200);
  f.afterSsl = opensslBytes - sslBase;
  f.afterOwn = own.bytes - ownBase;
  s->SockClose();
  return RunUntil([] { return transport::ClosesFinishing() == 0; });
}

void Print(const char* what, const Figures& f) {
  std::printf("%-34s %10zu %10zu %10zu %10zu %10zu %10zu %10zu %10zu\n", what, f.idleSsl, f.idleOwn,
              f.downloadPeakSsl, f.downloadPeakOwn, f.uploadPeakSsl, f.uploadPeakOwn, f.afterSsl, f.afterOwn);
}

}  // namespace

int main() {
  countThisThread = true;
  // Before OpenSSL allocates anything.
  if (CRYPTO_set_mem_functions(&CountedMalloc, &CountedRealloc, &CountedFree) != 1) {
    std::fprintf(stderr, "tls_memory_bench: cannot count OpenSSL's allocations\n");
    return 1;
  }
  OpenSslServer server;
  if (!server.Start()) {
    std::fprintf(stderr, "tls_memory_bench: %s\n", server.Error().c_str());
    return 1;
  }
  OPENSSL_init_ssl(0, nullptr);
  const std::size_t library = opensslBytes;
  SSL_CTX* ctx = transport::TlsClientContext();
  std::printf("once per process: OpenSSL's start %zu bytes, the client context %zu bytes\n\n", library,
              opensslBytes - library);
  std::printf("bytes one connection adds (OpenSSL's / the program's own), %zu KiB each way in %d-byte blocks\n",
              kTransfer >> 10, kChunk);
  std::printf("%-34s %21s %21s %21s %21s\n", "", "idle after handshake", "download peak", "upload peak",
              "idle after transfer");

  Figures figures;
  const struct {
    const char* what;
    bool tls;
    bool releaseBuffers;
  } runs[] = {
      {"plain connection", false, false},
      // The first session also pays what OpenSSL makes once, on first use (per process or
      // per thread).
      {"TLS 1.3, the first session", true, false},
      {"TLS 1.3 (as used)", true, false},
      {"TLS 1.3, SSL_MODE_RELEASE_BUFFERS", true, true},
  };
  for (const auto& run : runs) {
    if (run.releaseBuffers) {
      SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    } else {
      SSL_CTX_clear_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    }
    // A connection of its own each time: s_server takes them one after another.
    if (!Measure(server, run.tls, figures)) {
      std::fprintf(stderr, "tls_memory_bench: the %s failed\n", run.what);
      return 1;
    }
    Print(run.what, figures);
  }
  return 0;
}
