#include "tools/CertificateAnswer.h"

#include <cstdio>

#include "tools/CliText.h"

std::string CertificateProblems(const TFtpCertificateQuestion& question) {
  std::string problems;
  const auto add = [&problems](const std::string& problem) {
    problems += (problems.empty() ? "" : "; ") + problem;
  };
  if (!question.CertificateNames.empty()) add("it names " + question.CertificateNames + ", not " + question.Host);
  if (!question.Problem.empty()) add(question.Problem);
  if (question.Expired) add("expired");
  return problems;
}

bool AnswerCertificate(const TFtpCertificateQuestion& question, const std::string& trustFingerprint) {
  if (!trustFingerprint.empty() && trustFingerprint == question.Fingerprint) return true;
  const std::string where = question.Host + ":" + std::to_string(question.Port);
  const std::string why = question.PinnedFingerprint.empty()
                              ? "is not verified (" + CertificateProblems(question) + ")"
                              : "changed since it was trusted (it was " + question.PinnedFingerprint + ")";
  std::fprintf(stderr, "talvoftp-cli: the certificate of %s %s; its SHA-256 fingerprint is %s; to trust it: "
               "--trust-fingerprint %s\n", Escape(where).c_str(), Escape(why).c_str(), question.Fingerprint.c_str(),
               question.Fingerprint.c_str());
  return false;
}
