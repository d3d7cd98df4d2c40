#include "tests/support/TestCertificate.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>

#include "tests/support/ServerProcess.h"

namespace talvo::test {

namespace {

constexpr const char* kOpenSsl = "/usr/bin/openssl";
constexpr Millis kCommandTimeout{20000};

}  // namespace

std::string CertificateFingerprint(const std::string& certificateFile, const std::string& logPath,
                                   std::string& error) {
  std::string output;
  const int code = RunCommand({kOpenSsl, "x509", "-noout", "-fingerprint", "-sha256", "-in", certificateFile},
                              logPath, kCommandTimeout, &output, error);
  // "sha256 Fingerprint=AB:CD:...\n"
  const auto equals = output.find('=');
  const auto end = output.find('\n');
  if (code != 0 || equals == std::string::npos || end == std::string::npos || end < equals) {
    if (code >= 0) error = "openssl x509 -fingerprint: exit " + std::to_string(code) + ", \"" + output + "\"";
    return {};
  }
  return output.substr(equals + 1, end - equals - 1);
}

bool MakeTestCertificate(TempTree& tree, std::string_view stem, std::string_view hostName,
                         TestCertificate& certificate, const std::vector<std::string>& addresses) {
  const std::string name(stem);
  TestCertificate made;
  made.hostName = hostName;
  made.certificateFile = tree.PathOf(name + ".pem");
  made.keyFile = tree.PathOf(name + ".key");
  std::string altNames = "subjectAltName=DNS:" + made.hostName;
  for (const auto& address : addresses) altNames += ",IP:" + address;
  const std::string log = tree.PathOf(name + ".log");
  const int code = RunCommand({kOpenSsl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                               "-nodes", "-keyout", made.keyFile, "-out", made.certificateFile, "-days", "2",
                               "-subj", "/CN=" + made.hostName, "-addext", altNames},
                              log, kCommandTimeout, nullptr, made.error);
  if (code != 0) {
    if (code > 0) made.error = "openssl req: exit " + std::to_string(code);
    certificate.error = made.error + "\n" + tree.ReadFile(name + ".log");
    return false;
  }
  made.fingerprint = CertificateFingerprint(made.certificateFile, log, made.error);
  if (made.fingerprint.empty()) {
    certificate.error = made.error;
    return false;
  }
  certificate = std::move(made);
  return true;
}

bool MakeExpired(TestCertificate& certificate) {
  constexpr long kDay = 24 * 60 * 60;
  FILE* in = std::fopen(certificate.certificateFile.c_str(), "r");
  FILE* keyIn = std::fopen(certificate.keyFile.c_str(), "r");
  X509* cert = in ? PEM_read_X509(in, nullptr, nullptr, nullptr) : nullptr;
  EVP_PKEY* key = keyIn ? PEM_read_PrivateKey(keyIn, nullptr, nullptr, nullptr) : nullptr;
  for (FILE* f : {in, keyIn}) {
    if (f != nullptr) std::fclose(f);
  }
  FILE* out = std::fopen(certificate.certificateFile.c_str(), "w");
  const bool done = cert && key && out && X509_gmtime_adj(X509_getm_notBefore(cert), -3 * kDay) &&
                    X509_gmtime_adj(X509_getm_notAfter(cert), -kDay) && X509_sign(cert, key, EVP_sha256()) > 0 &&
                    PEM_write_X509(out, cert) == 1;
  if (out) std::fclose(out);
  X509_free(cert);
  EVP_PKEY_free(key);
  if (!done) {
    certificate.error = "cannot backdate " + certificate.certificateFile;
    return false;
  }
  const std::string& file = certificate.certificateFile;
  certificate.fingerprint = CertificateFingerprint(file, file + ".log", certificate.error);
  return !certificate.fingerprint.empty();
}

}  // namespace talvo::test
