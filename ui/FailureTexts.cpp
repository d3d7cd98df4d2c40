#include "ui/FailureTexts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QLocale>

#include "session/KeptPart.h"
#include "session/ReceiveTarget.h"
#include "texts/FrenchMessages.h"
#include "ui/LocalFiles.h"
#include "ui/TextCodec.h"

namespace {

constexpr std::size_t kRefusalsShown = 10;
constexpr qsizetype kReplyShown = 300;  // a reply can be a line of 64 KB

QString Reply(const std::string& reply) {
  const QString text = DisplayText(reply);
  return text.size() <= kReplyShown ? text : text.left(kReplyShown) + QStringLiteral("…");
}

// "fichier introuvable ... Réponse du serveur : 550 ..." for one reply line.
QString ReasonAndReply(const std::string& reply) {
  const std::string reason = talvo::texts::RefusalReason(reply);
  return QString::fromStdString(reason.empty() ? "refus du serveur" : reason) +
         QStringLiteral(".\n\nRéponse du serveur : ") + Reply(reply);
}

}  // namespace

QString Quoted(const std::string& name) {
  return QStringLiteral("« ") + DisplayText(name) + QStringLiteral(" »");
}

QString Bytes(long long count) {
  return QLocale(QLocale::French).toString(count) + (count > 1 ? QStringLiteral(" octets") : QStringLiteral(" octet"));
}

QString RefusedText(const QString& what, const std::string& reply) {
  // "de" before a consonant, "d'" before a vowel: "d'ouvrir le dossier".
  const QString of = QStringLiteral("aeiouéèêh").contains(what.left(1)) ? QStringLiteral("d'") : QStringLiteral("de ");
  if (reply.empty()) {
    return QStringLiteral("Impossible ") + of + what +
           QStringLiteral(" : le nom contient un retour à la ligne ou un caractère nul, que le protocole ne peut pas "
                          "transmettre. Rien n'a été envoyé au serveur.");
  }
  return QStringLiteral("Le serveur a refusé ") + of + what + QStringLiteral(" : ") + ReasonAndReply(reply);
}

QString RefusedDeletionsText(const std::vector<std::pair<std::string, std::string>>& refusals) {
  if (refusals.size() == 1) {
    return RefusedText(QStringLiteral("supprimer le fichier ") + Quoted(refusals.front().first),
                       refusals.front().second);
  }
  QString text = QStringLiteral("Le serveur a refusé de supprimer ") + QString::number(refusals.size()) +
                 QStringLiteral(" fichiers :");
  for (std::size_t i = 0; i < refusals.size() && i < kRefusalsShown; ++i) {
    const std::string& reply = refusals[i].second;
    text += QStringLiteral("\n") + Quoted(refusals[i].first) + QStringLiteral(" : ") +
            (reply.empty() ? QStringLiteral("nom impossible à transmettre") : Reply(reply));
  }
  if (refusals.size() > kRefusalsShown) text += QStringLiteral("\n…");
  return text;
}

QString IncompleteDownloadText(const std::string& target, const QString& why) {
  QString text = QStringLiteral("Le fichier ") + Quoted(NameOf(target)) +
                 QStringLiteral(" n'a pas été reçu en entier : ") + why + QStringLiteral(". ");
  struct stat st {};
  const bool targetThere = ::lstat(target.c_str(), &st) == 0;
  if (targetThere && S_ISREG(st.st_mode) && ::access(ParentDirectory(target).c_str(), W_OK) != 0) {
    // A folder that takes no new file: the download wrote the target itself.
    return text + QStringLiteral("Son dossier n'accepte pas de nouveau fichier : le fichier local a été écrit "
                                 "directement et ne contient que ce qui est arrivé (") +
           Bytes(st.st_size) + QStringLiteral(").");
  }
  text += targetThere ? QStringLiteral("Le fichier local n'a pas été remplacé ; ")
                      : QStringLiteral("Aucun fichier local n'a été créé ; ");
  // This program's own part, wherever it is (a NAME.part of another program stays and is
  // not it).
  if (const std::optional<TKeptPart> part = FindKeptPart(target); part && part->Size > 0) {
    return text + QStringLiteral("la partie reçue (") + Bytes(part->Size) + QStringLiteral(") est gardée dans ") +
           Quoted(NameOf(part->Path)) +
           QStringLiteral(" : le prochain téléchargement de ce fichier pourra la reprendre.");
  }
  return text + QStringLiteral("rien de ce qui est arrivé n'a été gardé.");
}

QString IncompleteUploadText(const std::string& name, const QString& why) {
  return QStringLiteral("Le fichier ") + Quoted(name) + QStringLiteral(" n'a pas été envoyé en entier : ") + why +
         QStringLiteral(". La copie sur le serveur, s'il en a gardé une, est incomplète.");
}
