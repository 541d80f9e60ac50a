#include "cloud/BVVeloraDeployment.h"

#include "net/BVS3Request.h"
#include "support/BVLog.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <atomic>

const QString BVVeloraDeployment::storageBucket = QStringLiteral("velo_bucket");

namespace {

const QString kDefaultSite = QStringLiteral("https://velora.brightvane.com");
constexpr int kDefaultWebSocketPort = 8000;

QStringList configurationFolders()
{
    QStringList folders;
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.config");
    folders.append(home);
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/etc/xdg");
    for (const QString &dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(dir);
    return folders;
}

} // namespace

QString BVVeloraDeployment::configurationPath()
{
    for (const QString &folder : configurationFolders()) {
        const QString path = folder + QStringLiteral("/brightvane/velora.conf");
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

QString BVVeloraDeployment::value(const char *environment, const QString &group, const QString &key)
{
    const QString fromEnvironment = qEnvironmentVariable(environment);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString path = configurationPath();
    if (path.isEmpty())
        return {};
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(group + QLatin1Char('/') + key).toString().trimmed();
}

QString BVVeloraDeployment::publicSiteURLString()
{
    const QString site = value("VELORA_SITE_URL", QStringLiteral("service"), QStringLiteral("site"));
    return site.isEmpty() ? kDefaultSite : site;
}

int BVVeloraDeployment::webSocketPort()
{
    bool ok = false;
    const int port
        = value("VELORA_WEBSOCKET_PORT", QStringLiteral("service"), QStringLiteral("websocket_port"))
              .toInt(&ok);
    return ok && port > 0 && port < 65536 ? port : kDefaultWebSocketPort;
}

BVVeloraDeployment::StorageCredentials BVVeloraDeployment::storageCredentials()
{
    StorageCredentials credentials;
    const QString storage = QStringLiteral("storage");
    credentials.accessKeyID = value("VELORA_STORAGE_ACCESS_KEY_ID", storage, QStringLiteral("access_key_id"));
    credentials.secretAccessKey
        = value("VELORA_STORAGE_SECRET_ACCESS_KEY", storage, QStringLiteral("secret_access_key"));
    credentials.host = value("VELORA_STORAGE_HOST", storage, QStringLiteral("host"));
    credentials.scheme = value("VELORA_STORAGE_SCHEME", storage, QStringLiteral("scheme")).toLower();
    if (credentials.scheme != QLatin1String("http"))
        credentials.scheme = QStringLiteral("https");
    return credentials;
}

void BVVeloraDeployment::installStorageCredentials()
{
    const StorageCredentials credentials = storageCredentials();
    if (!credentials.isComplete()) {
        static std::atomic<bool> logged {false};
        if (!logged.exchange(true))
            BVLog::appendLog(
                "Velora: no storage credentials configured; uploads to the public service are off");
        return;
    }
    BVS3Request::setSharedAccessKey(credentials.accessKeyID);
    BVS3Request::setSharedSecretAccessKey(credentials.secretAccessKey);
    if (!credentials.host.isEmpty())
        BVS3Request::setS3Host(credentials.host);
}
