// TVelaFtp: the FTP client component. Its own socket (the base TVelaSocket) is the control
// connection. Every operation returns at once and ends with an event delivered through the
// done (1028) or quit (1026) notification that the component posts to its own window.
//
// This header is what a caller uses. Inside, the component is a few parts, each in its own
// file pair: the login (FtpLogin), listings and transfers (FtpTransfer) with their data
// connections (DataChannel), stored files (StoreSender) and listing text (ListingReader), the
// bounded waits (ReplyDeadlines) and the replies owed to a stop (AbortReplies). The
// component itself holds the control connection and its replies (FtpControl.cpp), the
// simple commands (FtpCommands.cpp), the stop (FtpAbort.cpp), the tick of the waits
// (FtpGuard.cpp), and its surface, notifications and one teardown (Ftp.cpp). Tests reach
// inside through TFtpProbe (FtpProbe.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/AbortReplies.h"
#include "ftp/ControlLineSplitter.h"
#include "ftp/ControlStates.h"
#include "ftp/FtpReply.h"
#include "ftp/FtpTypes.h"
#include "ftp/ReplyDeadlines.h"
#include "session/FileSession.h"
#include "session/RemotePlace.h"
#include "transport/velasock.h"

class TFtpLogin;
class TFtpTransfer;
class TDataChannel;
class TStoreSender;
class TFtpProbe;

class TVelaFtp : public TVelaSocket, public TFileSession {
 public:
  static constexpr platform::UINT WM_FTP_QUIT = 1026;
  static constexpr platform::UINT WM_FTP_DONE = 1028;
  static constexpr platform::UINT WM_FTP_STORE = 1029;  // the next pass of a running store
  // Longest control line kept; a longer one is refused, so that a server that never ends
  // a line cannot grow memory without bound.
  static constexpr std::size_t kMaxControlLine = 64 * 1024;

  // What the next done notification completes (fixed values).
  enum TCurrentOperation : std::uint8_t {
    opNone = 0,
    opLogin = 1,
    opChangeDirectory = 2,
    opCreateDirectory = 3,
    opDeleteDirectory = 4,
    opDeleteFile = 5,
    opReceiveFile = 6,
    opStoreFile = 7,
    opGetListing = 8,
    opRenameFile = 9,
  };

  TVelaFtp();
  ~TVelaFtp() override;

  // Published properties (FtpServer, FtpPort, TimeOutConnect, TimeOutArp live in the
  // socket base; UserName, UserPassword, LocalFile, RemoteFile, InitialDirectory and the
  // completion events in the session base).
  std::string UserAccount;
  std::string Ftp_URL;
  TTransferType TransferMode = BinaryTransfer;
  // Active as the component always did; owners that want the client to work from behind a
  // router choose automatic.
  TDataConnectionMode DataConnectionMode = dcmActive;
  // Plain as the component always was; owners that want the session encrypted whenever
  // the server can choose auto (or require).
  TTlsMode TlsMode = tlsmOff;
  // Where the servers that did TLS are remembered with their certificate's fingerprint
  // (see KnownServers.h); empty: nothing is remembered.
  std::string KnownServersFile;
  // Certificates to trust besides the system's store (a PEM file); empty: none.
  std::string TlsCaFile;
  // Asked when a server's certificate does not verify; without a handler it is refused.
  TFtpCertificateEvent OnFtpCertificate;
  TFtpInfoEvent OnFtpInfo;
  TFtpInfoNeededEvent OnFtpNeedInfo;
  // Set by an OnFtpNeedInfo handler whose user cancelled the request instead of answering:
  // the connection attempt then ends with ftpeCancelled, and the value is not sent.
  bool InfoRequestCancelled = false;
  TFtpErrorEvent OnFtpError;
  TFTPServerType ServerType = ftpstDefault;

  static constexpr const char* kVersion = "TFtp 1.4.2";
  std::string Version() const { return kVersion; }
  void SetVersion(const std::string&) {}  // read-only: writes are discarded
  bool GetWinsockStarted() const { return WinsockStarted; }
  void SetWinsockStarted(bool value);

  // Operations: each returns at once and ends with its completion event.
  void Connect() override;
  void Quit() override;
  void ChangeDirectory(const std::string& Directory) override;
  void CreateDirectory(const std::string& Directory) override;
  void DeleteDirectory(const std::string& Directory) override;
  void DeleteFile(const std::string& FileName) override;
  void RenameFile(const std::string& OldName, const std::string& NewName) override;
  void GetListing() override;
  void ReceiveFile() override;
  void StoreFile() override;
  void Abort() override;

  // Besides the session base's members: the lines of the last listing, the code of the
  // last error (ftpeNone while nothing failed), the last reply line handled (a multi-line
  // reply's last line, emptied when an operation begins: after a refusal, the server's own
  // words), the operation that runs, and whether a listing, receive or store is under way.
  std::vector<std::string> ListingLines;
  FtpError LastError = ftpeNone;
  std::string LastReply;
  TCurrentOperation Operation() const { return CurrentOperation; }
  bool TransferRunning() const;

  void DoResolved() override;

 private:
  friend class TFtpLogin;
  friend class TFtpTransfer;
  friend class TDataChannel;
  friend class TStoreSender;
  friend class TFtpProbe;

  // Why a connection ends. The teardown is the same for all; they differ in what is said.
  enum class TConnectionEnd : std::uint8_t {
    Fatal,         // OnFtpError, then the quit notification
    NetworkError,  // the same, then ShuttingDown and a second quit notification
    ServerClosed,  // ftpiDisconnected, the running operation's end (failed), the quit
  };

  static constexpr int kChunkSize = 2048;

  // Notifications and events.
  void Info(FtpInfo info, const std::string& addinfo);
  void PostDone();
  void PostQuit();
  void HandleOwnMessage(platform::TMessage& Message);
  void FireCompletion(TCurrentOperation op);
  void Raise(const TNotifyEvent& event) { if (event) event(this); }

  // Acceptance of a command: false (after the refusal's info) when it must not run.
  bool AcceptCommand();
  void BeginOperation(TCurrentOperation op);
  bool AcceptSimpleCommand(TCurrentOperation op);
  bool RefuseUnsendable(const std::string& argument);

  // Errors and the end of the connection. The error event's text is "Error", or what the
  // error is about (FatalErrorWithText); a local file's failure names the file and keeps
  // the system's `error` in LocalError.
  void ReportError(FtpError Code, const std::string& text = "Error");
  void ReportLocalError(FtpError Code, int error);
  void FatalError(FtpError Code) { EndConnection(TConnectionEnd::Fatal, Code); }
  void FatalErrorWithText(FtpError Code, const std::string& text) { EndConnection(TConnectionEnd::Fatal, Code, text); }
  bool CheckSocketError();
  void EndConnection(TConnectionEnd reason, FtpError code, const std::string& text = "Error");

  // The control connection.
  void ControlConnected();
  void ControlRead();
  void ControlClosed();
  void SendLine(const std::string& Line);
  void SendCommand(const std::string& Line, TControlState NextState);
  // Fires OnFtpNeedInfo when `value` is empty; false when the owner cancelled the request.
  bool AskFor(TFtpInfoNeeded need, std::string& value);
  void HandleReply(const std::string& Line);
  void HandleStateReply(const TFtpReply& Reply);

  // The simple commands and QUIT.
  void EndSimpleCommand(bool accepted);
  void HandleRenameReply(const TFtpReply& Reply);
  void HandleQuitReply(const TFtpReply& Reply);
  void SendQuit();

  // The stop, and the bounded waits.
  bool SendAbortBytes(const char* bytes, int count, bool urgent);
  bool TakeAbortReply(const TFtpReply& Reply);
  void StartAbortResync();
  void ForgetAbort();
  void ClearDeadlines();
  void GuardTick();

  // Internal state.
  TCurrentOperation CurrentOperation = opNone;
  TControlState ControlState = csAwaitGreeting;
  bool InReplyHandler = false;
  bool AbortRequested = false;
  bool ShuttingDown = false;  // a network error tore the connection down
  bool Ended = false;         // the connection was torn down (until the next Connect)
  std::uint64_t Serial = 0;   // bumped at every teardown, so pumped loops know to stop
  std::string RenameTarget;

  // What the server offered this session: MLSD and UTF-8 in its FEAT reply, MLSD refused
  // later, and PROT P accepted (every data connection is TLS).
  struct TSessionFeatures {
    bool MlsdOffered = false;
    bool Utf8Offered = false;
    bool MlsdRefused = false;
    bool ProtectData = false;
    bool MachineListing() const { return MlsdOffered && !MlsdRefused; }
  };
  TSessionFeatures Features;

  ControlLineSplitter ControlLines{kMaxControlLine};
  TReplyFraming ReplyFraming;
  // The control connection has its own buffer: it is read in the middle of a store, while
  // the transfer's buffer holds a block that is not yet sent.
  char ControlBuffer[kChunkSize] = {};

  TGuardTimes GuardTimes;
  TReplyDeadlines Deadlines;
  TAbortReplies Replies;
  std::unique_ptr<TFtpLogin> Login;
  std::unique_ptr<TFtpTransfer> Transfer;

  // Where the server's current folder is; whether the last listing's facts hold (it is of
  // this folder, and nothing changed there since).
  TRemotePlace Place;
  bool ListingFactsHold = false;
};
