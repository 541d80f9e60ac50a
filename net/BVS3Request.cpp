#include "net/BVS3Request.h"

#include "support/BVFormat.h"
#include "support/BVLog.h"

#include <QLocale>
#include <QMessageAuthenticationCode>
#include <QXmlStreamReader>

#include <curl/curl.h>

#include <mutex>

namespace {

std::mutex g_sharedMutex;
QString g_sharedAccessKey;
QString g_sharedSecretAccessKey;
QString g_s3Host = QStringLiteral("s3.amazonaws.com");

} // namespace

const QString BVS3Request::responseErrorDomain = QStringLiteral("BVS3ResponseErrorDomain");

void BVS3Request::setSharedAccessKey(const QString &key)
{
    std::lock_guard lock(g_sharedMutex);
    g_sharedAccessKey = key;
}

QString BVS3Request::sharedAccessKey()
{
    std::lock_guard lock(g_sharedMutex);
    return g_sharedAccessKey;
}

void BVS3Request::setSharedSecretAccessKey(const QString &key)
{
    std::lock_guard lock(g_sharedMutex);
    g_sharedSecretAccessKey = key;
}

QString BVS3Request::sharedSecretAccessKey()
{
    std::lock_guard lock(g_sharedMutex);
    return g_sharedSecretAccessKey;
}

void BVS3Request::setS3Host(const QString &host)
{
    std::lock_guard lock(g_sharedMutex);
    g_s3Host = host;
}

QString BVS3Request::S3Host()
{
    std::lock_guard lock(g_sharedMutex);
    return g_s3Host;
}

BVS3Request::BVS3Request(const QUrl &url)
    : BVHTTPRequest(url)
{ }

QString BVS3Request::accessKey() const
{
    return m_accessKey.isEmpty() ? sharedAccessKey() : m_accessKey;
}

QString BVS3Request::secretAccessKey() const
{
    return m_secretAccessKey.isEmpty() ? sharedSecretAccessKey() : m_secretAccessKey;
}

QString BVS3Request::dateString(const QDateTime &date)
{
    return QLocale::c().toString(date.toUTC(), QStringLiteral("ddd, d MMM yyyy HH:mm:ss"))
        + QStringLiteral(" +0000");
}

QString BVS3Request::signature(const QString &stringToSign, const QString &secretAccessKey)
{
    const QByteArray mac = QMessageAuthenticationCode::hash(
        stringToSign.toUtf8(), secretAccessKey.toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(mac.toBase64());
}

bool BVS3Request::buildRequest(BVError *error)
{
    buildURL();
    if (!BVHTTPRequest::buildRequest(error))
        return false;
    const QString date = dateString(m_date.isValid() ? m_date : QDateTime::currentDateTimeUtc());
    addRequestHeader(QStringLiteral("Date"), date);
    const QString contentType = contentTypeForSigning();
    if (!contentType.isEmpty())
        addRequestHeader(QStringLiteral("Content-Type"), contentType);
    if (!m_accessPolicy.isEmpty())
        addRequestHeader(QStringLiteral("x-amz-acl"), m_accessPolicy);

    QList<std::pair<QString, QString>> amzHeaders;
    for (const auto &[name, value] : requestHeaders()) {
        if (name.startsWith(QLatin1String("x-amz-"), Qt::CaseInsensitive))
            amzHeaders.append({name.toLower(), value});
    }
    std::sort(amzHeaders.begin(), amzHeaders.end());
    QString canonicalHeaders;
    for (const auto &[name, value] : amzHeaders)
        canonicalHeaders += name + QLatin1Char(':') + value + QLatin1Char('\n');

    m_stringToSign = requestMethod() + QStringLiteral("\n\n") + contentType + QLatin1Char('\n') + date
        + QLatin1Char('\n') + canonicalHeaders + canonicalizedResource();
    addRequestHeader(QStringLiteral("Authorization"),
        BVFormat::format("AWS %@:%@", accessKey(), signature(m_stringToSign, secretAccessKey())));
    return true;
}

void BVS3Request::configureHandle(CURL *handle)
{
    curl_easy_setopt(handle, CURLOPT_MAXAGE_CONN, long(m_persistentConnectionTimeoutSeconds));
}

// Replies outside 2xx are XML documents whose "Code" and "Message" become the error.
bool BVS3Request::handleResponse(BVError *error)
{
    if (responseStatusCode() >= 200 && responseStatusCode() < 300)
        return true;
    QXmlStreamReader xml(responseData());
    QString code, message;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("Code"))
            code = xml.readElementText();
        else if (xml.name() == QLatin1String("Message"))
            message = xml.readElementText();
    }
    if (xml.hasError() || code.isEmpty()) {
        *error = BVError::withDescription(
            responseErrorDomain, ResponseParsingFailed, QStringLiteral("Parsing the resposnse failed"));
    } else {
        *error = BVError::withDescription(responseErrorDomain, ResponseError, message);
        error->userInfo().insert(QStringLiteral("Code"), code);
    }
    BVLog::appendLog("Storage service replied %d to %@: %@", responseStatusCode(), url().toString(),
        error->localizedDescription());
    return false;
}
