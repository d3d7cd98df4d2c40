// A private session bus for one test, and on it, when asked, a real Secret Service
// (gnome-keyring's daemon) whose keyring lives in a throw-away folder and is unlocked with
// a known password. Start() points this process's DBUS_SESSION_BUS_ADDRESS at the bus (so
// the program's keyring calls reach it, never the user's); both daemons are stopped by
// process id when the fixture goes.
//
//   SecretService keyring;
//   ASSERT_TRUE(keyring.Start(true)) << keyring.Error();
//   ... TKeyring::Store(...), the window's "Mémoriser le mot de passe" ...
//
// GLib keeps one session bus connection a process: one fixture a test process.
#pragma once

#include <string>

#include "tests/support/ServerProcess.h"
#include "tests/support/TempTree.h"

namespace talvo::test {

class SecretService {
 public:
  SecretService() = default;
  ~SecretService() { Stop(); }
  SecretService(const SecretService&) = delete;
  SecretService& operator=(const SecretService&) = delete;

  // The bus, and with `keyring` the Secret Service on it, ready to answer. False with
  // Error() when either could not start.
  bool Start(bool keyring);
  void Stop();
  const std::string& Error() const { return error_; }
  const std::string& BusAddress() const { return address_; }
  // The folder that holds the keyring's files.
  const TempTree& Folder() const { return folder_; }

 private:
  bool StartBus();
  bool StartKeyring();

  TempTree folder_{"secrets"};
  ServerProcess bus_;
  ServerProcess keyring_;
  std::string address_;
  std::string error_;
};

}  // namespace talvo::test
