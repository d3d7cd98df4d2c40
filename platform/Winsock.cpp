// The registry of socket libraries and the shared table of bound entry points.
#include "platform/Winsock.h"

#include <cstring>
#include <map>
#include <mutex>

namespace platform {

namespace {

constexpr const char* kPosixLibrary = "posix";

// Every entry of the table is one function pointer, so entry i sits at offset i pointers.
static_assert(sizeof(SocketLibraryTable) == kSocketEntryPoints * sizeof(void (*)()));

struct Registry {
  std::mutex mutex;
  // std::map keeps each table at one address for as long as it stays registered.
  std::map<std::string, SocketLibraryTable> libraries;
  std::string defaultName = kPosixLibrary;

  Registry() { libraries.emplace(kPosixLibrary, PosixSocketLibrary()); }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

const void* SocketEntryPoint(const SocketLibraryTable& table, int index) {
  if (index < 0 || index >= kSocketEntryPoints) return nullptr;
  void (*entry)() = nullptr;
  std::memcpy(&entry, reinterpret_cast<const char*>(&table) + index * sizeof entry, sizeof entry);
  return reinterpret_cast<const void*>(entry);
}

void RegisterSocketLibrary(const std::string& name, const SocketLibraryTable& table) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.libraries[name] = table;
}

void UnregisterSocketLibrary(const std::string& name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.libraries.erase(name);
}

void SetDefaultSocketLibrary(const std::string& name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.defaultName = name.empty() ? kPosixLibrary : name;
}

const SocketLibraryTable* FindSocketLibrary(const std::string& name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.libraries.find(name.empty() ? r.defaultName : name);
  return it == r.libraries.end() ? nullptr : &it->second;
}

SocketLibraryTable& Winsock() {
  static SocketLibraryTable table;
  return table;
}

}  // namespace platform
