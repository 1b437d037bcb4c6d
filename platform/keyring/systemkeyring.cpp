#include "systemkeyring.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <libsecret/secret.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace
{

// One schema for every secret of the program; libsecret adds the schema's name as the
// attribute "xdg:schema", so our items never mix with another program's.
const SecretSchema kSchema = {
    "org.postwatch.Secret",
    SECRET_SCHEMA_NONE,
    {
        {"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Set once the user dismissed the unlock prompt (or none could be shown): asking at every
// check would nag, so later look-ups stay quiet.
std::atomic<bool> promptDismissed{false};

using Result = SystemKeyring::Result;
using Outcome = SystemKeyring::Outcome;

Result Fail(Outcome outcome, std::string why)
{
    Result r;
    r.outcome = outcome;
    r.error = std::move(why);
    return r;
}

// Cancels the call's GCancellable when the limit runs out: libsecret's synchronous calls
// wait for D-Bus answers without a limit of their own (a prompt waits for the user).
class Deadline
{
public:
    explicit Deadline(std::chrono::milliseconds limit) : cancellable_(g_cancellable_new())
    {
        watchdog_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                expired_ = true;
                g_cancellable_cancel(cancellable_);
            }
        });
    }
    ~Deadline()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        watchdog_.join();
        g_object_unref(cancellable_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* Cancellable() const { return cancellable_; }
    bool Expired()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return expired_;
    }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool expired_ = false;
    std::thread watchdog_;
};

// The error of a failed call, worded for the user; frees `error`.
Result FromError(GError* error, Deadline& deadline, const char* what)
{
    std::string why;
    if (deadline.Expired())
        why = std::string("the system keyring did not answer in time (") + what + ")";
    else
        why = std::string("the system keyring refused to ") + what + ": " +
              (error && error->message ? error->message : "no reason given");
    if (error)
        g_error_free(error);
    return Fail(Outcome::Unavailable, why);
}

// Without a session bus address GLib would try to start a bus of its own (autolaunch):
// a program that merely asks for a keyring must not leave a daemon behind.
bool SessionBusKnown()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {
    };
    return runtime && *runtime && ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 &&
           S_ISSOCK(st.st_mode);
}

class Attributes
{
public:
    explicit Attributes(const SecretKey& key, bool withDetails)
        : table_(g_hash_table_new(g_str_hash, g_str_equal))
    {
        Add("application", SystemKeyring::kApplication);
        Add("account", key.account.c_str());
        if (!key.kind.empty())
            Add("kind", key.kind.c_str());
        if (withDetails) {
            Add("user", key.user.c_str());
            Add("server", key.server.c_str());
        }
    }
    ~Attributes() { g_hash_table_unref(table_); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    GHashTable* Table() const { return table_; }

private:
    void Add(const char* name, const char* value)
    {
        g_hash_table_insert(table_, const_cast<char*>(name), const_cast<char*>(value));
    }
    GHashTable* table_;
};

// The shared service object (libsecret keeps one per process), or a failure.
SecretService* Service(Deadline& deadline, Result& failure)
{
    if (!SessionBusKnown()) {
        failure = Fail(Outcome::Unavailable, "there is no session bus for the system keyring");
        return nullptr;
    }
    GError* error = nullptr;
    SecretService* service =
        secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.Cancellable(), &error);
    if (!service)
        failure = FromError(error, deadline, "open a session");
    return service;
}

// The first unlocked item's secret: Ok, or NotFound; `sawLocked` tells whether a locked
// item was passed over. Frees `items`.
Result FirstSecret(GList* items, const SecretKey& key, bool& sawLocked)
{
    Result result =
        Fail(Outcome::NotFound, "the system keyring holds no " + key.kind + " for " + key.account);
    sawLocked = false;
    for (GList* at = items; at; at = at->next) {
        auto* item = static_cast<SecretItem*>(at->data);
        if (secret_item_get_locked(item)) {
            sawLocked = true;
            continue;
        }
        SecretValue* value = secret_item_get_secret(item);
        if (!value)
            continue;
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        result = Result{};
        result.outcome = Outcome::Ok;
        result.secret.assign(bytes, length);
        secret_value_unref(value);
        break;
    }
    g_list_free_full(items, g_object_unref);
    return result;
}

} // namespace

Result SystemKeyring::Lookup(const SecretKey& key, Prompt prompt, std::chrono::milliseconds limit)
{
    // Only the unlock prompt waits for a person. The rest is the service's own work: a
    // Secret Service that does not answer it ends the look-up after the quick limit, not
    // after the time granted for typing a password nobody may be there to type.
    const std::chrono::milliseconds quickLimit = std::min(limit, kQuickLimit);
    const bool ask = prompt == Prompt::Allowed && !promptDismissed.load();
    Attributes attributes(key, false);
    Result result;
    SecretService* service = nullptr;
    bool sawLocked = false;
    {
        Deadline deadline(quickLimit);
        service = Service(deadline, result);
        if (!service)
            return result;
        GError* error = nullptr;
        GList* items =
            secret_service_search_sync(service, &kSchema, attributes.Table(),
                                       SECRET_SEARCH_LOAD_SECRETS, deadline.Cancellable(), &error);
        if (error) {
            g_object_unref(service);
            return FromError(error, deadline, "search");
        }
        result = FirstSecret(items, key, sawLocked);
    }
    if (!result.Ok() && sawLocked && ask) {
        Deadline deadline(limit);
        GError* error = nullptr;
        GList* items = secret_service_search_sync(
            service, &kSchema, attributes.Table(),
            static_cast<SecretSearchFlags>(SECRET_SEARCH_LOAD_SECRETS | SECRET_SEARCH_UNLOCK),
            deadline.Cancellable(), &error);
        if (error) {
            g_object_unref(service);
            promptDismissed.store(true);
            return FromError(error, deadline, "unlock");
        }
        result = FirstSecret(items, key, sawLocked);
    }
    g_object_unref(service);
    if (result.Ok()) {
        promptDismissed.store(false); // open now: a later lock may be asked about again
    } else if (sawLocked) {
        if (ask)
            promptDismissed.store(true);
        result = Fail(Outcome::Locked, "the system keyring is locked");
    }
    return result;
}

Result SystemKeyring::Store(const SecretKey& key, const std::string& secret,
                            std::chrono::milliseconds limit)
{
    Deadline deadline(limit);
    Result result;
    SecretService* service = Service(deadline, result);
    if (!service)
        return result;
    // The same account and kind under other user or server words would be found first by a
    // look-up: replace it, whatever it says.
    Attributes old(key, false);
    secret_service_clear_sync(service, &kSchema, old.Table(), deadline.Cancellable(), nullptr);

    Attributes attributes(key, true);
    SecretValue* value =
        secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
    const std::string label = "Postwatch " + key.kind + " of " + key.account;
    GError* error = nullptr;
    const gboolean stored =
        secret_service_store_sync(service, &kSchema, attributes.Table(), SECRET_COLLECTION_DEFAULT,
                                  label.c_str(), value, deadline.Cancellable(), &error);
    secret_value_unref(value);
    g_object_unref(service);
    if (!stored) {
        if (error && g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
            g_error_free(error);
            return Fail(Outcome::Locked, "the system keyring is locked");
        }
        return FromError(error, deadline, "store the secret");
    }
    result = Result{};
    result.outcome = Outcome::Ok;
    return result;
}

Result SystemKeyring::Clear(const SecretKey& key, std::chrono::milliseconds limit)
{
    Deadline deadline(limit);
    Result result;
    SecretService* service = Service(deadline, result);
    if (!service)
        return result;
    Attributes attributes(key, false);
    GError* error = nullptr;
    const gboolean cleared = secret_service_clear_sync(service, &kSchema, attributes.Table(),
                                                       deadline.Cancellable(), &error);
    if (error) {
        g_object_unref(service);
        return FromError(error, deadline, "delete the secret");
    }
    if (!cleared) {
        // Locked items are not deleted, and clearing says so no differently from finding
        // nothing: ask whether something is left.
        Deadline again(limit);
        GList* left = secret_service_search_sync(service, &kSchema, attributes.Table(),
                                                 SECRET_SEARCH_ALL, again.Cancellable(), nullptr);
        const bool locked = left != nullptr;
        g_list_free_full(left, g_object_unref);
        g_object_unref(service);
        return locked ? Fail(Outcome::Locked, "the system keyring is locked")
                      : Fail(Outcome::NotFound,
                             "the system keyring holds no secret for " + key.account);
    }
    g_object_unref(service);
    result = Result{};
    result.outcome = Outcome::Ok;
    return result;
}

bool SystemKeyring::Available(std::chrono::milliseconds limit)
{
    Deadline deadline(limit);
    Result result;
    SecretService* service = Service(deadline, result);
    if (!service)
        return false;
    g_object_unref(service);
    return true;
}

bool SystemKeyring::PromptCanBeSeen()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

void SystemKeyring::AllowPromptAgain()
{
    promptDismissed.store(false);
}
