#include "platform/keychain/SecretServiceCredentialBackend.h"

#include "support/BVLog.h"

#include <libsecret/secret.h>

namespace {

const SecretSchema *schema()
{
    // Matched by attributes only, so items written under another schema name are still found.
    static const SecretSchema s = {"com.brightvane.GenericPassword", SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"generic", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &s;
}

void setAttribute(GHashTable *attributes, const char *name, const QString &value)
{
    g_hash_table_insert(attributes, g_strdup(name), g_strdup(value.toUtf8().constData()));
}

// The attributes naming an item: its service, and its account and generic text when given.
GHashTable *newAttributes(
    const QString &service, const QString *account = nullptr, const QString *generic = nullptr)
{
    GHashTable *attributes = g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free);
    setAttribute(attributes, "service", service);
    if (account)
        setAttribute(attributes, "account", *account);
    if (generic)
        setAttribute(attributes, "generic", *generic);
    return attributes;
}

QString attribute(GHashTable *attributes, const char *name)
{
    const auto *value = static_cast<const char *>(g_hash_table_lookup(attributes, name));
    return value ? QString::fromUtf8(value) : QString();
}

bool failed(GError *error, const char *what)
{
    if (!error)
        return false;
    BVLog::appendLog("Secret Service: %s failed: %s", what, error->message);
    g_error_free(error);
    return true;
}

} // namespace

// One D-Bus call: its cancellable is registered while it runs so cancelPending() can stop it.
class SecretServiceCredentialBackend::Call
{
public:
    explicit Call(SecretServiceCredentialBackend *owner)
        : m_owner(owner)
        , m_cancellable(g_cancellable_new())
    {
        std::lock_guard lock(m_owner->m_mutex);
        m_owner->m_pending = m_cancellable;
    }
    ~Call()
    {
        {
            std::lock_guard lock(m_owner->m_mutex);
            m_owner->m_pending = nullptr;
        }
        g_object_unref(m_cancellable);
    }
    GCancellable *cancellable() const { return m_cancellable; }

private:
    SecretServiceCredentialBackend *m_owner;
    GCancellable *m_cancellable;
};

SecretServiceCredentialBackend::SecretServiceCredentialBackend() = default;

SecretServiceCredentialBackend::~SecretServiceCredentialBackend() = default;

void SecretServiceCredentialBackend::cancelPending()
{
    std::lock_guard lock(m_mutex);
    if (m_pending)
        g_cancellable_cancel(m_pending);
}

SecretService *SecretServiceCredentialBackend::service(GCancellable *cancellable, QString *reason)
{
    GError *error = nullptr;
    SecretService *service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, &error);
    if (error) {
        if (reason)
            *reason = QString::fromUtf8(error->message);
        g_error_free(error);
        if (service)
            g_object_unref(service);
        return nullptr;
    }
    return service;
}

SecretService *SecretServiceCredentialBackend::reachableService(GCancellable *cancellable)
{
    QString reason;
    SecretService *s = service(cancellable, &reason);
    if (!s)
        BVLog::appendLog("Secret Service: not reachable: %@", reason);
    return s;
}

bool SecretServiceCredentialBackend::probe(QString *reason)
{
    Call call(this);
    SecretService *s = service(call.cancellable(), reason);
    if (!s)
        return false;
    // A bus without the service answers the session request with an error; ask for the default
    // collection too, which only a working service has (or creates).
    GError *error = nullptr;
    GVariant *reply = g_dbus_proxy_call_sync(G_DBUS_PROXY(s), "ReadAlias", g_variant_new("(s)", "default"),
        G_DBUS_CALL_FLAGS_NONE, 5000, call.cancellable(), &error);
    g_object_unref(s);
    if (error) {
        if (reason)
            *reason = QString::fromUtf8(error->message);
        g_error_free(error);
        return false;
    }
    g_variant_unref(reply);
    return true;
}

bool SecretServiceCredentialBackend::find(
    const QString &service, const QString &account, CredentialItem *item, bool *found)
{
    QList<CredentialItem> items;
    if (!list(service, -1, &items))
        return false;
    *found = false;
    for (const CredentialItem &candidate : items) {
        if (candidate.account == account) {
            *item = candidate;
            *found = true;
            break;
        }
    }
    return true;
}

bool SecretServiceCredentialBackend::list(const QString &serviceName, int limit, QList<CredentialItem> *items)
{
    Call call(this);
    SecretService *s = reachableService(call.cancellable());
    if (!s)
        return false;
    GHashTable *attributes = newAttributes(serviceName);
    GError *error = nullptr;
    const auto flags
        = SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS);
    GList *found = secret_service_search_sync(s, schema(), attributes, flags, call.cancellable(), &error);
    g_hash_table_unref(attributes);
    g_object_unref(s);
    if (failed(error, "search"))
        return false;
    // Oldest first, so "the first item" is the same on every call.
    found = g_list_sort(found, [](gconstpointer a, gconstpointer b) {
        const guint64 ca = secret_item_get_created(SECRET_ITEM(const_cast<gpointer>(a)));
        const guint64 cb = secret_item_get_created(SECRET_ITEM(const_cast<gpointer>(b)));
        return ca < cb ? -1 : (ca > cb ? 1 : 0);
    });
    items->clear();
    for (GList *l = found; l; l = l->next) {
        if (limit >= 0 && items->size() >= limit)
            break;
        SecretItem *secretItem = SECRET_ITEM(l->data);
        GHashTable *itemAttributes = secret_item_get_attributes(secretItem);
        CredentialItem item;
        item.service = attribute(itemAttributes, "service");
        item.account = attribute(itemAttributes, "account");
        item.generic = attribute(itemAttributes, "generic");
        g_hash_table_unref(itemAttributes);
        if (SecretValue *value = secret_item_get_secret(secretItem)) {
            gsize length = 0;
            const gchar *data = secret_value_get(value, &length);
            item.secret = QByteArray(data, qsizetype(length));
            secret_value_unref(value);
        }
        items->append(item);
    }
    g_list_free_full(found, g_object_unref);
    return true;
}

bool SecretServiceCredentialBackend::store(const CredentialItem &item, bool replaceGeneric)
{
    Call call(this);
    SecretService *s = reachableService(call.cancellable());
    if (!s)
        return false;
    GHashTable *match = newAttributes(item.service, &item.account);
    GError *error = nullptr;
    GList *existing = secret_service_search_sync(
        s, schema(), match, SecretSearchFlags(SECRET_SEARCH_UNLOCK), call.cancellable(), &error);
    g_hash_table_unref(match);
    if (failed(error, "search")) {
        g_object_unref(s);
        return false;
    }
    SecretValue *value = secret_value_new(item.secret.constData(), item.secret.size(), "text/plain");
    bool ok = true;
    if (existing) {
        SecretItem *secretItem = SECRET_ITEM(existing->data);
        secret_item_set_secret_sync(secretItem, value, call.cancellable(), &error);
        ok = !failed(error, "replacing a secret");
        if (ok && replaceGeneric) {
            GHashTable *attributes = newAttributes(item.service, &item.account, &item.generic);
            secret_item_set_attributes_sync(secretItem, schema(), attributes, call.cancellable(), &error);
            g_hash_table_unref(attributes);
            ok = !failed(error, "replacing attributes");
        }
    } else {
        GHashTable *attributes
            = newAttributes(item.service, &item.account, item.generic.isEmpty() ? nullptr : &item.generic);
        const QByteArray label
            = (item.service + QStringLiteral(" (") + item.account + QLatin1Char(')')).toUtf8();
        secret_service_store_sync(s, schema(), attributes, SECRET_COLLECTION_DEFAULT, label.constData(),
            value, call.cancellable(), &error);
        g_hash_table_unref(attributes);
        ok = !failed(error, "storing");
    }
    secret_value_unref(value);
    g_list_free_full(existing, g_object_unref);
    g_object_unref(s);
    return ok;
}

bool SecretServiceCredentialBackend::remove(const QString &serviceName, const QString &account)
{
    Call call(this);
    SecretService *s = reachableService(call.cancellable());
    if (!s)
        return false;
    GHashTable *match = newAttributes(serviceName, &account);
    GError *error = nullptr;
    secret_service_clear_sync(s, schema(), match, call.cancellable(), &error);
    g_hash_table_unref(match);
    g_object_unref(s);
    // Nothing to delete is no failure.
    if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND)) {
        g_error_free(error);
        return true;
    }
    return !failed(error, "deleting");
}
