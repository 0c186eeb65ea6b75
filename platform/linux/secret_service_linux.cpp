#include "platform/secret_service.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/secure_zero.h"

namespace VirelantDesktop::platform {
namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema value{};
    value.name = "org.talvek.SecureStore";
    value.flags = SECRET_SCHEMA_NONE;
    value.attributes[0] = {"target", SECRET_SCHEMA_ATTRIBUTE_STRING};
    return value;
  }();
  return &schema;
}

// Cancels the call's GCancellable when the budget runs out. The sync calls
// of libsecret run their own private main loop, so the deadline has to come
// from another thread.
class CallDeadline {
 public:
  explicit CallDeadline(GCancellable* cancellable) : cancellable_(cancellable) {
    watcher_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      if (!finished_.wait_for(lock, std::chrono::milliseconds(kSecretCallBudgetMs), [this] { return done_; })) {
        fired_ = true;
        g_cancellable_cancel(cancellable_);
      }
    });
  }
  ~CallDeadline() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    finished_.notify_one();
    watcher_.join();
  }
  bool Fired() {
    std::lock_guard lock(mutex_);
    return fired_;
  }

 private:
  GCancellable* cancellable_;
  std::mutex mutex_;  // guards done_ and fired_
  std::condition_variable finished_;
  bool done_ = false;
  bool fired_ = false;
  std::thread watcher_;
};

// Everything one call needs: a cancellable with its deadline.
class Call {
 public:
  Call() : cancellable_(g_cancellable_new()), deadline_(cancellable_) {}
  ~Call() { g_object_unref(cancellable_); }
  GCancellable* cancellable() const { return cancellable_; }

  // The failure number for `error` (consumed).
  uint32_t Fail(GError* error) {
    uint32_t number = kSecretOtherFailure;
    if (deadline_.Fired() || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY)) {
      number = kSecretTimedOut;
    } else if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED) ||
               g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      number = kSecretLocked;
    } else if (error != nullptr && error->domain == G_DBUS_ERROR &&
               (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
                error->code == G_DBUS_ERROR_NO_SERVER || error->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND ||
                error->code == G_DBUS_ERROR_SPAWN_EXEC_FAILED || error->code == G_DBUS_ERROR_SPAWN_FAILED ||
                error->code == G_DBUS_ERROR_SPAWN_CHILD_EXITED || error->code == G_DBUS_ERROR_DISCONNECTED ||
                error->code == G_DBUS_ERROR_FILE_NOT_FOUND || error->code == G_DBUS_ERROR_ADDRESS_IN_USE)) {
      number = kSecretNoService;
    }
    if (error != nullptr) g_error_free(error);
    return number;
  }

  // The failure number for reaching the service at all.
  uint32_t FailConnect(GError* error) {
    const uint32_t number = Fail(error);
    return number == kSecretOtherFailure ? kSecretNoService : number;
  }

 private:
  GCancellable* cancellable_;
  CallDeadline deadline_;
};

// Checks that the default collection exists and is unlocked without ever
// asking for it to be unlocked (which would open a prompt). 0 when usable.
uint32_t CheckDefaultCollection(Call& call) {
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, call.cancellable(), &error);
  if (service == nullptr) return call.FailConnect(error);
  SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                  SECRET_COLLECTION_NONE, call.cancellable(), &error);
  g_object_unref(service);
  if (collection == nullptr) {
    // No default collection: making one would prompt.
    return error != nullptr ? call.FailConnect(error) : kSecretLocked;
  }
  const bool locked = secret_collection_get_locked(collection);
  g_object_unref(collection);
  return locked ? kSecretLocked : 0;
}

}  // namespace

SecretResult LookupSecret(const std::string& target, std::string& value) {
  Call call;
  if (uint32_t failure = CheckDefaultCollection(call)) return {failure};
  GError* error = nullptr;
  SecretValue* secret = secret_password_lookup_binary_sync(Schema(), call.cancellable(), &error, "target",
                                                           target.c_str(), nullptr);
  if (secret == nullptr) return {error != nullptr ? call.Fail(error) : kSecretNotFound};
  gsize length = 0;
  const gchar* bytes = secret_value_get(secret, &length);
  value.assign(bytes, length);
  secret_value_unref(secret);  // the value's own memory is wiped as it goes
  return {};
}

SecretResult StoreSecret(const std::string& target, const std::string& label, std::string_view value) {
  Call call;
  if (uint32_t failure = CheckDefaultCollection(call)) return {failure};
  // secret_value_new copies into its own (non-pageable, wiped) memory.
  SecretValue* secret = secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain");
  GError* error = nullptr;
  const gboolean stored = secret_password_store_binary_sync(Schema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                                            secret, call.cancellable(), &error, "target",
                                                            target.c_str(), nullptr);
  secret_value_unref(secret);
  if (!stored) return {call.Fail(error)};
  return {};
}

SecretResult ClearSecret(const std::string& target) {
  Call call;
  if (uint32_t failure = CheckDefaultCollection(call)) return {failure};
  GError* error = nullptr;
  const gboolean removed =
      secret_password_clear_sync(Schema(), call.cancellable(), &error, "target", target.c_str(), nullptr);
  if (error != nullptr) return {call.Fail(error)};
  return {removed ? 0u : kSecretNotFound};
}

}  // namespace VirelantDesktop::platform
