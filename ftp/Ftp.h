// TVelaFtp: the FTP client component. Its own socket (the base TVelaSocket) is the control
// connection; it owns a listening socket and a data socket for the data connections (the
// server connects to the listening socket in active mode, the data socket connects to the
// server in passive mode), and the lists that every listing refills. Every operation returns at once
// and ends with an event delivered through the done (1028) or quit (1026) notification that
// the component posts to its own window.
//
// The component is split over a few files by concern: surface and notifications (Ftp.cpp),
// control connection and replies (FtpControl.cpp), simple commands (FtpCommands.cpp), data
// side (FtpData.cpp, FtpStore.cpp), making data connections in either mode
// (FtpDataConnection.cpp), whole downloads (FtpDownload.cpp), the encrypted session
// (FtpTls.cpp), abort (FtpAbort.cpp), bounded waits (FtpGuard.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ControlLineSplitter.h"
#include "ftp/ControlStates.h"
#include "ftp/FtpTypes.h"
#include "ftp/ListingParser.h"
#include "session/LocalFile.h"
#include "ftp/TransferState.h"
#include "session/FileSession.h"
#include "session/KnownServersWriter.h"
#include "session/RemotePlace.h"
#include "transport/velasock.h"

class TVelaFtp : public TVelaSocket, public TFileSession {
 public:
  static constexpr platform::UINT WM_FTP_QUIT = 1026;
  static constexpr platform::UINT WM_FTP_DONE = 1028;
  static constexpr platform::UINT WM_FTP_STORE = 1029;  // the next pass of a running store
  static constexpr int kChunkSize = 2048;
  // Blocks a store sends in one pass of the loop when the socket takes them whole: the
  // loop still runs every 16 KiB, and the cost of a pass is shared by a few blocks.
  static constexpr int kStoreBlocksPerPass = 8;
  // Over TLS the session holds a record (16 KiB) anyway: the local file is then read and
  // written a record at a time rather than a chunk at a time.
  static constexpr std::size_t kTlsFileBuffer = 16384;

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

  // Public members besides the session base's (Success, Connected, the byte counts, the
  // listing's names and facts): the lines of the last listing, and the data sockets.
  std::vector<std::string> ListingLines;
  std::unique_ptr<TVelaSocket> ListenSocket;
  std::unique_ptr<TVelaSocket> DataSocket;

  // Internal state, readable for tests and tracing.
  std::uint32_t BeginTick = 0;
  bool MultiLineReply = false;
  std::string MultiLineCode;
  TLocalFile LocalFileHandle;  // the local file of the running receive or store
  std::string RenameTarget;
  bool InReplyHandler = false;
  bool AbortRequested = false;
  TCurrentOperation CurrentOperation = opNone;
  TransferState Transfer;  // the running listing, receive or store
  char TransferBuffer[kChunkSize + 1] = {};
  TControlState ControlState = csAwaitGreeting;
  bool ShuttingDown = false;
  std::string ListingRemainder;
  FtpError LastError = ftpeNone;
  // The last reply line handled (a multi-line reply's last line), emptied when an operation
  // begins: after a refusal, the server's own words.
  std::string LastReply;

  // Longest control line and listing line kept; longer ones are refused or dropped so that
  // a server that never ends a line cannot grow memory without bound.
  static constexpr std::size_t kMaxControlLine = 64 * 1024;
  static constexpr std::size_t kMaxListingLine = 10000;

  // Bounded waits, in seconds (see FtpGuard.cpp). Tests may shorten them.
  struct TGuardTimes {
    int Greeting = 20;        // after the connect, for the greeting
    int Reply = 60;           // after a command, for its reply
    int QuitReply = 10;       // after QUIT, for any reply (or the close)
    int QuitClose = 3;        // after the 2xx to QUIT, for the server to close
    int DataConnect = 60;     // after LIST/RETR/STOR, for the server to open the data connection
    int FinalReply = 30;      // after the data side ended, for the final reply
    int Reply426 = 5;         // after a 426 outside an abort, for anything more
    int AbortReplies = 15;    // after ABOR (or the NOOP that follows it), for its reply
    int AbortResync = 2;      // a stopped transfer has its own replies: for ABOR's, before NOOP
    int Stall = 300;          // a data connection that moves nothing
  };
  TGuardTimes GuardTimes;

  // Control side.
  void DoResolved() override;
  void SendLine(const std::string& Line);
  void SendCommand(const std::string& Line, TControlState NextState);
  void HandleReply(const std::string& Line);
  void ReportError(FtpError Code);
  // FatalError whose event carries `text` (what the error is about) instead of "Error".
  void FatalErrorWithText(FtpError Code, const std::string& text);
  // A local file failed with the system's `error`: the event's text is LocalFile.
  void ReportLocalError(FtpError Code, int error);
  void FatalError(FtpError Code);
  bool CheckSocketError();
  void StopAfterError();

  // Data side. The PORT (or, over IPv6, EPRT) command for a new listening socket.
  std::string PrepareDataPort();
  // This session makes its data connections in passive mode (chosen at the connect, or
  // switched to by the automatic mode).
  bool PassiveSession = false;

  // What the server's FEAT reply offered this session, and whether it then refused MLSD.
  bool MlsdOffered = false;
  bool Utf8Offered = false;
  bool MlsdRefused = false;
  // Listings of this session use MLSD.
  bool MachineListing() const { return MlsdOffered && !MlsdRefused; }

 private:
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

  // Control connection handlers.
  void ControlConnected(TObject* Sender);
  void ControlRead(TObject* Sender);
  void ControlClosed(TObject* Sender);
  void ControlTimeOut(TObject* Sender);
  void EndConnectionFromServer();
  void HandleStateReply(const std::string& Line);
  void HandleLoginReply(const std::string& Line);
  void SendLoginCommand(const std::string& command, const std::string& value, TControlState nextState);
  void SendUser();
  void AfterLogin();
  void RefuseLogin();
  void EndLogin();
  void NoteFeature(const std::string& Line);
  void EnterInitialDirectory();
  void HandlePwdReply(const std::string& Line);
  void HandleTransferReply(TransferKind kind, const std::string& Line);
  void TakePreliminaryReply(TransferKind kind, const std::string& Line);
  void HandleSimpleReply(const std::string& Line);
  void EndSimpleCommand(bool accepted);
  void HandleRenameReply(const std::string& Line);
  void HandleQuitReply(const std::string& Line);
  void SendQuit();
  void SendTransferType(TransferKind kind);
  bool PassLocalChecks();
  // Fires OnFtpNeedInfo when `value` is empty; false when the owner cancelled the request.
  bool AskFor(TFtpInfoNeeded need, std::string& value);
  void CancelLogin();
  void TakeTransferFinalReply(bool accepted);
  void EndTransferCommandRefused();

  // The encrypted session.
  void HandleTlsReply(const std::string& Line);
  TTlsClientOptions TlsOptions() const;
  void StartControlTls();
  void ControlTlsDone();
  std::vector<std::string> KnownServerNames() const;
  bool AcceptCertificate();
  TKnownServersWriter ServerMemory;
  void DataWithoutProtection();
  void StartDataTls();
  void DataTlsDone();
  bool AwaitReplyAfterDataTlsFailure();
  void MaybeBeginStore();

  // Data connections, both ways.
  void ChooseSessionDataMode();
  void OpenDataConnection(TransferKind kind);
  void SendPassiveCommand(TransferKind kind);
  void HandleDataSetupReply(TransferKind kind, const std::string& Line);
  void SwitchToPassive(const char* reason);
  bool RetryPassively(TransferKind kind, const std::string& Line);
  bool FallBackToList(TransferKind kind, const std::string& Line);
  void ConnectPassive(TransferKind kind, std::uint16_t port);
  void PassiveConnected(TransferKind kind);
  void PassiveConnectFailed();

  // Data side.
  void StartTransfer(TransferKind kind);
  void BeginDataCounters();
  void BeginStore();
  void PendingAccept(TObject* Sender);
  bool TakeDataConnection();
  void AcceptData(TObject* Sender);
  void StoreData(TObject* Sender);
  void ContinueStore();
  bool StoreBlock();
  void PostStorePass();
  void StoreContinuation(platform::WPARAM run);
  void NudgeStore();
  void EndStore();
  void CountStoreTaken();
  void SettleStore();
  void ListingRead(TObject* Sender);
  void FileRead(TObject* Sender);
  bool DataClosedInError(TObject* Sender);
  void ListingClosed(TObject* Sender);
  void TransferClosed(TObject* Sender);
  void AddListingLine(std::string line);
  void DataSideFinished();
  void TryFinishTransfer();
  void CloseDataSockets();
  void DropTransfer();
  void CloseLocalFile();
  void ClaimLocalFile();
  void EndStoreAfterReadFailure();

  // Whole downloads.
  void AskSizeOrOpenData(TransferKind kind);
  void TakeSizeReply(TransferKind kind, const std::string& Line);
  void TakeAnnouncedSize(const std::string& Line);
  void TakeModificationTimeReply(const std::string& Line);
  void ChooseResume(std::int64_t remoteModified);
  bool AskRest();
  void TakeRestReply(const std::string& Line);
  void SettleDownload();
  void ForgetLocalFile();

  // Abort.
  void AbortCloseDataSide();
  void EndTransferStoppedBeforeStart();
  bool SendAbortBytes(const char* bytes, int count, bool urgent);
  bool TakeAbortReply(const std::string& Line);
  void StartAbortResync();
  void ForgetAbort();

  // Bounded waits.
  void StartGuard();
  void StopGuard();
  void GuardTick();
  void ClearDeadlines();
  void ArmReply426Wait();
  void ArmReplyWait();
  void ArmGreetingWait();
  void ArmQuitReplyWait();
  void ArmQuitWait();
  void ArmDataConnectWait();
  void ArmAbortWait();
  void ArmAbortResyncWait();
  void ArmFinalReplyWait();
  void EndAfterSilentReply426();

  ControlLineSplitter ControlLines{kMaxControlLine};
  // The control connection has its own buffer: it is read in the middle of a store, while
  // TransferBuffer holds a block that is not yet sent.
  char ControlBuffer[kChunkSize] = {};
  platform::HWND GuardWindow = 0;
  bool GuardRunning = false;

  // Replies owed: every command sent owes one final reply (class 2 to 5); the count lets
  // the component recognise the reply that answers ABOR, whatever came before it.
  int RepliesOwed = 0;
  int AbortReplyPosition = 0;  // > 0: ABOR's reply is the n-th final reply from now
  // NOOP was sent because ABOR's reply did not come: every reply up to NOOP's is dropped.
  bool AbortResyncing = false;

  // The running store: what is left of the file and the block on its way. Run numbers the
  // stores, so that a pass posted for an earlier one is never taken for a pass of this one.
  struct TStoreProgress {
    std::int64_t Remaining = 0;
    std::int64_t Handed = 0;  // bytes the data socket took
    int BlockSize = 0;
    int BlockSent = 0;
    bool WaitingForWrite = false;
    bool ContinuationPosted = false;
    bool Started = false;  // the data connection is taken and the first pass was posted
    bool ServerReady = false;  // active: the server connected; passive: it answered STOR
    std::uint64_t Run = 0;
  };
  TStoreProgress Store;

  // The command that prepares the next data connection, whose reply is awaited.
  enum class TDataSetup : std::uint8_t { Port, Epsv, Pasv };
  TDataSetup DataSetup = TDataSetup::Port;
  bool EpsvRefused = false;       // this server refused EPSV: PASV from now on
  bool ControlTlsPending = false; // AUTH TLS was accepted and the handshake is under way
  bool ProtectData = false;       // PROT P was accepted: every data connection is TLS
  bool DataTlsPending = false;    // the data connection's TLS handshake is under way
  bool DataTlsFailed = false;     // it failed before the command was answered
  bool PassiveConnecting = false; // the data socket's connect to the server is under way

  // The part of an earlier try that the running download may continue (REST), from
  // after SIZE until REST is answered; 0: none.
  std::int64_t ResumeCandidate = 0;
  // A download's time is asked (MDTM) from this size on, when no listing gave it: a later
  // try may then continue its part. Smaller files are fetched whole again.
  static constexpr std::int64_t kTimeWorthAsking = 1 << 20;
  // Where the server's current folder is; whether the last listing's facts hold (it is of
  // this folder, and nothing changed there since); what is known of the running download's
  // file.
  TRemotePlace Place;
  bool ListingFactsHold = false;
  ListingFacts ReceiveFacts;
  bool DataCloseNotify = false;  // the download's TLS data connection ended with close_notify
  bool AcceptWaiting = false;    // a connection arrived before the handlers were installed
  bool SkippingListingLine = false;
  std::uint64_t Serial = 0;      // bumped at every teardown, so pumped loops know to stop
  std::uint32_t DeadlineReply = 0, DeadlineQuit = 0, DeadlineDataConnect = 0, DeadlineFinalReply = 0,
                Deadline426 = 0, DeadlineAbort = 0, DeadlineAbortResync = 0;
  std::int64_t StallBytes = -1;
  int StallSeconds = 0;
};
