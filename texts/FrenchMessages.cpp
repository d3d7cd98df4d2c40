#include "texts/FrenchMessages.h"

#include <cerrno>

#include "ftp/ListingReader.h"
#include "session/LocalErrors.h"

namespace talvo::texts {

namespace {

// " : reason" before the full stop, when there is a reason.
std::string WithReason(const std::string& text, int systemError) {
  const std::string reason = LocalErrorReason(systemError);
  return text + (reason.empty() ? "" : " : " + reason) + ".";
}

std::string WhatIsOnDisk(const TLocalContext& local) {
  switch (local.Left) {
    case TLeftOnDisk::PartKept:
      return "Le fichier local n'a pas été remplacé ; la partie reçue est gardée à côté, dans « " +
             local.LeftPath.substr(local.LeftPath.rfind('/') + 1) + " ».";
    case TLeftOnDisk::TargetPartial:
      return "Le fichier local a été écrit directement : il ne contient plus que la partie reçue.";
    case TLeftOnDisk::Untouched:
      break;
  }
  return "Le fichier local n'a pas été remplacé ; rien de ce qui a été reçu n'est gardé.";
}

}  // namespace

TLocalContext LocalContextOf(const TFileSession& session) {
  return {session.LocalError, session.LeftOnDisk, session.LeftPath};
}

std::optional<int> InOutCodeOf(int errnum) {
  switch (errnum) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM: return 5;
    case ENOSPC:
    case EDQUOT: return 101;
    default: return std::nullopt;
  }
}

std::string LocalErrorReason(int error) {
  if (error == 0) return {};
  if (error == kNotAPlainFile) return "Ce n'est pas un fichier ordinaire";
  if (error == kFileShrank) return "Le fichier a raccourci pendant l'envoi";
  if (const std::optional<int> code = InOutCodeOf(error)) return InOutErrorText(*code);
  return "Erreur E/S " + std::to_string(error);
}

std::optional<std::string> ErrorMessage(int error, const std::string& addinfo, const TLocalContext& local) {
  switch (error) {
    case ftpeWinsockNotInitialized:
      return "L'interface winsock ne peut pas être initialisée. Veuillez vérifier que winsock est bien "
             "installé sur votre système.";
    case ftpeNetworkDown:
    case ftpeNetworkUnreachable:
    case ftpeAddressNotAvailable:
    case ftpeHostUnreachable:
      return "Le réseau est inaccessible. Veuillez vérifier que vous êtes bien connecté.";
    case ftpeInvalidAddress:
    case ftpeAddressResolution:
      return "Impossible de trouver votre serveur FTP. Veuillez vérifier que vous êtes bien connecté à "
             "votre fournisseur d'accès et que les informations saisies sont correctes.";
    case ftpeInternalError:
    case ftpeGeneralWinsockError:
    case ftpeUnknownError:
      return "Erreur inattendue.";
    case ftpeConnectionAborted:
    case ftpeConnectionReset:
    case ftpeConnectionLost:
      return "La connexion a été rompue de façon inattendue par le serveur.";
    case ftpeTimeout:
      return "Le délai de réponse du serveur a été dépassé.";
    case ftpeOutOfSockets:
      return "Winsock ne trouve pas de socket disponible. Veuillez fermer au moins une des applications "
             "utilisant winsock avant de réessayer.";
    case ftpeConnectionRefused:
      return "Le serveur refuse la connection. Veuillez vérifier que vous avez correctement saisi le nom "
             "du serveur FTP.";
    case ftpeUnexpectedReply:
      return "Une réponse inattendue a été reçue du serveur. Veuillez vérifier que le port saisi après le nom "
             "du serveur (serveur:port) est bien celui d'un serveur FTP.";
    case ftpeCancelled:
      return "Transaction annulée.";
    case ftpeNoServer:
      return "Aucun serveur spécifié.";
    case ftpeLocalFileOpen:
    case ftpeNoRemoteFile:
      return WithReason("Erreur en ouvrant " + addinfo, local.SystemError);
    case ftpeLocalFileWrite:
      return WithReason("Erreur d'écriture vers " + addinfo, local.SystemError);
    case ftpeLocalFileRead:
      return WithReason("Erreur en lisant " + addinfo, local.SystemError);
    case ftpeNoGreeting:
      return "Le serveur FTP ne répond pas.";
    case ftpeLoginRefused:
      return "Accès refusé. Veuillez vérifier votre nom d'utilisateur et votre mot de passe.";
    case ftpeDataConnection:
      return "Erreur pendant le transfert des données.";
    case ftpeTlsNotOffered:
      return "Le serveur ne propose pas de connexion chiffrée (TLS) ; la connexion est abandonnée sans que votre "
             "nom d'utilisateur ni votre mot de passe aient été envoyés.";
    case ftpeTlsDowngrade:
      return "Ce serveur chiffrait ses connexions (TLS) et refuse maintenant de le faire : quelqu'un tente "
             "peut-être d'intercepter la connexion. Elle est abandonnée sans que votre nom d'utilisateur ni votre "
             "mot de passe aient été envoyés.";
    case ftpeTlsHandshake:
      return "La négociation du chiffrement (TLS) avec le serveur a échoué.";
    case ftpeCertificateRejected:
      return "Le certificat du serveur n'a pas été accepté ; la connexion est abandonnée.";
    case ftpeCertificateChanged:
      return "Attention : le certificat du serveur a changé depuis la dernière connexion et n'a pas été accepté ; "
             "la connexion est abandonnée.";
    case ftpeTlsData:
      return "La connexion de données n'a pas pu être chiffrée (TLS) ; la connexion est abandonnée.";
    case ftpeDownloadIncomplete:
      return "Le fichier n'a pas été reçu en entier : la connexion de données a été coupée, ou le nombre d'octets "
             "reçus diffère de la taille annoncée par le serveur. " + WhatIsOnDisk(local);
    case ftpeListingTooLarge:
      return "Le contenu de ce dossier du serveur dépasse " + std::to_string(TListingReader::kMaxBytes >> 20) +
             " Mo de texte : sa lecture est arrêtée, et il n'est pas affiché.";
    case ftpeListingIncomplete:
      return "Le contenu de ce dossier du serveur n'a pas été reçu en entier : la connexion de données chiffrée "
             "s'est fermée sans sa fin (TLS). Il n'est pas affiché.";
    case ftpeResumeIgnored:
      return "Le serveur a accepté de reprendre le téléchargement là où la partie reçue s'arrêtait, puis a "
             "envoyé le fichier depuis le début : le fichier local n'a pas été remplacé, et la partie reçue, "
             "devenue inutilisable, a été supprimée. Un nouveau téléchargement recevra le fichier en entier.";
    case ftpeKnownServersUnreadable:
      return "Le serveur ne propose pas de connexion chiffrée (TLS), et la liste des serveurs connus (" + addinfo +
             ") ne peut pas être lue : rien ne dit que ce serveur ne chiffrait pas ses connexions auparavant. La "
             "connexion est abandonnée sans que votre nom d'utilisateur ni votre mot de passe aient été envoyés.";
    default:
      return SshErrorMessage(error, addinfo);  // nothing for 0, 20, 25 and unknown codes
  }
}

std::string PasswordFromKeyringLine() {
  return "Mot de passe pris dans le trousseau de clés.";
}

std::string KeyringPasswordRefusedLine() {
  return "Le mot de passe mémorisé dans le trousseau de clés a été refusé par le serveur.";
}

std::string PasswordNotRememberedLine() {
  return "Le mot de passe n'a pas pu être mémorisé dans le trousseau de clés.";
}

std::string RecentServersNotChangedLine(const std::string& path) {
  return "La liste des serveurs récents (" + path + ") n'a pas pu être lue ou écrite ; elle n'a pas été modifiée.";
}

std::string NeedInfoWord(int need) {
  switch (need) {
    case ftpnServer: return "Serveur FTP";
    case ftpnUserName: return "Nom d'utilisateur";
    case ftpnPassword: return "Mot de passe";
    case ftpnAccount: return "Compte";
    case sftpnPassphrase: return "Phrase secrète";
    default: return "";
  }
}

std::string NeedInfoPrompt(const std::string& word) {
  std::string lowered = word;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return "Saisissez le " + lowered + " :";
}

std::string InOutErrorText(int code) {
  switch (code) {
    case 2: return "Fichier introuvable";
    case 3: return "Nom de fichier incorrect";
    case 4: return "Trop de fichiers ouverts";
    case 5: return "Accès au fichier refusé";
    case 100: return "Lecture au-delà de la fin de fichier";
    case 101: return "Disque plein";
    case 106: return "Saisie numérique incorrecte";
    default: return "Erreur E/S " + std::to_string(code);
  }
}

std::string ConnectedLine(const std::string& address, std::uint16_t port) {
  return "Connecté à l'adresse " + address + ", port " + std::to_string(port) + ".";
}

std::string ResumedLine(const std::string& bytes) {
  return "Reprise à " + bytes + " octets.";
}

std::string PassiveModeLine(const std::string& reason) {
  if (reason == "router") {
    return "Mode passif : cet ordinateur est derrière un routeur, le serveur ne pourrait pas ouvrir les "
           "connexions de données.";
  }
  return "Le serveur n'a pas pu ouvrir de connexion de données vers cet ordinateur : passage en mode passif.";
}

std::string PassiveAddressLine(const std::string& named, const std::string& server) {
  return "Le serveur a indiqué l'adresse " + named + " pour la connexion de données ; elle est ouverte vers "
         "l'adresse du serveur, " + server + ".";
}

std::string TlsSessionLine(const std::string& versionAndCipher) {
  const std::size_t blank = versionAndCipher.find(' ');
  const std::string version = versionAndCipher.substr(0, blank);
  const std::string cipher = blank == std::string::npos ? std::string() : versionAndCipher.substr(blank + 1);
  return "Connexion chiffrée (" + version + (cipher.empty() ? "" : ", " + cipher) + ").";
}

std::string TlsRefusedLine(const std::string& what) {
  if (what == "PROT") return "Le serveur refuse de chiffrer les connexions de données : elles circulent en clair.";
  return "Le serveur ne propose pas le chiffrement (TLS) : la session continue en clair.";
}

namespace {

std::string CertificateProblemText(const std::string& problem) {
  if (problem == "self-signed certificate" || problem == "self signed certificate") return "certificat auto-signé";
  if (problem.find("self-signed certificate in certificate chain") != std::string::npos ||
      problem.find("self signed certificate in certificate chain") != std::string::npos) {
    return "chaîne de certificats auto-signée";
  }
  if (problem.find("local issuer") != std::string::npos) return "autorité de certification inconnue";
  if (problem.find("expired") != std::string::npos) return "certificat expiré";
  if (problem.find("not yet valid") != std::string::npos) return "certificat pas encore valide";
  return problem;
}

// "certificat auto-signé, certificat expiré"; empty when the chain is trusted and current.
std::string CertificateProblems(const TFtpCertificateQuestion& q) {
  std::string problems = q.Problem.empty() ? std::string() : CertificateProblemText(q.Problem);
  const std::string expired = "certificat expiré";
  if (q.Expired && problems != expired) problems += (problems.empty() ? "" : ", ") + expired;
  return problems;
}

}  // namespace

std::string CertificateQuestion(const TFtpCertificateQuestion& q) {
  const std::string server = q.Host + " (port " + std::to_string(q.Port) + ")";
  const std::string problems = CertificateProblems(q);
  const std::string otherName = "établi au nom de " + q.CertificateNames + ", et non de " + q.Host + ", le nom saisi";
  if (!q.PinnedFingerprint.empty()) {
    return "ATTENTION : le certificat du serveur " + server + " a changé depuis la dernière connexion" +
           (q.CertificateNames.empty() ? "" : " ; le nouveau est " + otherName) + ".\n\n"
           "Empreinte SHA-256 connue :\n" + q.PinnedFingerprint + "\n\nNouvelle empreinte SHA-256 :\n" +
           q.Fingerprint + "\n\nQuelqu'un tente peut-être d'intercepter la connexion. Accepter le nouveau "
           "certificat ?";
  }
  if (!q.CertificateNames.empty()) {
    return "ATTENTION : le certificat présenté par le serveur " + server + " est " + otherName +
           (problems.empty() ? "" : " (" + problems + ")") + ".\n\nEmpreinte SHA-256 :\n" + q.Fingerprint +
           "\n\nS'il s'agit bien de votre serveur, connu sous un autre nom, vous pouvez lui faire confiance ; "
           "sinon, quelqu'un tente peut-être d'intercepter la connexion. Faire confiance à ce certificat ? Il sera "
           "mémorisé pour " + server + ".";
  }
  return "Le certificat du serveur " + server + " n'a pas pu être vérifié (" + problems +
         ").\n\nEmpreinte SHA-256 :\n" + q.Fingerprint +
         "\n\nFaire confiance à ce serveur ? Son certificat sera mémorisé.";
}

bool CertificateWarning(const TFtpCertificateQuestion& q) {
  return !q.PinnedFingerprint.empty() || !q.CertificateNames.empty();
}

std::string CertificateExpiredLine() {
  return "Le certificat du serveur a expiré ; il est accepté, car vous lui avez fait confiance.";
}

std::string ServerNotRememberedLine(const std::string& path) {
  return "Ce serveur n'a pas pu être mémorisé dans " + path + " : s'il refuse un jour le chiffrement, la "
         "connexion continuera en clair sans avertissement.";
}

std::string StoppedTransferLine(bool download, long long bytes, const TLocalContext& local) {
  const std::string count = std::to_string(bytes) + " octet" + (bytes > 1 ? "s" : "");
  if (!download) return "Transfert arrêté après " + count + " envoyé" + (bytes > 1 ? "s." : ".");
  switch (local.Left) {
    case TLeftOnDisk::PartKept:
      return "Transfert arrêté : la partie reçue (" + count + ") est conservée dans " + local.LeftPath + ".";
    case TLeftOnDisk::TargetPartial:
      return "Transfert arrêté : " + local.LeftPath + " ne contient plus que la partie reçue (" + count + ").";
    case TLeftOnDisk::Untouched:
      break;
  }
  return "Transfert arrêté : le fichier local n'a pas été remplacé, et rien de ce qui a été reçu n'est gardé.";
}

std::string InPlaceLine(const std::string& path) {
  return "Aucun fichier ne peut être créé à côté de " + path + " : il est écrit directement, et son contenu actuel "
         "sera perdu si le téléchargement échoue.";
}

std::string ChangedWhileSentLine(const std::string& path) {
  return "Le fichier " + path + " a été modifié pendant l'envoi : la copie du serveur peut ne pas correspondre à son "
         "contenu actuel.";
}

std::string RefusalReason(const std::string& reply) {
  if (reply.size() < 3 || reply[0] < '1' || reply[0] > '5') return "";
  const std::string code = reply.substr(0, 3);
  if (code == "550") return "fichier ou dossier indisponible (introuvable, déjà là, ou accès refusé)";
  if (code == "553") return "nom de fichier refusé par le serveur";
  if (code == "552" || code == "452") return "place insuffisante sur le serveur";
  if (code == "450") return "fichier indisponible pour le moment";
  if (code == "451") return "erreur du serveur pendant l'opération";
  if (code == "421") return "le serveur ferme la connexion";
  if (code == "530" || code == "532") return "droits insuffisants pour ce compte";
  if (code == "500" || code == "501" || code == "502" || code == "504") {
    return "commande inconnue de ce serveur, ou argument refusé";
  }
  return reply[0] == '4' ? "refus temporaire du serveur" : "refus du serveur";
}

std::string WithFullStop(std::string text) {
  if (text.empty() || text.back() != '.') text += '.';
  return text;
}

}  // namespace talvo::texts
