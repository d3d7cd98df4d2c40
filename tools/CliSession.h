// The console tool's session: connects, runs the commands in order (each waiting for its
// completion event), quits, and prints one line per event; returns the exit status (0 when
// every command succeeded; 128 plus the signal's number when Ctrl-C or SIGTERM ended it).
#pragma once

#include "tools/CliOptions.h"

int RunSession(const TCliOptions& options);
