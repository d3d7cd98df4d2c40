#include "session/RecentServers.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "platform/AddressText.h"
#include "session/StateFile.h"

namespace {

// One server however its address was typed ("::1", "0:0::1"), its name in any case.
std::string Key(const TServerTarget& server) {
  const std::string address = platform::CanonicalAddressText(server.Host);
  std::string host = address.empty() ? server.Host : address;
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::uint16_t port = server.Port != 0 ? server.Port : DefaultPort(server.Protocol);
  return std::string(SchemeName(server.Protocol)) + " " + host + " " + std::to_string(port) + " " +
         server.User.value_or("");
}

// The servers of the file's text that read as links; other lines are dropped.
std::vector<TServerTarget> ServersOf(const std::string& text) {
  std::vector<TServerTarget> servers;
  std::istringstream in(text);
  std::string line, problem;
  while (std::getline(in, line)) {
    TServerTarget server;
    if (ParseServerText(line, server, problem) && server.Link) servers.push_back(server);
  }
  return servers;
}

}  // namespace

bool TRecentServers::Read(std::vector<std::string>& links) const {
  links.clear();
  std::string text;
  if (path_.empty()) return true;
  if (!talvo::state::ReadWhole(path_, text)) return false;
  for (const TServerTarget& server : ServersOf(text)) links.push_back(ServerLink(server, server.Port));
  return true;
}

bool TRecentServers::Add(const TServerTarget& added) const {
  if (path_.empty() || !talvo::state::MakeFolderOf(path_)) return false;
  const talvo::state::ChangeLock lock(path_ + ".lock");
  std::string text;
  if (!lock.Held() || !talvo::state::ReadWhole(path_, text)) return false;
  TServerTarget server{added.Protocol, true, added.Host, added.Port, added.User, std::nullopt, {}};
  std::vector<TServerTarget> servers = ServersOf(text);
  const std::string key = Key(server);
  std::erase_if(servers, [&key](const TServerTarget& s) { return Key(s) == key; });
  servers.insert(servers.begin(), server);
  if (servers.size() > kMaxServers) servers.resize(kMaxServers);
  std::string written;
  for (const TServerTarget& s : servers) written += ServerLink(s, s.Port) + "\n";
  return talvo::state::ReplaceFile(path_, written);
}

std::string DefaultRecentServersPath() {
  return talvo::state::ConfigPath("recent-servers");
}
