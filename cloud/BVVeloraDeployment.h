#pragma once

#include <QString>

// What a deployment of the programs says about the public Velora service: its site address, the
// WebSocket port of its hosts and the credentials of the storage bucket that receives uploads.
// Read at the moment of use from the environment, else from the settings file "velora.conf"
// (INI: [service] site, websocket_port; [storage] access_key_id, secret_access_key, host, scheme)
// in $XDG_CONFIG_HOME/brightvane, else in each of $XDG_CONFIG_DIRS/brightvane. Nothing secret is
// compiled into the programs.
//
//   VELORA_SITE_URL, VELORA_WEBSOCKET_PORT, VELORA_STORAGE_ACCESS_KEY_ID,
//   VELORA_STORAGE_SECRET_ACCESS_KEY, VELORA_STORAGE_HOST, VELORA_STORAGE_SCHEME
class BVVeloraDeployment
{
public:
    static const QString storageBucket; // "velo_bucket"

    struct StorageCredentials
    {
        QString accessKeyID;
        QString secretAccessKey;
        QString host; // empty: the storage layer's default
        QString scheme; // "https" unless configured
        bool isComplete() const { return !accessKeyID.isEmpty() && !secretAccessKey.isEmpty(); }
    };

    // The public service's site (HTTPS, no path) unless configured.
    static QString publicSiteURLString();
    // 8000 unless configured.
    static int webSocketPort();
    static StorageCredentials storageCredentials();
    // Installs the storage credentials (and host) as the shared ones of the storage request layer;
    // logs once when none are configured.
    static void installStorageCredentials();
    // The settings file in use, or empty when there is none.
    static QString configurationPath();

private:
    static QString value(const char *environment, const QString &group, const QString &key);
};
