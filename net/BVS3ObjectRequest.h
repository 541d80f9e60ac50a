#pragma once

#include "net/BVS3Request.h"

// A request on one object of a bucket: the signed PUT of a file, streamed from disk.
class BVS3ObjectRequest : public BVS3Request
{
public:
    static std::shared_ptr<BVS3ObjectRequest> PUTRequestForFile(
        const QString &filePath, const QString &bucket, const QString &key);
    // A GET of the object, its reply collected in memory.
    static std::shared_ptr<BVS3ObjectRequest> requestWithBucket(const QString &bucket, const QString &key);

    const QString &bucket() const { return m_bucket; }
    void setBucket(const QString &bucket) { m_bucket = bucket; }
    const QString &key() const { return m_key; }
    void setKey(const QString &key) { m_key = key; }
    const QString &mimeType() const { return m_mimeType; }
    void setMimeType(const QString &type) { m_mimeType = type; }
    const QString &subResource() const { return m_subResource; }
    void setSubResource(const QString &resource) { m_subResource = resource; }

    // The key as it appears in the address: percent-encoded like a form value, "/" kept, with a
    // leading "/".
    static QString encodedPath(const QString &key);

protected:
    BVS3ObjectRequest();
    void buildURL() override;
    QString canonicalizedResource() const override;
    QString contentTypeForSigning() const override { return m_mimeType; }

private:
    QString m_bucket;
    QString m_key;
    QString m_mimeType;
    QString m_subResource;
};
