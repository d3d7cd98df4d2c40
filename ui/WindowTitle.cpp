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
  if (!view.Folder.empty()) {
    // The end of a very long path says more than its beginning.
    constexpr qsizetype kShown = 120;
    const QString folder = DisplayText(view.Folder);
    server += QStringLiteral(" : ") + (folder.size() <= kShown ? folder : QStringLiteral("…") + folder.right(kShown));
  }
  const QString security = !view.Encrypted    ? QStringLiteral("en clair")
                           : view.DataInClear ? QStringLiteral("chiffré (données en clair)")
                                              : QStringLiteral("chiffré");
  return program + dash + server + dash + security;
}
