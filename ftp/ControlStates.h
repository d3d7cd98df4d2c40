// The states of the control connection, each named for the reply it awaits. The values are
// the component's fixed state numbers (ControlState shows them); 100 is idle.
#pragma once

#include <array>
#include <cstddef>

#include "ftp/TransferState.h"

enum TControlState : int {
  csAwaitGreeting = 0,
  csAwaitUser = 1,
  csAwaitPass = 2,
  csAwaitAcct = 3,
  csAwaitAuthTls = 4,
  csAwaitSyst = 5,
  csAwaitInitialCwd = 6,
  csAwaitPwd = 7,
  csAwaitListType = 8,
  csAwaitListPort = 10,  // PORT, EPSV or PASV before LIST
  csAwaitList = 12,      // LIST's replies, until the next operation
  csAwaitRetrType = 20,
  csAwaitRetrPort = 21,
  csAwaitRetr = 22,
  csAwaitRetrSize = 23,  // SIZE, between TYPE I and PORT, EPSV or PASV
  csAwaitRetrMdtm = 24,  // MDTM, after SIZE, when a part of an earlier try may be continued
  csAwaitRetrRest = 25,  // REST, just before RETR, to continue that part
  csAwaitStorType = 30,
  csAwaitStorPort = 31,
  csAwaitStor = 32,      // STOR's replies, until the next operation
  csAwaitRnfr = 40,
  csAwaitRnto = 41,
  csAwaitSimple = 50,    // CWD, MKD, RMD or DELE
  csAwaitQuit = 60,
  csAwaitPbsz = 70,
  csAwaitProt = 71,
  csAwaitFeat = 80,      // after SYST: what the server offers (MLSD, UTF-8)
  csAwaitOptsUtf8 = 81,  // OPTS UTF8 ON, when FEAT listed UTF8
  csIdle = 100,
};

// Each state's name, for traces, the fuzzer and the tests. The switch has no default: the
// compiler refuses a state added above without its name here.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
constexpr const char* ControlStateName(TControlState state) {
  switch (state) {
    case csAwaitGreeting: return "csAwaitGreeting";
    case csAwaitUser: return "csAwaitUser";
    case csAwaitPass: return "csAwaitPass";
    case csAwaitAcct: return "csAwaitAcct";
    case csAwaitAuthTls: return "csAwaitAuthTls";
    case csAwaitSyst: return "csAwaitSyst";
    case csAwaitInitialCwd: return "csAwaitInitialCwd";
    case csAwaitPwd: return "csAwaitPwd";
    case csAwaitListType: return "csAwaitListType";
    case csAwaitListPort: return "csAwaitListPort";
    case csAwaitList: return "csAwaitList";
    case csAwaitRetrType: return "csAwaitRetrType";
    case csAwaitRetrPort: return "csAwaitRetrPort";
    case csAwaitRetr: return "csAwaitRetr";
    case csAwaitRetrSize: return "csAwaitRetrSize";
    case csAwaitRetrMdtm: return "csAwaitRetrMdtm";
    case csAwaitRetrRest: return "csAwaitRetrRest";
    case csAwaitStorType: return "csAwaitStorType";
    case csAwaitStorPort: return "csAwaitStorPort";
    case csAwaitStor: return "csAwaitStor";
    case csAwaitRnfr: return "csAwaitRnfr";
    case csAwaitRnto: return "csAwaitRnto";
    case csAwaitSimple: return "csAwaitSimple";
    case csAwaitQuit: return "csAwaitQuit";
    case csAwaitPbsz: return "csAwaitPbsz";
    case csAwaitProt: return "csAwaitProt";
    case csAwaitFeat: return "csAwaitFeat";
    case csAwaitOptsUtf8: return "csAwaitOptsUtf8";
    case csIdle: return "csIdle";
  }
  return nullptr;  // a number that is no state
}
#pragma GCC diagnostic pop

namespace control_states_detail {
constexpr int kLargestState = 255;
constexpr std::size_t CountStates() {
  std::size_t count = 0;
  for (int value = 0; value <= kLargestState; ++value) {
    if (ControlStateName(static_cast<TControlState>(value)) != nullptr) ++count;
  }
  return count;
}
}  // namespace control_states_detail

// Every state, by value: read from the names above, so that it can miss none.
inline constexpr auto kControlStates = [] {
  std::array<TControlState, control_states_detail::CountStates()> states{};
  std::size_t next = 0;
  for (int value = 0; value <= control_states_detail::kLargestState; ++value) {
    if (ControlStateName(static_cast<TControlState>(value)) != nullptr) states[next++] = static_cast<TControlState>(value);
  }
  return states;
}();
static_assert(kControlStates.front() == csAwaitGreeting && kControlStates.back() == csIdle);

// The states that a listing, a receive or a store goes through after its TYPE
// command, and the differences between them.
struct TTransferStates {
  TControlState Type;     // awaiting TYPE's reply
  // Awaiting SIZE's reply, asked after TYPE I so that the end of a binary download can be
  // checked against it; csIdle for the kinds that do not ask.
  TControlState Size;
  TControlState Setup;    // awaiting the reply to PORT, EPSV or PASV
  TControlState Command;  // awaiting the replies to LIST, RETR or STOR
  const char* Verb;       // the transfer command, before the remote name
  // A refusal of the transfer command ends the connection (a listing) rather than the
  // operation alone.
  bool RefusalIsFatal;
  // The state once the final reply is in: a receive goes back to idle, the others stay.
  TControlState AfterFinalReply;
};

constexpr TTransferStates TransferStatesOf(TransferKind kind) {
  switch (kind) {
    case TransferKind::Listing: return {csAwaitListType, csIdle, csAwaitListPort, csAwaitList, "LIST", true, csAwaitList};
    case TransferKind::Receive: return {csAwaitRetrType, csAwaitRetrSize, csAwaitRetrPort, csAwaitRetr, "RETR ", false, csIdle};
    case TransferKind::Store: return {csAwaitStorType, csIdle, csAwaitStorPort, csAwaitStor, "STOR ", false, csAwaitStor};
  }
  return {csIdle, csIdle, csIdle, csIdle, "", false, csIdle};
}

// The transfer command of a kind in this session: a listing is MLSD where the server
// offers it (and has not refused it), LIST otherwise.
constexpr const char* TransferVerb(TransferKind kind, bool machineListing) {
  return kind == TransferKind::Listing && machineListing ? "MLSD" : TransferStatesOf(kind).Verb;
}
