#include "app/BVQC.h"

#include "cloud/BVVeloraDeployment.h"
#include "net/BVHTTPRequest.h"
#include "net/BVJSON.h"
#include "platform/defaults/BVPropertyList.h"
#include "platform/defaults/BVUserDefaults.h"
#include "support/BVAlert.h"
#include "support/BVBundle.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVOSDetect.h"
#include "support/BVWorkQueue.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <openssl/rand.h>

namespace {

BVQC::URLOpener &urlOpener()
{
    static BVQC::URLOpener opener = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    return opener;
}

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

const QString launchKey = QStringLiteral("launchCount");

} // namespace

BVQC *BVQC::sharedController()
{
    static BVQC *shared = new BVQC; // lives for the whole run
    return shared;
}

BVQC::BVQC(const QString &bundleID)
    : m_bundleID(bundleID.isEmpty() ? BVBundle::mainBundle().bundleIdentifier() : bundleID)
    , m_opQueue(std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.qc")))
{
    const std::optional<QVariant> stored = BVPropertyList::read(cachePath());
    if (stored && stored->typeId() == QMetaType::QVariantList)
        m_cache = stored->toList();
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &BVQC::willTerminate);
    m_shouldLog = readPreferences().value(QStringLiteral("logQC")).toInt() == 1;
    defaults()->setInteger(defaults()->integerForKey(launchKey) + 1, launchKey);
}

BVQC::~BVQC()
{
    if (m_opQueue)
        willTerminate();
}

void BVQC::setURLOpener(URLOpener opener)
{
    urlOpener() = std::move(opener);
}

QVariantMap BVQC::readPreferences()
{
    return BVPropertyList::readDictionary(BVPropertyList::qcPreferencesPath());
}

void BVQC::writePreferences(const QVariantMap &preferences)
{
    const QString path = BVPropertyList::qcPreferencesPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!BVPropertyList::write(preferences, path))
        BVLog::appendLog("Error: unable to save %@", path);
}

QString BVQC::cachePath() const
{
    return BVLocalPaths::cacheDirectory(true) + QStringLiteral("/Brightvane/QC/") + m_bundleID;
}

QUrl BVQC::endpointURL()
{
    const QVariant setting = defaults()->objectForKey(QStringLiteral("qcEndpointURL"));
    if (setting.isValid())
        return QUrl(setting.toString().trimmed());
    return QUrl(BVVeloraDeployment::publicSiteURLString() + QStringLiteral("/appdata/qc/qc.php"));
}

void BVQC::setQCLogging(bool enabled)
{
    QVariantMap preferences = readPreferences();
    preferences.insert(QStringLiteral("logQC"), enabled);
    writePreferences(preferences);
    m_shouldLog = enabled;
}

QVariantList BVQC::cache() const
{
    std::lock_guard lock(m_mutex);
    return m_cache;
}

void BVQC::loadQC(QWidget *parentWindow)
{
    const QVariantMap preferences = readPreferences();
    if (preferences.contains(QStringLiteral("logQC"))) {
        m_shouldLog = preferences.value(QStringLiteral("logQC")).toBool();
    } else {
        if (defaults()->integerForKey(launchKey) < 2)
            return; // no question at the first launch
        const int answer = BVAlert::alertSheetWithMessageText(
            QStringLiteral("Help improve Brightvane software by submitting analytics and usage data"),
            QStringLiteral("Allow"), QStringLiteral("More Info"), QStringLiteral("Don't Allow"),
            QStringLiteral(
                "This information helps us find problems and improve our software. It is anonymous "
                "and cannot be used to identify you."),
            parentWindow, true);
        if (answer == 1) {
            setQCLogging(true);
        } else if (answer == -1) {
            setQCLogging(false);
        } else { // "More Info": asked again at the next launch
            m_shouldLog = false;
            urlOpener()(QUrl(BVVeloraDeployment::publicSiteURLString()
                + QStringLiteral("/support/posts/app_analytics_and_usage_data.html")));
        }
    }
    if (!m_shouldLog)
        return;

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    bool recentLaunch = false;
    for (const QVariant &event : cache()) {
        const QVariantMap record = event.toMap();
        if (record.value(QStringLiteral("event")).toString() == QLatin1String("launch")
            && record.value(QStringLiteral("date")).toLongLong() > now - 60)
            recentLaunch = true;
    }
    if (!recentLaunch)
        logQCEvent({{QStringLiteral("event"), QStringLiteral("launch")}, {QStringLiteral("date"), now}});
    const QString version = BVOSDetect::osxVersion();
    if (version != defaults()->stringForKey(QStringLiteral("lastOSVersion"))) {
        defaults()->setString(version, QStringLiteral("lastOSVersion"));
        logQCEvent({{QStringLiteral("event"), QStringLiteral("specs")}, {QStringLiteral("date"), now},
            {QStringLiteral("data"), version}});
    }

    const QDateTime last = defaults()->dateForKey(QStringLiteral("lastSubmission"));
    const bool due = last.isValid() ? last.secsTo(QDateTime::currentDateTimeUtc()) > 86400
                                    : defaults()->integerForKey(launchKey) > 3;
    if (!cache().isEmpty() && due)
        m_opQueue->async([this] { uploadData(); });
}

void BVQC::logQCEvent(const QVariantMap &event)
{
    {
        std::lock_guard lock(m_mutex);
        m_cache.append(event);
    }
    // One write in flight takes every event logged before it starts, so events that come close
    // together are written together and none waits for a later event to reach the disk.
    if (m_opQueue && !m_writePending.exchange(true))
        m_opQueue->async([this] { writeCache(); });
}

void BVQC::writeCache()
{
    if (!m_shouldLog)
        return;
    if (m_bundleID.isEmpty()) {
        BVLog::appendLog("Error: unable to save QC data. Bundle ID not found.");
        return;
    }
    m_writePending = false;
    QVariantList events;
    {
        std::lock_guard lock(m_mutex);
        events = m_cache;
        m_lastCacheWrite = QDateTime::currentDateTimeUtc();
    }
    QDir().mkpath(QFileInfo(cachePath()).absolutePath());
    if (events.isEmpty())
        QFile::remove(cachePath());
    else if (!BVPropertyList::write(events, cachePath()))
        BVLog::appendLog("Error: unable to save QC data to %@", cachePath());
}

QString BVQC::anonymousIdentifier()
{
    QVariantMap preferences = readPreferences();
    const QDateTime assigned = preferences.value(QStringLiteral("uidAssigned")).toDateTime();
    QString uid = preferences.value(QStringLiteral("uid")).toString();
    if (!uid.isEmpty() && assigned.isValid() && assigned.secsTo(QDateTime::currentDateTimeUtc()) <= 7776000)
        return uid;
    static const QByteArray alphabet("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXZY0123456789");
    // Bytes at or above the largest multiple of the alphabet's size are drawn again, so every
    // character is equally likely.
    const int limit = 256 - 256 % int(alphabet.size());
    uid.clear();
    while (uid.size() < 12) {
        unsigned char byte = 0;
        if (RAND_bytes(&byte, 1) != 1) {
            BVLog::appendLog("Error: no secure random bytes for the usage identifier");
            return {};
        }
        if (byte < limit)
            uid.append(QLatin1Char(alphabet.at(byte % alphabet.size())));
    }
    preferences.insert(QStringLiteral("uid"), uid);
    preferences.insert(QStringLiteral("uidAssigned"), QDateTime::currentDateTimeUtc());
    writePreferences(preferences);
    return uid;
}

QByteArray BVQC::multipartBody(const QList<std::pair<QString, QString>> &fields, const QString &boundary)
{
    QByteArray body;
    for (const auto &[name, value] : fields) {
        body += "--" + boundary.toUtf8() + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + name.toUtf8() + "\"\r\n\r\n";
        body += value.toUtf8() + "\r\n";
    }
    body += "--" + boundary.toUtf8() + "--\r\n";
    return body;
}

void BVQC::uploadData()
{
    // One upload at a time (the queue is serial). The lock is not held while the request runs, so
    // events logged on the main thread meanwhile never wait for the network.
    QVariantList events;
    {
        std::lock_guard lock(m_mutex);
        events = m_cache;
    }
    if (!m_shouldLog || events.isEmpty())
        return;
    const QUrl url = endpointURL();
    if (url.isEmpty() || !url.isValid())
        return;
    const QString uid = anonymousIdentifier();
    if (uid.isEmpty())
        return;
    const QString app = m_bundleID.isEmpty() ? QStringLiteral("Unknown") : m_bundleID;
    QString version = BVBundle::mainBundle().stringForKey(QStringLiteral("CFBundleVersion"));
    if (version.isEmpty())
        version = QStringLiteral("Unknown");
    const QString boundary = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray body = multipartBody(
        {{QStringLiteral("uid"), uid}, {QStringLiteral("app"), app}, {QStringLiteral("version"), version},
            {QStringLiteral("events"), BVJSON::JSONRepresentation(events)}},
        boundary);

    BVLog::appendLog("Sending QC log to Brightvane...");
    std::shared_ptr<BVHTTPRequest> request = BVHTTPRequest::requestWithURL(url);
    request->setRequestMethod(QStringLiteral("POST"));
    request->addRequestHeader(
        QStringLiteral("Content-Type"), QStringLiteral("multipart/form-data; boundary=%1").arg(boundary));
    request->appendPostData(body);
    request->setTimeOutSeconds(30);
    request->startSynchronous();

    // Tried today either way: the next attempt is a day away.
    defaults()->setObject(QDateTime::currentDateTimeUtc(), QStringLiteral("lastSubmission"));
    const int status = request->responseStatusCode();
    if (status == 0) {
        BVLog::appendLogAndPrint("Failed to establish a connection. Please try again later.");
        writeCache();
        return;
    }
    if (status < 200 || status > 299) {
        // The events stay in the cache for the next upload.
        BVLog::appendLogAndPrint("Connection failed - %@", QStringLiteral("HTTP status %1").arg(status));
        writeCache();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_cache.erase(m_cache.begin(), m_cache.begin() + std::min(events.size(), m_cache.size()));
    }
    writeCache();
}

void BVQC::waitUntilIdle()
{
    if (m_opQueue)
        m_opQueue->waitUntilEmpty();
}

void BVQC::willTerminate()
{
    if (!m_opQueue)
        return;
    disconnect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &BVQC::willTerminate);
    m_opQueue->cancelAll();
    m_opQueue.reset();
    writeCache();
}
