// Base64 as SSH files write it (OpenSSL's encoder, without line breaks).
#pragma once

#include <string>
#include <vector>

std::string Base64Encode(const std::string& bytes);
// Empty for text that is not base64.
std::string Base64Decode(const std::string& text);

// OpenSSH's host patterns: "*" any run of characters, "?" one, without regard to case.
bool SshPatternMatch(const char* pattern, const char* text);
// A list of such patterns, each of which may be negated with "!": true when one matches and
// no negated one does.
bool SshPatternsMatch(const std::vector<std::string>& patterns, const std::string& name);
