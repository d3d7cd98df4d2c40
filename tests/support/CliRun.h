// The console tool as scripts see it: a separate process, its standard output and error
// and its exit status, bounded in time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/support/LoopbackSockets.h"

namespace talvo::test {

inline const std::string kCli = TALVO_BINARY_DIR "/tools/talvoftp-cli";

struct CliRun {
  bool finished = false;  // ended on its own within the time limit
  int exitStatus = -1;
  int signal = 0;         // the signal that ended it, if one did
  std::string out;
  std::string err;
  std::string terminal;   // what its standard input's terminal showed (TerminalInput)
  bool echoAfter = false; // that terminal echoes again after the end
};

// Standard input on a pseudo-terminal: `input` is typed once the error output shows
// `prompt`, or, with `interrupt`, the tool gets SIGINT (Ctrl-C) then.
struct TerminalInput {
  std::string prompt;
  bool interrupt = false;
};

// Starts the tool with `args` (and `env` added to the environment), writes `input` to its
// standard input, collects its output and waits for its end. Past `limit` the process is
// killed and `finished` stays false. With errOnTerminal its standard error is a terminal.
// The servers it remembers go to a folder of the test's, not to $HOME; neither the user's
// ~/.netrc nor the user's keyring is read, unless a test gives its own.
CliRun RunCli(const std::vector<std::string>& args, const std::string& input, Millis limit,
              const std::vector<std::string>& env = {}, bool errOnTerminal = false,
              const std::optional<TerminalInput>& terminal = std::nullopt);

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace talvo::test
