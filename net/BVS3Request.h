#pragma once

#include "net/BVHTTPRequest.h"

#include <QDateTime>

// A request to the S3 storage service, signed with Amazon's REST authentication (signature
// version 2). Credentials are per request, falling back to the process-wide shared ones.
class BVS3Request : public BVHTTPRequest
{
public:
    // Errors of the storage service's own replies.
    static const QString responseErrorDomain;
    enum ResponseErrorCode { ResponseParsingFailed = 1, ResponseError = 2 };

    static void setSharedAccessKey(const QString &key);
    static QString sharedAccessKey();
    static void setSharedSecretAccessKey(const QString &key);
    static QString sharedSecretAccessKey();
    // The service's host (with an optional ":port"); "s3.amazonaws.com" unless set.
    static void setS3Host(const QString &host);
    static QString S3Host();

    QString accessKey() const;
    void setAccessKey(const QString &key) { m_accessKey = key; }
    QString secretAccessKey() const;
    void setSecretAccessKey(const QString &key) { m_secretAccessKey = key; }
    // "http" unless set.
    const QString &requestScheme() const { return m_requestScheme; }
    void setRequestScheme(const QString &scheme) { m_requestScheme = scheme; }
    // Sent as "x-amz-acl" when set.
    const QString &accessPolicy() const { return m_accessPolicy; }
    void setAccessPolicy(const QString &policy) { m_accessPolicy = policy; }
    int persistentConnectionTimeoutSeconds() const { return m_persistentConnectionTimeoutSeconds; }
    // The time sent in "Date" and signed; the moment the request is built unless set.
    const QDateTime &date() const { return m_date; }
    void setDate(const QDateTime &date) { m_date = date; }

    // The string signed by the last build, for the log and for checks.
    const QString &stringToSign() const { return m_stringToSign; }
    // "EEE, d MMM yyyy HH:mm:ss Z" in UTC with English names.
    static QString dateString(const QDateTime &date);
    // Base64 of HMAC-SHA1 of the text with the key.
    static QString signature(const QString &stringToSign, const QString &secretAccessKey);

protected:
    explicit BVS3Request(const QUrl &url);
    bool buildRequest(BVError *error) override;
    bool handleResponse(BVError *error) override;
    void configureHandle(CURL *handle) override;
    // The address of the request; built before signing.
    virtual void buildURL() { }
    // "/" + bucket + "/" + key (as in the address), with "?" + sub-resource when there is one.
    virtual QString canonicalizedResource() const = 0;
    virtual QString contentTypeForSigning() const { return {}; }

private:
    QString m_accessKey;
    QString m_secretAccessKey;
    QString m_requestScheme = QStringLiteral("http");
    QString m_accessPolicy;
    int m_persistentConnectionTimeoutSeconds = 20;
    QString m_stringToSign;
    QDateTime m_date;
};
