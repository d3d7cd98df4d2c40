// The console tool as scripts see it: a separate process, its standard output and error
// and its exit status, bounded in time.
#pragma once

#include <string>
#include <vector>

#include "tests/support/LoopbackSockets.h"

namespace talvo::test {

inline const std::string kCli = TALVO_BINARY_DIR "/tools/talvoftp-cli";

struct CliRun {
  bool finished = false;  // ended on its own within the time limit
  int exitStatus = -1;
  std::string out;
  std::string err;
};

// Starts the tool with `args` (and `env` added to the environment), writes `input` to its
// standard input, collects its output and waits for its end. Past `limit` the process is
// killed and `finished` stays false. With errOnTerminal its standard error is a terminal.
// The servers it remembers go to a folder of the test's, not to $HOME.
CliRun RunCli(const std::vector<std::string>& args, const std::string& input, Millis limit,
              const std::vector<std::string>& env = {}, bool errOnTerminal = false);

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace talvo::test
