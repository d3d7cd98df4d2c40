// A self-signed certificate and its key, made with the openssl command in a throw-away tree,
// for the TLS servers the tests run (real FTP servers, the scripted peer, s_server).
//
//   TempTree files("certs");
//   TestCertificate certificate;
//   ASSERT_TRUE(MakeTestCertificate(files, "server", "localhost", certificate)) << certificate.error;
//   ... certificate.certificateFile, certificate.keyFile, certificate.fingerprint ...
//
// Every call makes a new key, so a second certificate for the same host (under another
// stem) has another fingerprint: what a server whose certificate changed presents.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/TempTree.h"

namespace talvo::test {

struct TestCertificate {
  std::string hostName;         // its common name and first subjectAltName
  std::string certificateFile;  // PEM; also a CA file that trusts it
  std::string keyFile;          // PEM, not encrypted
  // SHA-256 as `openssl x509 -noout -fingerprint -sha256` prints it: "AB:CD:...", 32 pairs.
  std::string fingerprint;
  std::string error;  // why the last MakeTestCertificate failed
};

// Makes STEM.pem and STEM.key in `tree`: an EC P-256 key and a certificate valid from now
// for two days, with subject CN=hostName and subjectAltName DNS:hostName plus one IP entry
// per address. False with `certificate.error` when the openssl command failed.
bool MakeTestCertificate(TempTree& tree, std::string_view stem, std::string_view hostName,
                         TestCertificate& certificate,
                         const std::vector<std::string>& addresses = {"127.0.0.1"});

// Moves the certificate's dates into the past (valid from three days ago until yesterday)
// and signs it again with its key: an expired certificate, with a new fingerprint. False
// with `certificate.error`.
bool MakeExpired(TestCertificate& certificate);

// The SHA-256 fingerprint of a PEM certificate file, as above; empty with `error`.
std::string CertificateFingerprint(const std::string& certificateFile, const std::string& logPath,
                                   std::string& error);

}  // namespace talvo::test
