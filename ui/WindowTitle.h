// The main window's title: the program's name, then where the session is — the server as
// typed (with its port when it is not 21), the remote folder the pane shows, and whether
// the session is encrypted — or that there is no session.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

struct TSessionView {
  bool Connected = false;
  std::string Server;
  std::uint16_t Port = 21;
  std::string Folder;        // empty until a listing has said it
  bool Encrypted = false;    // the control connection is TLS
  bool DataInClear = false;  // encrypted, but the server refused to protect the data
};

// "Talvo FTP — ftp.example.org : /pub — chiffré", "Talvo FTP — non connecté".
QString WindowTitle(const QString& program, const TSessionView& view);
