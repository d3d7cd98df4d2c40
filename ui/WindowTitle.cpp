#include "ui/WindowTitle.h"

#include "ui/TextCodec.h"

QString WindowTitle(const QString& program, const TSessionView& view) {
  const QString dash = QStringLiteral(" — ");
  if (!view.Connected) return program + dash + QStringLiteral("non connecté");
  QString server = DisplayText(view.Server);
  if (view.Port != 21) {
    // An IPv6 address takes brackets before its port.
    if (server.contains(QLatin1Char(':')) && !server.startsWith(QLatin1Char('['))) {
      server = QLatin1Char('[') + server + QLatin1Char(']');
    }
    server += QLatin1Char(':') + QString::number(view.Port);
  }
  if (!view.Folder.empty()) server += QStringLiteral(" : ") + DisplayText(view.Folder);
  const QString security = !view.Encrypted    ? QStringLiteral("en clair")
                           : view.DataInClear ? QStringLiteral("chiffré (données en clair)")
                                              : QStringLiteral("chiffré");
  return program + dash + server + dash + security;
}
