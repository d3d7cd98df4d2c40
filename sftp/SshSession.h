// TSshSession: one libssh2 session over the component's own socket. libssh2 never touches
// the socket itself: its send and receive callbacks go through the socket component (and
// so through whatever socket library is bound, a fake one in tests), which returns at once
// and raises its read and write events when the socket is ready again.
//
// The session is non-blocking; Handshake() is called again on every event until it is
// Done. The server's key is then available, and nothing else has been sent.
#pragma once

#include <libssh2.h>

#include <cstdint>
#include <string>

#include "sftp/SshStatus.h"

class TVelaSocket;

class TSshSession {
 public:
  explicit TSshSession(TVelaSocket& socket);
  ~TSshSession();
  TSshSession(const TSshSession&) = delete;
  TSshSession& operator=(const TSshSession&) = delete;

  LIBSSH2_SESSION* Handle() const { return session_; }
  bool Valid() const { return session_ != nullptr; }

  // Host-key types put first in the offer (those the known hosts hold for this server), so
  // that the server shows the key that is known. Before the handshake.
  void PreferHostKeyTypes(const std::string& types);
  TSshStatus Handshake();

  // The server's banner ("SSH-2.0-..."), and its key: the type's name and the key's bytes.
  std::string ServerBanner() const;
  std::string HostKeyType() const;
  std::string HostKeyBlob() const;

  // The peer closed its end: what was received is read, then the session sees the end.
  void SetPeerClosed() { peerClosed_ = true; }
  // From now on the callbacks fail at once, so that freeing the session never waits.
  void Detach() { detached_ = true; }

  // Bytes received so far: a session that receives nothing for long is stalled.
  std::uint64_t Received() const { return received_; }

  // libssh2's last error, as its text.
  std::string LastErrorText() const;
  int LastErrorCode() const;

 private:
  static ssize_t Send(libssh2_socket_t, const void* buffer, size_t length, int, void** abstract);
  static ssize_t Receive(libssh2_socket_t, void* buffer, size_t length, int, void** abstract);

  TVelaSocket& socket_;
  LIBSSH2_SESSION* session_ = nullptr;
  int placeholder_ = -1;
  bool peerClosed_ = false;
  bool detached_ = false;
  std::uint64_t received_ = 0;
};
