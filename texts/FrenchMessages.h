// The French texts that depend on the engine's codes, for both front ends: the message of
// each error code (the window's box, the console tool's error line), the caption and prompt
// of each request for a missing value, the log's lines and the certificate question.
// Plain UTF-8 strings, no Qt, so that the console tool links them too and the tables are
// tested on their own.
#pragma once

#include <optional>
#include <string>

#include "ftp/FtpTypes.h"
#include "session/FileSession.h"
#include "sftp/SftpTypes.h"

namespace talvo::texts {

// What a local file's failure is about: the system's reason, and what a download that did
// not end whole left on the disk (TFileSession's LocalError, LeftOnDisk and LeftPath).
struct TLocalContext {
  int SystemError = 0;
  TLeftOnDisk Left = TLeftOnDisk::Untouched;
  std::string LeftPath;
};
TLocalContext LocalContextOf(const TFileSession& session);

// The message for an error code, or nothing for the codes that show no message. The
// local file errors name the file (addinfo) and the system's reason; an incomplete download
// says what is on the disk.
std::optional<std::string> ErrorMessage(int error, const std::string& addinfo, const TLocalContext& local = {});

// The system error code that an errno value is shown with: ENOENT 2; ENOTDIR and the
// errors of a badly formed name (ENAMETOOLONG, ELOOP, EINVAL) 3; EMFILE and ENFILE 4;
// EACCES and EPERM 5; ENOSPC and EDQUOT 101; nothing for any other errno.
std::optional<int> InOutCodeOf(int errnum);
// The French reason of a local file's failure (an errno, or one of LocalErrors.h): the
// text of its code ("Disque plein", "Accès au fichier refusé"), else "Erreur E/S" and the
// errno (even where that number is also one of the codes: EIO is 5, which must not read
// "Accès au fichier refusé"). Empty for 0.
std::string LocalErrorReason(int error);

// The word of a request ("Serveur FTP", ...); empty for an unknown request code.
std::string NeedInfoWord(int need);

// "Saisissez le " + the word with A-Z lowered + " :".
std::string NeedInfoPrompt(const std::string& word);

// The message of the local-file errors of the local pane, by system error code
// ("Fichier introuvable", "Erreur E/S 42", ...).
std::string InOutErrorText(int code);

// The log's line when the control connection is made: the address that answered, of all
// that the server's name has.
std::string ConnectedLine(const std::string& address, std::uint16_t port);

// The log's line when a download goes on from its earlier part of `bytes` bytes.
std::string ResumedLine(const std::string& bytes);

// The log's line when the session goes over to passive mode; `reason` is the engine's
// ("router" when this computer is behind one, otherwise the server refused active mode).
std::string PassiveModeLine(const std::string& reason);
// The log's line when a PASV reply named `named` and the data connection went to `server`.
std::string PassiveAddressLine(const std::string& named, const std::string& server);

// The log's line when the session is encrypted ("version cipher" from the engine), and when
// it is not (`what`: "AUTH", the whole session; "PROT", its data connections).
std::string TlsSessionLine(const std::string& versionAndCipher);
std::string TlsRefusedLine(const std::string& what);

// The question asked when a server's certificate does not verify: trust it (first time),
// or accept a certificate that changed since it was trusted. It names each problem, and,
// for a certificate that names another host, that host and the one typed.
std::string CertificateQuestion(const TFtpCertificateQuestion& question);
// Whether that question is a warning (a changed certificate, or one for another host).
bool CertificateWarning(const TFtpCertificateQuestion& question);

// The log's line when a trusted (pinned) certificate is taken though it has expired, and
// when the file of known servers at `path` could not be changed.
std::string CertificateExpiredLine();
std::string ServerNotRememberedLine(const std::string& path);

// The log's lines of the password kept in the desktop's keyring: taken from it, refused by
// the server, not taken by the keyring; and when the recent servers file at `path` could not
// be changed.
std::string PasswordFromKeyringLine();
std::string KeyringPasswordRefusedLine();
std::string PasswordNotRememberedLine();
std::string RecentServersNotChangedLine(const std::string& path);

// The line of a stopped transfer: `bytes` moved; for a download, what it left on the disk.
std::string StoppedTransferLine(bool download, long long bytes, const TLocalContext& local);

// The log's line before a download that writes its local file itself (`path`), and after
// an upload whose local file (`path`) changed while it was sent.
std::string InPlaceLine(const std::string& path);
std::string ChangedWhileSentLine(const std::string& path);

// What a server's refusal means, in French words, from its reply code ("550 ..." gives
// "fichier ou dossier introuvable, ou accès refusé"); empty for a reply without a code.
std::string RefusalReason(const std::string& reply);

// The SFTP component's own (SshMessages.cpp): the message of each of its error codes
// (ErrorMessage gives them too), the prompt for a key's passphrase, the question about an
// unknown server key, and the log's line of each of its information codes (empty for the
// others).
std::optional<std::string> SshErrorMessage(int error, const std::string& addinfo);
std::string PassphrasePrompt(const std::string& key);
std::string HostKeyQuestion(const TSftpHostKeyQuestion& question);
std::string SshInfoLine(int info, const std::string& addinfo);

// Adds a full stop unless the text already ends with one.
std::string WithFullStop(std::string text);

}  // namespace talvo::texts
