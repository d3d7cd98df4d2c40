// The console tool's answer to a certificate that does not verify: trusted only when its
// fingerprint was given with --trust-fingerprint; otherwise refused with a line on the
// error output that says why and how to trust it.
#pragma once

#include <string>

#include "ftp/FtpTypes.h"

// Every reason the certificate is not verified, as the tool prints it.
std::string CertificateProblems(const TFtpCertificateQuestion& question);

// Whether to trust it (`trustFingerprint` normalised, empty when none was given); prints
// the refusal.
bool AnswerCertificate(const TFtpCertificateQuestion& question, const std::string& trustFingerprint);
