#include "net/BVS3ObjectRequest.h"

#include "net/BVFormDataRequest.h"
#include "support/BVFormat.h"

std::shared_ptr<BVS3ObjectRequest> BVS3ObjectRequest::PUTRequestForFile(
    const QString &filePath, const QString &bucket, const QString &key)
{
    std::shared_ptr<BVS3ObjectRequest> request(new BVS3ObjectRequest());
    request->setBucket(bucket);
    request->setKey(key);
    request->setRequestMethod(QStringLiteral("PUT"));
    request->setPostBodyFilePath(filePath);
    request->setShouldStreamPostDataFromDisk(true);
    request->setMimeType(BVFormDataRequest::mimeTypeForFileAtPath(filePath));
    request->buildURL();
    return request;
}

std::shared_ptr<BVS3ObjectRequest> BVS3ObjectRequest::requestWithBucket(
    const QString &bucket, const QString &key)
{
    std::shared_ptr<BVS3ObjectRequest> request(new BVS3ObjectRequest());
    request->setBucket(bucket);
    request->setKey(key);
    request->buildURL();
    return request;
}

BVS3ObjectRequest::BVS3ObjectRequest()
    : BVS3Request(QUrl())
{ }

QString BVS3ObjectRequest::encodedPath(const QString &key)
{
    const QString path = encodeURLComponent(key, true);
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

void BVS3ObjectRequest::buildURL()
{
    QString address
        = BVFormat::format("%@://%@.%@%@", requestScheme(), m_bucket, S3Host(), encodedPath(m_key));
    if (!m_subResource.isEmpty())
        address += QLatin1Char('?') + m_subResource;
    setURL(QUrl(address, QUrl::StrictMode));
}

// The resource is signed as it travels in the address (percent-encoded), which is what the
// service compares against; for plain keys this is the key itself.
QString BVS3ObjectRequest::canonicalizedResource() const
{
    QString resource = QLatin1Char('/') + m_bucket + encodedPath(m_key);
    if (!m_subResource.isEmpty())
        resource += QLatin1Char('?') + m_subResource;
    return resource;
}
