#include "net/Keyring.h"

#include <libsecret/secret.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace brenvik {
namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, Unref>;

struct FreeObjectList {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using ObjectList = std::unique_ptr<GList, FreeObjectList>;

struct FreeError {
    void operator()(GError* error) const { g_error_free(error); }
};

// Without a session bus GLib would try to start one (and may wait for it): ask only a
// bus that is there.
bool SessionBusPresent() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return true;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    return runtime && *runtime &&
           std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec);
}

// The item's secret as text; empty when it cannot be loaded.
std::string SecretOf(SecretItem* item) {
    GError* raw = nullptr;
    if (!secret_item_load_secret_sync(item, nullptr, &raw)) {
        std::unique_ptr<GError, FreeError> error(raw);
        return "";
    }
    SecretValue* value = secret_item_get_secret(item);
    if (value == nullptr) {
        return "";
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    std::string secret(bytes, length);
    secret_value_unref(value);
    return secret;
}

}  // namespace

KeyringSecret LookUpKeyringSecret(std::string_view label) {
    KeyringSecret result;
    if (!SessionBusPresent()) {
        result.problem = "没有桌面会话总线，无法访问系统钥匙环";
        return result;
    }
    GError* raw = nullptr;
    GObjectPtr<SecretService> service(
        secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, &raw));
    std::unique_ptr<GError, FreeError> error(raw);
    if (!service) {
        result.problem = "系统钥匙环未运行";
        return result;
    }
    bool locked = false;
    ObjectList collections(secret_service_get_collections(service.get()));
    for (GList* c = collections.get(); c != nullptr; c = c->next) {
        auto* collection = static_cast<SecretCollection*>(c->data);
        if (!secret_collection_load_items_sync(collection, nullptr, nullptr)) {
            continue;
        }
        ObjectList items(secret_collection_get_items(collection));
        for (GList* i = items.get(); i != nullptr; i = i->next) {
            auto* item = static_cast<SecretItem*>(i->data);
            std::unique_ptr<gchar, decltype(&g_free)> itemLabel(secret_item_get_label(item),
                                                                &g_free);
            if (!itemLabel || label != itemLabel.get()) {
                continue;
            }
            if (secret_item_get_locked(item)) {
                locked = true;
                continue;
            }
            result.secret = SecretOf(item);
            if (!result.secret.empty()) {
                return result;
            }
        }
    }
    result.problem = locked ? "系统钥匙环已锁定" : "系统钥匙环里没有“" + std::string(label) + "”";
    return result;
}

}  // namespace brenvik
