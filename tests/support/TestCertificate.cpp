#include "tests/support/TestCertificate.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

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
  const auto file = [](const std::string& path, const char* mode) {
    return std::unique_ptr<FILE, int (*)(FILE*)>(std::fopen(path.c_str(), mode), &std::fclose);
  };
  auto in = file(certificate.certificateFile, "r");
  auto keyIn = file(certificate.keyFile, "r");
  std::unique_ptr<X509, void (*)(X509*)> cert(in ? PEM_read_X509(in.get(), nullptr, nullptr, nullptr) : nullptr,
                                              &X509_free);
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(
      keyIn ? PEM_read_PrivateKey(keyIn.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
  in.reset();
  auto out = file(certificate.certificateFile, "w");
  const bool done = cert && key && X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3 * kDay) != nullptr &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), -kDay) != nullptr &&
                    X509_sign(cert.get(), key.get(), EVP_sha256()) > 0 && out &&
                    PEM_write_X509(out.get(), cert.get()) == 1;
  out.reset();
  if (!done) {
    certificate.error = "cannot backdate " + certificate.certificateFile;
    return false;
  }
  certificate.fingerprint =
      CertificateFingerprint(certificate.certificateFile, certificate.certificateFile + ".log", certificate.error);
  return !certificate.fingerprint.empty();
}

}  // namespace talvo::test
