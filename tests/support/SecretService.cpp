#include "tests/support/SecretService.h"

#include <sys/stat.h>

#include <cstdlib>
#include <thread>

#include "credentials/Keyring.h"

namespace talvo::test {

namespace {

constexpr const char* kKeyringPassword = "keyring-unlock-7";
constexpr Millis kStartLimit{10000};

}  // namespace

bool SecretService::Start(bool keyring) {
  if (!folder_.Valid() || !StartBus()) return false;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  return !keyring || StartKeyring();
}

// A session bus that starts no service of its own (no service folders): what runs on it is
// what the test started.
bool SecretService::StartBus() {
  ::mkdir(folder_.PathOf("run").c_str(), 0700);
  const std::string config =
      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      "<busconfig><type>session</type><listen>unix:dir=" + folder_.PathOf("run") + "</listen>"
      "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
      "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
  if (!folder_.WriteFile("bus.conf", config)) return false;
  if (!bus_.Spawn({"/usr/bin/dbus-daemon", "--config-file=" + folder_.PathOf("bus.conf"), "--nofork",
                   "--print-address=1"},
                  folder_.PathOf("bus.log"), true, error_)) {
    return false;
  }
  if (!bus_.ReadStdoutLine(address_, kStartLimit, error_)) return false;
  if (address_.rfind("unix:", 0) != 0) {
    error_ = "dbus-daemon gave no address: " + address_;
    return false;
  }
  return true;
}

// gnome-keyring's daemon, its keyrings under the folder, the login keyring made and
// unlocked with the password it reads on its standard input.
bool SecretService::StartKeyring() {
  const std::string home = folder_.PathOf("home");
  if (!folder_.MakeDirectory("home") || !folder_.MakeDirectory("data")) return false;
  if (!keyring_.Spawn({"/usr/bin/env", "HOME=" + home, "XDG_DATA_HOME=" + folder_.PathOf("data"),
                       "XDG_RUNTIME_DIR=" + folder_.PathOf("run"), "XDG_CONFIG_HOME=" + home + "/.config",
                       "DBUS_SESSION_BUS_ADDRESS=" + address_, "/usr/bin/gnome-keyring-daemon", "--foreground",
                       "--components=secrets", "--unlock"},
                      folder_.PathOf("keyring.log"), false, error_, true)) {
    return false;
  }
  if (!keyring_.WriteStdin(kKeyringPassword, kStartLimit, error_)) return false;
  keyring_.CloseStdin();
  const auto deadline = Clock::now() + kStartLimit;
  while (!TKeyring::Running()) {
    if (Clock::now() >= deadline || !keyring_.Running()) {
      error_ = "the keyring daemon did not take its name on the bus: " + folder_.ReadFile("keyring.log");
      return false;
    }
    std::this_thread::sleep_for(Millis(20));
  }
  return true;
}

void SecretService::Stop() {
  keyring_.Stop();
  bus_.Stop();
  if (!address_.empty()) ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  address_.clear();
}

}  // namespace talvo::test
