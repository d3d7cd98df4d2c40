// A fake FTP server that plays a fixed script against one client, for the exact reply
// sequences and misbehaviours that real servers do not produce.
//
// It listens on 127.0.0.1 (a free port) and, once started, runs the script on a thread of
// its own with blocking sockets: it accepts the first control connection, then plays the
// steps in order. Each step waits at most StepTimeout() for progress (a transfer that keeps
// moving is never cut short). The first step that fails records a failure text and ends
// the script. Sockets stay open after the script ends, until the peer is destroyed; the
// destructor wakes the thread, joins it and closes everything.
//
//   ScriptedPeer peer;
//   peer.Login().Expect("CWD pub").Reply("250 ok\r\n").Expect("QUIT").Reply("221 bye\r\n");
//   peer.Start();
//   ... drive the client against peer.Port() until peer.Finished() ...
//   EXPECT_EQ(peer.Failure(), "");
//   EXPECT_EQ(peer.Commands()[4], "CWD pub");
//
// Control bytes are read with SO_OOBINLINE, so urgent (out-of-band) bytes stay in the
// stream at their place: ControlBytes() is exactly what the client sent, and
// UrgentOffsets() says which of its bytes were urgent (found with sockatmark). TCP keeps
// one urgent mark: when a second urgent send arrives before the first mark was read,
// only the later mark is reported. Command lines (Commands(), Expect) are the text up to
// CR LF with Telnet commands (IAC x, IAC WILL/WONT/DO/DONT x) removed and IAC IAC read as
// one 0xFF, as a server reads them; ExpectRaw compares the raw stream.
//
// Explicit TLS, the peer being the TLS server on every connection (certificate():
// "localhost" and 127.0.0.1, made at the first TLS step unless SetCertificate gave one):
//
//   peer.Reply(greeting).Expect("AUTH TLS").Reply("234 Proceed\r\n").StartTls()
//       .Expect("USER").Reply("331 ...\r\n") ... .Expect("PROT P").Reply("200 ok\r\n")
//       .Expect("EPSV").ReplyEpsv().Expect("RETR").Reply("150 ...\r\n")
//       .DataAccept().DataStartTls().DataSend("...").DataClose().Reply("226 ...\r\n");
//
// After StartTls, replies and commands go through TLS; Commands() and ControlBytes() stay
// the plain text the client sent. The misbehaviours: ReplyGarbage instead of the handshake
// (or in the middle of the TLS stream); no step after "234" (or Pause, Hold) leaves the
// client's handshake unanswered, the connection open; DataSend without DataStartTls sends
// plain data on a connection the client expects in TLS; DataCloseWithoutNotify ends a TLS
// data connection as a cut-off one looks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/LoopbackSockets.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestCertificate.h"
#include "tests/support/TlsServerSession.h"

namespace talvo::test {

class ScriptedPeer {
 public:
  // The replies of a normal login; a test changes the one it is about.
  struct LoginReplies {
    std::string greeting = "220 Talvo scripted peer ready\r\n";
    std::string user = "331 Password required\r\n";  // a reply of class 3 makes PASS follow
    std::string pass = "230 Logged in\r\n";
    std::string syst = "215 UNIX Type: L8\r\n";
    // Neither MLST nor UTF8: listings use LIST, and no OPTS follows.
    std::string feat = "211-Features:\r\n EPSV\r\n SIZE\r\n211 End\r\n";
    std::string opts;  // the reply to OPTS UTF8 ON; empty: the client does not send it
  };
  // A FEAT reply that offers MLSD and UTF-8 names, and the usual answer to OPTS UTF8 ON.
  static LoginReplies MlsdLogin() {
    LoginReplies replies;
    replies.feat = "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n UTF8\r\n211 End\r\n";
    replies.opts = "200 Always in UTF8 mode.\r\n";
    return replies;
  };

  // Whether a data send may end early because the client closed or reset its end
  // (an aborted download). A cut send stops quietly and the script goes on.
  enum class DataCut { Forbidden, Allowed };

  // What one DataReceive step got, up to the client's close (or reset).
  struct DataCapture {
    std::string bytes;  // all of them, unless there were more than kDataKeepLimit
    std::uint64_t count = 0;
    std::uint64_t fnv1a = 0;  // over every byte, see TestPattern.h
    bool endedByReset = false;
    bool endedByCloseNotify = false;  // TLS: the client ended its stream with close_notify
  };

  // One TLS handshake the peer took, control connection or data connection.
  struct TlsHandshake {
    bool dataConnection = false;
    std::string version;     // "TLSv1.3"
    std::string serverName;  // the client's SNI, empty without one
    bool resumed = false;    // the client resumed an earlier session of this peer
  };
  static constexpr std::uint64_t kDataKeepLimit = 64ULL << 20;

  ScriptedPeer();
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::uint16_t Port() const { return port_; }

  // --- Script steps, added before Start(). ---
  // Greeting, USER (PASS when the USER reply is of class 3), SYST, FEAT, and OPTS UTF8 ON
  // when the replies have an answer for it.
  ScriptedPeer& Login();
  ScriptedPeer& Login(const LoginReplies& replies);
  // Sends `text` exactly as given in one write; it may hold several replies.
  ScriptedPeer& Reply(std::string text);
  // Sends `text` in pieces cut at the given byte offsets, with SplitPause() between them
  // so that they arrive as separate reads (e.g. a cut between CR and LF).
  ScriptedPeer& ReplySplit(std::string text, std::vector<std::size_t> cuts);
  // Reads the next command line; it must start with `prefix`.
  ScriptedPeer& Expect(std::string prefix);
  // Reads exactly bytes.size() raw bytes from the control stream; they must be `bytes`.
  ScriptedPeer& ExpectRaw(std::string bytes);
  ScriptedPeer& Pause(int milliseconds);
  // Waits until the test calls Release() (once for each Hold): a reply held back for exactly
  // as long as the test looks at the client in the meantime.
  ScriptedPeer& Hold();
  ScriptedPeer& Close();
  ScriptedPeer& Reset();
  // Waits until the client closes the control connection (EOF or reset); lines that
  // arrive meanwhile are recorded in Commands().
  ScriptedPeer& AwaitClose();
  // Accepts the next control connection (after Close, Reset or AwaitClose).
  ScriptedPeer& AcceptNext();

  // Active-mode data connection to the address of the last PORT or EPRT command read,
  // optionally from `sourceAddress` (e.g. "127.0.0.2"). Replaces any open data connection.
  ScriptedPeer& DataConnect(std::string sourceAddress = {});
  // Passive mode: listens on a free 127.0.0.1 port and answers EPSV with "229 ...
  // (|||port|)", or PASV with "227 ... (a,b,c,d,p1,p2)" naming `namedAddress`.
  ScriptedPeer& ReplyEpsv();
  ScriptedPeer& ReplyPasv(std::string namedAddress = "127.0.0.1");
  // The same answer, for a port where the client's connect is refused (nothing listens),
  // or never completes (a listener whose queue is full drops the client's SYN).
  enum class DeadPort { Refused, NeverAccepted };
  ScriptedPeer& ReplyEpsvToDeadPort(DeadPort how);
  // Takes the client's connection on the passive listener (replaces any open one).
  ScriptedPeer& DataAccept();
  ScriptedPeer& DataSend(std::string bytes);
  ScriptedPeer& DataSendSplit(std::string bytes, std::vector<std::size_t> cuts);
  // Sends `size` bytes of the test pattern (PatternBytes) without holding them.
  ScriptedPeer& DataSendPattern(std::uint64_t size, DataCut cut = DataCut::Forbidden);
  // Reads until the client closes the data connection; see DataReceived().
  ScriptedPeer& DataReceive();
  ScriptedPeer& DataClose();  // with TLS, close_notify first
  ScriptedPeer& DataReset();

  // --- TLS steps ---
  // Takes the client's TLS handshake on the control connection (after the script sent
  // "234 ..."); from then on the control connection's replies and commands go through TLS.
  ScriptedPeer& StartTls();
  // Takes the client's TLS handshake on the open data connection (active or passive); the
  // client may resume the control connection's session or not. Data steps then go through
  // TLS.
  ScriptedPeer& DataStartTls();
  // Sends `bytes` as they are on the control socket, outside any TLS session: before
  // StartTls, once the client's handshake has begun (its first bytes are read and dropped),
  // in place of the ServerHello; after StartTls, into the middle of the TLS stream.
  ScriptedPeer& ReplyGarbage(std::string bytes);
  // Closes a TLS data connection without close_notify.
  ScriptedPeer& DataCloseWithoutNotify();

  // --- Settings, before Start(). ---
  ScriptedPeer& SetStepTimeout(Millis timeout);
  ScriptedPeer& SetSplitPause(Millis pause);
  // The certificate (and key) the TLS steps present; the same for every connection.
  ScriptedPeer& SetCertificate(TestCertificate certificate);
  // Another certificate for the data connections' TLS steps than the control connection's.
  ScriptedPeer& SetDataCertificate(TestCertificate certificate);
  Millis StepTimeout() const { return stepTimeout_; }
  // The certificate in use; empty until SetCertificate or the first TLS step.
  const TestCertificate& Certificate() const { return certificate_; }

  // Starts the script thread. Call once.
  void Start();
  // Ends the next Hold step (or lets it pass at once when the script has not reached it).
  void Release() { ++released_; }

  // --- Results, safe to read while the script runs. ---
  bool Finished() const { return finished_.load(); }
  // Blocks until the script has ended or `timeout` passed; true when it has ended.
  bool WaitFinished(Millis timeout) const;
  // Empty while every step succeeded.
  std::string Failure() const;
  std::vector<std::string> Commands() const;
  std::string ControlBytes() const;
  std::vector<std::size_t> UrgentOffsets() const;
  std::vector<DataCapture> DataReceived() const;  // one per DataReceive step
  std::uint64_t DataBytesSent() const;            // over all data sends
  std::vector<TlsHandshake> TlsHandshakes() const;  // in the order they were taken

 private:
  struct Step {
    std::string name;
    std::function<bool()> run;  // false when the step failed (Fail was called)
  };

  ScriptedPeer& Add(std::string name, std::function<bool()> run);
  void Play();
  bool Fail(const std::string& why);

  enum class ReadOutcome { Data, Closed, Failed };

  bool AcceptControl();
  ReadOutcome ReadControl(Clock::time_point deadline, const std::string& waitingFor);
  bool ReadUntil(const std::function<bool()>& enough, const std::string& waitingFor);
  bool TakeLine(std::string& line);
  bool SendPieces(UniqueFd& fd, const std::string& text, const std::vector<std::size_t>& cuts,
                  DataCut cut, const char* what, bool raw = false);
  bool SendAll(UniqueFd& fd, const char* bytes, std::size_t count, DataCut cut, bool& cutShort,
               const char* what, bool raw = false);
  static void Record(DataCapture& capture, std::string_view bytes);
  // TLS (ScriptedPeerTls.cpp).
  void NeedCertificate();
  TlsServerSession* TlsOf(const UniqueFd& fd) const;
  bool RunStartTls(bool data);
  bool AwaitClientHello();
  TlsIo ReadControlTls(Clock::time_point deadline, std::string& error);
  bool SendAllTls(UniqueFd& fd, const char* bytes, std::size_t count, DataCut cut, bool& cutShort,
                  const char* what);
  bool RunDataReceiveTls();
  void CloseTls(std::unique_ptr<TlsServerSession>& session, UniqueFd& fd);
  bool TlsFailure(TlsIo outcome, const std::string& error, const std::string& doing);
  bool RunExpect(const std::string& prefix);
  bool RunExpectRaw(const std::string& bytes);
  bool RunAwaitClose();
  bool RunDataConnect(const std::string& sourceAddress);
  bool RunPassiveReply(bool extended, const std::string& namedAddress);
  bool RunDeadPortReply(DeadPort how);
  bool RunDataAccept();
  bool RunDataSendPattern(std::uint64_t size, DataCut cut);
  bool RunDataReceive();
  bool Sleep(Millis duration);

  Millis stepTimeout_{5000};
  Millis splitPause_{50};
  std::uint16_t port_ = 0;
  UniqueFd listener_;
  UniqueFd stopRead_, stopWrite_;  // the destructor writes here to wake the thread
  std::vector<Step> steps_;
  int holds_ = 0;                // Hold steps added
  std::atomic<int> released_{0}; // Release calls
  std::thread thread_;
  bool started_ = false;

  // Used by the script thread only.
  UniqueFd control_;
  UniqueFd data_;
  UniqueFd passive_;                // the passive-mode listener of the last EPSV or PASV
  std::vector<UniqueFd> fillers_;   // connections that keep a passive listener's queue full
  std::string controlPending_;  // received, not yet taken by a step
  std::unique_ptr<TlsServerSession> controlTls_, dataTls_;
  std::string lastPortHost_;
  std::uint16_t lastPortPort_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable finishedChanged_;
  std::atomic<bool> finished_{false};
  std::string failure_;
  std::vector<std::string> commands_;
  std::string controlBytes_;
  std::vector<std::size_t> urgentOffsets_;
  std::vector<DataCapture> dataCaptures_;
  std::uint64_t dataBytesSent_ = 0;
  std::vector<TlsHandshake> tlsHandshakes_;

  // TLS: the certificate's files, and the context the script thread's sessions share.
  std::unique_ptr<TempTree> tlsFiles_;
  TestCertificate certificate_;
  std::unique_ptr<TlsServerContext> tlsContext_;
  TestCertificate dataCertificate_;
  std::unique_ptr<TlsServerContext> dataTlsContext_;
};

}  // namespace talvo::test
