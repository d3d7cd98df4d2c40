// The French texts of the SFTP component's own codes and events.
#include "sftp/SftpTypes.h"
#include "texts/FrenchMessages.h"

namespace talvo::texts {

namespace {

// One way of logging in, as the component names it in its refusal.
std::string WayText(const std::string& way) {
  if (way == "agent") return "les clés de l'agent SSH";
  if (way == "password") return "le mot de passe";
  if (way == "keyboard-interactive") return "la saisie interactive";
  return "la clé " + way;
}

std::string LoginRefusedText(const std::string& tried) {
  std::string ways, offered;
  std::size_t start = 0;
  while (start < tried.size()) {
    std::size_t end = tried.find('\n', start);
    if (end == std::string::npos) end = tried.size();
    const std::string line = tried.substr(start, end - start);
    if (line.rfind("offered:", 0) == 0) {
      offered = line.substr(8);
    } else if (!line.empty()) {
      ways += (ways.empty() ? "" : ", ") + WayText(line);
    }
    start = end + 1;
  }
  if (ways.empty()) {
    return "Accès refusé : aucune des méthodes de connexion que le serveur accepte (" + offered +
           ") n'a pu être essayée.";
  }
  return "Accès refusé. Méthodes essayées : " + ways +
         ". Veuillez vérifier votre nom d'utilisateur, vos clés et "
         "votre mot de passe.";
}

std::string HandshakeText(const std::string& why) {
  if (why == "banner") {
    return "Le serveur ne répond pas comme un serveur SSH. Veuillez vérifier le nom et le port du serveur "
           "(22 pour SFTP).";
  }
  if (why == "closed") return "Le serveur a coupé la connexion pendant la négociation SSH.";
  if (why == "timeout") return "La négociation SSH avec le serveur n'a pas abouti dans le délai imparti.";
  return "La négociation SSH avec le serveur a échoué (aucune méthode de chiffrement commune).";
}

}  // namespace

std::optional<std::string> SshErrorMessage(int error, const std::string& addinfo) {
  switch (error) {
    case sftpeHandshake:
      return HandshakeText(addinfo);
    case sftpeHostKeyUnknown:
      return "La clé du serveur (" + addinfo +
             ") n'a pas été acceptée ; la connexion est abandonnée sans que "
             "rien d'autre ait été envoyé.";
    case sftpeHostKeyChanged: {
      const std::size_t colon = addinfo.rfind(':');
      return "ATTENTION : la clé du serveur a changé depuis la dernière connexion. Quelqu'un tente peut-être "
             "d'intercepter la connexion : elle est abandonnée sans que rien d'autre ait été envoyé. Si le "
             "changement est voulu, retirez l'ancienne clé de " +
             addinfo.substr(0, colon) + ", ligne " + addinfo.substr(colon + 1) + ".";
    }
    case sftpeKnownHostsUnreadable:
      return "Le fichier des serveurs connus " + addinfo +
             " ne peut pas être lu : la clé du serveur ne peut pas "
             "être vérifiée et la connexion est abandonnée.";
    case sftpeLoginRefused:
      return LoginRefusedText(addinfo);
    case sftpeNoSftp:
      return "Le serveur n'offre pas SFTP.";
    case sftpeProtocol:
      if (addinfo == "listing") return "La liste du dossier est trop longue ; la connexion est abandonnée.";
      return "Le serveur a envoyé une réponse SFTP incompréhensible ; la connexion est abandonnée.";
    default:
      return std::nullopt;
  }
}

std::string PassphrasePrompt(const std::string& key) { return "Saisissez la phrase secrète de la clé " + key + " :"; }

std::string HostKeyQuestion(const TSftpHostKeyQuestion& q) {
  return "La clé du serveur " + q.Host + " (port " + std::to_string(q.Port) +
         ") n'est pas connue.\n\nType : " + q.KeyType + "\nEmpreinte : " + q.Fingerprint +
         "\n\nS'il s'agit bien de votre serveur (son administrateur peut vous confirmer l'empreinte), vous pouvez "
         "lui faire confiance. Faire confiance à cette clé ? Elle sera ajoutée à " +
         q.KnownHostsFile + ".";
}

std::string SshInfoLine(int info, const std::string& addinfo) {
  switch (info) {
    case sftpiHostKey:
      return "Clé du serveur : " + addinfo + ".";
    case sftpiHostKeyAdded:
      return "La clé du serveur a été ajoutée à " + addinfo + ".";
    case sftpiNotRemembered:
      return "La clé du serveur n'a pas pu être ajoutée à " + addinfo + ".";
    case sftpiLoggedInWith:
      return "Connecté avec " + WayText(addinfo) + ".";
    default:
      return "";
  }
}

}  // namespace talvo::texts
