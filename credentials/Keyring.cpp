#include "credentials/Keyring.h"

#include <libsecret/secret.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/AddressText.h"

namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema s{};
    s.name = "org.example.talvoftp.Password";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0] = {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[1] = {"server", SECRET_SCHEMA_ATTRIBUTE_STRING};
    s.attributes[2] = {"port", SECRET_SCHEMA_ATTRIBUTE_INTEGER};
    s.attributes[3] = {"user", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return s;
  }();
  return &schema;
}

// One asynchronous call and its outcome. Shared with the callback, which may come after
// the caller gave up (it is then only cancelled): whichever ends last frees it.
struct Call {
  bool done = false;
  GObject* source = nullptr;
  GAsyncResult* result = nullptr;
  ~Call() {
    if (result != nullptr) g_object_unref(result);
    if (source != nullptr) g_object_unref(source);
  }
};

void Finished(GObject* source, GAsyncResult* result, gpointer data) {
  auto* call = static_cast<std::shared_ptr<Call>*>(data);
  (*call)->done = true;
  (*call)->source = source != nullptr ? G_OBJECT(g_object_ref(source)) : nullptr;
  (*call)->result = G_ASYNC_RESULT(g_object_ref(result));
  delete call;
}

// Runs one asynchronous call, begun by `start` on a private context, for at most
// `limitMs`; then `finish` reads its result. False when it did not end in time.
template <typename Start, typename Finish>
bool RunBounded(int limitMs, Start start, Finish finish) {
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GCancellable* cancellable = g_cancellable_new();
  auto call = std::make_shared<Call>();
  start(cancellable, &Finished, new std::shared_ptr<Call>(call));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!call->done && std::chrono::steady_clock::now() < deadline) {
    // Wakes at least every 50 ms to look at the clock.
    GSource* tick = g_timeout_source_new(50);
    g_source_set_callback(tick, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(tick, context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
  }
  const bool ended = call->done;
  if (!ended) {
    g_cancellable_cancel(cancellable);
    // The cancelled call ends promptly; it is given a moment, not waited for without end.
    const auto grace = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!call->done && std::chrono::steady_clock::now() < grace) g_main_context_iteration(context, FALSE);
  } else {
    finish(call->source, call->result);
  }
  g_object_unref(cancellable);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return ended;
}

// A session bus is known: named by the environment, or the user's own in the runtime folder.
bool SessionBusKnown() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && address[0] != '\0') {
    return true;
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat status {};
  return runtime != nullptr && runtime[0] == '/' &&
         ::stat((std::string(runtime) + "/bus").c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

// The entry's attributes, as libsecret's *v calls take them (an integer as its decimal text).
class Attributes {
 public:
  explicit Attributes(const TKeyringKey& key) : table_(g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free)) {
    g_hash_table_insert(table_, const_cast<char*>("protocol"), g_strdup(key.Protocol.c_str()));
    g_hash_table_insert(table_, const_cast<char*>("server"), g_strdup(key.Server.c_str()));
    g_hash_table_insert(table_, const_cast<char*>("port"), g_strdup(std::to_string(key.Port).c_str()));
    g_hash_table_insert(table_, const_cast<char*>("user"), g_strdup(key.User.c_str()));
  }
  ~Attributes() { g_hash_table_unref(table_); }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;
  GHashTable* get() const { return table_; }

 private:
  GHashTable* table_;
};

void ClearError(GError*& error) {
  if (error != nullptr) g_error_free(error);
  error = nullptr;
}

}  // namespace

bool TKeyring::Running() {
  if (!SessionBusKnown()) return false;
  GDBusConnection* bus = nullptr;
  RunBounded(
      kCheckMs,
      [](GCancellable* c, GAsyncReadyCallback done, gpointer data) { g_bus_get(G_BUS_TYPE_SESSION, c, done, data); },
      [&bus](GObject*, GAsyncResult* result) {
        GError* error = nullptr;
        bus = g_bus_get_finish(result, &error);
        ClearError(error);
      });
  if (bus == nullptr) return false;
  bool owned = false;
  RunBounded(
      kCheckMs,
      [bus](GCancellable* c, GAsyncReadyCallback done, gpointer data) {
        // Asking who owns the name starts nothing, unlike a call to the service itself.
        g_dbus_connection_call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"),
                               G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kCheckMs, c, done, data);
      },
      [&owned](GObject* source, GAsyncResult* result) {
        GError* error = nullptr;
        if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error)) {
          gboolean value = FALSE;
          g_variant_get(reply, "(b)", &value);
          owned = value != FALSE;
          g_variant_unref(reply);
        }
        ClearError(error);
      });
  g_object_unref(bus);
  return owned;
}

std::optional<std::string> TKeyring::Lookup(const TKeyringKey& key) {
  std::optional<std::string> password;
  RunBounded(
      kCallMs,
      [&key](GCancellable* c, GAsyncReadyCallback done, gpointer data) {
        secret_password_lookupv(Schema(), Attributes(key).get(), c, done, data);
      },
      [&password](GObject*, GAsyncResult* result) {
        GError* error = nullptr;
        if (gchar* found = secret_password_lookup_finish(result, &error)) {
          password = std::string(found);
          secret_password_free(found);
        }
        ClearError(error);
      });
  return password;
}

bool TKeyring::Store(const TKeyringKey& key, const std::string& password) {
  const std::string label = "Talvo FTP : " + key.User + "@" + key.Server + ":" + std::to_string(key.Port);
  bool stored = false;
  RunBounded(
      kCallMs,
      [&](GCancellable* c, GAsyncReadyCallback done, gpointer data) {
        secret_password_storev(Schema(), Attributes(key).get(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                               password.c_str(), c, done, data);
      },
      [&stored](GObject*, GAsyncResult* result) {
        GError* error = nullptr;
        stored = secret_password_store_finish(result, &error) != FALSE;
        ClearError(error);
      });
  return stored;
}

bool TKeyring::Forget(const TKeyringKey& key) {
  bool failed = true;
  RunBounded(
      kCallMs,
      [&key](GCancellable* c, GAsyncReadyCallback done, gpointer data) {
        secret_password_clearv(Schema(), Attributes(key).get(), c, done, data);
      },
      [&failed](GObject*, GAsyncResult* result) {
        GError* error = nullptr;
        secret_password_clear_finish(result, &error);
        failed = error != nullptr;
        ClearError(error);
      });
  return !failed;
}

TKeyringKey KeyringKeyFor(const std::string& scheme, const std::string& server, std::uint16_t port,
                          const std::string& user) {
  const std::string address = platform::CanonicalAddressText(server);
  std::string host = address.empty() ? server : address;
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return {scheme == "sftp" ? "sftp" : "ftp", host, port, user};
}
