// talvoftp-cli: a console front end on the FTP engine and its message loop, for scripts,
// tests and benchmarks. It connects, runs the commands in order (each waiting for its
// completion event), quits, and prints one line per event. Texts that come from the server
// are printed escaped, so that none of them can forge a line of the output.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/CliCredentials.h"
#include "tools/CliOptions.h"
#include "tools/CliSession.h"
#include "tools/CliText.h"
#include "tools/ListingParseMode.h"

int main(int argc, char** argv) {
  const TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (line.kind) {
    case TCommandLine::Kind::Answer:
      // --help and --version: asked for, so printed on standard output, and a success.
      std::fputs(line.text.c_str(), stdout);
      return 0;
    case TCommandLine::Kind::UsageError:
      std::fprintf(stderr, "talvoftp-cli: %s\n%s", line.text.c_str(), UsageText().c_str());
      return 2;
    case TCommandLine::Kind::InputError:
      std::fprintf(stderr, "talvoftp-cli: %s\n", Escape(line.text).c_str());
      return 2;
    case TCommandLine::Kind::ParseListing:
      return ParseListing(line.text);
    case TCommandLine::Kind::Session: {
      TCliOptions options = line.options;
      std::string source, problem;
      if (!CompleteCredentials(options, source, problem)) {
        std::fprintf(stderr, "talvoftp-cli: %s\n", Escape(problem).c_str());
        return 1;
      }
      // Where the password came from, never the password.
      if (!source.empty() && !options.quiet) std::printf("password %s\n", source.c_str());
      return RunSession(options);
    }
  }
  return 2;
}
